#include "filters/adjust_filter.h"

#include <charconv>
#include <limits>

#include "core/entry_points.h"

namespace vidmill {
namespace {

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// An empty field leaves *value alone.
bool ParseField(std::string_view field, int* value) {
  field = TrimBlanks(field);
  if (field.empty()) return true;
  if (field.front() == '+') field.remove_prefix(1);
  if (field.empty() || field.front() == '+') return false;
  int parsed = 0;
  const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), parsed, 10);
  if (ec != std::errc() || end != field.data() + field.size()) return false;
  *value = parsed;
  return true;
}

int Clamp100(int v) { return v < -100 ? -100 : (v > 100 ? 100 : v); }

}  // namespace

bool ParseAdjustArgs(std::string_view text, TAdjustArgs* args, std::string* error) {
  int* targets[4] = {&args->first, &args->second, &args->first_handle, &args->second_handle};
  for (int i = 0; i < 4; ++i) {
    const size_t colon = i < 3 ? text.find(':') : std::string_view::npos;
    const std::string_view field = text.substr(0, colon);
    if (!ParseField(field, targets[i])) {
      *error = "field " + std::to_string(i + 1) + " (\"" + std::string(TrimBlanks(field)) +
               "\") is not a decimal integer";
      return false;
    }
    if (colon == std::string_view::npos) break;
    text.remove_prefix(colon + 1);
  }
  return true;
}

TAdjustFilter::TAdjustFilter(const AVClass* log_class, const TAdjustTexts& texts)
    : TOwnFilter(log_class), texts_(texts) {}

template <typename... Args>
void TAdjustFilter::Log(int level, const char* format, Args... args) {
  if (ff::av_log) ff::av_log(LogContext(), level, format, args...);
}

bool TAdjustFilter::Init(std::string_view text, std::string* error) {
  TAdjustArgs args;
  std::string why;
  auto source_of = [&](int handle, int value, TLiveValue* source) {
    if (handle == 0) {
      *source = std::make_shared<std::atomic<int32_t>>(value);
      return true;
    }
    *source = TLiveValues::Find(handle);
    if (!*source) why = "no live value has the handle " + std::to_string(handle);
    return *source != nullptr;
  };
  if (!ParseAdjustArgs(text, &args, &why) ||
      !source_of(args.first_handle, args.first, &first_source_) ||
      !source_of(args.second_handle, args.second, &second_source_)) {
    Log(AV_LOG_ERROR, "Invalid argument \"%s\": %s\n", std::string(text).c_str(), why.c_str());
    *error = why;
    return false;
  }
  bool clamped = false;
  last_first_ = ReadClamped(*first_source_, texts_.first_invalid, &clamped);
  last_second_ = ReadClamped(*second_source_, texts_.second_invalid, &clamped);
  Log(AV_LOG_DEBUG, texts_.values, last_first_, last_second_);
  return true;
}

// A value out of range is written back clamped, unless the caller has
// changed it meanwhile.
int TAdjustFilter::ReadClamped(std::atomic<int32_t>& source, const char* invalid_text,
                               bool* clamped) {
  int32_t value = source.load(std::memory_order_relaxed);
  const int result = Clamp100(value);
  *clamped = result != value;
  if (*clamped) {
    Log(AV_LOG_ERROR, invalid_text, value, result);
    source.compare_exchange_strong(value, result, std::memory_order_relaxed);
  }
  return result;
}

bool TAdjustFilter::BeginFrame() {
  bool first_clamped = false;
  bool second_clamped = false;
  const int first = ReadClamped(*first_source_, texts_.first_invalid, &first_clamped);
  const int second = ReadClamped(*second_source_, texts_.second_invalid, &second_clamped);
  // A clamped value was logged already; it counts as seen.
  if (first_clamped) last_first_ = first;
  if (second_clamped) last_second_ = second;
  if (first != last_first_ || second != last_second_) {
    Log(AV_LOG_DEBUG, texts_.values, first, second);
    last_first_ = first;
    last_second_ = second;
  }
  return first != 0 || second != 0;
}

}  // namespace vidmill
