// The trim dialog driven as a user would, and the trim arithmetic.
#include "editing/trim_dialog.h"

#include <gtest/gtest.h>

#include <QTest>

#include "catalogue_fixture.h"
#include "core/ff_load.h"
#include "test_media.h"

using namespace vidmill;
using vidmill::testing::Clip;
using vidmill::testing::MediaPath;
using vidmill::testing::TRecordingSink;

namespace {

TEST(TrimValues, TypedTimesAreReadIn64BitsAndRefusedOutsideATimeOfDay) {
  struct Case {
    const char* text;
    int64_t us;  // -1: refused
  };
  for (Case c : {Case{"00:00:00", 0}, Case{"00:01:30", 90000000}, Case{"00:35:48", 2148000000LL},
                 Case{"01:00:00", 3600000000LL}, Case{"23:59:59", 86399000000LL}, Case{"24:00:00", -1},
                 Case{"00:60:00", -1}, Case{"00:00:61", -1}, Case{"ab:00:00", -1}, Case{"  :  :  ", -1},
                 Case{"1:2", -1}}) {
    const auto t = ParseTrimTime(c.text);
    if (c.us < 0) {
      EXPECT_FALSE(t.has_value()) << c.text;
    } else {
      ASSERT_TRUE(t.has_value()) << c.text;
      EXPECT_EQ(*t, c.us) << c.text;
    }
  }
  EXPECT_EQ(TrimTimeText(2148000000LL), "00:35:48");
  EXPECT_EQ(TrimTimeText(int64_t{90061} * 1000000), "25:01:01");
  EXPECT_EQ(ClampToDuration(5000000, 2000000), 2000000);
  EXPECT_EQ(ClampToDuration(-5, 2000000), 0);
  EXPECT_EQ(ClampToDuration(5000000, 0), 5000000);
}

TEST(TrimValues, HandlePositionsFollowTheTrackFormulaBothWays) {
  const int64_t duration = int64_t{3} * 3600 * 1000000;  // three hours: 32-bit products would overflow
  EXPECT_EQ(HandleX(0, duration, 456), 10);
  EXPECT_EQ(HandleX(duration, duration, 456), 466);
  EXPECT_EQ(HandleX(duration / 2, duration, 456), 238);
  EXPECT_EQ(TimeAtHandleX(238, duration, 456), duration / 2);
  EXPECT_EQ(TimeAtHandleX(466, duration, 456), duration);
  EXPECT_EQ(HandleX(1000, 0, 456), 10);  // no duration: no division
}

class TrimDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(TFFLoader::Instance().Load(kPlayerLibraries));
    dialog.Warn = [this](const QString& text) { warnings.append(text); };
  }
  void Open(const TTrimValues& values) {
    dialog.Begin(QString::fromStdString(MediaPath(Clip::Mp4H264Aac)), values);
    dialog.Player().Pause();
  }
  TRecordingSink sink;
  TTrimDialog dialog{sink};
  QStringList warnings;
};

TEST_F(TrimDialog, OpensWithTheEntrysMarksAndHandlesAtTheirTimes) {
  Open({500000, 1500000, 1000000});
  EXPECT_EQ(dialog.windowTitle(), "Trim");
  EXPECT_EQ(dialog.Duration() / 100000, 20);  // 2 s
  EXPECT_TRUE(dialog.HandlesShown());
  EXPECT_EQ(dialog.LeftHandleX(), HandleX(500000, dialog.Duration(), kTrimTrackWidth));
  EXPECT_EQ(dialog.RightHandleX(), HandleX(1500000, dialog.Duration(), kTrimTrackWidth));
  EXPECT_FALSE(dialog.StartPicture().isNull());  // the frame at the start mark
  EXPECT_EQ(dialog.StartPicture().size(), QSize(320, 240));
  EXPECT_TRUE(sink.reports.isEmpty());
}

TEST_F(TrimDialog, EqualMarksShowTheRightHandleElevenPixelsRight) {
  Open({1000000, 1000000, 0});
  EXPECT_EQ(dialog.RightHandleX() - dialog.LeftHandleX(), 11);
}

TEST_F(TrimDialog, TypedTimesSetTheMarksClampedToTheDurationAndOkWritesThem) {
  Open({0, 2000000, 2000000});
  ASSERT_TRUE(dialog.TypeStart("00:00:01"));
  ASSERT_TRUE(dialog.TypeEnd("05:00:00"));  // past the end: the end of the file
  EXPECT_EQ(dialog.TrimStart(), 1000000);
  EXPECT_EQ(dialog.TrimEnd(), dialog.Duration());
  EXPECT_FALSE(dialog.TypeStart("99:99:99"));
  EXPECT_EQ(warnings.size(), 1);
  EXPECT_EQ(dialog.TrimStart(), 1000000);
  EXPECT_TRUE(dialog.Confirm());
}

