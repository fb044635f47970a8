// TFFLoader: the process-wide binding of the media libraries.
//
// Opens each library with dlopen, from LibraryPath when the file is there and
// from the system's libraries otherwise, binds every entry point of
// entry_points.h with dlsym and runs the library's post-load step. Engine
// components load the set they need through their own LoadAVLib.
//
// Thread rules: Load, Unload and the setters are called from the main thread
// before any worker starts; the entry points are written only there.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

namespace vidmill {

// Bindable libraries; the order is the load order.
enum TLibrary : uint8_t {
  avCodec,     // libavcodec
  avCore,      // what the old core library held; lives in libavutil now
  avDevice,    // libavdevice: loaded only when a caller asks for it
  avFilter,    // libavfilter
  avFormat,    // libavformat
  avUtil,      // libavutil
  swScale,     // libswscale
  myUtil,      // the C runtime
  swResample,  // libswresample: the audio resampler left libavcodec for it
};
constexpr int kLibraryCount = swResample + 1;

// A set of libraries, one bit per TLibrary.
class TLibraries {
 public:
  constexpr TLibraries() = default;
  constexpr TLibraries(std::initializer_list<TLibrary> libs) {
    for (TLibrary l : libs) bits_ |= Bit(l);
  }
  static constexpr TLibraries All() { return FromBits((1u << kLibraryCount) - 1); }
  constexpr bool Contains(TLibrary l) const { return (bits_ & Bit(l)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr TLibraries Without(TLibrary l) const { return FromBits(bits_ & ~Bit(l)); }
  constexpr bool operator==(const TLibraries&) const = default;

 private:
  static constexpr uint32_t Bit(TLibrary l) { return 1u << static_cast<unsigned>(l); }
  static constexpr TLibraries FromBits(uint32_t b) {
    TLibraries s;
    s.bits_ = b;
    return s;
  }
  uint32_t bits_ = 0;
};

// Library sets of the components.
inline constexpr TLibraries kDecoderLibraries = TLibraries::All().Without(avDevice).Without(avFilter);
inline constexpr TLibraries kEncoderLibraries = TLibraries::All().Without(avDevice);
inline constexpr TLibraries kPlayerLibraries = TLibraries::All().Without(avDevice);

// Texts of a missing library, as components raise them.
const char* NotLoadedText(TLibrary lib);  // "LibAVCodec not loaded." ...

class TFFLoader {
 public:
  // The one process-wide loader; created on first use.
  static TFFLoader& Instance();

  // Opens and binds one library, then runs its post-load step (also when it
  // was bound before). False with LastErrMsg set when it cannot be opened or
  // an entry point is missing; the library is then left unloaded.
  bool Load(TLibrary lib);
  // Loads the members in order; at the first failure unloads every member
  // of the set (also those loaded before this call). The set must not be empty.
  bool Load(TLibraries libs);
  bool Loaded(TLibrary lib) const;
  bool Loaded(TLibraries libs) const;
  void Unload(TLibrary lib);
  void Unload(TLibraries libs);

  // The file name a library is opened under (e.g. "libavcodec.so.59").
  static std::string LibraryFileName(TLibrary lib);

  const std::string& LastErrMsg() const { return last_err_msg_; }
  const std::string& LibraryPath() const { return library_path_; }
  void SetLibraryPath(const std::string& path) { library_path_ = path; }
  bool InstallLogger() const { return install_logger_; }
  void SetInstallLogger(bool v) { install_logger_ = v; }
  // The folder a library was actually opened from ("" for the system's).
  const std::string& OpenedFrom(TLibrary lib) const { return status_[lib].opened_from; }

  // Marks the engine as shutting down and unloads every library.
  void Shutdown();
  bool ShuttingDown() const { return shutting_down_; }

  TFFLoader(const TFFLoader&) = delete;
  TFFLoader& operator=(const TFFLoader&) = delete;

 private:
  TFFLoader() = default;
  ~TFFLoader();
  struct Status {
    void* handle = nullptr;
    bool fixuped = false;
    std::string opened_from;
  };
  void PostLoad(TLibrary lib);

  Status status_[kLibraryCount];
  std::string last_err_msg_;
  std::string library_path_;
  bool install_logger_ = true;
  bool shutting_down_ = false;
};

}  // namespace vidmill
