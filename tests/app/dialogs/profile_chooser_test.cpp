// The profile chooser: hovering, the 500 ms switch, choosing for one entry
// or all, the recent selection.
#include "dialogs/profile_chooser.h"

#include <gtest/gtest.h>

#include <QTableWidget>
#include <QTest>

#include "catalogue_fixture.h"

using namespace vidmill;
using vidmill::testing::FormatLine;
using vidmill::testing::TCatalogueFolder;
using vidmill::testing::TRecordingSink;

namespace {

struct Entry {
  QString status = "x";
  TFormatIndex format{0, 0};
};

class ProfileChooser : public ::testing::Test {
 protected:
  void SetUp() override {
    folder.WriteProfiles({"<category id=\"a\" title=\"Phones\" icon=\"phone\"/>",
                          "<category id=\"b\" title=\"Players\" icon=\"player\"/>",
                          "<category id=\"e\" title=\"Empty\" icon=\"none\"/>"},
                         300);
    folder.WriteFormats({FormatLine("a", "Phone A"), FormatLine("a", "Phone B"), FormatLine("b", "Player A"),
                         FormatLine("b", "Player B"), FormatLine("b", "Player C")});
    folder.WriteIcon("phone.bmp", Qt::red);
    folder.WriteIcon("player.bmp", Qt::blue);
    folder.WriteIcon("menuall.bmp", Qt::green);
    catalogue.Load(folder.Path());
    entries.resize(3);
    TChooserHost host;
    host.SelectedEntry = [this] { return selected; };
    host.SetEntryFormat = [this](int i, TFormatIndex f) {
      entries[i].status = "-";
      entries[i].format = f;
    };
    host.ApplyToAll = [this] { return apply_to_all; };
    host.SetAllFormats = [this](TFormatIndex f) {
      for (Entry& e : entries) e.format = f;
    };
    host.ShowProfile = [this](const QString& title, const QImage* icon) {
      shown_title = title;
      shown_icon = icon ? *icon : QImage();
    };
    host.EstimateAndRepaint = [this] { ++estimates; };
    chooser = std::make_unique<TProfileChooser>(catalogue, sink, host);
  }
  void Open() {
    chooser->Popup(QPoint(100, 400), false);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(chooser.get()));
  }
  // Half a second and a little: for a switch that must not happen.
  void WaitDelay() { QTest::qWait(kProfileChangeDelayMs + 150); }
  // Until the delayed switch to a category has happened (a busy machine may be late).
  void WaitCommitted(int category) {
    EXPECT_TRUE(QTest::qWaitFor([&] { return chooser->CommittedCategory() == category; }, 5000));
  }

  TCatalogueFolder folder;
  TRecordingSink sink;
  TCatalogue catalogue{sink};
  std::vector<Entry> entries;
  int selected = 1;
  bool apply_to_all = false;
  QString shown_title;
  QImage shown_icon;
  int estimates = 0;
  std::unique_ptr<TProfileChooser> chooser;
};

TEST_F(ProfileChooser, OpensAboveTheFieldWithTheCatalogueHeightOnlyWhenTheListHasEntries) {
  chooser->Popup(QPoint(100, 400), true);
  EXPECT_FALSE(chooser->isVisible());
  Open();
  EXPECT_EQ(chooser->height(), 300);
  EXPECT_EQ(chooser->geometry().top(), 100);
  EXPECT_EQ(chooser->Categories()->rowCount(), 4);  // three and "All Profiles"
  EXPECT_EQ(chooser->Formats()->rowCount(), 2);
  EXPECT_EQ(chooser->HoveredFormat(), 0);
}

