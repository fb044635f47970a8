#include "filters/live_values.h"

#include <map>
#include <mutex>

namespace vidmill {
namespace {

struct Registry {
  std::mutex lock;
  std::map<int, TLiveValue> values;
  int last_handle = 0;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

int TLiveValues::Register(TLiveValue value) {
  if (!value) return 0;
  Registry& r = TheRegistry();
  std::lock_guard guard(r.lock);
  const int handle = ++r.last_handle;
  r.values.emplace(handle, std::move(value));
  return handle;
}

void TLiveValues::Unregister(int handle) {
  Registry& r = TheRegistry();
  std::lock_guard guard(r.lock);
  r.values.erase(handle);
}

TLiveValue TLiveValues::Find(int handle) {
  Registry& r = TheRegistry();
  std::lock_guard guard(r.lock);
  auto it = r.values.find(handle);
  return it == r.values.end() ? nullptr : it->second;
}

}  // namespace vidmill
