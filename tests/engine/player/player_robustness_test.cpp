// Bad input and awkward timing: opens that fail, closing while busy,
// stopping a playback whose read is blocked. Run under the sanitizers.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>

#include "player_fixture.h"

namespace vidmill::testing {
namespace {

using namespace std::chrono_literals;

TEST_F(PlayerTest, MissingFileFailsWithTheLibraryErrorText) {
  const std::string name = MediaDir() + "/no_such_clip.mp4";
  EXPECT_FALSE(player_.Open(name));
  EXPECT_EQ(player_.LastErrMsg(), name + ": No such file or directory");
  EXPECT_FALSE(player_.Playing());
}

TEST_F(PlayerTest, BrokenFilesFailWithAReason) {
  for (Clip clip : {Clip::ZeroBytes, Clip::Truncated, Clip::RandomBytes}) {
    const std::string path = MediaPath(clip);
    EXPECT_FALSE(player_.Open(path)) << path;
    EXPECT_EQ(player_.LastErrMsg().rfind(path + ": ", 0), 0u) << player_.LastErrMsg();
    EXPECT_FALSE(player_.Playing());
  }
  // The player is still usable afterwards.
  ASSERT_TRUE(player_.Open(MediaPath(Clip::Mp4H264Aac))) << player_.LastErrMsg();
  player_.Stop(true);
}

TEST_F(PlayerTest, OpenWithoutSDLOrLibrariesFails) {
  TFFPlayer bare;
  EXPECT_FALSE(bare.Open(MediaPath(Clip::Mp4H264Aac)));
  EXPECT_EQ(bare.LastErrMsg(), "sdl not loaded.");
}

TEST_F(PlayerTest, ClosingDuringASeekEndsCleanly) {
  ASSERT_TRUE(player_.Open(MediaPath(Clip::MkvSubsChapters))) << player_.LastErrMsg();
  ASSERT_TRUE(WaitUntil([&] { return ShownPts() > 0.1; }, 3s));
  for (int i = 0; i < 5; ++i) {
    player_.Seek(2000000 - i * 300000, sfBackward, false);
    std::this_thread::sleep_for(std::chrono::milliseconds(3 * i));
  }
  player_.Stop(true);
  EXPECT_FALSE(player_.Playing());
  EXPECT_EQ(events_.States().back(), psStop);
}

TEST_F(PlayerTest, OpeningASecondFileStopsTheFirstAndResetsItsOptions) {
  player_.Options().start_time = 500000;
  player_.Options().repeat_type = rtLoop;
  player_.SetVerticalFlip(true);
  ASSERT_TRUE(player_.Open(MediaPath(Clip::Mp4H264Aac))) << player_.LastErrMsg();
  ASSERT_TRUE(WaitUntil([&] { return ShownPts() >= 0.5; }, 3s));
  ASSERT_TRUE(player_.Open(MediaPath(Clip::AviMpeg4Mp3))) << player_.LastErrMsg();
  EXPECT_EQ(player_.Options().start_time, INT64_MIN);
  EXPECT_EQ(player_.Options().repeat_type, rtStop);
  EXPECT_FALSE(player_.VerticalFlip());
  ASSERT_TRUE(WaitUntil([&] { return ShownPts() >= 0.0 && ShownPts() < 0.5; }, 3s));
  player_.Stop(true);
  const auto states = events_.States();
  EXPECT_EQ(std::count(states.begin(), states.end(), psPlay), 2);
  EXPECT_EQ(std::count(states.begin(), states.end(), psStop), 2);
}

TEST_F(PlayerTest, TwoPlayersPlayAtOnce) {
  TRecordedEvents other_events;
  TFFPlayer other;
  Attach(other, other_events);
  ASSERT_TRUE(other.LoadSDLLib("")) << other.LastErrMsg();
  ASSERT_TRUE(player_.Open(MediaPath(Clip::Mp4H264Aac))) << player_.LastErrMsg();
  ASSERT_TRUE(other.Open(MediaPath(Clip::WebmVp9Opus))) << other.LastErrMsg();
  EXPECT_TRUE(WaitUntil([&] { return events_.Has(psEnd) && other_events.Has(psEnd); }, 6s));
  other.Stop(true);
  player_.Stop(true);
  EXPECT_GT(other.Stats().pictures_shown, 30);
  EXPECT_GT(player_.Stats().pictures_shown, 30);
}

TEST_F(PlayerTest, StoppingWithoutWaitReturnsAtOnceAndStopArrivesLater) {
  ASSERT_TRUE(player_.Open(MediaPath(Clip::Mp4H264Aac))) << player_.LastErrMsg();
  player_.Stop(false);
  EXPECT_TRUE(WaitUntil([&] { return events_.Has(psStop); }, 3s));
  EXPECT_TRUE(WaitUntil([&] { return !player_.Playing(); }, 1s));
}

// A FIFO fed with the first part of a stream, then kept open without more
// data: the player's read blocks in the middle of playing.
class BlockedReadTest : public PlayerTest {
 protected:
  void TearDown() override {
    stop_writer_ = true;
    if (writer_.joinable()) writer_.join();
    std::filesystem::remove(fifo_);
  }

