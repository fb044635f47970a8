// TFilterChain: a video filter chain such as
//   "nativeeq=10:-5,nativehue=0:20,crop=300:200:10:10,pad=...,scale=320:240"
// that mixes the engine's own filters with the library's.
//
// The chain text is split into runs of our own filters (found in the
// engine's filter registry) and runs of library filters; each library run is
// one library filter graph, each own filter a frame stage in process; frames
// pass through them in chain order. The transcoder and the player build every
// video graph through this one class.
//
// Thread rules: one thread drives a chain; the live values an own filter
// reads may be changed from any thread.
#pragma once

#include <memory>
#include <string>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libavutil/rational.h>
}

namespace vidmill {

// Settings of the library graphs inside a chain.
struct TFilterChainOptions {
  int sws_flags = 0;  // scaler flags of the graphs' own conversions (0: library default)
  int threads = 0;    // slice threads per library graph (0: as many as cores)
};

// What enters the chain.
struct TVideoFormat {
  int width = 0;
  int height = 0;
  AVPixelFormat pix_fmt = AV_PIX_FMT_NONE;
  AVRational time_base{1, 25};
  AVRational sample_aspect_ratio{0, 1};
  AVRational frame_rate{0, 1};  // 0/1 when unknown
};

class TFilterChain {
 public:
  // Builds the chain for pictures of format `in`; the output is converted to
  // `out_pix_fmt` (AV_PIX_FMT_NONE: whatever the last filter gives). An
  // empty chain passes frames through (converted when asked). Returns null
  // and sets *error (a clear text naming the failing filter) on failure.
  // Own filters are found only once registered (RegisterEqFilter,
  // RegisterHueFilter in adjust_filters.h); libavfilter must be loaded.
  static std::unique_ptr<TFilterChain> Create(const std::string& chain, const TVideoFormat& in,
                                              AVPixelFormat out_pix_fmt, std::string* error,
                                              const TFilterChainOptions& options = {});
  virtual ~TFilterChain() = default;

  // Takes a reference to the frame's data (the caller keeps its frame);
  // nullptr marks the end of the stream. Returns 0 or a negative AVERROR.
  virtual int SendFrame(const AVFrame* frame) = 0;
  // Moves the next filtered frame into `out` (which the caller owns and
  // must have unreferenced). 0, AVERROR(EAGAIN) when more input is needed,
  // AVERROR_EOF after the end, or another negative AVERROR.
  virtual int ReceiveFrame(AVFrame* out) = 0;

  // The format of what leaves the chain (valid after Create).
  virtual TVideoFormat OutputFormat() const = 0;
};

}  // namespace vidmill
