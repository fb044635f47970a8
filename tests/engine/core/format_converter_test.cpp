#include "core/format_converter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <tuple>
#include <utility>

#include "core/engine_error.h"
#include "picture_helpers.h"

namespace vidmill {
namespace {

using testing::At;
using testing::FramePtr;
using testing::MakeFrame;

class FormatConverterTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::LoadLibraries(); }

  // A smooth colour picture inside the colours RGB can hold.
  static FramePtr Scene(int width, int height) {
    FramePtr f = MakeFrame(width, height, AV_PIX_FMT_YUV420P);
    testing::FillPlane(f.get(), 0, [](int x, int y) {
      return int(120 + 60 * std::sin(x / 5.0) * std::cos(y / 4.0));
    });
    testing::FillPlane(f.get(), 1, [](int x, int y) {
      return int(128 + 25 * std::sin(x / 9.0 + y / 13.0));
    });
    testing::FillPlane(f.get(), 2, [](int x, int y) {
      return int(128 + 25 * std::cos(x / 11.0 - y / 7.0));
    });
    return f;
  }
};

// The PSNR each bitmap depth must keep on a round trip. A depth of n bits
// per colour quantises with steps of 2^(8-n); uniform rounding noise of step
// q has an RMS of q / sqrt(12). At 8 bits per pixel (red and green 3 bits,
// blue 2: RMS about 9 and 18 in RGB) that is roughly 28-30 dB on luma with
// the scaler's dithering, 31-44 dB on the smoother chroma; 5 and 6 bits per
// colour (step 8 or 4, RMS 2.3 or 1.2) give 41-44 dB on luma and 46-52 dB on
// chroma; 24 and 32 bits only the colour conversion's own rounding (43 dB or
// more on luma, 52 dB or more on chroma, odd sizes included). Each bound sits
// 2-4 dB under the lowest figure these pictures give, and far above what a
// wrong stride, byte order, row order or edge column gives (under 30 dB).
struct DepthCase {
  int bits;
  double luma_db;
  double chroma_db;
};
constexpr DepthCase kDepths[] = {
    {8, 26.0, 28.0}, {15, 38.0, 44.0}, {16, 40.0, 45.0}, {24, 40.0, 48.0}, {32, 40.0, 48.0},
};

TEST_F(FormatConverterTest, RoundTripsThroughEveryDepthKeepThePicture) {
  // The scaler gives wrong 15 and 16-bit pictures under 8 pixels of width.
  const std::pair<int, int> sizes[] = {{64, 48}, {101, 75}, {33, 17}, {320, 240}, {9, 7}, {8, 2}};
  for (const DepthCase& depth : kDepths) {
    for (auto [w, h] : sizes) {
      SCOPED_TRACE(::testing::Message() << depth.bits << " bits, " << w << "x" << h);
      FramePtr in = Scene(w, h);
      TFormatConverter conv;
      conv.SetBitsPixel(depth.bits);
      ASSERT_TRUE(conv.PictureToRGB(PictureOf(*in), AV_PIX_FMT_YUV420P, true, h, w))
          << conv.LastErrMsg();
      ASSERT_EQ(conv.Bitmap().Width(), w);
      ASSERT_EQ(conv.Bitmap().Height(), h);
      EXPECT_EQ(conv.Bitmap().Stride() % 4, 0);
      EXPECT_EQ(conv.DIB().width, w);
      EXPECT_EQ(conv.DIB().bits_pixel, conv.BitsPixel());
      // Wipe the RGB picture: what comes back must come from the bitmap.
      const TPicture* rgb = conv.RGBPictureRef();
      ASSERT_NE(rgb, nullptr);
      for (int y = 0; y < h; ++y) std::memset(rgb->data[0] + y * rgb->linesize[0], 0, rgb->linesize[0]);
      conv.BitmapToRGB();

      FramePtr back = MakeFrame(w, h, AV_PIX_FMT_YUV420P);
      TPicture out = PictureOf(*back);
      ASSERT_TRUE(conv.RGBToPicture(out, AV_PIX_FMT_YUV420P, h, w)) << conv.LastErrMsg();
      const int cw = (w + 1) / 2, ch = (h + 1) / 2;
      EXPECT_GT(testing::PlanePsnr(in.get(), back.get(), 0, w, h), depth.luma_db);
      EXPECT_GT(testing::PlanePsnr(in.get(), back.get(), 1, cw, ch), depth.chroma_db);
      EXPECT_GT(testing::PlanePsnr(in.get(), back.get(), 2, cw, ch), depth.chroma_db);
    }
  }
}

