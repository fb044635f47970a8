// The SDL binding, the packet queues and the event ring of the player.
#include <gtest/gtest.h>

#include <thread>

#include "core/ff_load.h"
#include "player/packet_queue.h"
#include "player/play_events.h"
#include "player/sdl_loader.h"

namespace vidmill {
namespace {

using namespace std::chrono_literals;

TEST(SDLLoader, LoadsTheSystemsSDLOnceAndSharesItBetweenLoaders) {
  TSDLLoader a, b;
  ASSERT_TRUE(a.Load("", kDefaultSDLFile)) << a.LastErrMsg();
  EXPECT_TRUE(a.Loaded());
  EXPECT_NE(a.Functions().SDL_InitSubSystem, nullptr);
  EXPECT_TRUE(a.Load("", kDefaultSDLFile)) << "the same file again is a no-op";
  ASSERT_TRUE(b.Load("", kDefaultSDLFile)) << b.LastErrMsg();
  EXPECT_EQ(a.Functions().SDL_OpenAudioDevice, b.Functions().SDL_OpenAudioDevice);
  a.Unload();
  EXPECT_FALSE(a.Loaded());
  EXPECT_EQ(a.Functions().SDL_InitSubSystem, nullptr);
  EXPECT_TRUE(b.Loaded()) << "the other loader's share stays";
  EXPECT_NE(b.Functions().SDL_InitSubSystem, nullptr);
}

TEST(SDLLoader, ADifferentSDLFileIsRefusedWhileOneIsBound) {
  TSDLLoader a, b;
  ASSERT_TRUE(a.Load("", kDefaultSDLFile)) << a.LastErrMsg();
  EXPECT_FALSE(b.Load("/usr/lib/x86_64-linux-gnu", "libSDL2-2.0.so.0"));
  EXPECT_EQ(b.LastErrMsg(), std::string(kDefaultSDLFile) + " alreay loaded in another instance.");
  EXPECT_FALSE(b.Loaded());
  a.Unload();
  EXPECT_TRUE(b.Load("/usr/lib/x86_64-linux-gnu", "libSDL2-2.0.so.0")) << b.LastErrMsg();
}

TEST(SDLLoader, MissingLibraryAndMissingFunctionLeaveTheLoaderEmpty) {
  TSDLLoader l;
  EXPECT_FALSE(l.Load("/nonexistent", "libSDL_none.so"));
  EXPECT_EQ(l.LastErrMsg().rfind("Load library /nonexistent/libSDL_none.so error: ", 0), 0u)
      << l.LastErrMsg();
  EXPECT_FALSE(l.Loaded());
  // A real library without SDL's functions fails as a whole, naming the first missing one.
  EXPECT_FALSE(l.Load("", "libm.so.6"));
  EXPECT_EQ(l.LastErrMsg().rfind("Load function SDL_InitSubSystem@libm.so.6 error: ", 0), 0u)
      << l.LastErrMsg();
  EXPECT_FALSE(l.Loaded());
  EXPECT_EQ(l.LibFile(), "");
  l.Unload();  // nothing held: nothing happens
  TSDLLoader ok;
  EXPECT_TRUE(ok.Load("", kDefaultSDLFile)) << "a failed load binds nothing";
}

class QueueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(TFFLoader::Instance().Load(kPlayerLibraries)) << TFFLoader::Instance().LastErrMsg();
  }
  static player::PacketPtr Packet(int size, int64_t pts) {
    player::PacketPtr p = player::NewPacket();
    ff::av_new_packet(p.get(), size);
    p->pts = pts;
    return p;
  }
};

TEST_F(QueueTest, PacketsComeOutInOrderWithTheirSizeCounted) {
  player::TPacketQueue q;
  for (int i = 0; i < 3; ++i) ASSERT_EQ(q.Put(Packet(100 * (i + 1), i).get()), 0);
  q.PutFlush();
  EXPECT_EQ(q.Count(), 4);
  EXPECT_EQ(q.Size(), 100 + 200 + 300 + 4 * player::TPacketQueue::kNodeOverhead);
  player::PacketPtr out = player::NewPacket();
  player::TPacketKind kind;
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(q.Get(out.get(), &kind, false), 1);
    EXPECT_EQ(kind, player::TPacketKind::pkData);
    EXPECT_EQ(out->pts, i);
    EXPECT_EQ(out->size, 100 * (i + 1));
    ff::av_packet_unref(out.get());
  }
  ASSERT_EQ(q.Get(out.get(), &kind, false), 1);
  EXPECT_EQ(kind, player::TPacketKind::pkFlush);
  EXPECT_EQ(q.Get(out.get(), &kind, false), 0);
  EXPECT_EQ(q.Size(), 0);
}

TEST_F(QueueTest, FlushEmptiesAndAbortEndsABlockedGet) {
  player::TPacketQueue q;
  q.Put(Packet(50, 1).get());
  q.Flush();
  EXPECT_EQ(q.Count(), 0);
  EXPECT_EQ(q.Size(), 0);
  int result = 2;
  std::thread getter([&] {
    player::PacketPtr out = player::NewPacket();
    player::TPacketKind kind;
    result = q.Get(out.get(), &kind, true);
  });
  std::this_thread::sleep_for(50ms);
  q.Abort();
  getter.join();
  EXPECT_EQ(result, -1);
  q.Start();
  q.PutEmpty();
  player::PacketPtr out = player::NewPacket();
  player::TPacketKind kind;
  EXPECT_EQ(q.Get(out.get(), &kind, true), 1);
  EXPECT_EQ(kind, player::TPacketKind::pkEmpty);
}

TEST(PlayEventQueue, KeepsOnlyTheLatestOfConsecutiveEventsOfOneKind) {
  player::TPlayEventQueue q;
  for (int i = 1; i <= 10; ++i) q.Push(player::pePosition, i * 1000);
  q.Push(player::peState, 1);
  q.Push(player::pePosition, 42);
  int64_t v = 0;
  EXPECT_EQ(q.Pop(&v), player::pePosition);
  EXPECT_EQ(v, 10000);
  EXPECT_EQ(q.Pop(&v), player::peState);
  EXPECT_EQ(v, 1);
  EXPECT_EQ(q.Pop(&v), player::pePosition);
  EXPECT_EQ(v, 42);
  EXPECT_EQ(q.Pop(&v), player::peNone);
}

TEST(PlayEventQueue, AFullRingLosesTheOldestEntry) {
  player::TPlayEventQueue q;
  for (int i = 0; i < 12; ++i) q.Push(i % 2 ? player::peState : player::pePosition, i);
  int64_t v = 0;
  std::vector<int64_t> got;
  while (q.Pop(&v) != player::peNone) got.push_back(v);
  ASSERT_EQ(got.size(), 9u);
  EXPECT_EQ(got.front(), 3);
  EXPECT_EQ(got.back(), 11);
}

}  // namespace
}  // namespace vidmill
