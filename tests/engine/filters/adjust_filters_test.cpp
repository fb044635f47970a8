#include "filters/adjust_filters.h"

#include <gtest/gtest.h>

#include <cmath>

#include "filters/filter_chain.h"
#include "filters/live_values.h"
#include "filters/own_filter.h"
#include "own_filters_fixture.h"

namespace vidmill {
namespace {

using testing::At;
using testing::FramePtr;
using testing::MakeFrame;

// The adjustment arithmetic written out sample by sample.
int EqSample(int p, int brightness, int contrast) {
  const int c = ((contrast + 100) * 65536) / 100;
  const int b = ((brightness + 100) * 511) / 200 - 128 - (c / 512);
  return std::clamp((p * c) / 65536 + b, 0, 255);
}

std::pair<int, int> HueSample(int u, int v, int hue, int saturation) {
  const long double angle = hue * 3.14159265358979323846264338327950288L / 100;
  const long double s = std::floor(std::sin(angle) * 65536 * (saturation + 100) / 100 + 0.5L);
  const long double c = std::floor(std::cos(angle) * 65536 * (saturation + 100) / 100 + 0.5L);
  const int is = int(s), ic = int(c);
  const int du = u - 128, dv = v - 128;
  return {std::clamp((ic * du - is * dv + 8421376) >> 16, 0, 255),
          std::clamp((is * du + ic * dv + 8421376) >> 16, 0, 255)};
}

class AdjustFiltersTest : public testing::OwnFiltersTest {
 protected:
  // One frame through a chain of one filter; null when the chain fails.
  static FramePtr Filter(const std::string& text, const AVFrame* in, std::string* error = nullptr) {
    std::string ignored;
    auto chain = TFilterChain::Create(text, FormatOf(in), AV_PIX_FMT_NONE, error ? error : &ignored);
    if (!chain) return nullptr;
    return Through(*chain, in);
  }
  static FramePtr Through(TFilterChain& chain, const AVFrame* in) {
    EXPECT_EQ(chain.SendFrame(in), 0);
    FramePtr out(ff::av_frame_alloc());
    EXPECT_EQ(chain.ReceiveFrame(out.get()), 0);
    return out;
  }
  // Luma = x (0..255) on every row; chroma = u, v.
  static FramePtr LumaRamp(AVPixelFormat fmt = AV_PIX_FMT_YUV420P) {
    FramePtr f = MakeFrame(256, 6, fmt);
    testing::FillPlane(f.get(), 0, [](int x, int) { return x; });
    testing::FillPlane(f.get(), 1, [](int x, int y) { return (x * 7 + y) & 255; });
    testing::FillPlane(f.get(), 2, [](int x, int y) { return (x * 3 + y * 5) & 255; });
    return f;
  }
  // Every (U, V) pair once: U = x, V = y.
  static FramePtr ChromaSquare() {
    FramePtr f = MakeFrame(256, 256, AV_PIX_FMT_YUV444P);
    testing::FillPlane(f.get(), 0, [](int x, int y) { return (x + y) & 255; });
    testing::FillPlane(f.get(), 1, [](int x, int) { return x; });
    testing::FillPlane(f.get(), 2, [](int, int y) { return y; });
    return f;
  }
};

TEST_F(AdjustFiltersTest, EqFollowsTheFormulaForEveryLumaValue) {
  struct Case {
    int brightness, contrast;     // what the chain says
    int used_b, used_c;           // after clamping
  } cases[] = {
      {0, 0, 0, 0},       {10, -5, 10, -5},     {-100, -100, -100, -100}, {100, 100, 100, 100},
      {-100, 100, -100, 100}, {100, -100, 100, -100}, {50, 0, 50, 0},  {0, 50, 0, 50},
      {-37, 63, -37, 63}, {150, 0, 100, 0},     {0, -150, 0, -100},       {-101, 101, -100, 100},
  };
  FramePtr in = LumaRamp();
  for (const Case& c : cases) {
    const std::string text = "nativeeq=" + std::to_string(c.brightness) + ":" + std::to_string(c.contrast);
    FramePtr out = Filter(text, in.get());
    ASSERT_TRUE(out) << text;
    for (int y = 0; y < in->height; ++y)
      for (int x = 0; x < 256; ++x) {
        const int want = (c.used_b == 0 && c.used_c == 0) ? x : EqSample(x, c.used_b, c.used_c);
        ASSERT_EQ(At(out.get(), 0, x, y), want) << text << " at " << x << "," << y;
      }
    // Chroma is never touched.
    EXPECT_EQ(At(out.get(), 1, 17, 2), At(in.get(), 1, 17, 2)) << text;
    EXPECT_EQ(At(out.get(), 2, 101, 1), At(in.get(), 2, 101, 1)) << text;
  }
}

TEST_F(AdjustFiltersTest, EqKnownValues) {
  struct Case {
    const char* text;
    int in, out;
  } cases[] = {
      {"nativeeq=0:-100", 0, 127},   {"nativeeq=0:-100", 255, 127}, {"nativeeq=100:-100", 9, 255},
      {"nativeeq=-100:-100", 9, 0},  {"nativeeq=100:0", 0, 255},    {"nativeeq=-100:0", 255, 0},
      {"nativeeq=10:-5", 100, 126},  {"nativeeq=0:100", 100, 71},   {"nativeeq=0:100", 200, 255},
      {"nativeeq=0:1", 0, 0},        {"nativeeq=1:0", 0, 2},        {"nativeeq=1:0", 255, 255},
  };
  FramePtr in = LumaRamp();
  for (const Case& c : cases) {
    FramePtr out = Filter(c.text, in.get());
    ASSERT_TRUE(out);
    EXPECT_EQ(At(out.get(), 0, c.in, 3), c.out) << c.text << " on " << c.in;
  }
}

// Widths that end in every kind of remainder of the vector loops.
TEST_F(AdjustFiltersTest, EveryWidthIsWorkedToTheLastSample) {
  for (int width : {101, 120, 57, 7, 250}) {
    SCOPED_TRACE(width);
    FramePtr in = MakeFrame(width, 5, AV_PIX_FMT_YUV420P);
    testing::FillPlane(in.get(), 0, [](int x, int y) { return (x * 37 + y * 11) & 255; });
    testing::FillPlane(in.get(), 1, [](int x, int y) { return (x * 13 + y * 7) & 255; });
    testing::FillPlane(in.get(), 2, [](int x, int y) { return (x * 29 + y * 3) & 255; });
    FramePtr out = Filter("nativeeq=-20:35,nativehue=-61:44", in.get());
    ASSERT_TRUE(out);
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < width; ++x)
        ASSERT_EQ(At(out.get(), 0, x, y), EqSample(At(in.get(), 0, x, y), -20, 35)) << x << "," << y;
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < (width + 1) / 2; ++x) {
        const auto [u, v] = HueSample(At(in.get(), 1, x, y), At(in.get(), 2, x, y), -61, 44);
        ASSERT_EQ(At(out.get(), 1, x, y), u) << x << "," << y;
        ASSERT_EQ(At(out.get(), 2, x, y), v) << x << "," << y;
      }
  }
}