TEST_F(FormatConverterTest, BitmapBytesFollowTheirFormat) {
  // Pure red in limited-range YUV.
  FramePtr red = testing::SolidYuv(8, 8, AV_PIX_FMT_YUV420P, 81, 90, 240);
  TFormatConverter conv;
  ASSERT_TRUE(conv.PictureToRGB(PictureOf(*red), AV_PIX_FMT_YUV420P, true, 8, 8));
  const uint8_t* p = conv.Bitmap().ScanLine(3) + 3 * 3;
  EXPECT_LE(p[0], 3);    // blue
  EXPECT_LE(p[1], 3);    // green
  EXPECT_GE(p[2], 252);  // red
  conv.SetBitsPixel(32);
  ASSERT_TRUE(conv.PictureToRGB(PictureOf(*red), AV_PIX_FMT_YUV420P, true, 8, 8));
  p = conv.Bitmap().ScanLine(7) + 7 * 4;
  EXPECT_GE(p[2], 252);
  EXPECT_EQ(p[3], 255);  // opaque
  conv.SetBitsPixel(16);
  ASSERT_TRUE(conv.PictureToRGB(PictureOf(*red), AV_PIX_FMT_YUV420P, true, 8, 8));
  uint16_t v;
  std::memcpy(&v, conv.Bitmap().ScanLine(0), 2);
  EXPECT_EQ(v, 0x001F);  // 5 bits red at the bottom, nothing else
}

TEST_F(FormatConverterTest, PictureInTheBitmapFormatIsUsedDirectly) {
  FramePtr bgr = MakeFrame(640, 480, AV_PIX_FMT_BGR24);
  bgr->linesize[0] = 1920;  // rows exactly as long as a bitmap's
  TFormatConverter conv;
  TPicture pic = PictureOf(*bgr);
  ASSERT_TRUE(conv.PictureToRGB(pic, AV_PIX_FMT_BGR24, false, 480, 640));
  ASSERT_NE(conv.RGBPictureRef(), nullptr);
  EXPECT_EQ(conv.RGBPictureRef()->data[0], bgr->data[0]);
  EXPECT_EQ(conv.DIB().pixels, bgr->data[0]);
  EXPECT_EQ(conv.DIB().bytes_per_row, 1920);
  EXPECT_EQ(conv.RGBPicture().data[0], nullptr);  // no copy made

  // Odd sizes always go through the scaler, even in the bitmap format.
  FramePtr odd = MakeFrame(641, 480, AV_PIX_FMT_BGR24);
  ASSERT_TRUE(conv.PictureToRGB(PictureOf(*odd), AV_PIX_FMT_BGR24, false, 480, 641));
  EXPECT_NE(conv.RGBPictureRef()->data[0], odd->data[0]);
  EXPECT_EQ(conv.RGBPictureRef()->data[0], conv.RGBPicture().data[0]);
}

