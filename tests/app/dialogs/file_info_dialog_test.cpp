// The file information dialog: texts from the probe's stream records.
#include "dialogs/file_info_dialog.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "catalogue_fixture.h"
#include "probe/ff_decode.h"
#include "test_media.h"

using namespace vidmill;
using vidmill::testing::Clip;
using vidmill::testing::ClipSpec;
using vidmill::testing::MakeClip;
using vidmill::testing::MediaPath;
using vidmill::testing::TRecordingSink;

namespace {

TEST(FileInfoTexts, FrameRatesRoundToTheNearestWithTiesToEven) {
  struct Case {
    int num, den;
    const char* text;
  };
  for (Case c : {Case{30000, 1001, "30 fps"}, Case{25, 1, "25 fps"}, Case{24000, 1001, "24 fps"},
                 Case{25, 2, "12 fps"}, Case{27, 2, "14 fps"}, Case{60000, 1001, "60 fps"}}) {
    EXPECT_EQ(FramesPerSecondText(c.num, c.den), c.text) << c.num << "/" << c.den;
  }
  EXPECT_THROW(FramesPerSecondText(25, 0), std::domain_error);
  EXPECT_EQ(KiloBitsText(192000), "192 Kb");
  EXPECT_EQ(KiloBitsText(0), "is not preseted");
  EXPECT_EQ(KiloBitsText(-1), "is not preseted");
  EXPECT_EQ(MediaLengthText(2000000), "00:00:02");
  EXPECT_EQ(MediaLengthText(int64_t{90061} * 1000000), "25:01:01");
}

class FileInfo : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(decoder.LoadAVLib("")) << decoder.LastErrMsg(); }
  TFFDecoder decoder;
  TRecordingSink sink;
  TFileInfoDialog dialog{sink};
};

TEST_F(FileInfo, ShowsTheSourcesStreams) {
  ASSERT_TRUE(dialog.Load(decoder, QString::fromStdString(MediaPath(Clip::Mp4H264Aac))));
  EXPECT_EQ(dialog.windowTitle(), "File Information");
  EXPECT_EQ(dialog.Value(TFileInfoDialog::vFileName), "h264_aac.mp4");
  EXPECT_EQ(dialog.Value(TFileInfoDialog::vMediaLength), "00:00:02");
  EXPECT_EQ(dialog.Value(TFileInfoDialog::vResolution), "320x240");
  EXPECT_EQ(dialog.Value(TFileInfoDialog::vFrameRate), "25 fps");
  EXPECT_TRUE(dialog.Value(TFileInfoDialog::vVideoBitRate).endsWith(" Kb"));
  EXPECT_EQ(dialog.Value(TFileInfoDialog::vSampleRate), "44100 Hz");
  EXPECT_EQ(dialog.Value(TFileInfoDialog::vChannels), "2 channel");
  EXPECT_TRUE(sink.reports.isEmpty());
}

TEST_F(FileInfo, NtscRateShowsItsRoundedValueAndAudioOnlyKeepsTheVideoLabels) {
  ClipSpec s;
  s.name = "ntsc.mp4";
  s.rate = "30000/1001";
  s.seconds = 1.0;
  s.sample_rate = 0;
  s.codec_args = {"-c:v", "libx264"};
  ASSERT_TRUE(dialog.Load(decoder, QString::fromStdString(MakeClip(s))));
  EXPECT_EQ(dialog.Value(TFileInfoDialog::vFrameRate), "30 fps");
  ASSERT_TRUE(dialog.Load(decoder, QString::fromStdString(MediaPath(Clip::WavPcm))));
  EXPECT_EQ(dialog.Value(TFileInfoDialog::vFrameRate), "30 fps");
  EXPECT_EQ(dialog.Value(TFileInfoDialog::vSampleRate), "44100 Hz");
  EXPECT_EQ(dialog.Value(TFileInfoDialog::vAudioBitRate), "1411 Kb");  // 44100 x 2 x 16
}

TEST_F(FileInfo, UnreadableSourceIsReportedAndNotShown) {
  QStringList plain;
  dialog.AddLogLine = [&](const QString& line) { plain.append(line); };
  const QString path = QString::fromStdString(MediaPath(Clip::RandomBytes));
  EXPECT_FALSE(dialog.Load(decoder, path));
  ASSERT_EQ(sink.reports.size(), 1);
  EXPECT_TRUE(sink.reports[0].first.startsWith("The information for this media is unavailable."));
  EXPECT_GT(sink.reports[0].first.size(), QString("The information for this media is unavailable.").size());
  EXPECT_EQ(sink.reports[0].second, "CLM_ProbeLoadFile");
  ASSERT_EQ(sink.events.size(), 1);
  EXPECT_TRUE(sink.events[0].startsWith("File load error: "));
  EXPECT_EQ(plain, QStringList({"", ""}));
  EXPECT_FALSE(dialog.isVisible());
}

}  // namespace
