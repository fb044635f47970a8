// Stopping (or destroying) a player right when its playback reaches the end
// of the file: every thread of the playback must let go, whatever it was
// waiting for. Each stop runs against a deadline so that a hang fails the
// test instead of blocking the run.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <condition_variable>
#include <memory>
#include <random>

#include <deque>

#include "core/main_thread.h"
#include "player_fixture.h"

namespace vidmill::testing {
namespace {

using namespace std::chrono_literals;

constexpr auto kStopDeadline = 10s;

// Runs fn on the calling thread (a stop must run on the application's main
// thread) while a watchdog waits for it; a call that does not return within
// the deadline ends the process with a failure, since the hung player could
// not be torn down and the test cannot go on.
void WithinDeadline(const char* what, int iteration, const std::function<void()>& fn) {
  std::mutex mu;
  std::condition_variable cv;
  bool done = false;
  std::thread watchdog([&] {
    std::unique_lock lock(mu);
    if (!cv.wait_for(lock, kStopDeadline, [&] { return done; })) {
      std::fprintf(stderr, "FAILED: %s did not return within %lld s (iteration %d)\n", what,
                   static_cast<long long>(kStopDeadline.count()), iteration);
      std::fflush(stderr);
      std::_Exit(EXIT_FAILURE);
    }
  });
  fn();
  {
    std::lock_guard lock(mu);
    done = true;
  }
  cv.notify_all();
  watchdog.join();
}

std::string ShortClip() {
  ClipSpec spec;
  spec.name = "h264_aac_0_25s.mp4";
  spec.seconds = 0.25;
  spec.codec_args = {"-c:v", "libx264", "-c:a", "aac"};
  return MakeClip(spec);
}

class StopAtEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(TFFLoader::Instance().Load(kPlayerLibraries)) << TFFLoader::Instance().LastErrMsg();
    clip_ = ShortClip();
    ASSERT_FALSE(clip_.empty());
  }

  // A fresh player whose psEnd raises at_end_.
  std::unique_ptr<TFFPlayer> NewPlayer() {
    auto player = std::make_unique<TFFPlayer>();
    player->OnState = [this](TFFBaseComponent*, TPlayState s) {
      if (s == psEnd) at_end_ = true;
    };
    EXPECT_TRUE(player->LoadSDLLib("")) << player->LastErrMsg();
    return player;
  }

  std::string clip_;
  std::atomic<bool> at_end_{false};
};

// Stops land on both sides of the end: at psEnd itself and at small random
// offsets around the moment the clip runs out.
TEST_F(StopAtEnd, StopAroundTheEndAlwaysReturns) {
  auto player = NewPlayer();
  std::mt19937 random(12345);
  std::uniform_int_distribution<int> offset_ms(-60, 60);
  constexpr int kIterations = 12;
  for (int i = 0; i < kIterations; ++i) {
    at_end_ = false;
    ASSERT_TRUE(player->Open(clip_)) << player->LastErrMsg();
    if (i % 2 == 0) {
      ASSERT_TRUE(WaitUntil([&] { return at_end_.load(); }, 5s)) << "iteration " << i;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(250 + offset_ms(random)));
    }
    WithinDeadline("Stop(true)", i, [&] { player->Stop(true); });
    EXPECT_FALSE(player->Playing()) << "iteration " << i;
  }
}

// The same with the player itself going away at the end.
TEST_F(StopAtEnd, DestroyingAtTheEndAlwaysReturns) {
  std::mt19937 random(54321);
  std::uniform_int_distribution<int> offset_ms(-40, 40);
  constexpr int kIterations = 6;
  for (int i = 0; i < kIterations; ++i) {
    at_end_ = false;
    auto player = NewPlayer();
    ASSERT_TRUE(player->Open(clip_)) << player->LastErrMsg();
    if (i % 2 == 0) {
      ASSERT_TRUE(WaitUntil([&] { return at_end_.load(); }, 5s)) << "iteration " << i;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(250 + offset_ms(random)));
    }
    WithinDeadline("destroying the player", i, [&] { player.reset(); });
  }
}

// A handler that stops the player from its own psEnd event.
TEST_F(StopAtEnd, StopFromTheEndHandlerReturns) {
  auto player = NewPlayer();
  std::atomic<bool> stopped{false};
  TFFPlayer* raw = player.get();
  player->OnState = [&](TFFBaseComponent*, TPlayState s) {
    if (s == psEnd) {
      raw->Stop(true);
      stopped = true;
    }
  };
  for (int i = 0; i < 4; ++i) {
    stopped = false;
    ASSERT_TRUE(player->Open(clip_)) << player->LastErrMsg();
    WithinDeadline("Stop(true) from the psEnd handler", i,
                   [&] { ASSERT_TRUE(WaitUntil([&] { return stopped.load(); }, 5s)); });
    WithinDeadline("Stop(true) after the handler", i, [&] { player->Stop(true); });
    EXPECT_FALSE(player->Playing()) << "iteration " << i;
  }
}

// As in a GUI application: the handlers run on the main thread, which is
// busy for a while (no pumping) and then stops the player around the end,
// pumping the handlers that waited meanwhile.
TEST_F(StopAtEnd, StopOnABusyMainThreadAroundTheEndReturns) {
  struct TDeferredCalls {
    std::mutex mu;
    std::deque<std::function<void()>> calls;
    void Run() {
      for (;;) {
        std::function<void()> fn;
        {
          std::lock_guard lock(mu);
          if (calls.empty()) return;
          fn = std::move(calls.front());
          calls.pop_front();
        }
        fn();
      }
    }
  };
  static TDeferredCalls deferred;  // outlives every poster call
  main_thread::Install([](std::function<void()> fn) {
    std::lock_guard lock(deferred.mu);
    deferred.calls.push_back(std::move(fn));
  });
  auto player = NewPlayer();
  player->OnPosition = [](TFFBaseComponent*, int64_t) {};
  std::mt19937 random(777);
  std::uniform_int_distribution<int> busy_ms(100, 250);
  for (int i = 0; i < 6; ++i) {
    ASSERT_TRUE(player->Open(clip_)) << player->LastErrMsg();
    std::this_thread::sleep_for(std::chrono::milliseconds(busy_ms(random)));
    WithinDeadline("Stop(true) on a busy main thread", i, [&] { player->Stop(true); });
    deferred.Run();
    EXPECT_FALSE(player->Playing()) << "iteration " << i;
  }
  WithinDeadline("destroying the player", 0, [&] { player.reset(); });
  main_thread::Install(nullptr);
  deferred.Run();
}

}  // namespace
}  // namespace vidmill::testing


// SDL2 keeps a few small allocations of every window and renderer it made
// after they are destroyed and its subsystems are quit; they are not ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libSDL2-2.0.so.0\n"; }
