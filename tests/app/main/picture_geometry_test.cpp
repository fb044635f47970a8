// Crop, aspect padding and scaling of one conversion: the filter texts for
// known cases, and for a table of sources and aspect choices the shape of
// the picture as it ends up in the output frame.
#include <gtest/gtest.h>

#include <cmath>

#include "main/picture_geometry.h"
#include "main/video_file.h"

using namespace vidmill;

namespace {

struct TFilterCase {
  const char* name;
  TGeometryInput in;
  const char* filters;
};

TGeometryInput Input(int sw, int sh, int aspect, int w, int h, int l = 0, int t = 0, int r = 0, int b = 0) {
  TGeometryInput in;
  in.SourceWidth = sw;
  in.SourceHeight = sh;
  in.Aspect = aspect;
  in.Width = w;
  in.Height = h;
  in.CropLeft = l;
  in.CropTop = t;
  in.CropRight = r;
  in.CropBottom = b;
  return in;
}

}  // namespace

TEST(PictureGeometry, FilterTextsOfKnownCases) {
  const TFilterCase cases[] = {
      {"same shape, no pad", Input(640, 480, acKeepOriginal, 320, 240), "scale=320:240,setsar=1"},
      {"wide source letterboxed", Input(1280, 720, acKeepOriginal, 320, 240),
       "pad=1280:960:0:120:black,scale=320:240,setsar=1"},
      {"4:3 source pillarboxed in a wide frame", Input(640, 480, acKeepOriginal, 480, 272),
       "pad=848:480:104:0:black,scale=480:272,setsar=1"},
      {"crop 8 at each side", Input(720, 576, acKeepOriginal, 720, 576, 8, 8, 8, 8),
       "crop=704:560:8:8,pad=704:564:0:2:black,scale=720:576,setsar=1"},
      // 16:9 in a 4:3 frame: the picture is 320x180 of the 320x240 output.
      {"720x576 shown at 16:9 in 320x240", Input(720, 576, acSixteenNine, 320, 240),
       "pad=720:768:0:96:black,scale=320:240,setsar=1"},
      {"full screen fills the frame", Input(720, 576, acFullScreen, 320, 240), "scale=320:240,setsar=1"},
      {"4:3 choice of a wide source", Input(1280, 720, acFourThree, 320, 240), "scale=320:240,setsar=1"},
      {"odd crops become even", Input(640, 480, acKeepOriginal, 640, 480, 3, 5, 1, 7),
       "crop=638:470:2:4,pad=638:478:0:4:black,scale=640:480,setsar=1"},
  };
  for (const TFilterCase& c : cases) {
    QString error;
    const auto g = ComputeGeometry(c.in, &error);
    ASSERT_TRUE(g.has_value()) << c.name << ": " << error.toStdString();
    EXPECT_EQ(g->Filters().join(',').toStdString(), c.filters) << c.name;
  }
}

TEST(PictureGeometry, ThePictureKeepsTheChosenAspectInTheFrame) {
  struct TSource { int w, h; double pixel_aspect; };
  const TSource sources[] = {{720, 576, 1.0}, {1920, 1080, 1.0}, {640, 480, 1.0}, {352, 288, 1.0},
                             {720, 576, 64.0 / 45.0}, {1440, 1080, 4.0 / 3.0}, {480, 640, 1.0}};
  const int frames[][2] = {{320, 240}, {480, 272}, {1280, 720}, {720, 576}, {640, 640}};
  const int crops[][4] = {{0, 0, 0, 0}, {8, 8, 8, 8}, {31, 0, 17, 3}};
  for (const TSource& s : sources) {
    for (const auto& f : frames) {
      for (const auto& crop : crops) {
        for (int aspect = acKeepOriginal; aspect <= acSixteenNine; ++aspect) {
          TGeometryInput in = Input(s.w, s.h, aspect, f[0], f[1], crop[0], crop[1], crop[2], crop[3]);
          in.PixelAspect = s.pixel_aspect;
          const auto g = ComputeGeometry(in, nullptr);
          ASSERT_TRUE(g.has_value());
          const int cw = g->Crop ? g->CropWidth : s.w;
          const int ch = g->Crop ? g->CropHeight : s.h;
          for (int v : {g->CropWidth, g->CropHeight, g->CropX, g->CropY, g->PadWidth, g->PadHeight, g->PadX, g->PadY})
            EXPECT_EQ(v % 2, 0) << "odd value for " << s.w << "x" << s.h;
          const int pw = g->Pad ? g->PadWidth : cw;
          const int ph = g->Pad ? g->PadHeight : ch;
          EXPECT_GE(pw, cw);
          EXPECT_GE(ph, ch);
          // Size of the picture inside the output frame, in output pixels.
          const double shown_w = static_cast<double>(cw) * f[0] / pw;
          const double shown_h = static_cast<double>(ch) * f[1] / ph;
          const double wanted = DisplayAspectOf(aspect, cw, ch, s.pixel_aspect, f[0], f[1]);
          // Even rounding moves an edge by at most 2 source pixels.
          const double tolerance = 2.5 * std::max(static_cast<double>(f[0]) / pw, static_cast<double>(f[1]) / ph) /
                                   std::min(shown_w, shown_h) * wanted + 0.002;
          EXPECT_NEAR(shown_w / shown_h, wanted, tolerance)
              << s.w << "x" << s.h << " crop " << crop[0] << " aspect " << aspect << " in " << f[0] << "x" << f[1];
        }
      }
    }
  }
}

TEST(PictureGeometry, RefusesWhatLeavesNoPicture) {
  const TGeometryInput bad[] = {
      Input(320, 240, acKeepOriginal, 320, 240, 200, 0, 200, 0),  // crop wider than the picture
      Input(320, 240, acKeepOriginal, 320, 240, 0, 120, 0, 120),  // nothing left
      Input(320, 240, acKeepOriginal, 0, 240),                    // no frame width
      Input(-1, -1, acKeepOriginal, 320, 240),                    // no source picture
  };
  for (const TGeometryInput& in : bad) {
    QString error;
    EXPECT_FALSE(ComputeGeometry(in, &error).has_value());
    EXPECT_FALSE(error.isEmpty());
  }
}

TEST(PictureGeometry, WithoutCropAndPadOnlyScales) {
  TGeometryInput in = Input(1280, 720, acSixteenNine, 320, 240, 8, 8, 8, 8);
  in.CropAndPad = false;
  const auto g = ComputeGeometry(in, nullptr);
  ASSERT_TRUE(g.has_value());
  EXPECT_EQ(g->Filters().join(',').toStdString(), "scale=320:240,setsar=1");
}
