// What a media file holds, found by decoding all of it: the facts the
// end-to-end tests compare with what went into a conversion.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/avutil.h>
#include <libavutil/frame.h>
}

namespace vidmill::testing {

struct TStreamFacts {
  AVMediaType type = AVMEDIA_TYPE_UNKNOWN;
  std::string codec;          // decoder name
  int width = 0, height = 0;  // video
  int64_t frames = 0;         // decoded pictures (video) or frames (audio)
  int64_t packets = 0;        // packets read
  double first_s = 0;         // time of the first decoded frame
  double end_s = 0;           // time where the last frame ends
  int sample_rate = 0, channels = 0;
  int64_t samples = 0;        // decoded samples per channel
  double peak = 0;            // largest sample magnitude, full scale 1.0
  double Duration() const { return end_s - first_s; }
};

struct TMediaFacts {
  bool ok = false;
  std::string error;
  std::string format;         // demuxer name
  double duration_s = 0;      // as the container states it
  std::vector<TStreamFacts> streams;
  // The first stream of a type; null when there is none.
  const TStreamFacts* First(AVMediaType type) const;
};

// Decodes every stream of the file (libraries must be loaded).
TMediaFacts DecodeFacts(const std::string& path);

// The luma plane of the n-th decoded picture (from 0) of the first video
// stream, scaled to width x height; empty when there is no such picture.
std::vector<uint8_t> LumaOfPicture(const std::string& path, int n, int width, int height);
// The mean of each plane of the n-th picture as 8-bit YUV 4:2:0 in its own size.
bool MeanYuv(const std::string& path, int n, double* y, double* u, double* v);

struct TFrameRelease {
  void operator()(AVFrame* f) const;
};
// The n-th decoded picture of the first video stream as it came from the decoder.
std::unique_ptr<AVFrame, TFrameRelease> DecodedPicture(const std::string& path, int n);
// The picture as 8-bit grey, as LumaOfPicture gives it.
std::vector<uint8_t> LumaOf(const AVFrame* picture);

// Peak signal-to-noise ratio of two 8-bit planes of equal size, in dB.
double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);

}  // namespace vidmill::testing
