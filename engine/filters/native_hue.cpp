// "nativehue": hue rotation and saturation on the two chroma planes.
#include <cassert>
#include <cmath>

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
void HuePlanes(const THueFactors& f, const uint8_t* src_u, const uint8_t* src_v, int src_stride_u,
               int src_stride_v, uint8_t* dst_u, uint8_t* dst_v, int dst_stride_u,
               int dst_stride_v, int width, int rows) {
  const int32_t s = f.s;
  const int32_t c = f.c;
  for (int y = 0; y < rows; ++y) {
    const uint8_t* su = src_u + static_cast<ptrdiff_t>(y) * src_stride_u;
    const uint8_t* sv = src_v + static_cast<ptrdiff_t>(y) * src_stride_v;
    uint8_t* du = dst_u + static_cast<ptrdiff_t>(y) * dst_stride_u;
    uint8_t* dv = dst_v + static_cast<ptrdiff_t>(y) * dst_stride_v;
    for (int x = 0; x < width; ++x) {
      const int32_t u = su[x] - 128;
      const int32_t v = sv[x] - 128;
      du[x] = Clip255((c * u - s * v + 8421376) >> 16);
      dv[x] = Clip255((s * u + c * v + 8421376) >> 16);
    }
  }
}

void RegisterHueFilter() {
  assert(TFFLoader::Instance().Loaded(avFilter) && "RegisterHueFilter needs libavfilter");
  RegisterOwnFilter(kHueFilter);
}

}  // namespace vidmill
