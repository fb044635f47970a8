// Live values: integers that a running filter reads again for every picture.
//
// A caller (the crop and adjust dialog) registers a shared integer and puts
// the returned handle number into a filter's argument text, e.g.
// "nativeeq=0:0:3:4"; the filter then follows the integer without its graph
// being rebuilt. Handles are never reused within a process, so a stale
// handle can only be unknown, never another caller's value.
//
// Thread rules: every function may be called from any thread. The integer
// itself is read and written as one atomic value, without a lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

namespace vidmill {

using TLiveValue = std::shared_ptr<std::atomic<int32_t>>;

class TLiveValues {
 public:
  // Registers the value and returns its handle (1, 2, ...). The registry
  // shares ownership until Unregister; a filter that found the value keeps
  // it alive for as long as the filter lives. A null value gives 0 (none).
  static int Register(TLiveValue value);
  // Forgets the handle; unknown handles are ignored. Running filters keep
  // the value they already hold.
  static void Unregister(int handle);
  // The value of a handle, or null when the handle is unknown.
  static TLiveValue Find(int handle);
};

// Registers on construction and unregisters on destruction.
class TLiveValueHandle {
 public:
  explicit TLiveValueHandle(int32_t initial = 0)
      : value_(std::make_shared<std::atomic<int32_t>>(initial)), handle_(TLiveValues::Register(value_)) {}
  ~TLiveValueHandle() { TLiveValues::Unregister(handle_); }
  TLiveValueHandle(const TLiveValueHandle&) = delete;
  TLiveValueHandle& operator=(const TLiveValueHandle&) = delete;

  int Handle() const { return handle_; }
  void Set(int32_t v) { value_->store(v); }
  int32_t Get() const { return value_->load(); }
  const TLiveValue& Value() const { return value_; }

 private:
  TLiveValue value_;
  int handle_;
};

}  // namespace vidmill
