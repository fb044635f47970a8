// What the trim and crop dialogs write, converted: the output must show it.
// Trim -> the trimmed duration; crop -> the cropped size with the chosen
// aspect; brightness +50 -> the output's luma raised as the filter's
// formula says. The entries are edited through the dialogs, turned into
// the option lines job assembly gives them, and converted by vidmill-cli.
#include <gtest/gtest.h>

#ifndef VIDMILL_CLI

TEST(EditConversion, TrimCropAndBrightnessShowInTheOutput) {
  GTEST_SKIP() << "the transcoder's encoder component and its command line (vidmill-cli convert) are not "
                  "built yet";
}

#else

#include <QTest>

#include <cmath>
#include <cstdio>

#include "catalogue_fixture.h"
#include "core/ff_load.h"
#include "editing/crop_dialog.h"
#include "editing/trim_dialog.h"
#include "probe/frame_decoder.h"
#include "test_media.h"

using namespace vidmill;
using vidmill::testing::Clip;
using vidmill::testing::MediaDir;
using vidmill::testing::MediaPath;
using vidmill::testing::RunCommand;
using vidmill::testing::TRecordingSink;

namespace {

std::string Convert(const std::string& source, const std::string& name, const std::vector<std::string>& lines) {
  const std::string target = MediaDir() + "/" + name;
  std::string cmd = std::string(VIDMILL_CLI) + " convert '" + source + "' --output '" + target + "'";
  for (const std::string& l : lines) cmd += " -o '" + l + "'";
  return RunCommand(cmd + " > /dev/null 2>&1") == 0 ? target : "";
}

// Mean of the luma plane of every picture of a file.
double MeanLumaOf(const std::string& path, int* pictures = nullptr, int* width = nullptr, int* height = nullptr) {
  TFrameDecoder d;
  if (!d.LoadFile(path)) return -1;
  double sum = 0;
  int64_t n = 0;
  int count = 0;
  while (d.Decode()) {
    const TFrameInfo& f = d.FrameInfo();
    for (int y = 0; y < f.Height; ++y) {
      for (int x = 0; x < f.Width; ++x) sum += f.Picture.data[0][y * f.Picture.linesize[0] + x];
    }
    n += int64_t{f.Width} * f.Height;
    ++count;
    if (width) *width = f.Width;
    if (height) *height = f.Height;
  }
  if (pictures) *pictures = count;
  return n ? sum / n : -1;
}

// The luma the brightness filter gives a source: p * c / 65536 + b, limited.
double ExpectedLumaAfterBrightness(const std::string& path, int brightness) {
  const int c = (0 + 100) * 65536 / 100;
  const int b = (brightness + 100) * 511 / 200 - 128 - c / 512;
  TFrameDecoder d;
  if (!d.LoadFile(path)) return -1;
  double sum = 0;
  int64_t n = 0;
  while (d.Decode()) {
    const TFrameInfo& f = d.FrameInfo();
    for (int y = 0; y < f.Height; ++y) {
      for (int x = 0; x < f.Width; ++x) {
        const int p = f.Picture.data[0][y * f.Picture.linesize[0] + x];
        sum += std::clamp(p * c / 65536 + b, 0, 255);
      }
    }
    n += int64_t{f.Width} * f.Height;
  }
  return n ? sum / n : -1;
}

// True once the command line knows "convert".
bool CliConverts() {
  const std::string cmd = std::string(VIDMILL_CLI) + " convert 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return false;
  std::string text;
  char buf[256];
  while (fgets(buf, sizeof buf, p)) text += buf;
  pclose(p);
  return text.find("unknown command") == std::string::npos;
}

class EditConversion : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!CliConverts()) GTEST_SKIP() << "the transcoder's command line cannot convert yet (vidmill-cli convert)";
    ASSERT_TRUE(TFFLoader::Instance().Load(kEncoderLibraries));
  }
  TRecordingSink sink;
  std::string source = MediaPath(Clip::Mp4H264Aac);  // 320x240, 25 fps, 2 s
};

TEST_F(EditConversion, TrimmedEntryConvertsToTheTrimmedDuration) {
  TTrimDialog trim(sink);
  trim.Begin(QString::fromStdString(source), {0, 2000000, 2000000});
  ASSERT_TRUE(trim.TypeStart("00:00:01"));
  trim.Player().Pause();
  trim.SeekTrack(750);
  trim.SetEndFromPosition();
  ASSERT_TRUE(trim.Confirm());
  const int64_t length = trim.TrimEnd() - trim.TrimStart();
  ASSERT_GT(length, 400000);
  const std::string out = Convert(source, "trimmed.mp4",
                                  {"ss=" + std::to_string(trim.TrimStart() / 1e6), "t=" + std::to_string(length / 1e6),
                                   "vcodec=mpeg4", "acodec=aac"});
  ASSERT_FALSE(out.empty());
  int pictures = 0;
  MeanLumaOf(out, &pictures);
  EXPECT_NEAR(pictures, length / 40000.0, 1.5);
}

TEST_F(EditConversion, CroppedEntryConvertsToTheCroppedSizeWithTheChosenAspect) {
  TCropDialog crop(sink);
  crop.Begin(QString::fromStdString(source), {});
  crop.Pause();
  crop.TypeCrop(40, 30, 240, 180);
  crop.ChooseAspect(3);
  crop.Apply();
  const TCropValues v = crop.Values();
  const int cw = 320 - v.CropLeft - v.CropRight, ch = 240 - v.CropTop - v.CropBottom;
  const std::string chain = "crop=" + std::to_string(cw) + ":" + std::to_string(ch) + ":" +
                            std::to_string(v.CropLeft) + ":" + std::to_string(v.CropTop) + ",scale=" +
                            std::to_string(cw) + ":" + std::to_string(ch);
  const std::string out = Convert(source, "cropped.mp4", {"vf=" + chain, "aspect=16:9", "vcodec=mpeg4", "an=1"});
  ASSERT_FALSE(out.empty());
  int w = 0, h = 0;
  MeanLumaOf(out, nullptr, &w, &h);
  EXPECT_EQ(w, cw);
  EXPECT_EQ(h, ch);
  TFrameDecoder d;
  ASSERT_TRUE(d.LoadFile(out));
  EXPECT_NEAR(d.FirstVideoStreamInfo().AspectRatio, 16.0 / 9.0, 0.01);
}

TEST_F(EditConversion, BrightnessPlusFiftyRaisesTheLumaByTheFiltersAmount) {
  TCropDialog crop(sink);
  crop.Begin(QString::fromStdString(source), {});
  crop.Pause();
  crop.SetBrightness(50);
  crop.Apply();
  ASSERT_EQ(crop.Values().Brightness, 50);
  const std::string out =
      Convert(source, "brighter.mp4", {"vf=nativeeq=" + std::to_string(crop.Values().Brightness) + ":0",
                                      "vcodec=mpeg4", "b=4000000", "an=1"});
  ASSERT_FALSE(out.empty());
  const double before = MeanLumaOf(source);
  const double after = MeanLumaOf(out);
  const double expected = ExpectedLumaAfterBrightness(source, 50);
  EXPECT_GT(after, before + 30);
  EXPECT_NEAR(after, expected, 2.0);
}

}  // namespace

#endif
