// TFFLogger: the one process logger of the engine.
//
// Collects the media libraries' log output (through the library log
// callback) and the components' own messages, filters them by level and
// hands each complete line to OnLog: on the application's main thread when
// TriggerEventInMainThread is set and a main-thread poster is installed
// (see main_thread.h), else on the calling thread. Lines are posted, never
// waited for, so a library call never blocks on the main thread.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base_component.h"

namespace vidmill {

enum TLogLevel : uint8_t {
  llQuiet,    // 0: delivered whatever the level
  llPanic,    // 1
  llFatal,    // 2
  llError,    // 3
  llWarning,  // 4
  llInfo,     // 5: the default
  llVerbose,  // 6: delivered at every level but llQuiet
  llDebug,    // 7
};

// Library level number of a level: ordinal * 8 - 8.
int LibraryLevelOf(TLogLevel level);
// Level of a library level number: (n / 8) + 1, clamped to llQuiet..llDebug.
TLogLevel LogLevelOfLibrary(int library_level);

// The calling thread's id as the log shows it.
uint32_t CurrentThreadId();

// Sender is the component that logged (the logger itself for library
// lines), or null.
using TLogEvent = std::function<void(const TFFBaseComponent* Sender, uint32_t AThreadID,
                                     TLogLevel ALogLevel, const std::string& ALogMsg)>;

class TFFLogger : public TFFBaseComponent {
 public:
  // The process logger; created on demand (auto-created) when there is none.
  static TFFLogger& Process();
  // Creates the application's logger, replacing an auto-created one. Throws
  // EEngineError "Allow creating only one instance of TFFLogger." when
  // another application logger exists.
  static std::unique_ptr<TFFLogger> Create();
  ~TFFLogger() override;

  TLogLevel LogLevel() const { return log_level_.load(); }
  void SetLogLevel(TLogLevel level);
  // "quiet", "panic", ... "debug" (any case) or a library level number;
  // throws std::invalid_argument for any other text.
  void OptLogLevel(const std::string& text);
  bool TriggerEventInMainThread() const { return trigger_in_main_.load(); }
  void SetTriggerEventInMainThread(bool v) { trigger_in_main_ = v; }
  // Set before library work starts; not changed while lines flow.
  void SetOnLog(TLogEvent handler);

  void Log(const TFFBaseComponent* sender, TLogLevel level, const std::string& msg);
  void Logf(const TFFBaseComponent* sender, TLogLevel level, const char* format, ...)
      __attribute__((format(printf, 4, 5)));

  // Installs the library log callback (libavutil must be bound) and applies
  // LogLevel to the library.
  void InstallAVLogCallback();
  static void UninstallAVLogCallback();

  // The library log callback (public for tests).
  static void AVLogCallback(void* avcl, int level, const char* fmt, va_list vl);

 private:
  TFFLogger() = default;
  void ApplyLevel();
  void Deliver(const TFFBaseComponent* sender, uint32_t thread_id, TLogLevel level,
               std::string msg);

  bool auto_created_ = false;
  std::atomic<bool> trigger_in_main_{true};
  std::atomic<TLogLevel> log_level_{llInfo};
  std::shared_ptr<const TLogEvent> on_log_;  // replaced whole, read under a lock
};

}  // namespace vidmill
