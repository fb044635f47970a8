#include "main_thread.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace vidmill::main_thread {
namespace {

struct PendingCall {
  const std::function<void()>* fn;
  bool done = false;
};

// All fields guarded by mu.
struct State {
  std::mutex mu;
  std::condition_variable cv;
  Poster poster;
  std::thread::id main_id = std::this_thread::get_id();
  std::deque<std::shared_ptr<PendingCall>> pending;
};

State& S() {
  static State s;
  return s;
}

}  // namespace

void Install(Poster poster) {
  std::lock_guard lock(S().mu);
  S().poster = std::move(poster);
  S().main_id = std::this_thread::get_id();
}

bool Installed() {
  std::lock_guard lock(S().mu);
  return static_cast<bool>(S().poster);
}

bool IsMainThread() {
  std::lock_guard lock(S().mu);
  return std::this_thread::get_id() == S().main_id;
}

void Post(std::function<void()> fn) {
  Poster poster;
  {
    std::lock_guard lock(S().mu);
    poster = S().poster;
  }
  if (poster) {
    poster(std::move(fn));
  } else {
    fn();
  }
}

void Synchronize(const std::function<void()>& fn) {
  Poster poster;
  auto call = std::make_shared<PendingCall>();
  call->fn = &fn;
  {
    std::lock_guard lock(S().mu);
    if (!S().poster || std::this_thread::get_id() == S().main_id) {
      poster = nullptr;
    } else {
      poster = S().poster;
      S().pending.push_back(call);
    }
  }
  if (!poster) {
    fn();
    return;
  }
  poster([] { PumpPending(); });
  std::unique_lock lock(S().mu);
  S().cv.wait(lock, [&] { return call->done; });
}

void PumpPending() {
  for (;;) {
    std::shared_ptr<PendingCall> call;
    {
      std::lock_guard lock(S().mu);
      if (S().pending.empty()) return;
      call = S().pending.front();
      S().pending.pop_front();
    }
    try {
      (*call->fn)();
    } catch (...) {
      // A failing handler must not leave its caller waiting for ever.
    }
    {
      std::lock_guard lock(S().mu);
      call->done = true;
    }
    S().cv.notify_all();
  }
}

void WaitPumping(const std::function<bool()>& done, std::chrono::milliseconds poll) {
  const bool on_main = IsMainThread();
  while (!done()) {
    if (on_main) PumpPending();
    std::this_thread::sleep_for(poll);
  }
}

}  // namespace vidmill::main_thread
