// TSyncEvent: a manual-reset event (set stays set until Reset).
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace vidmill::player {

class TSyncEvent {
 public:
  explicit TSyncEvent(bool initially_set) : set_(initially_set) {}

  void Set() {
    {
      std::lock_guard lock(mu_);
      set_ = true;
    }
    cv_.notify_all();
  }
  void Reset() {
    std::lock_guard lock(mu_);
    set_ = false;
  }
  bool IsSet() {
    std::lock_guard lock(mu_);
    return set_;
  }
  // True when the event is (or becomes) set within the time.
  bool WaitFor(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mu_);
    return cv_.wait_for(lock, timeout, [this] { return set_; });
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  bool set_;  // guarded by mu_
};

}  // namespace vidmill::player
