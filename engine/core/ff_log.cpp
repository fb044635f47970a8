#include "ff_log.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "engine_error.h"
#include "entry_points.h"
#include "main_thread.h"

namespace vidmill {
namespace {

// Process-wide logger state, guarded by its own mutexes.
struct LoggerState {
  std::mutex owner_mu;  // process logger pointer and the auto-created one
  TFFLogger* process = nullptr;
  std::unique_ptr<TFFLogger> auto_created;

  std::mutex handler_mu;  // each logger's on_log_ pointer

  std::atomic<int> library_level{32};

  std::mutex callback_mu;  // the rest: the library callback's line state
  std::map<uint32_t, std::string> partial_lines;
  std::string previous_message;
  int repeat_count = 0;
};

LoggerState& State() {
  static LoggerState* s = new LoggerState;  // lives to the end: libraries may log at exit
  return *s;
}

struct PendingLine {
  uint32_t thread_id;
  TLogLevel level;
  std::string text;
};

std::string FormatV(const char* fmt, va_list vl) {
  char buf[2048];
  va_list copy;
  va_copy(copy, vl);
  auto print = ff::vsnprintf ? ff::vsnprintf : &::vsnprintf;
  int n = print(buf, sizeof buf, fmt, copy);
  va_end(copy);
  if (n < 0) return {};
  if (static_cast<size_t>(n) < sizeof buf) return std::string(buf, n);
  std::string big(static_cast<size_t>(n) + 1, '\0');
  va_copy(copy, vl);
  print(big.data(), big.size(), fmt, copy);
  va_end(copy);
  big.resize(n);
  return big;
}

std::string Printf(const char* fmt, ...) {
  va_list vl;
  va_start(vl, fmt);
  std::string s = FormatV(fmt, vl);
  va_end(vl);
  return s;
}

// "[parent @ 0x...] [item @ 0x...]" for a library context object.
std::string SourcePrefix(void* avcl) {
  std::string prefix;
  const AVClass* cls = *static_cast<AVClass**>(avcl);
  if (!cls) return prefix;
  if (cls->version >= (50 << 16 | 15 << 8 | 3) && cls->parent_log_context_offset) {
    void* parent = *reinterpret_cast<void**>(static_cast<char*>(avcl) + cls->parent_log_context_offset);
    if (parent && *static_cast<AVClass**>(parent)) {
      const AVClass* pcls = *static_cast<AVClass**>(parent);
      prefix += Printf("[%s @ %p] ", pcls->item_name ? pcls->item_name(parent) : "?", parent);
    }
  }
  prefix += Printf("[%s @ %p]", cls->item_name ? cls->item_name(avcl) : "?", avcl);
  return prefix;
}

}  // namespace

int LibraryLevelOf(TLogLevel level) { return static_cast<int>(level) * 8 - 8; }

TLogLevel LogLevelOfLibrary(int library_level) {
  int ordinal = library_level / 8 + 1;
  return static_cast<TLogLevel>(std::clamp(ordinal, 0, 7));
}

uint32_t CurrentThreadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }

TFFLogger& TFFLogger::Process() {
  LoggerState& s = State();
  std::lock_guard lock(s.owner_mu);
  if (!s.process) {
    s.auto_created.reset(new TFFLogger);
    s.auto_created->auto_created_ = true;
    s.auto_created->log_level_ = LogLevelOfLibrary(s.library_level);
    s.process = s.auto_created.get();
  }
  return *s.process;
}

std::unique_ptr<TFFLogger> TFFLogger::Create() {
  LoggerState& s = State();
  std::unique_ptr<TFFLogger> previous_auto;
  std::unique_ptr<TFFLogger> logger;
  {
    std::lock_guard lock(s.owner_mu);
    if (s.process && !s.process->auto_created_) {
      throw EEngineError("Allow creating only one instance of TFFLogger.");
    }
    previous_auto = std::move(s.auto_created);
    s.process = nullptr;
    logger.reset(new TFFLogger);
    logger->log_level_ = LogLevelOfLibrary(s.library_level);
    s.process = logger.get();
  }
  return logger;  // previous_auto is destroyed here, outside the lock
}

TFFLogger::~TFFLogger() {
  LoggerState& s = State();
  if (auto_created_) return;  // only ever destroyed by Create(), which holds the pointer
  std::lock_guard lock(s.owner_mu);
  if (s.process == this) s.process = nullptr;
}

