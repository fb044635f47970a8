#include "sdl_loader.h"

#include <dlfcn.h>

#include <filesystem>

namespace vidmill {
namespace {

// The one SDL binding of the process; every field guarded by mu.
struct SharedBinding {
  std::mutex mu;
  std::string file;  // full name the binding was made from
  int shares = 0;    // loaders holding it
  TSDLFunctions fns;
};

SharedBinding& Shared() {
  static SharedBinding b;
  return b;
}

const TSDLFunctions kNoFunctions{};

std::string FullName(const std::string& path, const std::string& file) {
  if (path.empty()) return file;
  return (path.back() == '/') ? path + file : path + "/" + file;
}

std::string DlError() {
  const char* e = dlerror();
  return e ? e : "unknown error";
}

// A file found in the folder is opened by its path; otherwise the system's
// library search finds it by name.
void* OpenLibrary(const std::string& path, const std::string& file) {
  std::error_code ec;
  const std::string full = FullName(path, file);
  if (!path.empty() && std::filesystem::exists(full, ec)) return dlopen(full.c_str(), RTLD_NOW);
  return dlopen(file.c_str(), RTLD_NOW);
}

// Resolves every entry point; on failure returns the message.
bool Resolve(void* handle, const std::string& file, TSDLFunctions* fns, std::string* err) {
#define VM_SDL_RESOLVE(name)                                                             \
  {                                                                                      \
    dlerror();                                                                           \
    void* sym = dlsym(handle, #name);                                                    \
    if (!sym) {                                                                          \
      *err = std::string("Load function ") + #name + "@" + file + " error: " + DlError(); \
      *fns = TSDLFunctions{};                                                            \
      return false;                                                                      \
    }                                                                                    \
    fns->name = reinterpret_cast<decltype(fns->name)>(sym);                              \
  }
  VM_SDL_ENTRY_POINTS(VM_SDL_RESOLVE)
#undef VM_SDL_RESOLVE
  return true;
}

}  // namespace

std::recursive_mutex& SDLCallLock() {
  static std::recursive_mutex mu;
  return mu;
}

TSDLLoader::~TSDLLoader() { Unload(); }

bool TSDLLoader::Load(const std::string& APath, const std::string& AFile) {
  const std::string full = FullName(APath, AFile);
  if (held_ && lib_file_ == full) return true;
  SharedBinding& b = Shared();
  std::lock_guard lock(b.mu);
  if (b.shares > 0 && b.file != full && !(held_ && b.shares == 1)) {
    last_err_msg_ = b.file + " alreay loaded in another instance.";
    return false;
  }
  UnloadLocked();
  if (b.shares == 0) {
    void* handle = OpenLibrary(APath, AFile);
    if (!handle) {
      last_err_msg_ = "Load library " + full + " error: " + DlError();
      return false;
    }
    TSDLFunctions fns;
    if (!Resolve(handle, AFile, &fns, &last_err_msg_)) {
      dlclose(handle);  // never ran: nothing of it can be in use
      return false;
    }
    b.file = full;
    b.fns = fns;
  }
  ++b.shares;
  held_ = true;
  lib_file_ = full;
  return true;
}

void TSDLLoader::Unload() {
  std::lock_guard lock(Shared().mu);
  UnloadLocked();
}

void TSDLLoader::UnloadLocked() {
  if (!held_) return;
  SharedBinding& b = Shared();
  held_ = false;
  lib_file_.clear();
  if (--b.shares > 0) return;
  // The library itself stays mapped: SDL leaves thread-local destructors
  // behind in every thread that called it, which must find their code.
  b.fns = TSDLFunctions{};
  b.file.clear();
}

const TSDLFunctions& TSDLLoader::Functions() const {
  return held_ ? Shared().fns : kNoFunctions;
}

}  // namespace vidmill
