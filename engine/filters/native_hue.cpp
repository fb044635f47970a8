// "nativehue": hue rotation and saturation on the two chroma planes.
#include <cassert>
#include <cmath>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
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

// Both factors split as f = fh * 512 + fl (fl in 0..511), so that every
// product fits the 16-bit multiply-add: c*u - s*v = 512 * (ch*u - sh*v) +
// (cl*u - sl*v), exactly, in 32-bit lanes. Lanes hold interleaved pairs (u, v).
struct HueWeights {
  int16_t u_hi[2], u_lo[2], v_hi[2], v_lo[2];  // weights of u and v for new U, new V
  HueWeights(int32_t s, int32_t c) {
    const int16_t sh = static_cast<int16_t>(s >> 9), sl = static_cast<int16_t>(s & 511);
    const int16_t ch = static_cast<int16_t>(c >> 9), cl = static_cast<int16_t>(c & 511);
    u_hi[0] = ch, u_hi[1] = static_cast<int16_t>(-sh);
    u_lo[0] = cl, u_lo[1] = static_cast<int16_t>(-sl);
    v_hi[0] = sh, v_hi[1] = ch;
    v_lo[0] = sl, v_lo[1] = cl;
  }
  static int32_t Pair(const int16_t w[2]) {
    return static_cast<int32_t>(static_cast<uint16_t>(w[0]) | (static_cast<uint32_t>(static_cast<uint16_t>(w[1])) << 16));
  }
};

#ifdef __SSE2__
int HueRowSSE2(const HueWeights& w, const uint8_t* su, const uint8_t* sv, uint8_t* du, uint8_t* dv,
               int width) {
  const __m128i u_hi = _mm_set1_epi32(HueWeights::Pair(w.u_hi));
  const __m128i u_lo = _mm_set1_epi32(HueWeights::Pair(w.u_lo));
  const __m128i v_hi = _mm_set1_epi32(HueWeights::Pair(w.v_hi));
  const __m128i v_lo = _mm_set1_epi32(HueWeights::Pair(w.v_lo));
  const __m128i offset = _mm_set1_epi32(kHueOffset);
  const __m128i zero = _mm_setzero_si128();
  const __m128i bias = _mm_set1_epi16(128);
  auto apply = [&](__m128i uv, __m128i hi, __m128i lo) {
    const __m128i sum = _mm_add_epi32(_mm_slli_epi32(_mm_madd_epi16(uv, hi), 9),
                                      _mm_add_epi32(_mm_madd_epi16(uv, lo), offset));
    return _mm_srai_epi32(sum, 16);
  };
  int x = 0;
  for (; x + 8 <= width; x += 8) {
    const __m128i u = _mm_sub_epi16(
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(su + x)), zero), bias);
    const __m128i v = _mm_sub_epi16(
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(sv + x)), zero), bias);
    const __m128i first = _mm_unpacklo_epi16(u, v);
    const __m128i last = _mm_unpackhi_epi16(u, v);
    const __m128i new_u = _mm_packs_epi32(apply(first, u_hi, u_lo), apply(last, u_hi, u_lo));
    const __m128i new_v = _mm_packs_epi32(apply(first, v_hi, v_lo), apply(last, v_hi, v_lo));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(du + x), _mm_packus_epi16(new_u, new_u));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dv + x), _mm_packus_epi16(new_v, new_v));
  }
  return x;
}
#endif

#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("avx2"))) int HueRowAVX2(const HueWeights& w, const uint8_t* su,
                                               const uint8_t* sv, uint8_t* du, uint8_t* dv,
                                               int width) {
  const __m256i u_hi = _mm256_set1_epi32(HueWeights::Pair(w.u_hi));
  const __m256i u_lo = _mm256_set1_epi32(HueWeights::Pair(w.u_lo));
  const __m256i v_hi = _mm256_set1_epi32(HueWeights::Pair(w.v_hi));
  const __m256i v_lo = _mm256_set1_epi32(HueWeights::Pair(w.v_lo));
  const __m256i offset = _mm256_set1_epi32(kHueOffset);
  const __m256i bias = _mm256_set1_epi16(128);
#define VM_HUE_APPLY(uv, hi, lo)                                                           \
  _mm256_srai_epi32(_mm256_add_epi32(_mm256_slli_epi32(_mm256_madd_epi16(uv, hi), 9),     \
                                     _mm256_add_epi32(_mm256_madd_epi16(uv, lo), offset)), \
                    16)
  int x = 0;
  for (; x + 16 <= width; x += 16) {
    const __m256i u = _mm256_sub_epi16(
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(su + x))), bias);
    const __m256i v = _mm256_sub_epi16(
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(sv + x))), bias);
    // Interleaving and packing stay within 128-bit halves, so the order
    // comes back once the halves' low quarters are joined.
    const __m256i first = _mm256_unpacklo_epi16(u, v);
    const __m256i last = _mm256_unpackhi_epi16(u, v);
    const __m256i new_u =
        _mm256_packs_epi32(VM_HUE_APPLY(first, u_hi, u_lo), VM_HUE_APPLY(last, u_hi, u_lo));
    const __m256i new_v =
        _mm256_packs_epi32(VM_HUE_APPLY(first, v_hi, v_lo), VM_HUE_APPLY(last, v_hi, v_lo));
    const __m256i out_u = _mm256_permute4x64_epi64(_mm256_packus_epi16(new_u, new_u), 0x08);
    const __m256i out_v = _mm256_permute4x64_epi64(_mm256_packus_epi16(new_v, new_v), 0x08);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(du + x), _mm256_castsi256_si128(out_u));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dv + x), _mm256_castsi256_si128(out_v));
  }
#undef VM_HUE_APPLY
  return x;
}

#endif

}  // namespace

void HuePlanes(const THueFactors& f, const uint8_t* src_u, const uint8_t* src_v, int src_stride_u,
               int src_stride_v, uint8_t* dst_u, uint8_t* dst_v, int dst_stride_u,
               int dst_stride_v, int width, int rows) {
  const HueWeights weights(f.s, f.c);
  for (int y = 0; y < rows; ++y) {
    const uint8_t* su = src_u + static_cast<ptrdiff_t>(y) * src_stride_u;
    const uint8_t* sv = src_v + static_cast<ptrdiff_t>(y) * src_stride_v;
    uint8_t* du = dst_u + static_cast<ptrdiff_t>(y) * dst_stride_u;
    uint8_t* dv = dst_v + static_cast<ptrdiff_t>(y) * dst_stride_v;
    int x = 0;
#if defined(__x86_64__) || defined(__i386__)
    if (HaveAVX2()) x = HueRowAVX2(weights, su, sv, du, dv, width);
#endif
#ifdef __SSE2__
    x += HueRowSSE2(weights, su + x, sv + x, du + x, dv + x, width - x);
#endif
    for (; x < width; ++x) HueSample(f.s, f.c, su[x], sv[x], du + x, dv + x);
  }
}

void RegisterHueFilter() {
  assert(TFFLoader::Instance().Loaded(avFilter) && "RegisterHueFilter needs libavfilter");
  RegisterOwnFilter(kHueFilter);
}

}  // namespace vidmill
