// The crop and adjust dialog driven as a user would: what it writes into
// the entry, the limits of the selection, and the live output preview.
#include "editing/crop_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QSpinBox>
#include <QTest>

#include "catalogue_fixture.h"
#include "core/ff_load.h"
#include "test_media.h"

using namespace vidmill;
using vidmill::testing::Clip;
using vidmill::testing::MediaPath;
using vidmill::testing::TRecordingSink;

namespace {

double MeanLuma(const QImage& image) {
  double sum = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      sum += 0.299 * c.red() + 0.587 * c.green() + 0.114 * c.blue();
    }
  }
  return sum / (image.width() * image.height());
}

TEST(CropValues, SelectionsStayInsideTheFrameEvenAndNotTooSmall) {
  struct Case {
    QRect in, out;
  };
  for (Case c : {Case{{0, 0, 320, 240}, {0, 0, 320, 240}}, Case{{-10, -4, 100, 50}, {0, 0, 100, 50}},
                 Case{{300, 200, 100, 100}, {220, 140, 100, 100}}, Case{{0, 0, 5000, 5000}, {0, 0, 320, 240}},
                 Case{{11, 13, 101, 77}, {10, 12, 100, 76}}, Case{{50, 50, 3, 0}, {50, 50, 16, 16}},
                 Case{{319, 239, 1, 1}, {304, 224, 16, 16}}}) {
    EXPECT_EQ(ClampCropRect(c.in, 320, 240), c.out) << c.in.x() << "," << c.in.y() << " " << c.in.width() << "x"
                                                    << c.in.height();
  }
  TCropValues v;
  SetCropMargins(v, QRect(8, 16, 200, 100), 320, 240);
  EXPECT_EQ(v.CropLeft, 8);
  EXPECT_EQ(v.CropTop, 16);
  EXPECT_EQ(v.CropRight, 112);
  EXPECT_EQ(v.CropBottom, 124);
  EXPECT_EQ(SelectionOf(v, 320, 240), QRect(8, 16, 200, 100));
  EXPECT_EQ(SelectionOf(TCropValues{}, 320, 240), QRect(0, 0, 320, 240));
  // Margins that cross each other come back as a selection inside the frame.
  TCropValues crossed;
  crossed.CropLeft = 300;
  crossed.CropRight = 300;
  const QRect s = SelectionOf(crossed, 320, 240);
  EXPECT_GE(s.width(), kMinCropSize);
  EXPECT_TRUE(QRect(0, 0, 320, 240).contains(s));
}

class CropDialog : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(TFFLoader::Instance().Load(kPlayerLibraries)); }
  void Open(const TCropValues& values = {}) {
    dialog.Begin(QString::fromStdString(MediaPath(Clip::Mp4H264Aac)), values);
    dialog.Pause();
    ASSERT_EQ(dialog.FrameWidth(), 320);
  }
  TRecordingSink sink;
  TCropDialog dialog{sink};
};

TEST_F(CropDialog, EntryWithoutCropOpensWithTheWholeFrameAndKeepOriginal) {
  Open();
  EXPECT_EQ(dialog.windowTitle(), "Edit");
  EXPECT_EQ(dialog.Selection(), QRect(0, 0, 320, 240));
  EXPECT_EQ(dialog.EditedRect(), QRect(0, 0, 320, 240));
  dialog.Apply();
  EXPECT_EQ(dialog.Values(), TCropValues{});  // whole frame: zero in all four crop fields
}

TEST_F(CropDialog, EntrysCropAndAdjustmentsComeBack) {
  TCropValues v;
  v.CropLeft = 10;
  v.CropTop = 20;
  v.CropRight = 30;
  v.CropBottom = 40;
  v.AspectRatio = 3;
  v.Brightness = 25;
  v.Saturation = -40;
  Open(v);
  EXPECT_EQ(dialog.Selection(), QRect(10, 20, 280, 180));
  EXPECT_EQ(dialog.EditedRect(), QRect(10, 20, 280, 180));
  dialog.Apply();
  EXPECT_EQ(dialog.Values(), v);
}

