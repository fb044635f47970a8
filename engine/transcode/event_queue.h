// TEventQueue: the one delivery line of a component's events that are not
// carried to the main thread (OnTerminate).
//
// Calls are run one after another, in the order posted, on one delivery
// thread of the queue's own: so handlers delivered through one queue never
// run at once, and a call posted last (the end of a run) is delivered last.
// The owner drains the queue before it goes away; the destructor drains too.
//
// Thread rules: Post, Drain and Idle may be called from any thread. A call
// running on the delivery thread may post further calls; its Drain returns
// at once (it cannot wait for itself).
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace vidmill {

class TEventQueue {
 public:
  TEventQueue() = default;
  // Drains, then ends the delivery thread.
  ~TEventQueue();
  TEventQueue(const TEventQueue&) = delete;
  TEventQueue& operator=(const TEventQueue&) = delete;

  // Queues `call` for the delivery thread (started on first use). An
  // exception leaving a call is swallowed: the next call still runs.
  void Post(std::function<void()> call);
  // Waits until every call posted so far has returned. On the main thread
  // the waiting keeps running the main thread's pending calls, so a call
  // that needs the main thread cannot deadlock it.
  void Drain();
  // No call waiting or running.
  bool Idle() const;
  // Whether the caller is the delivery thread.
  bool OnDeliveryThread() const;

 private:
  void Run();

  mutable std::mutex mu_;
  std::condition_variable wake_;      // a call was posted, or the queue ends
  std::deque<std::function<void()>> calls_;  // guarded by mu_
  bool running_call_ = false;         // guarded by mu_
  bool ending_ = false;               // guarded by mu_
  std::thread thread_;                // started under mu_ on first Post
  std::thread::id thread_id_;         // guarded by mu_
};

}  // namespace vidmill