TEST_F(TrimDialog, EndBeforeStartIsRefusedOnOk) {
  Open({0, 2000000, 2000000});
  dialog.show();
  ASSERT_TRUE(dialog.TypeStart("00:00:01"));
  ASSERT_TRUE(dialog.TypeEnd("00:00:01"));  // the end pulls the start with it: an empty trim
  EXPECT_EQ(dialog.TrimStart(), dialog.TrimEnd());
  EXPECT_FALSE(dialog.Confirm());
  EXPECT_EQ(warnings.size(), 1);
  EXPECT_TRUE(dialog.isVisible());
  dialog.reject();
}

TEST_F(TrimDialog, SetStartAndEndTakeThePlayingPosition) {
  Open({0, 2000000, 2000000});
  dialog.SeekTrack(250);  // a quarter of the track
  dialog.SetStartFromPosition();
  EXPECT_NEAR(dialog.TrimStart(), 500000, 40000);
  dialog.SeekTrack(750);
  dialog.SetEndFromPosition();
  EXPECT_NEAR(dialog.TrimEnd(), 1500000, 40000);
  dialog.Reset();
  EXPECT_EQ(dialog.TrimStart(), 0);
  EXPECT_EQ(dialog.TrimEnd(), dialog.Duration());
}

TEST_F(TrimDialog, HandlesCannotPassEachOtherOrLeaveTheTrack) {
  Open({500000, 1500000, 1000000});
  const int right = dialog.RightHandleX();
  dialog.DragLeftHandle(right + 5);
  EXPECT_LT(dialog.LeftHandleX(), right);
  dialog.DragLeftHandle(5);
  EXPECT_GE(dialog.LeftHandleX(), 11);
  dialog.DragRightHandle(kTrimTrackWidth + 20);
  EXPECT_LE(dialog.RightHandleX(), kTrimTrackWidth + 10);
  dialog.DragLeftHandle(11);
  EXPECT_EQ(dialog.LeftHandleX(), 11);
  EXPECT_EQ(dialog.TrimStart(), TimeAtHandleX(11, dialog.Duration(), kTrimTrackWidth));
}

TEST_F(TrimDialog, SourceThatDoesNotOpenIsReportedAndLeavesNoHandles) {
  Open({0, 2000000, 2000000});
  dialog.Begin(QString::fromStdString(MediaPath(Clip::RandomBytes)), {0, -1, -1});
  ASSERT_EQ(sink.reports.size(), 1);
  EXPECT_TRUE(sink.reports[0].first.startsWith("Error open file: "));
  EXPECT_EQ(sink.reports[0].second, "CLM_FFPlayer2Open");
  EXPECT_EQ(dialog.Duration(), 0);  // not the earlier file's
  EXPECT_FALSE(dialog.HandlesShown());
  EXPECT_TRUE(dialog.StartPicture().isNull());  // nor its pictures at the marks
  EXPECT_TRUE(dialog.EndPicture().isNull());
  // The values can still be typed and stored.
  ASSERT_TRUE(dialog.TypeEnd("00:00:05"));
  EXPECT_EQ(dialog.TrimEnd(), 5000000);
  EXPECT_TRUE(dialog.Confirm());
}

TEST_F(TrimDialog, PlayTrimmedLoopsInsideTheTrim) {
  Open({1000000, 1400000, 400000});
  dialog.SeekTrack(500);  // paused at the trim start; play-trimmed resumes from there
  dialog.PlayTrimmed();
  EXPECT_TRUE(dialog.PlayTrimmedMode());
  int64_t lowest = INT64_MAX, highest = 0;
  for (int i = 0; i < 40; ++i) {
    QTest::qWait(25);
    const int64_t pos = dialog.Player().CurrentPTS();
    lowest = std::min(lowest, pos);
    highest = std::max(highest, pos);
  }
  EXPECT_GE(lowest, 1000000 - 40000);
  EXPECT_LE(highest, 1400000 + 80000);
  dialog.PauseToggle();
  EXPECT_FALSE(dialog.PlayTrimmedMode());
}

