// The loop's small pieces: frame-rate synchronisation and the progress report.
#include <gtest/gtest.h>

#include "transcode/frame_rate_sync.h"
#include "transcode/progress_report.h"

extern "C" {
#include <libavutil/avutil.h>
}

namespace vidmill {
namespace {

struct SyncCase {
  const char* name;
  int vsync;
  bool variable_muxer;
  double sync_time;
  int64_t next_pts;
  int count;
  int64_t next_after;
};

class FrameRateSync : public ::testing::TestWithParam<SyncCase> {};

TEST_P(FrameRateSync, CountsAndRetimes) {
  const SyncCase& c = GetParam();
  int64_t next = c.next_pts;
  const TFrameCount n = CountFrames(c.vsync, c.variable_muxer, c.sync_time, &next);
  EXPECT_EQ(n.count, c.count);
  EXPECT_EQ(n.dropped, c.count == 0);
  EXPECT_EQ(n.duplicates, c.count > 1 ? c.count - 1 : 0);
  EXPECT_EQ(next, c.next_after);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, FrameRateSync,
    ::testing::Values(
        SyncCase{"OnTime", vsAuto, false, 10.0, 10, 1, 10},
        SyncCase{"PassThroughTakesTheInputTime", vsPassThrough, false, 13.4, 10, 1, 13},
        SyncCase{"ConstantDuplicatesAGap", vsConstant, false, 13.0, 10, 3, 10},
        SyncCase{"ConstantKeepsASmallLead", vsConstant, false, 11.0, 10, 1, 10},
        SyncCase{"ConstantDropsWhatComesTooEarly", vsConstant, false, 8.8, 10, 0, 10},
        SyncCase{"AutoWithoutVariableRateIsConstant", vsAuto, false, 12.2, 10, 2, 10},
        SyncCase{"AutoWithVariableRateRetimesAGap", vsAuto, true, 13.0, 10, 1, 13},
        SyncCase{"VariableDropsWhatComesEarly", vsVariable, false, 9.3, 10, 0, 10},
        SyncCase{"VariableKeepsASmallLag", vsVariable, false, 9.5, 10, 1, 10},
        SyncCase{"VariableNeverDuplicates", vsVariable, false, 20.0, 10, 1, 20}),
    [](const ::testing::TestParamInfo<SyncCase>& info) { return std::string(info.param.name); });

TReportStream Video(int64_t frames, double time_s, int quality = 2 * FF_QP2LAMBDA) {
  TReportStream s;
  s.video = true;
  s.show_fps = true;
  s.frames = frames;
  s.time_s = time_s;
  s.quality = quality;
  return s;
}

TReportStream Audio(double time_s) {
  TReportStream s;
  s.time_s = time_s;
  return s;
}

TEST(ProgressReport, FiguresOfAVideoOutput) {
  TReportInput in;
  in.has_receiver = true;
  in.elapsed_s = 2.0;
  in.total_size = 250000;
  in.total_duration = 4000000;
  in.file_index = 0;
  in.streams = {Video(50, 2.0), Audio(2.1)};
  TQpHistogram hist;
  const TReportOutput out = BuildReport(in, &hist);
  ASSERT_FALSE(out.skipped);
  EXPECT_TRUE(out.send);
  EXPECT_EQ(out.figures.frame_number, 50);
  EXPECT_EQ(out.figures.fps, 25);
  EXPECT_FLOAT_EQ(out.figures.quality, 2.0f);
  EXPECT_EQ(out.figures.current_duration, 2000000);  // the smaller of the two times
  EXPECT_EQ(out.figures.current_size, 250000);
  EXPECT_NEAR(out.figures.bit_rate, 1000.0, 0.01);
  EXPECT_EQ(out.figures.total_duration, 4000000);
  EXPECT_EQ(out.line, "frame=   50 fps= 25 q=2.0 size=     244kB time=2.00 bitrate=1000.0kbits/s");
}

TEST(ProgressReport, AVideoStreamWithoutFramesGivesNoReport) {
  TReportInput in;
  in.has_receiver = true;
  in.streams = {Video(0, 0), Audio(1.0)};
  TQpHistogram hist;
  EXPECT_TRUE(BuildReport(in, &hist).skipped);
}

TEST(ProgressReport, AudioOnlyHasNoFrameFigures) {
  TReportInput in;
  in.has_receiver = true;
  in.streams = {Audio(1.5)};
  TQpHistogram hist;
  const TReportOutput out = BuildReport(in, &hist);
  EXPECT_EQ(out.figures.frame_number, -1);
  EXPECT_EQ(out.figures.fps, -1);
  EXPECT_EQ(out.figures.quality, -1);
  EXPECT_EQ(out.figures.current_duration, 1500000);
}

TEST(ProgressReport, TimeStartsFromZeroNotFromAHugeValue) {
  TReportInput in;
  in.has_receiver = true;
  in.total_size = 1000;
  in.streams = {Audio(0), Audio(-1)};
  TQpHistogram hist;
  const TReportOutput out = BuildReport(in, &hist);
  EXPECT_EQ(out.figures.current_duration, 10000);  // at least 0.01 s
  EXPECT_NEAR(out.figures.bit_rate, 800.0, 0.01);
}

TEST(ProgressReport, FirstSecondSpeedIsZeroAndDupDropShown) {
  TReportInput in;
  in.has_receiver = true;
  in.elapsed_s = 0.5;
  in.dup = 3;
  in.drop = 1;
  in.is_last = true;
  in.streams = {Video(12, 0.5)};
  TQpHistogram hist;
  const TReportOutput out = BuildReport(in, &hist);
  EXPECT_EQ(out.figures.fps, 0);
  EXPECT_NE(out.line.find("q=2.0 L"), std::string::npos);
  EXPECT_NE(out.line.find(" dup=3 drop=1"), std::string::npos);
}

TEST(ProgressReport, WithoutReceiverTheLineIsLogged) {
  TReportInput in;
  in.verbose = 1;
  in.streams = {Video(5, 0.2)};
  TQpHistogram hist;
  const TReportOutput out = BuildReport(in, &hist);
  EXPECT_FALSE(out.send);
  EXPECT_TRUE(out.log_line);
}

TEST(ProgressReport, QuantiserHistogramIgnoresValuesOutOfRange) {
  TQpHistogram hist;
  for (int q : {-1, 52, 60, 1000}) hist.Count(q);
  EXPECT_EQ(hist.Text(), std::string(32, '0'));
  for (int i = 0; i < 3; ++i) hist.Count(2);
  hist.Count(31);
  std::string expected(32, '0');
  expected[2] = '2';   // log2(3 + 1)
  expected[31] = '1';  // log2(1 + 1)
  EXPECT_EQ(hist.Text(), expected);
}

TEST(ProgressReport, FinalSizeLineNeverDividesByZero) {
  EXPECT_EQ(FinalSizeLine(0, 0, 0, 1024), "video:0kB audio:0kB global headers:0kB muxing overhead unknown");
  EXPECT_EQ(FinalSizeLine(1024, 1024, 0, 4096),
            "video:1kB audio:1kB global headers:0kB muxing overhead 100.000000%");
}

TEST(ProgressReport, PsnrOfTheLastFrame) {
  EXPECT_NEAR(PsnrOf(100 * 100 * 255.0 * 255.0 / 1000.0, 100 * 100), 30.0, 1e-9);
  EXPECT_EQ(PsnrOf(0, 100), 99.99);
}

}  // namespace
}  // namespace vidmill
