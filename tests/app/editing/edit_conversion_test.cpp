// What the trim and crop dialogs write, converted by the main window through
// the engine's encoder: the output must show it. Trim -> the trimmed
// duration; crop at 16:9 -> the cropped picture shown at 16:9 inside the
// format's frame; brightness +50 -> the luma raised as the filter's
// formula says.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDirIterator>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <vector>

#include "catalogue/catalogue.h"
#include "editing/attach_dialogs.h"
#include "editing/crop_dialog.h"
#include "editing/trim_dialog.h"
#include "main/conv_form.h"
#include "main/conversion_list.h"
#include "main/format_lookup.h"
#include "probe/frame_decoder.h"
#include "test_media.h"
#include "window_fixture.h"

using namespace vidmill;
using namespace vidmill::testing;

namespace {

// Luma figures of every picture of a file.
struct TLuma {
  int pictures = 0;
  int width = 0, height = 0;
  double mean = -1;
  std::vector<double> row_means;  // mean of each row over all pictures
};

// With a brightness, the figures the brightness filter's formula gives the
// file's pictures: p * c / 65536 + b (contrast 0), limited to 0..255.
TLuma LumaOf(const QString& path, int brightness_formula = -1000) {
  TLuma l;
  TFrameDecoder d;
  if (!d.LoadFile(path.toStdString())) return l;
  double sum = 0;
  int64_t n = 0;
  const int c = 65536;
  const int b = (brightness_formula + 100) * 511 / 200 - 128 - c / 512;
  while (d.Decode()) {
    const TFrameInfo& f = d.FrameInfo();
    if (l.row_means.empty()) l.row_means.assign(f.Height, 0.0);
    for (int y = 0; y < f.Height; ++y) {
      double row = 0;
      for (int x = 0; x < f.Width; ++x) {
        int p = f.Picture.data[0][y * f.Picture.linesize[0] + x];
        if (brightness_formula > -1000) p = std::clamp(p * c / 65536 + b, 0, 255);
        row += p;
      }
      l.row_means[y] += row / f.Width;
      sum += row;
    }
    n += int64_t{f.Width} * f.Height;
    ++l.pictures;
    l.width = f.Width;
    l.height = f.Height;
  }
  for (double& r : l.row_means) r /= std::max(l.pictures, 1);
  l.mean = n ? sum / n : -1;
  return l;
}

double MeanOfRows(const TLuma& l, int from, int to) {
  double s = 0;
  for (int y = from; y < to; ++y) s += l.row_means[y];
  return s / (to - from);
}

class EditConversion : public TWindowFixture {
 protected:
  void SetUp() override {
    TWindowFixture::SetUp();
    if (!MakeEncoderConverter()) GTEST_SKIP() << "this build has no encoder component (engine/transcode) yet";
    window_ = MakeWindow();
    AttachDialogs(*window_);
    window_->SetOutputFolder(out_.path());
    window_->ProgressWindow().cbOpenOutput->setChecked(false);
    window_->AddFiles({QString::fromStdString(source_)});
    ASSERT_EQ(window_->List().Count(), 1);
    window_->SelectEntry(0);
    // A 320x240 MPEG-4 format: the output keeps the source's size.
    QString error;
    const auto format = FindProfile(window_->Catalogue(), "Portable Players/MPEG-4 MP4 320x240", &error);
    ASSERT_TRUE(format.has_value()) << error.toStdString();
    window_->ApplyChosenFormat(*format);
  }
  const TVideoFile& Entry() { return *window_->List().Entry(0); }
  QString RunToEnd() {
    window_->StartConversion();
    if (!window_->Running()) return {};
    if (!SpinUntil([&] { return !window_->Running(); }, 90000)) return {};
    QDirIterator it(out_.path(), QDir::Files);
    return it.hasNext() ? it.next() : QString();
  }

  std::string source_ = MediaPath(Clip::Mp4H264Aac);  // 320x240, 25 fps, 2 s
  std::unique_ptr<TMainForm> window_;
  QTemporaryDir out_;
};

TEST_F(EditConversion, TrimmedEntryConvertsToTheTrimmedDuration) {
  WhenShown<TTrimDialog>([](TTrimDialog& d) {
    d.Player().Pause();
    d.SeekTrack(250);
    d.SetStartFromPosition();
    d.SeekTrack(750);
    d.SetEndFromPosition();
    d.Confirm();
  });
  QTest::mouseClick(window_->btnTrim, Qt::LeftButton);
  const int64_t length = Entry().TrimmedLength;
  ASSERT_NEAR(length, 1000000, 120000);
  const QString out = RunToEnd();
  ASSERT_FALSE(out.isEmpty());
  const TLuma luma = LumaOf(out);
  EXPECT_NEAR(luma.pictures, length / 40000.0, 2.0);
}

TEST_F(EditConversion, CroppedEntryConvertsToTheCroppedPictureAtTheChosenAspect) {
  WhenShown<TCropDialog>([](TCropDialog& d) {
    d.Pause();
    d.TypeCrop(40, 30, 240, 180);
    d.ChooseAspect(3);  // 16:9
    d.Apply();
    d.accept();
  });
  QTest::mouseClick(window_->btnEdit, Qt::LeftButton);
  ASSERT_EQ(Entry().CropLeft, 40);
  ASSERT_EQ(Entry().AspectRatio, 3);
  const QString out = RunToEnd();
  ASSERT_FALSE(out.isEmpty());
  TFrameDecoder probe;
  ASSERT_TRUE(probe.LoadFile(out.toStdString()));
  const TVideoStreamInfo v = probe.FirstVideoStreamInfo();
  EXPECT_EQ(v.Width, 320);
  EXPECT_EQ(v.Height, 240);
  // The 240x180 (4:3) crop shown at 16:9 inside the 4:3 frame fills a band
  // of 240 * (4/3) / (16/9) = 180 of the 240 rows; the rest is black above
  // and below.
  const TLuma luma = LumaOf(out);
  ASSERT_EQ(luma.height, 240);
  const double band = 240.0 * (4.0 / 3.0) / (16.0 / 9.0);
  const int pad = static_cast<int>((240 - band) / 2);  // 30 rows above and below
  EXPECT_LT(MeanOfRows(luma, 0, pad - 6), 25.0);
  EXPECT_LT(MeanOfRows(luma, 240 - pad + 6, 240), 25.0);
  EXPECT_GT(MeanOfRows(luma, pad + 10, 240 - pad - 10), 60.0);
}

TEST_F(EditConversion, BrightnessPlusFiftyRaisesTheLumaByTheFiltersAmount) {
  WhenShown<TCropDialog>([](TCropDialog& d) {
    d.Pause();
    d.SetBrightness(50);
    d.Apply();
    d.accept();
  });
  QTest::mouseClick(window_->btnEdit, Qt::LeftButton);
  ASSERT_EQ(Entry().Brightness, 50);
  const QString out = RunToEnd();
  ASSERT_FALSE(out.isEmpty());
  const double before = LumaOf(QString::fromStdString(source_)).mean;
  const double expected = LumaOf(QString::fromStdString(source_), 50).mean;
  const double after = LumaOf(out).mean;
  EXPECT_GT(after, before + 30);
  EXPECT_NEAR(after, expected, 3.0);
}

}  // namespace