void TFFLogger::SetOnLog(TLogEvent handler) {
  auto p = handler ? std::make_shared<const TLogEvent>(std::move(handler)) : nullptr;
  std::lock_guard lock(State().handler_mu);
  on_log_ = std::move(p);
}

void TFFLogger::SetLogLevel(TLogLevel level) {
  if (log_level_.exchange(level) != level) ApplyLevel();
}

void TFFLogger::ApplyLevel() {
  if (!ff::av_log_set_level) return;
  State().library_level = LibraryLevelOf(log_level_);
  ff::av_log_set_level(State().library_level);
}

void TFFLogger::OptLogLevel(const std::string& text) {
  static const std::pair<const char*, int> kNames[] = {
      {"quiet", -8}, {"panic", 0},    {"fatal", 8},    {"error", 16},
      {"warning", 24}, {"info", 32}, {"verbose", 40}, {"debug", 48}};
  std::string lower = text;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  for (const auto& [name, number] : kNames) {
    if (lower == name) {
      SetLogLevel(LogLevelOfLibrary(number));
      return;
    }
  }
  size_t used = 0;
  int number = std::stoi(text, &used);  // throws std::invalid_argument
  if (used != text.size()) throw std::invalid_argument("'" + text + "' is not a valid integer value");
  SetLogLevel(LogLevelOfLibrary(number));
}

void TFFLogger::InstallAVLogCallback() {
  if (!ff::av_log_set_callback || !ff::av_log_set_level) {
    throw EEngineError("InstallAVLogCallback: libavutil is not bound");
  }
  ff::av_log_set_callback(&TFFLogger::AVLogCallback);
  State().library_level = LibraryLevelOf(log_level_);
  ff::av_log_set_level(State().library_level);
}

void TFFLogger::UninstallAVLogCallback() {
  if (ff::av_log_set_callback && ff::av_log_default_callback) {
    ff::av_log_set_callback(ff::av_log_default_callback);
  }
}

void TFFLogger::Deliver(const TFFBaseComponent* sender, uint32_t thread_id, TLogLevel level,
                        std::string msg) {
  std::shared_ptr<const TLogEvent> handler;
  {
    std::lock_guard lock(State().handler_mu);
    handler = on_log_;
  }
  if (!handler) return;
  auto call = [handler, sender, thread_id, level, msg = std::move(msg)] {
    try {
      (*handler)(sender, thread_id, level, msg);
    } catch (...) {
      // A failing handler must not unwind through a library call.
    }
  };
  if (trigger_in_main_ && main_thread::Installed() && !main_thread::IsMainThread()) {
    main_thread::Post(std::move(call));
  } else {
    call();
  }
}

void TFFLogger::Log(const TFFBaseComponent* sender, TLogLevel level, const std::string& msg) {
  const TLogLevel current = log_level_;
  if (level <= current || (level == llVerbose && current != llQuiet)) {
    Deliver(sender, CurrentThreadId(), level, msg);
  }
}

void TFFLogger::Logf(const TFFBaseComponent* sender, TLogLevel level, const char* format, ...) {
  va_list vl;
  va_start(vl, format);
  std::string msg = FormatV(format, vl);
  va_end(vl);
  Log(sender, level, msg);
}

void TFFLogger::AVLogCallback(void* avcl, int level, const char* fmt, va_list vl) {
  LoggerState& s = State();
  if (level > s.library_level) return;
  const uint32_t thread_id = CurrentThreadId();
  const TLogLevel log_level = LogLevelOfLibrary(level);
  std::vector<PendingLine> lines;
  {
    std::lock_guard lock(s.callback_mu);
    std::string& partial = s.partial_lines[thread_id];
    std::string message;
    if (avcl && partial.empty()) message = SourcePrefix(avcl);
    message += FormatV(fmt, vl);
    if (!message.empty() && message.back() == '\n' && message == s.previous_message) {
      ++s.repeat_count;
      return;
    }
    if (s.repeat_count > 0) {
      lines.push_back({thread_id, log_level,
                       Printf("    Last message repeated %d times", s.repeat_count)});
      s.repeat_count = 0;
    }
    s.previous_message = message;
    partial += message;
    for (size_t nl; (nl = partial.find('\n')) != std::string::npos;) {
      lines.push_back({thread_id, log_level, partial.substr(0, nl)});
      partial.erase(0, nl + 1);
    }
    if (partial.empty()) s.partial_lines.erase(thread_id);
  }
  TFFLogger& logger = Process();
  for (PendingLine& line : lines) logger.Deliver(&logger, line.thread_id, line.level, std::move(line.text));
}

}  // namespace vidmill
