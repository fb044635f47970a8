#include "play_events.h"

namespace vidmill::player {

void TPlayEventQueue::Push(TPlayEventType kind, int64_t value) {
  {
    std::lock_guard lock(mu_);
    const bool empty = header_ == tailer_;
    if (empty || events_[tailer_].kind != kind) {
      tailer_ = (tailer_ + 1) % kSize;
      if (tailer_ == header_) header_ = (header_ + 1) % kSize;  // the oldest is lost
    }
    events_[tailer_] = Entry{kind, value};
  }
  cv_.notify_all();
}

TPlayEventType TPlayEventQueue::Pop(int64_t* value) {
  std::lock_guard lock(mu_);
  if (header_ == tailer_) return peNone;
  header_ = (header_ + 1) % kSize;
  *value = events_[header_].value;
  return events_[header_].kind;
}

void TPlayEventQueue::Wait(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mu_);
  cv_.wait_for(lock, timeout, [this] { return header_ != tailer_; });
}

void TPlayEventQueue::Clear() {
  std::lock_guard lock(mu_);
  header_ = tailer_;
}

}  // namespace vidmill::player