  void StartWriter(size_t bytes_to_send) {
    fifo_ = MediaDir() + "/blocked_" + std::to_string(getpid()) + ".ts";
    std::filesystem::remove(fifo_);
    ASSERT_EQ(mkfifo(fifo_.c_str(), 0600), 0);
    ClipSpec s;
    s.name = "stream_4s.ts";
    s.seconds = 4;
    s.codec_args = {"-c:v", "libx264", "-g", "12", "-c:a", "aac", "-f", "mpegts"};
    const std::string src = MakeClip(s);
    ASSERT_FALSE(src.empty());
    writer_ = std::thread([this, src, bytes_to_send] {
      std::ifstream in(src, std::ios::binary);
      std::vector<char> data(bytes_to_send);
      in.read(data.data(), data.size());
      const int fd = open(fifo_.c_str(), O_WRONLY);  // waits for the player to open it
      if (fd < 0) return;
      size_t sent = 0;
      while (sent < static_cast<size_t>(in.gcount()) && !stop_writer_) {
        const ssize_t n = write(fd, data.data() + sent, in.gcount() - sent);
        if (n <= 0) break;
        sent += n;
      }
      while (!stop_writer_) std::this_thread::sleep_for(10ms);  // open, but silent
      close(fd);
    });
  }

  std::string fifo_;
  std::thread writer_;
  std::atomic<bool> stop_writer_{false};
};

TEST_F(BlockedReadTest, StopEndsAPlaybackWhoseReadIsBlocked) {
  StartWriter(200 * 1024);
  ASSERT_TRUE(player_.Open(fifo_)) << player_.LastErrMsg();
  ASSERT_TRUE(WaitUntil([&] { return ShownPts() > 0.2; }, 5s));
  std::this_thread::sleep_for(300ms);  // the read is waiting for data now
  const auto before = std::chrono::steady_clock::now();
  player_.Stop(true);
  EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
  EXPECT_FALSE(player_.Playing());
  EXPECT_EQ(events_.States().back(), psStop);
}

TEST_F(BlockedReadTest, StopCancelsAnOpenThatWaitsForData) {
  StartWriter(0);
  std::atomic<bool> opened{true};
  std::thread stopper([&] {
    std::this_thread::sleep_for(300ms);
    player_.Stop(false);  // what a main-thread handler would do during the open
  });
  const auto before = std::chrono::steady_clock::now();
  opened = player_.Open(fifo_);
  stopper.join();
  EXPECT_FALSE(opened);
  EXPECT_LT(std::chrono::steady_clock::now() - before, 3s);
  EXPECT_FALSE(player_.Playing());
}

}  // namespace
}  // namespace vidmill::testing

// SDL2 keeps a few small allocations of every window and renderer it made
// (88 bytes and its strings per playback, inside libSDL2 itself) after they
// are destroyed and its subsystems are quit; they are not ours to free.
extern "C" const char* __lsan_default_suppressions() { return "leak:libSDL2-2.0.so.0\n"; }
