#include "event_queue.h"

#include "core/main_thread.h"

namespace vidmill {

TEventQueue::~TEventQueue() {
  if (!OnDeliveryThread()) Drain();
  std::thread thread;
  {
    std::lock_guard lock(mu_);
    ending_ = true;
    thread = std::move(thread_);
  }
  wake_.notify_all();
  if (thread.joinable()) {
    if (thread.get_id() == std::this_thread::get_id())
      thread.detach();  // destroyed by one of its own calls: it ends by itself
    else
      thread.join();
  }
}

void TEventQueue::Post(std::function<void()> call) {
  {
    std::lock_guard lock(mu_);
    calls_.push_back(std::move(call));
    if (!thread_.joinable() && !ending_) {
      thread_ = std::thread([this] { Run(); });
      thread_id_ = thread_.get_id();
    }
  }
  wake_.notify_all();
}

bool TEventQueue::Idle() const {
  std::lock_guard lock(mu_);
  return calls_.empty() && !running_call_;
}

bool TEventQueue::OnDeliveryThread() const {
  std::lock_guard lock(mu_);
  return thread_id_ == std::this_thread::get_id();
}

void TEventQueue::Drain() {
  if (OnDeliveryThread()) return;
  main_thread::WaitPumping([this] { return Idle(); }, std::chrono::milliseconds(2));
}

void TEventQueue::Run() {
  std::unique_lock lock(mu_);
  for (;;) {
    wake_.wait(lock, [this] { return ending_ || !calls_.empty(); });
    if (calls_.empty()) return;  // ending, nothing left
    std::function<void()> call = std::move(calls_.front());
    calls_.pop_front();
    running_call_ = true;
    lock.unlock();
    try {
      call();
    } catch (...) {
      // A failing handler must not stop the deliveries after it.
    }
    call = nullptr;
    lock.lock();
    running_call_ = false;
  }
}

}  // namespace vidmill
