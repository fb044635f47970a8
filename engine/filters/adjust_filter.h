// What "nativeeq" and "nativehue" share: two values from -100 to 100, read
// for every picture from their own storage or from a live value, clamped
// and logged the same way. Internal to vidmill_filters.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "filters/live_values.h"
#include "filters/own_filter.h"

namespace vidmill {

inline uint8_t Clip255(int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

#if defined(__x86_64__) || defined(__i386__)
// Whether the processor runs the AVX2 versions of the picture loops.
inline bool HaveAVX2() {
  static const bool have = __builtin_cpu_supports("avx2");
  return have;
}
#endif

// The texts of one filter's log lines (library format strings).
struct TAdjustTexts {
  const char* first_invalid;   // e.g. "Invalid brightness value %d, force to %d\n"
  const char* second_invalid;  // e.g. "Invalid contrast value %d, force to %d\n"
  const char* values;          // e.g. "brightness:%d, contrast %d\n"
};

// The argument text split into its four fields.
struct TAdjustArgs {
  int first = 0;
  int second = 0;
  int first_handle = 0;   // 0: none
  int second_handle = 0;  // 0: none
};
// Parses "first:second:first_handle:second_handle" (every field optional,
// blanks trimmed; the fourth field is all text after the third ':'). False
// with *error naming the field that is not a decimal integer.
bool ParseAdjustArgs(std::string_view text, TAdjustArgs* args, std::string* error);

class TAdjustFilter : public TOwnFilter {
 public:
  // Reads both values (clamping and logging as at start-up, logging a
  // change at the debug level); true when at least one is not 0.
  bool BeginFrame() override;

 protected:
  TAdjustFilter(const AVClass* log_class, const TAdjustTexts& texts);
  // Parses the arguments, finds the live values, clamps and logs. False with
  // *error set (and an error line logged) when the arguments are unusable.
  bool Init(std::string_view args, std::string* error);

  int First() const { return last_first_; }
  int Second() const { return last_second_; }

 private:
  int ReadClamped(std::atomic<int32_t>& source, const char* invalid_text, bool* clamped);
  template <typename... Args>
  void Log(int level, const char* format, Args... args);

  const TAdjustTexts& texts_;
  TLiveValue first_source_;   // own storage or the caller's live value
  TLiveValue second_source_;
  int last_first_ = 0;
  int last_second_ = 0;
};

}  // namespace vidmill
