// "nativeeq" and "nativehue": the engine's own picture adjustment filters.
//
//   nativeeq=BRIGHTNESS:CONTRAST[:BRIGHTNESS_HANDLE[:CONTRAST_HANDLE]]
//   nativehue=HUE:SATURATION[:HUE_HANDLE[:SATURATION_HANDLE]]
//
// Values run from -100 to 100 (out-of-range values are clamped with a log
// line). A handle (live_values.h) makes the filter read that value again
// for every picture instead of the fixed one; 0 or an empty field means
// none. "nativeeq" works on the luma plane, "nativehue" on the chroma planes
// of planar YUV pictures.
#pragma once

#include <cstdint>
#include <span>

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace vidmill {

// Add the filter to the engine's filter registry; a second call does
// nothing. libavfilter must be loaded first (a programming error otherwise).
void RegisterEqFilter();
void RegisterHueFilter();

// The pixel formats both filters accept, in order of preference.
std::span<const AVPixelFormat> AdjustFilterPixelFormats();

// Arithmetic of one picture, exposed for the benchmarks: brightness and
// contrast of `rows` rows of `width` luma samples; hue and saturation of
// the two chroma planes. Source and destination may be the same memory.
struct TEqFactors {
  int32_t c;  // contrast factor, 16 fraction bits (0 to 131072)
  int32_t b;  // brightness offset
};
TEqFactors MakeEqFactors(int brightness, int contrast);
void EqPlane(const TEqFactors& f, const uint8_t* src, int src_stride, uint8_t* dst, int dst_stride,
             int width, int rows);

struct THueFactors {
  int32_t s;  // sine factor, 16 fraction bits
  int32_t c;  // cosine factor, 16 fraction bits
};
THueFactors MakeHueFactors(int hue, int saturation);
void HuePlanes(const THueFactors& f, const uint8_t* src_u, const uint8_t* src_v, int src_stride_u,
               int src_stride_v, uint8_t* dst_u, uint8_t* dst_v, int dst_stride_u,
               int dst_stride_v, int width, int rows);

}  // namespace vidmill