// A stream without a stated duration: there is no trim end to loop at, so
// "Play trimmed video" plays on instead of going back to the start for ever.
TEST_F(TrimDialog, PlayTrimmedWithoutADurationPlaysOn) {
  // Matroska written to a pipe has timed pictures but no duration.
  const std::string path = vidmill::testing::MediaDir() + "/piped_no_duration.mkv";
  ASSERT_EQ(vidmill::testing::RunCommand("ffmpeg -loglevel error -y -f lavfi -i testsrc2=s=320x240:r=25:d=2 "
                                         "-c:v libx264 -f matroska - > '" + path + "'"),
            0);
  dialog.Begin(QString::fromStdString(path), {0, -1, -1});
  ASSERT_TRUE(sink.reports.isEmpty());
  ASSERT_EQ(dialog.Duration(), 0);
  dialog.Player().Pause();
  const int64_t before = dialog.Player().CurrentPTS();
  dialog.PlayTrimmed();
  int64_t highest = before;
  for (int i = 0; i < 60 && highest < before + 200000; ++i) {
    QTest::qWait(25);
    highest = std::max(highest, dialog.Player().CurrentPTS());
  }
  EXPECT_GE(highest, before + 200000);
}

}  // namespace

#include "editing/thumbnail.h"

namespace {

TEST(Thumbnail, PictureOfASourceAtATime) {
  ASSERT_TRUE(TFFLoader::Instance().Load(kPlayerLibraries));
  const QString clip = QString::fromStdString(MediaPath(Clip::Mp4H264Aac));
  const QImage first = PictureOfSource(clip);
  ASSERT_FALSE(first.isNull());
  EXPECT_EQ(first.size(), QSize(320, 240));
  const QImage later = PictureOfSource(clip, 1000000, QSize(80, 80));
  EXPECT_EQ(later.size(), QSize(80, 60));
  EXPECT_NE(first.scaled(80, 60), later);  // the test pattern moves
  EXPECT_TRUE(PictureOfSource(QString::fromStdString(MediaPath(Clip::WavPcm))).isNull());
  EXPECT_TRUE(PictureOfSource(QString::fromStdString(MediaPath(Clip::RandomBytes))).isNull());
}

}  // namespace

#include <QLineEdit>
#include <QPushButton>

namespace {

// Typing into the time edits and pressing their "OK" buttons, then "OK".
TEST_F(TrimDialog, TypedTimesThroughTheEditsAndButtons) {
  Open({0, 2000000, 2000000});
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  QList<QLineEdit*> edits = dialog.findChildren<QLineEdit*>();
  ASSERT_EQ(edits.size(), 2);
  QList<QPushButton*> oks;
  for (QPushButton* b : dialog.findChildren<QPushButton*>()) {
    if (b->text() == "OK") oks.append(b);
  }
  ASSERT_EQ(oks.size(), 3);  // start, end, and the dialog's own
  edits[1]->selectAll();
  QTest::keyClicks(edits[1], "000001");  // the mask makes it 00:00:01
  QTest::mouseClick(oks[1], Qt::LeftButton);
  EXPECT_EQ(dialog.TrimEnd(), 1000000);
  EXPECT_EQ(dialog.TrimStart(), 0);
  edits[0]->selectAll();
  QTest::keyClicks(edits[0], "000002");  // after the end: the end follows
  QTest::mouseClick(oks[0], Qt::LeftButton);
  EXPECT_EQ(dialog.TrimStart(), 2000000 <= dialog.Duration() ? 2000000 : dialog.Duration());
  EXPECT_EQ(dialog.TrimEnd(), dialog.TrimStart());
  QTest::mouseClick(oks[2], Qt::LeftButton);  // an empty trim: refused
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(warnings.size(), 1);
  edits[0]->selectAll();
  QTest::keyClicks(edits[0], "000000");
  QTest::mouseClick(oks[0], Qt::LeftButton);
  QTest::mouseClick(oks[2], Qt::LeftButton);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

}  // namespace

namespace {

// Sounds are trimmed too: a position and marks, but no pictures.
TEST_F(TrimDialog, SourceWithoutPicturesIsTrimmedByItsPosition) {
  dialog.Begin(QString::fromStdString(MediaPath(Clip::WavPcm)), {0, 2000000, 2000000});
  dialog.Player().Pause();
  EXPECT_TRUE(sink.reports.isEmpty());
  EXPECT_EQ(dialog.Duration() / 100000, 20);
  EXPECT_TRUE(dialog.HandlesShown());
  EXPECT_TRUE(dialog.StartPicture().isNull());
  dialog.SeekTrack(500);
  dialog.SetStartFromPosition();
  EXPECT_NEAR(dialog.TrimStart(), 1000000, 1000);
  EXPECT_TRUE(dialog.Confirm());
}

}  // namespace
