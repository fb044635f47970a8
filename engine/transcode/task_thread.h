// TTaskThread: the worker side of one task: its worker thread, the stop
// request ("Broken") and the pause gate the worker passes between packets.
//
// Start runs the body on a new worker thread (or, without a thread, in the
// caller's); Stop asks the body to end and can wait for it; Pause and Resume
// close and open the gate. The destructor waits for the worker thread, so
// a task is never freed while its worker still runs.
//
// Thread rules: Start, Stop, Pause, Resume and WaitStopped are called by the
// task's owner (normally the main thread); Broken and PassGate by the worker.
// A body may call Stop on its own thread (not waiting).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "pause_gate.h"

namespace vidmill {

// Priority of worker threads. The system lets a process lower its threads'
// priority but not raise it: the values above normal run as normal.
enum TThreadPriority : uint8_t {
  tpIdle,
  tpLowest,
  tpLower,
  tpNormal,
  tpHigher,
  tpHighest,
  tpTimeCritical,
};

// Gives the calling thread the priority (a nice value for the lower ones).
void ApplyThreadPriority(TThreadPriority priority);

class TTaskThread {
 public:
  TTaskThread() = default;
  // Stops (without waiting) and joins the worker thread.
  ~TTaskThread();
  TTaskThread(const TTaskThread&) = delete;
  TTaskThread& operator=(const TTaskThread&) = delete;

  // Clears the stop request and runs `body`: on a new worker thread when
  // `use_thread` (returns at once), else in the calling thread (returns
  // when the body has). False when a worker thread of an earlier start
  // still runs.
  bool Start(bool use_thread, std::function<void()> body);

  // Asks the body to end at its next check; a paused worker is let go.
  // With `wait`, waits until the body has returned (on the main thread
  // running the main thread's pending calls meanwhile, so a worker waiting
  // for the main thread cannot deadlock the stop).
  void Stop(bool wait);
  void Pause() { gate_.Pause(); }
  void Resume() { gate_.Resume(); }
  bool Paused() const { return gate_.Paused(); }
  bool HeldAtGate() const { return gate_.Holding(); }

  // Waits until no body runs on the worker thread (pumping as Stop does).
  void WaitStopped();
  // Whether a body runs on the worker thread now.
  bool Running() const { return running_.load(); }
  bool HasThread() const { return has_thread_.load(); }
  // Whether the caller is this task's worker thread.
  bool OnWorkerThread() const;

  // Worker: whether a stop was requested.
  bool Broken() const { return broken_.load(); }
  // Worker: holds still while paused (returns at once when stopped).
  void PassGate() { gate_.Pass(); }

 private:
  void Join();

  std::atomic<bool> broken_{false};
  std::atomic<bool> running_{false};     // the worker thread's body has not returned
  std::atomic<bool> has_thread_{false};  // a worker thread was started and not joined
  TPauseGate gate_;
  mutable std::mutex thread_mu_;         // guards thread_
  std::thread thread_;
};

}  // namespace vidmill
