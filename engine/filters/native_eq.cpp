// "nativeeq": brightness and contrast on the luma plane.
#include <cassert>

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

constexpr AVPixelFormat kPixelFormats[] = {
    AV_PIX_FMT_YUV420P,  AV_PIX_FMT_YUV422P,  AV_PIX_FMT_YUV444P,  AV_PIX_FMT_YUV410P,
    AV_PIX_FMT_YUV411P,  AV_PIX_FMT_YUV440P,  AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVJ422P,
    AV_PIX_FMT_YUVJ444P, AV_PIX_FMT_YUVJ440P,
};

constexpr TAdjustTexts kTexts = {
    "Invalid brightness value %d, force to %d\n",
    "Invalid contrast value %d, force to %d\n",
    "brightness:%d, contrast %d\n",
};

const AVClass kLogClass = MakeOwnFilterLogClass("nativeeq");

class TEqFilter : public TAdjustFilter {
 public:
  TEqFilter() : TAdjustFilter(&kLogClass, kTexts) {}
  using TAdjustFilter::Init;

  void Process(const AVFrame& src, AVFrame& dst) override {
    const TEqFactors factors = MakeEqFactors(First(), Second());
    EqPlane(factors, src.data[0], src.linesize[0], dst.data[0], dst.linesize[0], src.width,
            src.height);
    CopyPlanes(src, dst, 1, 3);
  }
};

std::unique_ptr<TOwnFilter> CreateEq(std::string_view args, const TVideoFormat&,
                                     std::string* error) {
  auto filter = std::make_unique<TEqFilter>();
  if (!filter->Init(args, error)) return nullptr;
  return filter;
}

const TOwnFilterDef kEqFilter = {
    "nativeeq",
    "Software video equalizer(brightness and contrast)",
    kPixelFormats,
    CreateEq,
};


}  // namespace

std::span<const AVPixelFormat> AdjustFilterPixelFormats() { return kPixelFormats; }

TEqFactors MakeEqFactors(int brightness, int contrast) {
  TEqFactors f;
  f.c = ((contrast + 100) * 65536) / 100;
  f.b = ((brightness + 100) * 511) / 200 - 128 - (f.c / 512);
  return f;
}

// Every luma sample p becomes (p * c) / 65536 + b, clamped to 0..255. With
// c = ch * 65536 + cl, (p * c) / 65536 = p * ch + (p * cl) / 65536 exactly,
// which 16-bit vector lanes can compute (cl < 65536, ch <= 2).
namespace {

struct EqRow {
  int ch;
  int cl;
  int b;
  void Scalar(const uint8_t* s, uint8_t* d, int from, int width) const {
    for (int x = from; x < width; ++x) d[x] = Clip255(s[x] * ch + ((s[x] * cl) >> 16) + b);
  }
};

#ifdef __SSE2__
int EqRowSSE2(const EqRow& k, const uint8_t* s, uint8_t* d, int width) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i vch = _mm_set1_epi16(static_cast<int16_t>(k.ch));
  const __m128i vcl = _mm_set1_epi16(static_cast<int16_t>(static_cast<uint16_t>(k.cl)));
  const __m128i vb = _mm_set1_epi16(static_cast<int16_t>(k.b));
  int x = 0;
  for (; x + 16 <= width; x += 16) {
    const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + x));
    __m128i lo = _mm_unpacklo_epi8(p, zero);
    __m128i hi = _mm_unpackhi_epi8(p, zero);
    lo = _mm_add_epi16(_mm_add_epi16(_mm_mulhi_epu16(lo, vcl), _mm_mullo_epi16(lo, vch)), vb);
    hi = _mm_add_epi16(_mm_add_epi16(_mm_mulhi_epu16(hi, vcl), _mm_mullo_epi16(hi, vch)), vb);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + x), _mm_packus_epi16(lo, hi));
  }
  return x;
}
#endif

#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("avx2"))) int EqRowAVX2(const EqRow& k, const uint8_t* s, uint8_t* d,
                                              int width) {
  const __m256i vch = _mm256_set1_epi16(static_cast<int16_t>(k.ch));
  const __m256i vcl = _mm256_set1_epi16(static_cast<int16_t>(static_cast<uint16_t>(k.cl)));
  const __m256i vb = _mm256_set1_epi16(static_cast<int16_t>(k.b));
  int x = 0;
  for (; x + 32 <= width; x += 32) {
    __m256i lo = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + x)));
    __m256i hi = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + x + 16)));
    lo = _mm256_add_epi16(_mm256_add_epi16(_mm256_mulhi_epu16(lo, vcl), _mm256_mullo_epi16(lo, vch)), vb);
    hi = _mm256_add_epi16(_mm256_add_epi16(_mm256_mulhi_epu16(hi, vcl), _mm256_mullo_epi16(hi, vch)), vb);
    // Packing works per 128-bit half; put the four quarters back in order.
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(lo, hi), 0xD8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + x), packed);
  }
  return x;
}

#endif

}  // namespace

void EqPlane(const TEqFactors& f, const uint8_t* src, int src_stride, uint8_t* dst, int dst_stride,
             int width, int rows) {
  const EqRow k{f.c >> 16, f.c & 0xFFFF, f.b};
  for (int y = 0; y < rows; ++y) {
    const uint8_t* s = src + static_cast<ptrdiff_t>(y) * src_stride;
    uint8_t* d = dst + static_cast<ptrdiff_t>(y) * dst_stride;
    int x = 0;
#if defined(__x86_64__) || defined(__i386__)
    if (HaveAVX2()) x = EqRowAVX2(k, s, d, width);
#endif
#ifdef __SSE2__
    x += EqRowSSE2(k, s + x, d + x, width - x);
#endif
    k.Scalar(s, d, x, width);
  }
}

void RegisterEqFilter() {
  assert(TFFLoader::Instance().Loaded(avFilter) && "RegisterEqFilter needs libavfilter");
  RegisterOwnFilter(kEqFilter);
}

}  // namespace vidmill
