#include "core/frame_hooks.h"

#include <dlfcn.h>

#include <cstddef>
#include <map>
#include <mutex>

#include "core/entry_points.h"
#include "core/ff_log.h"

namespace vidmill {
namespace {

static_assert(sizeof(VidmillHookPicture) == sizeof(TPicture) &&
                  offsetof(VidmillHookPicture, linesize) == offsetof(TPicture, linesize),
              "a hook picture is laid out like TPicture");

// Through the library logger when it is bound, so lines read as the
// library's own.
void LogError(const std::string& text) {
  if (ff::av_log) {
    ff::av_log(nullptr, AV_LOG_ERROR, "%s", text.c_str());
  } else {
    TFFLogger::Process().Log(nullptr, llError, text.substr(0, text.find_last_not_of('\n') + 1));
  }
}

// Every module loaded by any list, by path; modules stay loaded.
void* ModuleOf(const std::string& path) {
  static std::mutex lock;
  static std::map<std::string, void*> modules;
  std::lock_guard guard(lock);
  if (auto it = modules.find(path); it != modules.end()) return it->second;
  // RTLD_LOCAL keeps the symbol names of two hook modules apart.
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    const char* why = dlerror();
    LogError(std::string(why ? why : "cannot load the module") + "\n");
    return nullptr;
  }
  modules.emplace(path, module);
  return module;
}

template <typename Fn>
Fn Lookup(void* module, const char* name) {
  return reinterpret_cast<Fn>(dlsym(module, name));
}

}  // namespace

TFrameHookList::~TFrameHookList() { Release(); }

int TFrameHookList::Add(const std::vector<std::string>& args) {
  if (args.empty()) return AVERROR(ENOENT);
  const std::string& path = args[0];
  void* module = ModuleOf(path);
  if (!module) return AVERROR(EPERM);

  Entry entry;
  entry.configure = Lookup<VidmillHookConfigure>(module, "Configure");
  entry.process = Lookup<VidmillHookProcess>(module, "Process");
  entry.release = Lookup<VidmillHookRelease>(module, "Release");
  if (!entry.process) {
    LogError("Failed to find Process entrypoint in " + path + "\n");
    return AVERROR(ENOENT);
  }
  if (!entry.configure && args.size() > 1) {
    LogError("Failed to find Configure entrypoint in " + path + "\n");
    return AVERROR(ENOENT);
  }
  if (entry.configure) {
    // The module may keep the argument strings: they live as long as the entry.
    entry.args = std::make_shared<Entry::Args>();
    entry.args->strings = args;
    for (std::string& a : entry.args->strings) entry.args->argv.push_back(a.data());
    entry.args->argv.push_back(nullptr);
    if (entry.configure(&entry.ctx, static_cast<int>(args.size()), entry.args->argv.data()) != 0) {
      LogError("Failed to Configure " + path + "\n");
      return AVERROR(EINVAL);
    }
  }
  entries_.push_back(std::move(entry));
  return 0;
}

void TFrameHookList::Process(TPicture& picture, int pix_fmt, int width, int height, int64_t pts) {
  auto* hook_picture = reinterpret_cast<VidmillHookPicture*>(&picture);
  for (const Entry& e : entries_) e.process(e.ctx, hook_picture, pix_fmt, width, height, pts);
}

void TFrameHookList::Release() {
  for (const Entry& e : entries_) {
    if (e.release) e.release(e.ctx);
  }
  entries_.clear();
}

}  // namespace vidmill