TEST_F(AdjustFiltersTest, HueFollowsTheFormulaForEveryChromaPair) {
  struct Case {
    int hue, saturation, used_h, used_s;
  } cases[] = {
      {0, 0, 0, 0},      {0, 20, 0, 20},     {0, -100, 0, -100},   {0, 100, 0, 100},
      {50, 0, 50, 0},    {-100, 0, -100, 0}, {100, 100, 100, 100}, {33, -47, 33, -47},
      {-250, 0, -100, 0}, {7, 101, 7, 100},
  };
  FramePtr in = ChromaSquare();
  for (const Case& c : cases) {
    const std::string text = "nativehue=" + std::to_string(c.hue) + ":" + std::to_string(c.saturation);
    FramePtr out = Filter(text, in.get());
    ASSERT_TRUE(out) << text;
    for (int v = 0; v < 256; ++v)
      for (int u = 0; u < 256; ++u) {
        auto [wu, wv] = (c.used_h == 0 && c.used_s == 0) ? std::pair{u, v}
                                                        : HueSample(u, v, c.used_h, c.used_s);
        ASSERT_EQ(At(out.get(), 1, u, v), wu) << text << " u=" << u << " v=" << v;
        ASSERT_EQ(At(out.get(), 2, u, v), wv) << text << " u=" << u << " v=" << v;
      }
    EXPECT_EQ(At(out.get(), 0, 200, 100), 44) << text;  // luma untouched
  }
}