TEST_F(CropDialog, TypedCropLargerThanThePictureIsClampedAndShownClamped) {
  Open();
  dialog.TypeCrop(100, 50, 400, 400);
  EXPECT_EQ(dialog.Selection(), QRect(0, 0, 320, 240));
  dialog.TypeCrop(300, 230, 16, 16);
  EXPECT_EQ(dialog.Selection(), QRect(300, 224, 16, 16));
  EXPECT_EQ(dialog.EditedRect(), dialog.Selection());
  dialog.TypeCrop(7, 9, 3, 3);
  EXPECT_EQ(dialog.Selection(), QRect(6, 8, 16, 16));
  dialog.Apply();
  const TCropValues& v = dialog.Values();
  EXPECT_EQ(v.CropLeft + 16 + v.CropRight, 320);
  EXPECT_EQ(v.CropTop + 16 + v.CropBottom, 240);
  for (int m : {v.CropLeft, v.CropTop, v.CropRight, v.CropBottom}) {
    EXPECT_GE(m, 0);
    EXPECT_EQ(m % 2, 0);
  }
}

TEST_F(CropDialog, HandlesCannotLeaveThePictureOrCrossEachOther) {
  Open();
  dialog.DragHandle(chLeftTop, QPoint(-50, -50));
  EXPECT_EQ(dialog.Selection().topLeft(), QPoint(0, 0));
  dialog.DragHandle(chRightBottom, QPoint(1000, 1000));
  EXPECT_EQ(dialog.Selection(), QRect(0, 0, 320, 240));
  dialog.DragHandle(chLeftMiddle, QPoint(400, 10));  // past the right edge
  EXPECT_EQ(dialog.Selection().width(), kMinCropSize);
  EXPECT_EQ(dialog.Selection().right() + 1, 320);
  dialog.DragHandle(chLeftMiddle, QPoint(41, 10));
  EXPECT_EQ(dialog.Selection().left(), 40);  // even
  EXPECT_EQ(dialog.Selection().top(), 0);   // a middle handle moves on one axis only
  dialog.DragHandle(chBottomMiddle, QPoint(0, -20));
  EXPECT_EQ(dialog.Selection().height(), kMinCropSize);
  EXPECT_EQ(dialog.EditedRect(), dialog.Selection());
}

TEST_F(CropDialog, AspectChangesOnlyTheOutputPreview) {
  Open();
  dialog.TypeCrop(40, 40, 200, 100);
  const QRect before = dialog.Selection();
  dialog.ChooseAspect(3);
  EXPECT_EQ(dialog.Selection(), before);
  EXPECT_DOUBLE_EQ(dialog.OutputAspect(), 16.0 / 9.0);
  const QImage out = dialog.OutputPicture();
  EXPECT_NEAR(double(out.width()) / out.height(), 16.0 / 9.0, 0.02);
  dialog.ChooseAspect(0);
  EXPECT_NEAR(dialog.OutputAspect(), 2.0, 1e-9);
  dialog.Apply();
  EXPECT_EQ(dialog.Values().AspectRatio, 0);
}

TEST_F(CropDialog, BrightnessChangesTheOutputPreviewLiveThroughHandles) {
  Open();
  // The filters name live-value handles, not addresses.
  EXPECT_EQ(dialog.FilterText().find("nativeeq=0:0:"), 0u);
  const QImage before = dialog.OutputPicture();
  ASSERT_FALSE(before.isNull());
  dialog.SetBrightness(50);
  const QImage after = dialog.OutputPicture();
  EXPECT_GT(MeanLuma(after), MeanLuma(before) + 20);
  EXPECT_EQ(dialog.OutputPlayer().State(), TFrameState::Pause);  // not reopened
  dialog.SetBrightness(0);
  EXPECT_NEAR(MeanLuma(dialog.OutputPicture()), MeanLuma(before), 0.5);
  dialog.SetBrightness(150);  // out of range: limited
  dialog.Apply();
  EXPECT_LE(dialog.Values().Brightness, 100);
}

TEST_F(CropDialog, ResetAllRestoresTheWholeFrameAndNoAdjustment) {
  TCropValues v;
  v.CropLeft = 10;
  v.AspectRatio = 2;
  v.Contrast = 30;
  Open(v);
  dialog.ResetAll();
  dialog.Apply();
  EXPECT_EQ(dialog.Values(), TCropValues{});
}