TEST_F(ProfileChooser, HoveringACategoryForHalfASecondShowsItsFormatsWithNoneHighlighted) {
  Open();
  chooser->HoverCategory(1);
  EXPECT_EQ(chooser->HighlightedCategory(), 1);
  EXPECT_EQ(chooser->Formats()->rowCount(), 2);  // not yet
  WaitCommitted(1);
  EXPECT_EQ(chooser->CommittedCategory(), 1);
  EXPECT_EQ(chooser->Formats()->rowCount(), 3);
  EXPECT_EQ(chooser->HoveredFormat(), -1);
  chooser->ClickFormat();  // nothing hovered yet: nothing happens
  EXPECT_EQ(estimates, 0);
  EXPECT_TRUE(chooser->isVisible());
}

TEST_F(ProfileChooser, LeavingForTheFormatsWithinTheDelayKeepsThePreviousCategory) {
  Open();
  chooser->HoverCategory(1);
  chooser->HoverFormat(1);
  EXPECT_FALSE(chooser->DelayRunning());
  EXPECT_EQ(chooser->HighlightedCategory(), 0);
  EXPECT_EQ(chooser->Formats()->rowCount(), 2);
  WaitDelay();
  EXPECT_EQ(chooser->CommittedCategory(), 0);
}

TEST_F(ProfileChooser, ChoosingGivesTheFormatToTheSelectedEntryOnly) {
  Open();
  chooser->HoverCategory(1);
  WaitCommitted(1);
  chooser->HoverFormat(2);
  chooser->ClickFormat();
  EXPECT_EQ(entries[1].format, (TFormatIndex{1, 2}));
  EXPECT_EQ(entries[1].status, "-");
  EXPECT_EQ(entries[0].format, (TFormatIndex{0, 0}));
  EXPECT_EQ(catalogue.Current(), (TFormatIndex{1, 2}));
  EXPECT_EQ(catalogue.Recent(), (TFormatIndex{1, 2}));
  EXPECT_EQ(shown_title, "Player C");
  EXPECT_EQ(shown_icon.pixelColor(0, 0), QColor(Qt::blue));
  EXPECT_EQ(estimates, 1);
  EXPECT_FALSE(chooser->isVisible());
}

TEST_F(ProfileChooser, ApplyToAllGivesEveryEntryTheFormat) {
  apply_to_all = true;
  Open();
  chooser->HoverFormat(1);
  chooser->ClickFormat();
  for (const Entry& e : entries) EXPECT_EQ(e.format, (TFormatIndex{0, 1}));
}

TEST_F(ProfileChooser, EmptyCategoryShowsNoFormatsAndIgnoresClicks) {
  Open();
  chooser->HoverCategory(2);
  WaitCommitted(2);
  EXPECT_EQ(chooser->Formats()->rowCount(), 0);
  chooser->HoverFormat(0);
  EXPECT_EQ(chooser->HoveredFormat(), -1);
  chooser->ClickFormat();
  EXPECT_EQ(estimates, 0);
}

TEST_F(ProfileChooser, MouseOverTheGridsDrivesTheSameState) {
  Open();
  QWidget* left = chooser->Categories()->viewport();
  QTest::mouseMove(left, QPoint(50, kCategoryRowHeight + 5));
  EXPECT_EQ(chooser->HighlightedCategory(), 1);
  WaitCommitted(1);
  QWidget* right = chooser->Formats()->viewport();
  const QPoint row1(100, kFormatRowHeight + 10);
  QTest::mouseMove(right, row1);
  EXPECT_EQ(chooser->HoveredFormat(), 1);
  QTest::mouseClick(right, Qt::LeftButton, {}, row1);
  EXPECT_EQ(entries[1].format, (TFormatIndex{1, 1}));
}

TEST_F(ProfileChooser, CellsAreDrawnWithoutReports) {
  Open();
  chooser->HoverFormat(0);
  QImage image(chooser->size(), QImage::Format_RGB32);
  chooser->render(&image);
  EXPECT_TRUE(sink.reports.isEmpty());
  // The highlighted category's band carries its colour.
  EXPECT_EQ(image.pixelColor(60, 3), QColor(0x56, 0x92, 0xC6));
}

}  // namespace