TEST_F(AdjustFiltersTest, HueKnownValues) {
  FramePtr in = ChromaSquare();
  // Saturation -100: grey everywhere.
  FramePtr grey = Filter("nativehue=37:-100", in.get());
  for (int i = 0; i < 256; i += 5) {
    EXPECT_EQ(At(grey.get(), 1, i, 255 - i), 128);
    EXPECT_EQ(At(grey.get(), 2, i, 255 - i), 128);
  }
  // Saturation 100, hue 0: 0 stays 0 and 255 stays 255 (clamped, not wrapped).
  FramePtr strong = Filter("nativehue=0:100", in.get());
  EXPECT_EQ(At(strong.get(), 1, 0, 128), 0);
  EXPECT_EQ(At(strong.get(), 1, 255, 128), 255);
  EXPECT_EQ(At(strong.get(), 2, 128, 0), 0);
  EXPECT_EQ(At(strong.get(), 2, 128, 255), 255);
  // Hue 100 (half a turn) mirrors chroma around 128.
  FramePtr turned = Filter("nativehue=100:0", in.get());
  EXPECT_EQ(At(turned.get(), 1, 100, 128), 156);
  EXPECT_EQ(At(turned.get(), 2, 128, 60), 196);
}

TEST_F(AdjustFiltersTest, HueTurnsTheWholeChromaOfOddSizedPictures) {
  FramePtr in = testing::SolidYuv(101, 75, AV_PIX_FMT_YUV420P, 50, 90, 170);
  FramePtr out = Filter("nativehue=0:-100", in.get());
  ASSERT_TRUE(out);
  // 51 chroma columns and 38 chroma rows, the last ones included.
  for (int y = 0; y < 38; ++y)
    for (int x = 0; x < 51; ++x) {
      ASSERT_EQ(At(out.get(), 1, x, y), 128) << x << "," << y;
      ASSERT_EQ(At(out.get(), 2, x, y), 128) << x << "," << y;
    }
}

TEST_F(AdjustFiltersTest, OutOfRangeValuesAreClampedWithAMessage) {
  testing::LogCapture log;
  FramePtr in = LumaRamp();
  struct Case {
    const char* text;
    const char* message;
  } cases[] = {
      {"nativeeq=150:0", "Invalid brightness value 150, force to 100"},
      {"nativeeq=0:-101", "Invalid contrast value -101, force to -100"},
      {"nativehue=-300:0", "Invalid hue value -300, force to -100"},
      {"nativehue=0:222", "Invalid saturation value 222, force to 100"},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(Filter(c.text, in.get())) << c.text;
    EXPECT_EQ(log.Count(c.message), 1) << c.text;
  }
  EXPECT_EQ(log.Count("[nativeeq @ 0x"), 2 + log.Count("brightness:"));
}

TEST_F(AdjustFiltersTest, PlainFormsAndBlanks) {
  FramePtr in = LumaRamp();
  struct Case {
    const char* text;
    int brightness, contrast;
  } cases[] = {
      {"nativeeq=10", 10, 0},      {"nativeeq=:20", 0, 20},   {"nativeeq= 10 : -5 ", 10, -5},
      {"nativeeq=+7:-3::", 7, -3}, {"nativeeq=0:0:0:0", 0, 0}, {"nativeeq", 0, 0},
  };
  for (const Case& c : cases) {
    std::string error;
    FramePtr out = Filter(c.text, in.get(), &error);
    ASSERT_TRUE(out) << c.text << ": " << error;
    const int want = (c.brightness || c.contrast) ? EqSample(77, c.brightness, c.contrast) : 77;
    EXPECT_EQ(At(out.get(), 0, 77, 0), want) << c.text;
  }
}

