#include "interrupt_cb.h"

#include <algorithm>

extern "C" {
#include <libavformat/avformat.h>
}

#include "ff_log.h"

namespace vidmill {

TInterruptCB& TInterruptCB::Instance() {
  static TInterruptCB registry;
  return registry;
}

TInterruptRoutineId TInterruptCB::Add(uint32_t thread_id, const void* sender,
                                      TInterruptProc routine, TInterruptRoutineId routine_id) {
  std::lock_guard lock(lock_);
  if (routine_id != 0) {
    for (const TInterruptEntry& e : list_) {
      if (e.thread_id == thread_id && e.sender == sender && e.routine_id == routine_id) {
        return routine_id;
      }
    }
  } else {
    routine_id = next_id_++;
  }
  list_.push_back({thread_id, sender, routine_id, std::move(routine)});
  return routine_id;
}

bool TInterruptCB::Remove(uint32_t thread_id, const void* sender, TInterruptRoutineId routine_id) {
  std::lock_guard lock(lock_);
  auto it = std::find_if(list_.begin(), list_.end(), [&](const TInterruptEntry& e) {
    return e.thread_id == thread_id && e.sender == sender && e.routine_id == routine_id;
  });
  if (it == list_.end()) return false;
  list_.erase(it);
  return true;
}

bool TInterruptCB::Interrupt(uint32_t thread_id) {
  std::lock_guard lock(lock_);
  for (const TInterruptEntry& e : list_) {
    if (e.thread_id != thread_id) continue;
    if (!e.routine) return false;
    try {
      return e.routine(e.sender);
    } catch (...) {
      return false;  // nothing may unwind through the library's poll
    }
  }
  return false;
}

void TInterruptCB::Clear() {
  std::lock_guard lock(lock_);
  list_.clear();
}

size_t TInterruptCB::Count() {
  std::lock_guard lock(lock_);
  return list_.size();
}

const std::vector<TInterruptEntry>& TInterruptCB::LockList() {
  lock_.lock();
  return list_;
}

void TInterruptCB::UnlockList() { lock_.unlock(); }

TInterruptScope::TInterruptScope(const void* sender, std::function<bool()> stop)
    : thread_id_(CurrentThreadId()), sender_(sender) {
  routine_id_ = TInterruptCB::Instance().Add(
      thread_id_, sender_, [stop = std::move(stop)](const void*) { return stop && stop(); });
}

TInterruptScope::~TInterruptScope() {
  TInterruptCB::Instance().Remove(thread_id_, sender_, routine_id_);
}

int RegistryInterrupt(void*) {
  thread_local const uint32_t thread_id = CurrentThreadId();
  return TInterruptCB::Instance().Interrupt(thread_id) ? 1 : 0;
}

AVIOInterruptCB RegistryInterruptCB() { return AVIOInterruptCB{&RegistryInterrupt, nullptr}; }

void SetRegistryInterrupt(AVFormatContext* ctx) {
  if (ctx) ctx->interrupt_callback = RegistryInterruptCB();
}

}  // namespace vidmill
