// "nativeeq": brightness and contrast on the luma plane.
#include <cassert>

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
    if (First() != table_brightness_ || Second() != table_contrast_) {
      table_ = MakeEqTable(First(), Second());
      table_brightness_ = First();
      table_contrast_ = Second();
    }
    EqPlane(table_, src.data[0], src.linesize[0], dst.data[0], dst.linesize[0], src.width,
            src.height);
    CopyPlanes(src, dst, 1, 3);
  }

 private:
  TEqTable table_ = MakeEqTable(0, 0);
  int table_brightness_ = 0;
  int table_contrast_ = 0;
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

uint8_t Clip255(int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

}  // namespace

std::span<const AVPixelFormat> AdjustFilterPixelFormats() { return kPixelFormats; }

// Every luma sample p becomes (p * c) / 65536 + b, so one table of the 256
// results gives the same output as the formula for each sample.
TEqTable MakeEqTable(int brightness, int contrast) {
  const int c = ((contrast + 100) * 65536) / 100;
  const int b = ((brightness + 100) * 511) / 200 - 128 - (c / 512);
  TEqTable table;
  for (int p = 0; p < 256; ++p) table.map[p] = Clip255((p * c) / 65536 + b);
  return table;
}

void EqPlane(const TEqTable& table, const uint8_t* src, int src_stride, uint8_t* dst,
             int dst_stride, int width, int rows) {
  for (int y = 0; y < rows; ++y) {
    const uint8_t* s = src + static_cast<ptrdiff_t>(y) * src_stride;
    uint8_t* d = dst + static_cast<ptrdiff_t>(y) * dst_stride;
    for (int x = 0; x < width; ++x) d[x] = table.map[s[x]];
  }
}

void RegisterEqFilter() {
  assert(TFFLoader::Instance().Loaded(avFilter) && "RegisterEqFilter needs libavfilter");
  RegisterOwnFilter(kEqFilter);
}

}  // namespace vidmill