TEST_F(FormatConverterTest, BitsPixelSelectsTheBitmapFormat) {
  struct Case {
    int write, read;
    TBMPPixelFormat format;
    AVPixelFormat av;
  } cases[] = {
      {8, 8, pf8bit, AV_PIX_FMT_BGR8},          {15, 16, pf15bit, AV_PIX_FMT_BGR555LE},
      {16, 16, pf16bit, AV_PIX_FMT_BGR565LE},   {24, 24, pf24bit, AV_PIX_FMT_BGR24},
      {32, 32, pf32bit, AV_PIX_FMT_BGRA},
  };
  for (const Case& c : cases) {
    TFormatConverter conv;
    EXPECT_EQ(conv.BitsPixel(), 24);
    conv.SetBitsPixel(c.write);
    EXPECT_EQ(conv.BitsPixel(), c.read);
    EXPECT_EQ(conv.BMPPixFmt(), c.format);
    EXPECT_EQ(conv.AVPixFmt(), c.av);
    EXPECT_EQ(conv.Bitmap().PixelFormat(), c.format);
  }
  // 15 and 16 both read back as 16; each write still selects its own format.
  for (const auto& [first, then, format] :
       {std::tuple{15, 16, pf16bit}, std::tuple{16, 15, pf15bit}, std::tuple{15, 15, pf15bit}}) {
    TFormatConverter conv;
    conv.SetBitsPixel(first);
    conv.SetBitsPixel(then);
    EXPECT_EQ(conv.BMPPixFmt(), format) << first << " then " << then;
    EXPECT_EQ(conv.BitsPixel(), 16);
  }
  TFormatConverter conv;
  for (int bad : {0, 12, 31, -24}) {
    try {
      conv.SetBitsPixel(bad);
      ADD_FAILURE() << bad;
    } catch (const EEngineError& e) {
      EXPECT_EQ(std::string(e.what()), "Invalid BitsPixel " + std::to_string(bad));
    }
  }
  EXPECT_EQ(conv.BitsPixel(), 24);
}

TEST_F(FormatConverterTest, ChangingTheFormatForgetsThePicture) {
  FramePtr in = Scene(16, 16);
  TFormatConverter conv;
  ASSERT_TRUE(conv.PictureToRGB(PictureOf(*in), AV_PIX_FMT_YUV420P, true, 16, 16));
  EXPECT_NE(conv.RGBPictureRef(), nullptr);
  conv.SetBitsPixel(24);  // the same: nothing happens
  EXPECT_NE(conv.RGBPictureRef(), nullptr);
  conv.SetBMPPixFmt(pf16bit);
  EXPECT_EQ(conv.RGBPictureRef(), nullptr);
  EXPECT_EQ(conv.DIB().pixels, nullptr);
  EXPECT_EQ(conv.BitsPixel(), 16);
}

TEST_F(FormatConverterTest, ScalerRefusalsAreReported) {
  FramePtr in = Scene(16, 16);
  TFormatConverter conv;
  EXPECT_FALSE(conv.PictureToRGB(PictureOf(*in), AV_PIX_FMT_NONE, true, 16, 16));
  EXPECT_EQ(conv.LastErrMsg(), "Cannot initialize the toRGB conversion context");
  EXPECT_EQ(conv.RGBPictureRef(), nullptr);
  EXPECT_FALSE(conv.PictureToRGB(PictureOf(*in), AV_PIX_FMT_YUV420P, true, 0, 16));
  EXPECT_EQ(conv.LastErrMsg(), "Cannot initialize the toRGB conversion context");

  ASSERT_TRUE(conv.PictureToRGB(PictureOf(*in), AV_PIX_FMT_YUV420P, true, 16, 16));
  TPicture out = PictureOf(*in);
  EXPECT_FALSE(conv.RGBToPicture(out, AV_PIX_FMT_NONE, 16, 16));
  EXPECT_EQ(conv.LastErrMsg(), "Cannot initialize the fromRGB conversion context");

  // A picture larger than the RGB one is refused, not read past its rows.
  FramePtr big = Scene(64, 64);
  TPicture big_out = PictureOf(*big);
  for (const auto& [w, h] : {std::pair{64, 64}, std::pair{16, 64}, std::pair{64, 16}}) {
    EXPECT_FALSE(conv.RGBToPicture(big_out, AV_PIX_FMT_YUV420P, h, w)) << w << "x" << h;
    EXPECT_EQ(conv.LastErrMsg(), "Cannot initialize the fromRGB conversion context");
  }
  EXPECT_TRUE(conv.RGBToPicture(out, AV_PIX_FMT_YUV420P, 16, 16));
}

}  // namespace
}  // namespace vidmill
