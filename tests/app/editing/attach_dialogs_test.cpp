// The dialogs attached to the main window: its buttons open them for the
// selected entry, and what they write lands in the entry.
#include "editing/attach_dialogs.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include "dialogs/profile_chooser.h"
#include "editing/crop_dialog.h"
#include "editing/trim_dialog.h"
#include "main/conversion_list.h"
#include "player/player.h"
#include "test_media.h"
#include "window_fixture.h"

using namespace vidmill;
using vidmill::testing::Clip;
using vidmill::testing::MediaPath;
using vidmill::testing::TScriptedConverter;
using vidmill::testing::TWindowFixture;
using vidmill::testing::WhenShown;

namespace {

class AttachedDialogs : public TWindowFixture {
 protected:
  void SetUp() override {
    TWindowFixture::SetUp();
    window = MakeWindow(std::make_unique<TScriptedConverter>());
    AttachDialogs(*window);
    window->show();
    window->AddFiles({QString::fromStdString(MediaPath(Clip::Mp4H264Aac))});
    ASSERT_EQ(window->List().Count(), 1);
    window->SelectEntry(0);
  }
  const TVideoFile& Entry() { return *window->List().Entry(0); }
  std::unique_ptr<TMainForm> window;
};

TEST_F(AttachedDialogs, TrimButtonEditsTheSelectedEntry) {
  WhenShown<TTrimDialog>([](TTrimDialog& d) {
    d.Player().Pause();
    d.TypeStart("00:00:01");
    d.Confirm();
  });
  QTest::mouseClick(window->btnTrim, Qt::LeftButton);
  EXPECT_EQ(Entry().TimeStart, 1000000);
  EXPECT_EQ(Entry().TrimmedLength, Entry().TimeEnd - 1000000);
  EXPECT_GT(Entry().TrimmedLength, 0);
}

TEST_F(AttachedDialogs, EditButtonWritesTheCropAndAdjustments) {
  window->VolumeTrackBar->setValue(50);
  int source_volume = -1;
  bool source_sound = false, output_sound = true;
  WhenShown<TCropDialog>([&](TCropDialog& d) {
    source_volume = d.SourcePlayer().SoundPlayer().AudioVolume();
    source_sound = d.SourcePlayer().SoundActive();
    output_sound = d.OutputPlayer().SoundActive();
    d.Pause();
    d.TypeCrop(20, 10, 200, 160);
    d.ChooseAspect(2);
    d.SetBrightness(50);
    d.Apply();
    d.accept();
  });
  QTest::mouseClick(window->btnEdit, Qt::LeftButton);
  EXPECT_EQ(Entry().CropLeft, 20);
  EXPECT_EQ(Entry().CropTop, 10);
  EXPECT_EQ(Entry().CropRight, 100);
  EXPECT_EQ(Entry().CropBottom, 70);
  EXPECT_EQ(Entry().AspectRatio, 2);
  EXPECT_EQ(Entry().Brightness, 50);
  EXPECT_EQ(source_volume, 50) << "the source preview sounds at the main window's volume";
  EXPECT_TRUE(source_sound);
  EXPECT_FALSE(output_sound);
}

TEST_F(AttachedDialogs, ProfileFieldOpensTheChooserAndAChoiceReachesTheEntry) {
  QTest::mouseClick(window->lblProfile, Qt::LeftButton);
  TProfileChooser* chooser = window->findChild<TProfileChooser*>();
  ASSERT_NE(chooser, nullptr);
  ASSERT_TRUE(chooser->isVisible());
  const TFormatIndex current = window->Catalogue().Current();
  const int other = current.Position == 0 ? 1 : 0;
  ASSERT_GT(window->Catalogue().FormatCount(current.Category), 1);
  chooser->HoverFormat(other);
  chooser->ClickFormat();
  EXPECT_EQ(Entry().FormatInd, other);
  EXPECT_EQ(window->Catalogue().Recent(), (TFormatIndex{current.Category, other}));
  EXPECT_FALSE(chooser->isVisible());
}

}  // namespace
