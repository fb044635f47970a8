// The conversion list without windows: texts, size estimates, destination
// titles, output names, snapshot names, progress figures and outcomes.
#include <gtest/gtest.h>

#include <tuple>

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QSet>
#include <QTemporaryDir>

#include "catalogue/profile_types.h"
#include "main/list_texts.h"
#include "main/output_names.h"
#include "main/run_progress.h"
#include "main/size_estimate.h"
#include "main/snapshot_names.h"
#include "main/video_file.h"

using namespace vidmill;

TEST(ListTexts, DurationsAreHoursMinutesSecondsUnwrapped) {
  const std::pair<int64_t, const char*> cases[] = {
      {-1, "00:00:00"},           {0, "00:00:00"},
      {999999, "00:00:00"},       {205000000, "00:03:25"},
      {3600000000LL, "01:00:00"}, {25LL * 3600 * 1000000 + 61000000, "25:01:01"},
      {100LL * 3600 * 1000000, "100:00:00"},
  };
  for (const auto& [us, text] : cases) EXPECT_EQ(DurationText(us).toStdString(), text) << us;
}

TEST(ListTexts, SizesHaveTwoDecimalsInTheLocaleWithoutGrouping) {
  const QLocale saved;
  const std::tuple<QLocale::Language, QLocale::Territory, double, const char*> cases[] = {
      {QLocale::English, QLocale::UnitedStates, 7.2, "7.20 MB"},
      {QLocale::English, QLocale::UnitedStates, 12345.678, "12345.68 MB"},
      {QLocale::German, QLocale::Germany, 12345.678, "12345,68 MB"},
      {QLocale::C, QLocale::AnyTerritory, 0.0, "0.00 MB"},
  };
  for (const auto& [language, territory, mb, text] : cases) {
    QLocale::setDefault(QLocale(language, territory));
    EXPECT_EQ(SizeText(mb).toStdString(), text) << mb;
  }
  QLocale::setDefault(saved);
}

TEST(SizeEstimate, MegabytesFromBitRatesAndTrimmedLength) {
  TFormat video;
  video.VideoBitRate = "768000";
  video.AudioBitRate = "192000";
  video.IsAudioFormat = "0";
  TFormat audio = video;
  audio.IsAudioFormat = "1";
  TFormat broken = video;
  broken.VideoBitRate = "fast";

  TVideoFile e;
  e.TrimmedLength = 60'000'000;
  ASSERT_TRUE(EstimateSizeMB(e, video).has_value());
  EXPECT_DOUBLE_EQ(*EstimateSizeMB(e, video), 7.2);   // 960 kbit/s for 60 s = 7 200 000 bytes
  EXPECT_DOUBLE_EQ(*EstimateSizeMB(e, audio), 1.44);  // the video part is left out
  e.TrimmedLength = 1'500'000;                        // fractions of a second count
  EXPECT_DOUBLE_EQ(*EstimateSizeMB(e, video), 0.18);
  e.TrimmedLength = 30LL * 3600 * 1000000;            // past 24 hours
  EXPECT_DOUBLE_EQ(*EstimateSizeMB(e, audio), 192000.0 * 30 * 3600 / 8 / 1e6);
  e.TrimmedLength = -1;
  EXPECT_DOUBLE_EQ(*EstimateSizeMB(e, video), 0.0);
  e.TrimmedLength = 60'000'000;
  e.isSourceAudioFormat = true;                       // no picture to encode
  EXPECT_DOUBLE_EQ(*EstimateSizeMB(e, video), 1.44);

  e.EstimatedSize = 3.5;
  EXPECT_FALSE(UpdateEstimatedSize(e, broken));
  EXPECT_DOUBLE_EQ(e.EstimatedSize, 3.5);
}

TEST(DestinationTitle, RefusesWhatCouldLeaveTheOutputFolder) {
  for (const char* good : {"clip", "movie.final", "Ferien 2024 (Teil 1)", "a b"})
    EXPECT_TRUE(IsValidDestinationTitle(QString::fromUtf8(good))) << good;
  for (const char* bad : {"", "   ", "../x", "a/b", "a\\b", "..", "x..y", "tab\there", "new\nline"}) {
    QString reason;
    EXPECT_FALSE(IsValidDestinationTitle(QString::fromUtf8(bad), &reason)) << bad;
    EXPECT_FALSE(reason.isEmpty());
  }
}