TEST_F(AdjustFiltersTest, BadArgumentsFailWithAClearError) {
  testing::LogCapture log(llError);
  FramePtr in = LumaRamp();
  struct Case {
    const char* text;
    const char* error;
  } cases[] = {
      {"nativeeq=abc:0", "field 1 (\"abc\") is not a decimal integer"},
      {"nativeeq=1:2:3:4:5", "field 4 (\"4:5\") is not a decimal integer"},
      {"nativehue=1.5:0", "field 1 (\"1.5\") is not a decimal integer"},
      {"nativehue=0:0x10", "field 2 (\"0x10\") is not a decimal integer"},
      {"nativeeq=99999999999:0", "field 1 (\"99999999999\") is not a decimal integer"},
      {"nativeeq=1:2:777777", "no live value has the handle 777777"},
      {"nativehue=1:2:0:-4", "no live value has the handle -4"},
      {"nativeeq=1:2:0x7ffd12345678:0", "field 3"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(Filter(c.text, in.get(), &error)) << c.text;
    EXPECT_NE(error.find(c.error), std::string::npos) << c.text << ": " << error;
  }
  EXPECT_EQ(log.Count("Invalid argument"), int(std::size(cases)));
}

TEST_F(AdjustFiltersTest, LiveValuesChangeARunningChainBetweenFrames) {
  testing::LogCapture log;
  TLiveValueHandle brightness, contrast, hue, saturation;
  FramePtr in = testing::SolidYuv(32, 32, AV_PIX_FMT_YUV420P, 100, 90, 170);
  const std::string text = "nativeeq=0:0:" + std::to_string(brightness.Handle()) + ":" +
                           std::to_string(contrast.Handle()) + ", nativehue=0:0:" +
                           std::to_string(hue.Handle()) + ":" + std::to_string(saturation.Handle());
  std::string error;
  auto chain = TFilterChain::Create(text, FormatOf(in.get()), AV_PIX_FMT_NONE, &error);
  ASSERT_TRUE(chain) << error;

  FramePtr first = Through(*chain, in.get());
  EXPECT_EQ(At(first.get(), 0, 5, 5), 100);
  EXPECT_EQ(At(first.get(), 1, 5, 5), 90);

  brightness.Set(50);
  saturation.Set(-100);
  FramePtr second = Through(*chain, in.get());
  EXPECT_EQ(At(second.get(), 0, 5, 5), EqSample(100, 50, 0));
  EXPECT_EQ(At(second.get(), 1, 5, 5), 128);
  EXPECT_EQ(At(second.get(), 2, 5, 5), 128);
  Through(*chain, in.get());
  EXPECT_EQ(log.Count("brightness:50, contrast 0"), 1);
  EXPECT_EQ(log.Count("hue:0, saturation -100"), 1);

  // A live value out of range is clamped once and written back.
  contrast.Set(300);
  FramePtr third = Through(*chain, in.get());
  EXPECT_EQ(contrast.Get(), 100);
  EXPECT_EQ(At(third.get(), 0, 5, 5), EqSample(100, 50, 100));
  EXPECT_EQ(log.Count("Invalid contrast value 300, force to 100"), 1);

  // The chain keeps its values when the caller lets go of the handles.
  TLiveValues::Unregister(brightness.Handle());
  brightness.Set(0);
  FramePtr fourth = Through(*chain, in.get());
  EXPECT_EQ(At(fourth.get(), 0, 5, 5), EqSample(100, 0, 100));
}

TEST_F(AdjustFiltersTest, RegistrationIsIdempotentAndDescribesTheFilters) {
  RegisterEqFilter();
  RegisterHueFilter();
  const TOwnFilterDef* eq = FindOwnFilter("nativeeq");
  const TOwnFilterDef* hue = FindOwnFilter("nativehue");
  ASSERT_TRUE(eq && hue);
  EXPECT_EQ(eq->description, "Software video equalizer(brightness and contrast)");
  EXPECT_EQ(hue->description, "Software video equalizer(hue and saturation)");
  const AVPixelFormat want[] = {AV_PIX_FMT_YUV420P,  AV_PIX_FMT_YUV422P,  AV_PIX_FMT_YUV444P,
                                AV_PIX_FMT_YUV410P,  AV_PIX_FMT_YUV411P,  AV_PIX_FMT_YUV440P,
                                AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVJ422P, AV_PIX_FMT_YUVJ444P,
                                AV_PIX_FMT_YUVJ440P};
  ASSERT_EQ(eq->pix_fmts.size(), std::size(want));
  EXPECT_TRUE(std::equal(eq->pix_fmts.begin(), eq->pix_fmts.end(), want));
  EXPECT_TRUE(std::equal(hue->pix_fmts.begin(), hue->pix_fmts.end(), want));
}

TEST_F(AdjustFiltersTest, AcceptedFormatsAreWorkedOnDirectly) {
  for (AVPixelFormat fmt : {AV_PIX_FMT_YUV422P, AV_PIX_FMT_YUV410P, AV_PIX_FMT_YUVJ440P}) {
    FramePtr in = LumaRamp(fmt);
    std::string error;
    auto chain = TFilterChain::Create("nativeeq=20:20,nativehue=10:10", FormatOf(in.get()),
                                      AV_PIX_FMT_NONE, &error);
    ASSERT_TRUE(chain) << error;
    EXPECT_EQ(chain->OutputFormat().pix_fmt, fmt);
    FramePtr out = Through(*chain, in.get());
    EXPECT_EQ(At(out.get(), 0, 200, 5), EqSample(200, 20, 20));
    const auto [u, v] = HueSample(At(in.get(), 1, 3, 1), At(in.get(), 2, 3, 1), 10, 10);
    EXPECT_EQ(At(out.get(), 1, 3, 1), u);
    EXPECT_EQ(At(out.get(), 2, 3, 1), v);
  }
}

}  // namespace
}  // namespace vidmill
