#include "ff_load.h"

#include <dlfcn.h>

#include <filesystem>
#include <vector>

#include "entry_points.h"
#include "engine_error.h"
#include "ff_log.h"

namespace vidmill {
namespace {

struct EntryPoint {
  const char* name;
  void** slot;
  bool optional;
};

#define VM_ENTRY(name) EntryPoint{#name, reinterpret_cast<void**>(&ff::name), false},
const std::vector<EntryPoint>& EntryPointsOf(TLibrary lib) {
  static const std::vector<EntryPoint> tables[kLibraryCount] = {
      {VM_AVCODEC_ENTRY_POINTS(VM_ENTRY)},  {VM_AVCORE_ENTRY_POINTS(VM_ENTRY)},
      {VM_AVDEVICE_ENTRY_POINTS(VM_ENTRY)}, {VM_AVFILTER_ENTRY_POINTS(VM_ENTRY)},
      {VM_AVFORMAT_ENTRY_POINTS(VM_ENTRY)}, {VM_AVUTIL_ENTRY_POINTS(VM_ENTRY)},
      {VM_SWSCALE_ENTRY_POINTS(VM_ENTRY)},  {VM_MYUTIL_ENTRY_POINTS(VM_ENTRY)},
      {VM_SWRESAMPLE_ENTRY_POINTS(VM_ENTRY)},
  };
  return tables[lib];
}
#undef VM_ENTRY

struct LibraryItem {
  const char* base_name;  // file name without "lib" and ".so.N"
  bool sys_lib;           // never looked for in the library folder
  int version;            // major version, -1 for none
};

const LibraryItem kLibraryItems[kLibraryCount] = {
    {"avcodec", false, LIBAVCODEC_VERSION_MAJOR},
    {"avutil", false, LIBAVUTIL_VERSION_MAJOR},  // avCore
    {"avdevice", false, LIBAVDEVICE_VERSION_MAJOR},
    {"avfilter", false, LIBAVFILTER_VERSION_MAJOR},
    {"avformat", false, LIBAVFORMAT_VERSION_MAJOR},
    {"avutil", false, LIBAVUTIL_VERSION_MAJOR},
    {"swscale", false, LIBSWSCALE_VERSION_MAJOR},
    {"c", true, 6},  // myUtil
    {"swresample", false, LIBSWRESAMPLE_VERSION_MAJOR},
};

// Libraries a library needs, loaded from the same folder first when the
// folder has them, so that a private set of libraries stays together.
std::vector<TLibrary> DependenciesOf(TLibrary lib) {
  switch (lib) {
    case avCodec: return {avUtil, swResample};
    case avFilter: return {avUtil, swResample, swScale, avCodec, avFormat};
    case avFormat: return {avUtil, swResample, avCodec};
    case avDevice: return {avUtil, swResample, swScale, avCodec, avFormat, avFilter};
    case swScale:
    case swResample: return {avUtil};
    default: return {};
  }
}

std::string DlError() {
  const char* e = dlerror();
  return e ? e : "unknown error";
}

// RTLD_NODELETE: an unloaded library stays mapped. Its entry points are
// cleared all the same, but threads and callbacks it left behind (codec
// worker threads, atexit handlers of the libraries it pulled in) never run
// into unmapped code, and loading it again finds it at once.
constexpr int kOpenFlags = RTLD_NOW | RTLD_GLOBAL | RTLD_NODELETE;

void* OpenLibrary(const std::string& folder, const std::string& name) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!folder.empty() && fs::exists(fs::path(folder) / name, ec)) {
    return dlopen((fs::path(folder) / name).c_str(), kOpenFlags);
  }
  return dlopen(name.c_str(), kOpenFlags);
}

}  // namespace

const char* NotLoadedText(TLibrary lib) {
  switch (lib) {
    case avCodec: return "LibAVCodec not loaded.";
    case avCore: return "LibAVCore not loaded.";
    case avDevice: return "LibAVDevice not loaded.";
    case avFilter: return "LibAVFilter not loaded.";
    case avFormat: return "LibAVFormat not loaded.";
    case avUtil: return "LibAVUtil not loaded.";
    case swScale: return "LibSwScale not loaded.";
    case myUtil: return "MyUtil not loaded.";
    case swResample: return "LibSwResample not loaded.";
  }
  return "Library not loaded.";
}

