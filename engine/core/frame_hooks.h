// TFrameHookList: a chain of frame-hook modules (frame_hook_api.h) that one
// user (a transcoding task) runs on its pictures, in the order added.
//
// A module file is loaded once per process and path and stays loaded until
// the process ends; every Add makes a new entry with its own context.
// Failures are logged at the library's error level.
//
// Thread rules: a list is used by one thread at a time; Add may be called
// from any thread (the module map is locked).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/frame_hook_api.h"
#include "core/picture.h"

namespace vidmill {

class TFrameHookList {
 public:
  TFrameHookList() = default;
  ~TFrameHookList();  // Release
  TFrameHookList(const TFrameHookList&) = delete;
  TFrameHookList& operator=(const TFrameHookList&) = delete;

  // args[0] is the module's path, the rest go to its Configure. Returns 0,
  // or a negative library error: AVERROR(ENOENT) without arguments or when
  // the module lacks Process (or lacks Configure while arguments were
  // given), AVERROR(EPERM) when the module cannot be loaded,
  // AVERROR(EINVAL) when Configure fails. A failed entry is not added.
  int Add(const std::vector<std::string>& args);
  // Calls every entry's Process in list order.
  void Process(TPicture& picture, int pix_fmt, int width, int height, int64_t pts);
  // Calls every entry's Release and empties the list.
  void Release();

  int Count() const { return static_cast<int>(entries_.size()); }

 private:
  struct Entry {
    VidmillHookConfigure configure = nullptr;
    VidmillHookProcess process = nullptr;
    VidmillHookRelease release = nullptr;
    void* ctx = nullptr;
    struct Args {
      std::vector<std::string> strings;
      std::vector<char*> argv;  // into strings, null-terminated
    };
    std::shared_ptr<Args> args;  // what Configure was given
  };
  std::vector<Entry> entries_;
};

}  // namespace vidmill
