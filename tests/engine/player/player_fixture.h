// Shared set-up of the player tests: bound libraries, a player whose events
// are recorded, and waits with a deadline.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "core/ff_load.h"
#include "player/player.h"
#include "test_media.h"

namespace vidmill::testing {

// Polls pred every 5 ms until it holds or the time is up.
inline bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// What a player reported, in order; filled from its event thread.
struct TRecordedEvents {
  std::mutex mu;
  std::vector<TPlayState> states;
  std::vector<int64_t> positions;
  std::vector<std::chrono::steady_clock::time_point> state_times;

  std::vector<TPlayState> States() {
    std::lock_guard lock(mu);
    return states;
  }
  bool Has(TPlayState s) {
    std::lock_guard lock(mu);
    return std::find(states.begin(), states.end(), s) != states.end();
  }
  std::chrono::steady_clock::time_point TimeOf(TPlayState s) {
    std::lock_guard lock(mu);
    for (size_t i = 0; i < states.size(); ++i) {
      if (states[i] == s) return state_times[i];
    }
    return {};
  }
  int64_t LastPosition() {
    std::lock_guard lock(mu);
    return positions.empty() ? -1 : positions.back();
  }
};

class PlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(TFFLoader::Instance().Load(kPlayerLibraries)) << TFFLoader::Instance().LastErrMsg();
    Attach(player_, events_);
    ASSERT_TRUE(player_.LoadSDLLib("")) << player_.LastErrMsg();
  }

  static void Attach(TFFPlayer& player, TRecordedEvents& events) {
    player.OnState = [&events](TFFBaseComponent*, TPlayState s) {
      std::lock_guard lock(events.mu);
      events.states.push_back(s);
      events.state_times.push_back(std::chrono::steady_clock::now());
    };
    player.OnPosition = [&events](TFFBaseComponent*, int64_t pts) {
      std::lock_guard lock(events.mu);
      events.positions.push_back(pts);
    };
  }

  // Seconds of the picture on screen (stream time), -1 before the first.
  double ShownPts() { return player_.Stats().last_shown_pts; }

  // Waits until the picture on screen has not changed for `quiet`.
  double WaitForStillPicture(std::chrono::milliseconds quiet = std::chrono::milliseconds(300)) {
    double last = ShownPts();
    auto since = std::chrono::steady_clock::now();
    const auto end = since + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      const double now = ShownPts();
      if (now != last) {
        last = now;
        since = std::chrono::steady_clock::now();
      } else if (std::chrono::steady_clock::now() - since >= quiet) {
        return last;
      }
    }
    ADD_FAILURE() << "the picture never came to rest";
    return last;
  }

  TRecordedEvents events_;  // outlives the player, whose threads call into it
  TFFPlayer player_;
};

}  // namespace vidmill::testing
