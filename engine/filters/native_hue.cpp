// "nativehue": hue rotation and saturation on the two chroma planes.
#include <cassert>
#include <cmath>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "core/entry_points.h"
#include "core/ff_load.h"
#include "filters/adjust_filter.h"
#include "filters/adjust_filters.h"
#include "filters/filter_chain.h"

namespace vidmill {
namespace {

constexpr TAdjustTexts kTexts = {
    "Invalid hue value %d, force to %d\n",
    "Invalid saturation value %d, force to %d\n",
    "hue:%d, saturation %d\n",
};

const AVClass kLogClass = MakeOwnFilterLogClass("nativehue");

class THueFilter : public TAdjustFilter {
 public:
  THueFilter() : TAdjustFilter(&kLogClass, kTexts) {}

  bool Init(std::string_view args, const TVideoFormat& in, std::string* error) {
    const AVPixFmtDescriptor* desc = ff::av_pix_fmt_desc_get(in.pix_fmt);
    hshift_ = desc->log2_chroma_w;
    vshift_ = desc->log2_chroma_h;
    return TAdjustFilter::Init(args, error);
  }

  // The chroma planes are rounded up, so the last column and row of an odd
  // sized picture turn with the rest.
  void Process(const AVFrame& src, AVFrame& dst) override {
    if (First() != factors_hue_ || Second() != factors_saturation_) {
      factors_ = MakeHueFactors(First(), Second());
      factors_hue_ = First();
      factors_saturation_ = Second();
    }
    HuePlanes(factors_, src.data[1], src.data[2], src.linesize[1], src.linesize[2], dst.data[1],
              dst.data[2], dst.linesize[1], dst.linesize[2], AV_CEIL_RSHIFT(src.width, hshift_),
              AV_CEIL_RSHIFT(src.height, vshift_));
    CopyPlanes(src, dst, 0, 0);
    CopyPlanes(src, dst, 3, 3);
  }

 private:
  int hshift_ = 0;
  int vshift_ = 0;
  THueFactors factors_ = MakeHueFactors(0, 0);
  int factors_hue_ = 0;
  int factors_saturation_ = 0;
};

std::unique_ptr<TOwnFilter> CreateHue(std::string_view args, const TVideoFormat& in,
                                      std::string* error) {
  auto filter = std::make_unique<THueFilter>();
  if (!filter->Init(args, in, error)) return nullptr;
  return filter;
}

const TOwnFilterDef kHueFilter = {
    "nativehue",
    "Software video equalizer(hue and saturation)",
    AdjustFilterPixelFormats(),
    CreateHue,
};

inline uint8_t Clip255(int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

}  // namespace

// In extended precision, as the factors must match to the last unit.
THueFactors MakeHueFactors(int hue, int saturation) {
  const long double angle = hue * 3.14159265358979323846264338327950288L / 100;
  const long double sat = saturation + 100;
  THueFactors f;
  f.s = static_cast<int32_t>(std::floor(std::sin(angle) * 65536 * sat / 100 + 0.5L));
  f.c = static_cast<int32_t>(std::floor(std::cos(angle) * 65536 * sat / 100 + 0.5L));
  return f;
}

// 8421376 = 128 * 65536 + 32768: back to the 128 offset, with rounding.
constexpr int32_t kHueOffset = 8421376;

namespace {

inline void HueSample(int32_t s, int32_t c, uint8_t u_in, uint8_t v_in, uint8_t* u_out,
                      uint8_t* v_out) {
  const int32_t u = u_in - 128;
  const int32_t v = v_in - 128;
  *u_out = Clip255((c * u - s * v + kHueOffset) >> 16);
  *v_out = Clip255((s * u + c * v + kHueOffset) >> 16);
}

#ifdef __SSE2__
// Both factors split as f = fh * 512 + fl (fl in 0..511), so that every
// product fits the 16-bit multiply-add: c*u - s*v = 512 * (ch*u - sh*v) +
// (cl*u - sl*v), exactly, in 32-bit lanes.
struct HueVectors {
  __m128i u_hi, u_lo, v_hi, v_lo, offset;
  explicit HueVectors(int32_t s, int32_t c) {
    const int16_t sh = static_cast<int16_t>(s >> 9), sl = static_cast<int16_t>(s & 511);
    const int16_t ch = static_cast<int16_t>(c >> 9), cl = static_cast<int16_t>(c & 511);
    // Lanes hold interleaved pairs (u, v).
    u_hi = _mm_set_epi16(-sh, ch, -sh, ch, -sh, ch, -sh, ch);
    u_lo = _mm_set_epi16(-sl, cl, -sl, cl, -sl, cl, -sl, cl);
    v_hi = _mm_set_epi16(ch, sh, ch, sh, ch, sh, ch, sh);
    v_lo = _mm_set_epi16(cl, sl, cl, sl, cl, sl, cl, sl);
    offset = _mm_set1_epi32(kHueOffset);
  }
  __m128i Apply(__m128i uv, __m128i hi, __m128i lo) const {
    const __m128i sum = _mm_add_epi32(_mm_slli_epi32(_mm_madd_epi16(uv, hi), 9),
                                      _mm_add_epi32(_mm_madd_epi16(uv, lo), offset));
    return _mm_srai_epi32(sum, 16);
  }
};
#endif

}  // namespace

void HuePlanes(const THueFactors& f, const uint8_t* src_u, const uint8_t* src_v, int src_stride_u,
               int src_stride_v, uint8_t* dst_u, uint8_t* dst_v, int dst_stride_u,
               int dst_stride_v, int width, int rows) {
#ifdef __SSE2__
  const HueVectors k(f.s, f.c);
  const __m128i zero = _mm_setzero_si128();
  const __m128i bias = _mm_set1_epi16(128);
#endif
  for (int y = 0; y < rows; ++y) {
    const uint8_t* su = src_u + static_cast<ptrdiff_t>(y) * src_stride_u;
    const uint8_t* sv = src_v + static_cast<ptrdiff_t>(y) * src_stride_v;
    uint8_t* du = dst_u + static_cast<ptrdiff_t>(y) * dst_stride_u;
    uint8_t* dv = dst_v + static_cast<ptrdiff_t>(y) * dst_stride_v;
    int x = 0;
#ifdef __SSE2__
    for (; x + 8 <= width; x += 8) {
      const __m128i u = _mm_sub_epi16(
          _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(su + x)), zero), bias);
      const __m128i v = _mm_sub_epi16(
          _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(sv + x)), zero), bias);
      const __m128i uv_first = _mm_unpacklo_epi16(u, v);
      const __m128i uv_last = _mm_unpackhi_epi16(u, v);
      const __m128i new_u = _mm_packs_epi32(k.Apply(uv_first, k.u_hi, k.u_lo),
                                            k.Apply(uv_last, k.u_hi, k.u_lo));
      const __m128i new_v = _mm_packs_epi32(k.Apply(uv_first, k.v_hi, k.v_lo),
                                            k.Apply(uv_last, k.v_hi, k.v_lo));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(du + x), _mm_packus_epi16(new_u, new_u));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(dv + x), _mm_packus_epi16(new_v, new_v));
    }
#endif
    for (; x < width; ++x) HueSample(f.s, f.c, su[x], sv[x], du + x, dv + x);
  }
}

void RegisterHueFilter() {
  assert(TFFLoader::Instance().Loaded(avFilter) && "RegisterHueFilter needs libavfilter");
  RegisterOwnFilter(kHueFilter);
}

}  // namespace vidmill
