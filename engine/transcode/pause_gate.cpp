#include "pause_gate.h"

namespace vidmill {

void TPauseGate::Pause() {
  std::lock_guard lock(mu_);
  if (!opened_) paused_ = true;
}

void TPauseGate::Resume() {
  {
    std::lock_guard lock(mu_);
    paused_ = false;
  }
  cv_.notify_all();
}

void TPauseGate::Open() {
  {
    std::lock_guard lock(mu_);
    opened_ = true;
    paused_ = false;
  }
  cv_.notify_all();
}

void TPauseGate::Reset() {
  {
    std::lock_guard lock(mu_);
    opened_ = false;
    paused_ = false;
  }
  cv_.notify_all();
}

bool TPauseGate::Paused() const {
  std::lock_guard lock(mu_);
  return paused_;
}

bool TPauseGate::Holding() const {
  std::lock_guard lock(mu_);
  return holding_ > 0;
}

void TPauseGate::Pass() {
  std::unique_lock lock(mu_);
  if (!paused_) return;
  ++holding_;
  cv_.wait(lock, [this] { return !paused_ || opened_; });
  --holding_;
}

}  // namespace vidmill
