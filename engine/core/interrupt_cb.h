// TInterruptCB: the process-wide registry through which engine threads cut
// blocking library I/O short.
//
// A component that is about to block in the libraries (opening, probing,
// reading) adds an entry for its thread: (thread id, sender, routine). Every
// format context the engine opens carries an interrupt callback
// (RegistryInterruptCB) that the libraries poll while they wait; it asks the
// registry whether the first entry of the *calling* thread wants to stop.
// The engine's own file I/O (unicode_protocol.h) polls the same callback.
//
// Thread rules: every method may be called from any thread. All of them take
// one recursive lock; Interrupt calls the routine while holding it, so a
// routine must be quick, must not wait for another thread that needs the
// registry, and must not log (the logger may call back into the libraries).
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

extern "C" {
#include <libavformat/avio.h>
}

struct AVFormatContext;

namespace vidmill {

// True when the owner of the blocked work wants it to stop. Gets the sender
// that was registered with it.
using TInterruptProc = std::function<bool(const void* sender)>;

// Identity of a registered routine: 0 asks Add for a new one.
using TInterruptRoutineId = uint64_t;

struct TInterruptEntry {
  uint32_t thread_id;  // the thread whose blocking calls this entry answers
  const void* sender;  // passed to the routine; not owned
  TInterruptRoutineId routine_id;
  TInterruptProc routine;
};

class TInterruptCB {
 public:
  // The one registry of the process; exists before any component and lives
  // to the end of the process (library threads may poll it at exit).
  static TInterruptCB& Instance();

  // Appends an entry unless one with the same thread, sender and routine id
  // exists. A routine_id of 0 makes a new id. Returns the entry's routine id
  // (the existing one's when nothing was added), to pass to Remove.
  TInterruptRoutineId Add(uint32_t thread_id, const void* sender, TInterruptProc routine,
                          TInterruptRoutineId routine_id = 0);
  // Removes the first entry with that thread, sender and routine id; false
  // when there is none.
  bool Remove(uint32_t thread_id, const void* sender, TInterruptRoutineId routine_id);
  // The answer of the first entry of that thread; false when it has none.
  bool Interrupt(uint32_t thread_id);
  void Clear();
  size_t Count();

  // Returns the entries (in the order added) with the lock held; every
  // LockList must be followed by UnlockList on the same thread.
  const std::vector<TInterruptEntry>& LockList();
  void UnlockList();

  TInterruptCB(const TInterruptCB&) = delete;
  TInterruptCB& operator=(const TInterruptCB&) = delete;

 private:
  TInterruptCB() = default;
  std::recursive_mutex lock_;
  std::vector<TInterruptEntry> list_;  // guarded by lock_
  TInterruptRoutineId next_id_ = 1;    // guarded by lock_
};

// Registers `stop` for the calling thread for the life of the object: the
// usual way to make a blocking library call interruptible.
//   TInterruptScope scope(this, [this] { return stop_requested_.load(); });
class TInterruptScope {
 public:
  TInterruptScope(const void* sender, std::function<bool()> stop);
  ~TInterruptScope();
  TInterruptScope(const TInterruptScope&) = delete;
  TInterruptScope& operator=(const TInterruptScope&) = delete;

 private:
  uint32_t thread_id_;
  const void* sender_;
  TInterruptRoutineId routine_id_;
};

// The callback that asks the registry for the calling thread: returns 1 to
// make the library give up (AVERROR_EXIT), else 0.
int RegistryInterrupt(void* opaque);
// An AVIOInterruptCB calling RegistryInterrupt.
AVIOInterruptCB RegistryInterruptCB();
// Gives a format context the registry's interrupt callback. Every format
// context the engine opens gets it before the library may block on it.
void SetRegistryInterrupt(AVFormatContext* ctx);

}  // namespace vidmill
