// The engine's own video filters and their name registry.
//
// The filter library offers no public way to add a filter to its list, so
// the engine keeps its own list of names. A filter chain (filter_chain.h)
// looks every filter name up here first; a name found here runs in process
// as a frame stage, any other name goes to the library.
//
// Thread rules: registration and lookup may happen on any thread. One
// thread drives a filter instance.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/pixfmt.h>
}

namespace vidmill {

struct TVideoFormat;

// One instance of an own filter inside a chain.
class TOwnFilter {
 public:
  virtual ~TOwnFilter() = default;
  // Called once per picture before Process: reads the current settings
  // (logging changes and clamps) and says whether the picture needs any
  // work. False: the chain passes the picture on untouched.
  virtual bool BeginFrame() = 0;
  // Writes the filtered picture into dst; dst has src's size and format and
  // may share src's planes (in-place work). Planes the filter leaves alone
  // are copied from src when they differ.
  virtual void Process(const AVFrame& src, AVFrame& dst) = 0;

  // The log context: library log lines carry "[name @ 0x...]".
  void* LogContext() { return &log_context_; }

 protected:
  explicit TOwnFilter(const AVClass* log_class) : log_context_{log_class} {}

 private:
  struct { const AVClass* av_class; } log_context_;
};

// Creates an instance for pictures of `in` (already one of the accepted
// formats) from the argument text (what follows "=" in the chain). Null
// with *error set when the arguments are unusable.
using TOwnFilterFactory = std::unique_ptr<TOwnFilter> (*)(std::string_view args,
                                                           const TVideoFormat& in,
                                                           std::string* error);

struct TOwnFilterDef {
  std::string_view name;
  std::string_view description;
  std::span<const AVPixelFormat> pix_fmts;  // accepted, in order of preference
  TOwnFilterFactory create;
};

// Adds the definition to the registry unless that very definition is
// already there. False when it was there (nothing changed). The definition
// must live as long as the process.
bool RegisterOwnFilter(const TOwnFilterDef& def);
// The registered definition of that name, or null.
const TOwnFilterDef* FindOwnFilter(std::string_view name);

// Copies planes first..last of an 8-bit planar picture src into dst unless
// they are the same memory.
void CopyPlanes(const AVFrame& src, AVFrame& dst, int first, int last);

// An AVClass for log lines of an own filter named `name` (a string that
// lives as long as the process).
AVClass MakeOwnFilterLogClass(const char* name);

}  // namespace vidmill
