// Frames per second of the engine's own adjustment filters beside the
// library's "eq" and "hue" on the same 1920x1080 pictures, and of the
// picture format converter.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "core/entry_points.h"
#include "core/ff_load.h"
#include "core/format_converter.h"
#include "filters/adjust_filters.h"
#include "filters/filter_chain.h"

namespace {

using namespace vidmill;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

struct FrameDeleter {
  void operator()(AVFrame* f) const { ff::av_frame_free(&f); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;

bool LoadOnce() {
  static const bool loaded = [] {
    if (!TFFLoader::Instance().Load(kEncoderLibraries)) return false;
    ff::av_log_set_level(AV_LOG_ERROR);
    RegisterEqFilter();
    RegisterHueFilter();
    return true;
  }();
  return loaded;
}

// A 1080p picture with texture in every plane.
FramePtr Picture() {
  FramePtr f(ff::av_frame_alloc());
  f->width = kWidth;
  f->height = kHeight;
  f->format = AV_PIX_FMT_YUV420P;
  ff::av_frame_get_buffer(f.get(), 0);
  for (int p = 0; p < 3; ++p) {
    const int w = p ? kWidth / 2 : kWidth, h = p ? kHeight / 2 : kHeight;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        f->data[p][y * f->linesize[p] + x] = uint8_t(128 + 100 * std::sin((x + 3 * y + 50 * p) / 37.0));
  }
  return f;
}

// One picture per iteration through a filter chain, as a transcoder sends
// decoded pictures it keeps a reference to.
void RunChain(benchmark::State& state, const char* chain_text) {
  if (!LoadOnce()) {
    state.SkipWithError("libraries not loaded");
    return;
  }
  FramePtr in = Picture();
  TVideoFormat fmt{kWidth, kHeight, AV_PIX_FMT_YUV420P, {1, 25}, {1, 1}, {25, 1}};
  TFilterChainOptions options;
  options.threads = static_cast<int>(state.range(0));
  std::string error;
  auto chain = TFilterChain::Create(chain_text, fmt, AV_PIX_FMT_NONE, &error, options);
  if (!chain) {
    state.SkipWithError(error.c_str());
    return;
  }
  FramePtr out(ff::av_frame_alloc());
  int64_t pts = 0;
  for (auto _ : state) {
    in->pts = pts++;
    chain->SendFrame(in.get());
    if (chain->ReceiveFrame(out.get()) == 0) {
      benchmark::DoNotOptimize(out->data[0][0]);
      ff::av_frame_unref(out.get());
    }
  }
  state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                             benchmark::Counter::kIsRate);
}

void BM_NativeEq(benchmark::State& s) { RunChain(s, "nativeeq=10:-5"); }
void BM_LibraryEq(benchmark::State& s) { RunChain(s, "eq=brightness=0.1:contrast=0.95"); }
void BM_NativeHue(benchmark::State& s) { RunChain(s, "nativehue=20:30"); }
void BM_LibraryHue(benchmark::State& s) { RunChain(s, "hue=h=36:s=1.3"); }
void BM_NativeEqHue(benchmark::State& s) { RunChain(s, "nativeeq=10:-5,nativehue=20:30"); }
void BM_LibraryEqHue(benchmark::State& s) {
  RunChain(s, "eq=brightness=0.1:contrast=0.95,hue=h=36:s=1.3");
}
void BM_PassThrough(benchmark::State& s) { RunChain(s, ""); }

// The arg is the graphs' thread count (1, or 0 = one per core).
BENCHMARK(BM_NativeEq)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LibraryEq)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_NativeHue)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LibraryHue)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_NativeEqHue)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LibraryEqHue)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PassThrough)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The converter: a decoded picture to a bitmap of each depth, and back.
void BM_ConverterToBitmap(benchmark::State& state) {
  if (!LoadOnce()) {
    state.SkipWithError("libraries not loaded");
    return;
  }
  FramePtr in = Picture();
  TFormatConverter conv;
  conv.SetBitsPixel(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    conv.PictureToRGB(PictureOf(*in), AV_PIX_FMT_YUV420P, true, kHeight, kWidth);
    benchmark::DoNotOptimize(conv.Bitmap().Pixels()[0]);
  }
  state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                             benchmark::Counter::kIsRate);
}

void BM_ConverterRoundTrip(benchmark::State& state) {
  if (!LoadOnce()) {
    state.SkipWithError("libraries not loaded");
    return;
  }
  FramePtr in = Picture();
  TFormatConverter conv;
  conv.SetBitsPixel(static_cast<int>(state.range(0)));
  TPicture pic = PictureOf(*in);
  for (auto _ : state) {
    conv.PictureToRGB(pic, AV_PIX_FMT_YUV420P, true, kHeight, kWidth);
    conv.BitmapToRGB();
    conv.RGBToPicture(pic, AV_PIX_FMT_YUV420P, kHeight, kWidth);
  }
  state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                             benchmark::Counter::kIsRate);
}

BENCHMARK(BM_ConverterToBitmap)->Arg(8)->Arg(15)->Arg(16)->Arg(24)->Arg(32)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ConverterRoundTrip)->Arg(24)->Arg(32)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