TFFLoader& TFFLoader::Instance() {
  static TFFLoader loader;
  return loader;
}

// Libraries stay loaded until the process ends unless Shutdown() ran:
// unloading during static destruction would pull code from under other
// static objects that still hold library state.
TFFLoader::~TFFLoader() = default;

std::string TFFLoader::LibraryFileName(TLibrary lib) {
  const LibraryItem& item = kLibraryItems[lib];
  std::string name = std::string("lib") + item.base_name + ".so";
  if (item.version >= 0) name += "." + std::to_string(item.version);
  return name;
}

bool TFFLoader::Load(TLibrary lib) {
  Status& st = status_[lib];
  const std::string name = LibraryFileName(lib);
  const bool use_folder = !library_path_.empty() && !kLibraryItems[lib].sys_lib;
  const std::string folder = use_folder ? library_path_ : std::string();
  if (!st.handle) {
    if (use_folder) {
      for (TLibrary dep : DependenciesOf(lib)) {
        if (!status_[dep].handle) Load(dep);  // a failure shows when dep itself loads
      }
    }
    std::error_code ec;
    const bool in_folder =
        use_folder && std::filesystem::exists(std::filesystem::path(folder) / name, ec);
    st.handle = OpenLibrary(folder, name);
    if (!st.handle) {
      const std::string shown =
          in_folder ? (std::filesystem::path(folder) / name).string() : name;
      last_err_msg_ = "Load library " + shown + " error: " + DlError();
      return false;
    }
    st.opened_from = in_folder ? folder : std::string();
  }
  if (!st.fixuped) {
    bool ok = true;
    for (const EntryPoint& ep : EntryPointsOf(lib)) {
      dlerror();
      void* sym = dlsym(st.handle, ep.name);
      if (!sym && !ep.optional) {
        last_err_msg_ = std::string("Load function ") + ep.name + "@" + name + " error: " + DlError();
        ok = false;
        break;
      }
      *ep.slot = sym;
    }
    if (ok && lib == avDevice) ff::avdevice_register_all();
    st.fixuped = ok;
  }
  if (!st.fixuped) {
    Unload(lib);
    return false;
  }
  PostLoad(lib);
  return true;
}

void TFFLoader::PostLoad(TLibrary lib) {
  // The current libraries lock codec opening themselves and keep no global
  // protocol list or interrupt callback: names that need the engine's own
  // file access and interrupts are handled per context when it is opened.
  if (lib == avUtil && install_logger_) TFFLogger::Process().InstallAVLogCallback();
}

bool TFFLoader::Load(TLibraries libs) {
  if (libs.Empty()) throw EEngineError("Load: empty library set");
  for (int i = 0; i < kLibraryCount; ++i) {
    const auto lib = static_cast<TLibrary>(i);
    if (libs.Contains(lib) && !Load(lib)) {
      Unload(libs);
      return false;
    }
  }
  return true;
}

bool TFFLoader::Loaded(TLibrary lib) const {
  return status_[lib].handle != nullptr && status_[lib].fixuped;
}

bool TFFLoader::Loaded(TLibraries libs) const {
  if (libs.Empty()) throw EEngineError("Loaded: empty library set");
  for (int i = 0; i < kLibraryCount; ++i) {
    if (libs.Contains(static_cast<TLibrary>(i)) && !Loaded(static_cast<TLibrary>(i))) return false;
  }
  return true;
}

void TFFLoader::Unload(TLibrary lib) {
  Status& st = status_[lib];
  if (st.fixuped) {
    if (lib == avUtil) TFFLogger::UninstallAVLogCallback();
    for (const EntryPoint& ep : EntryPointsOf(lib)) *ep.slot = nullptr;
    st.fixuped = false;
  }
  if (st.handle) {
    dlclose(st.handle);
    st.handle = nullptr;
    st.opened_from.clear();
  }
}

void TFFLoader::Unload(TLibraries libs) {
  if (libs.Empty()) throw EEngineError("Unload: empty library set");
  for (int i = kLibraryCount - 1; i >= 0; --i) {
    if (libs.Contains(static_cast<TLibrary>(i))) Unload(static_cast<TLibrary>(i));
  }
}

void TFFLoader::Shutdown() {
  shutting_down_ = true;
  Unload(TLibraries::All());
}

}  // namespace vidmill