TEST(OutputNames, NeverASourceNeverTwiceFreeNamesUnlessReplacing) {
  QTemporaryDir dir;
  const QString folder = dir.path();
  auto touch = [&](const QString& name) {
    QFile f(QDir(folder).filePath(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  };
  touch("clip.mp4");      // a source in the output folder
  touch("other.mp4");     // a file that is no source
  touch("other (2).mp4");
  const QStringList sources = {QDir(folder).filePath("clip.mp4")};

  TOutputNamer keep(sources, false);
  EXPECT_EQ(keep.Claim(folder, "clip", ".mp4"), QDir(folder).filePath("clip (2).mp4"));
  EXPECT_EQ(keep.Claim(folder, "clip", ".mp4"), QDir(folder).filePath("clip (3).mp4"));
  EXPECT_EQ(keep.Claim(folder, "other", ".mp4"), QDir(folder).filePath("other (3).mp4"));
  EXPECT_EQ(keep.Claim(folder, "clip", ".mkv"), QDir(folder).filePath("clip.mkv"));

  TOutputNamer replace(sources, true);
  EXPECT_EQ(replace.Claim(folder, "clip", ".mp4"), QDir(folder).filePath("clip (2).mp4"));  // still never the source
  EXPECT_EQ(replace.Claim(folder, "other", ".mp4"), QDir(folder).filePath("other.mp4"));
  EXPECT_EQ(replace.Claim(folder, "other", ".mp4"), QDir(folder).filePath("other (2).mp4"));  // not twice in a run

  // The same source named another way is still recognised.
  TOutputNamer dotted({folder + "/./clip.mp4"}, true);
  EXPECT_EQ(dotted.Claim(folder, "clip", ".mp4"), QDir(folder).filePath("clip (2).mp4"));
}

TEST(SnapshotNames, SkipToTheFirstUnusedNumberAndRefuseNoFolder) {
  QSet<QString> files = {"/shots/clip_1.jpg", "/shots/clip_2.jpg", "/shots/clip_4.jpg"};
  auto exists = [&](const QString& p) { return files.contains(p); };
  auto name = NextSnapshotName("/shots", "clip", ".jpg", 1, exists);
  ASSERT_TRUE(name.has_value());
  EXPECT_EQ(name->Path, "/shots/clip_3.jpg");
  EXPECT_EQ(name->Number, 3);
  files.insert(name->Path);
  EXPECT_EQ(NextSnapshotName("/shots", "clip", ".jpg", name->Number + 1, exists)->Path, "/shots/clip_5.jpg");
  EXPECT_EQ(NextSnapshotName("/shots", "clip", ".bmp", 1, exists)->Path, "/shots/clip_1.bmp");
  EXPECT_FALSE(NextSnapshotName("", "clip", ".jpg", 1, exists).has_value());
  EXPECT_FALSE(NextSnapshotName("/shots", "", ".jpg", 1, exists).has_value());
}

TEST(RunProgress, GaugesOfTasksAndRun) {
  EXPECT_EQ(CurrentTaskPercent(5'000'000, 10'000'000), 50);
  EXPECT_EQ(TotalPercent(0, 2, 5'000'000, 10'000'000), 25);
  EXPECT_EQ(TotalPercent(1, 2, 5'000'000, 10'000'000), 75);
  EXPECT_EQ(CurrentTaskPercent(10'000'000, 10'000'000), 100);
  EXPECT_EQ(TotalPercent(2, 3, 10'000'000, 10'000'000), 100);
  // An input without a stated duration: gauges stay readable.
  for (int64_t total : {0LL, -1LL}) {
    EXPECT_EQ(CurrentTaskPercent(5'000'000, total), 0);
    EXPECT_EQ(TotalPercent(1, 2, 5'000'000, total), 50);
  }
  EXPECT_EQ(CurrentTaskPercent(12'000'000, 10'000'000), 100);  // never past 100
  EXPECT_EQ(RemainingMs(10'000, 0.25), 30'000);
  EXPECT_EQ(RemainingMs(500, 0.5), -1);
  EXPECT_EQ(ClockText(3'725'000).toStdString(), "01:02:05");
  EXPECT_EQ(ClockText(-1).toStdString(), "--:--:--");
}

TEST(RunOutcome, LogsWhatReallyHappened) {
  TRunOutcome all_done(2);
  all_done.TaskEnded(0, true, false);
  all_done.TaskEnded(1, true, false);
  EXPECT_TRUE(all_done.Completed());
  EXPECT_EQ(all_done.FinalText().toStdString(), "Conversion successfully done.");

  TRunOutcome one_failed(3);
  one_failed.TaskEnded(0, true, false);
  one_failed.TaskEnded(1, false, true);   // an exception
  one_failed.TaskEnded(2, true, false);
  EXPECT_FALSE(one_failed.Completed());
  EXPECT_EQ(one_failed.FinalText().toStdString(), "Conversion finished: 1 of 3 tasks failed.");

  TRunOutcome silent(1);
  silent.TaskEnded(0, false, false);      // did not finish, no exception, nobody cancelled
  EXPECT_EQ(silent.Failed(), 1);

  TRunOutcome cancelled(3);
  cancelled.TaskEnded(0, true, false);
  cancelled.SetCancelled();
  cancelled.TaskEnded(1, false, false);
  cancelled.TaskEnded(2, false, false);
  EXPECT_FALSE(cancelled.Completed());
  EXPECT_EQ(cancelled.Failed(), 0);
  EXPECT_EQ(cancelled.FinalText().toStdString(), "Conversion cancelled.");
}