TEST_F(CropDialog, SourceThatDoesNotOpenIsReported) {
  dialog.Begin(QString::fromStdString(MediaPath(Clip::RandomBytes)), {});
  ASSERT_EQ(sink.reports.size(), 1);
  EXPECT_EQ(sink.reports[0].second, "CLM_FFPlayer1Open");
  EXPECT_FALSE(sink.reports[0].first.isEmpty());
  dialog.TypeCrop(0, 0, 10, 10);  // nothing to crop: no effect, no failure
  dialog.Apply();
  EXPECT_EQ(dialog.Values().CropLeft, 0);
}

// A source that fails to open after another entry was edited: what OK
// writes is the failing entry's own values, not the previous entry's.
TEST_F(CropDialog, SourceThatDoesNotOpenKeepsNoEarlierEntrysValues) {
  TCropValues first;
  first.AspectRatio = 3;
  first.Brightness = 40;
  first.Contrast = -30;
  first.Saturation = 20;
  Open(first);
  dialog.Apply();
  ASSERT_EQ(dialog.Values(), first);

  TCropValues second;
  second.CropLeft = 8;
  second.CropRight = 8;
  second.AspectRatio = 1;
  second.Contrast = 10;
  dialog.Begin(QString::fromStdString(MediaPath(Clip::RandomBytes)), second);
  ASSERT_EQ(sink.reports.size(), 1);
  dialog.Apply();
  EXPECT_EQ(dialog.Values(), second);
  // Nor does the player keep the earlier source's picture, size or length.
  EXPECT_TRUE(dialog.SourcePlayer().Picture().isNull());
  EXPECT_EQ(dialog.SourcePlayer().FrameWidth(), 0);
  EXPECT_EQ(dialog.SourcePlayer().FrameHeight(), 0);
  EXPECT_LE(dialog.SourcePlayer().Duration(), 0);
}

}  // namespace

namespace {

// The same limits when the user types into the edits and drags with the mouse.
TEST_F(CropDialog, TypingIntoTheEditsAndDraggingAHandleKeepTheSelectionInside) {
  Open();
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  QList<QSpinBox*> edits = dialog.findChildren<QSpinBox*>();
  ASSERT_EQ(edits.size(), 4);  // left, top, width, height in layout order
  QSpinBox* left = edits[0];
  QSpinBox* width = edits[2];
  EXPECT_EQ(width->maximum(), 320);
  left->selectAll();
  QTest::keyClicks(left, "300");  // with the width still 320: the selection moves back inside
  QTest::keyClick(left, Qt::Key_Enter);
  EXPECT_TRUE(QRect(0, 0, 320, 240).contains(dialog.Selection()));
  EXPECT_EQ(dialog.EditedRect(), dialog.Selection());
  width->selectAll();
  QTest::keyClicks(width, "9");
  QTest::keyClick(width, Qt::Key_Enter);
  EXPECT_EQ(dialog.Selection().width(), kMinCropSize);

  // Drag the bottom-right handle far outside the picture with the mouse.
  QWidget* view = nullptr;
  for (QWidget* w : dialog.findChildren<QWidget*>()) {
    if (w->size() == QSize(319, 222) && w->children().isEmpty()) {
      view = w;
      break;
    }
  }
  ASSERT_NE(view, nullptr);
  // The 320x240 picture sits in the 319x222 panel at scale 222/240, 11.5 px
  // from the left: the selection's bottom-right corner (160, 120) is at (159.5, 111).
  dialog.TypeCrop(0, 0, 160, 120);
  QTest::mousePress(view, Qt::LeftButton, {}, QPoint(159, 111));
  QMouseEvent move(QEvent::MouseMove, QPointF(400, 400), view->mapToGlobal(QPointF(400, 400)), Qt::NoButton,
                   Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(view, &move);
  QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(400, 400));
  EXPECT_EQ(dialog.Selection(), QRect(0, 0, 320, 240));  // dragged, and stopped at the picture's edge
  dialog.reject();
}

}  // namespace

namespace {

TEST_F(CropDialog, SoundWithoutPicturesIsRefused) {
  dialog.Begin(QString::fromStdString(MediaPath(Clip::WavPcm)), {});
  ASSERT_EQ(sink.reports.size(), 1);
  EXPECT_EQ(sink.reports[0].second, "CLM_FFPlayer1Open");
  EXPECT_EQ(dialog.FrameWidth(), 0);
}

}  // namespace
