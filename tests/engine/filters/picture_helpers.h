// Small helpers of the picture tests: library frames filled with known
// pixels, log capture and picture comparison.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/entry_points.h"
#include "core/ff_load.h"
#include "core/ff_log.h"

namespace vidmill::testing {

struct FrameDeleter {
  void operator()(AVFrame* f) const { ff::av_frame_free(&f); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;

inline void LoadLibraries() {
  ASSERT_TRUE(TFFLoader::Instance().Load(kEncoderLibraries)) << TFFLoader::Instance().LastErrMsg();
}

inline FramePtr MakeFrame(int width, int height, AVPixelFormat fmt) {
  FramePtr f(ff::av_frame_alloc());
  f->width = width;
  f->height = height;
  f->format = fmt;
  EXPECT_EQ(ff::av_frame_get_buffer(f.get(), 0), 0);
  // Padding and rows past the picture hold no leftovers.
  for (int i = 0; i < AV_NUM_DATA_POINTERS && f->buf[i]; ++i) std::memset(f->buf[i]->data, 0, f->buf[i]->size);
  return f;
}

// Fills every sample of plane `plane` with value(x, y).
inline void FillPlane(AVFrame* f, int plane, const std::function<int(int, int)>& value) {
  const AVPixFmtDescriptor* d = ff::av_pix_fmt_desc_get(static_cast<AVPixelFormat>(f->format));
  const bool chroma = plane == 1 || plane == 2;
  const int w = chroma ? AV_CEIL_RSHIFT(f->width, d->log2_chroma_w) : f->width;
  const int h = chroma ? AV_CEIL_RSHIFT(f->height, d->log2_chroma_h) : f->height;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) f->data[plane][y * f->linesize[plane] + x] = uint8_t(value(x, y));
}

inline int At(const AVFrame* f, int plane, int x, int y) {
  return f->data[plane][y * f->linesize[plane] + x];
}

inline FramePtr SolidYuv(int width, int height, AVPixelFormat fmt, int y, int u, int v) {
  FramePtr f = MakeFrame(width, height, fmt);
  FillPlane(f.get(), 0, [&](int, int) { return y; });
  FillPlane(f.get(), 1, [&](int, int) { return u; });
  FillPlane(f.get(), 2, [&](int, int) { return v; });
  return f;
}

// PSNR of one 8-bit plane of two pictures of the same size.
inline double PlanePsnr(const AVFrame* a, const AVFrame* b, int plane, int w, int h) {
  double sum = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double d = At(a, plane, x, y) - At(b, plane, x, y);
      sum += d * d;
    }
  if (sum == 0) return 99.0;
  return 10 * std::log10(255.0 * 255.0 / (sum / (double(w) * h)));
}

// Collects the logger's lines while alive.
class LogCapture {
 public:
  explicit LogCapture(TLogLevel level = llDebug) {
    TFFLogger::Process().SetLogLevel(level);
    TFFLogger::Process().SetOnLog(
        [this](const TFFBaseComponent*, uint32_t, TLogLevel, const std::string& msg) {
          std::lock_guard g(mu_);
          lines_.push_back(msg);
        });
  }
  ~LogCapture() {
    TFFLogger::Process().SetOnLog(nullptr);
    TFFLogger::Process().SetLogLevel(llInfo);
  }
  std::vector<std::string> Lines() {
    std::lock_guard g(mu_);
    return lines_;
  }
  int Count(const std::string& text) {
    int n = 0;
    for (const std::string& l : Lines()) n += l.find(text) != std::string::npos;
    return n;
  }
  void Clear() {
    std::lock_guard g(mu_);
    lines_.clear();
  }

 private:
  std::mutex mu_;
  std::vector<std::string> lines_;
};

}  // namespace vidmill::testing
