// TPlayEventQueue: positions and states on their way from the playback's
// threads to the player's event thread.
//
// A ring of ten entries. A new entry of the same kind as the newest one
// replaces it, so only the latest position or state waits; when the ring is
// full the oldest entry is lost. Thread rules: Push from any thread, Pop
// from the event thread.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace vidmill::player {

enum TPlayEventType : int {
  peNone = 0,      // nothing queued
  pePosition = 1,  // value: microseconds from the start
  peState = 2,     // value: a TPlayState
  peStop = 3,      // the event thread ends
};

class TPlayEventQueue {
 public:
  void Push(TPlayEventType kind, int64_t value);
  // The oldest entry, or peNone when the ring is empty.
  TPlayEventType Pop(int64_t* value);
  // Waits until an entry is queued or the time has passed.
  void Wait(std::chrono::milliseconds timeout);
  void Clear();

 private:
  struct Entry {
    TPlayEventType kind = peNone;
    int64_t value = 0;
  };
  static constexpr int kSize = 10;
  std::mutex mu_;
  std::condition_variable cv_;
  std::array<Entry, kSize> events_{};  // guarded by mu_
  int header_ = 0;                     // oldest entry; guarded by mu_
  int tailer_ = 0;                     // newest entry; equals header_ when empty
};

}  // namespace vidmill::player
