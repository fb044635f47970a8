// TPauseGate: where a running task holds still while it is paused.
//
// The worker calls Pass() between packets; while the gate is paused the call
// blocks, so a paused task stops at a packet boundary (holding no lock of
// the libraries, the logger or the codec lists) and resumes exactly where it
// was. Open() lets every waiting and later Pass() through for good (a stop),
// until Reset().
//
// Thread rules: every method may be called from any thread.
#pragma once

#include <condition_variable>
#include <mutex>

namespace vidmill {

class TPauseGate {
 public:
  // Makes following Pass() calls block. No effect once opened.
  void Pause();
  // Lets waiting Pass() calls go on.
  void Resume();
  // Lets every Pass() through from now on, also while paused (a stop).
  void Open();
  // Back to the first state: not paused, not opened.
  void Reset();

  bool Paused() const;
  // Whether a worker is held in Pass() right now.
  bool Holding() const;

  // Worker: returns at once unless paused; else waits for Resume or Open.
  void Pass();

 private:
  mutable std::mutex mu_;
  std::condition_variable cv_;
  bool paused_ = false;   // guarded by mu_
  bool opened_ = false;   // guarded by mu_
  int holding_ = 0;       // workers waiting in Pass(); guarded by mu_
};

}  // namespace vidmill
