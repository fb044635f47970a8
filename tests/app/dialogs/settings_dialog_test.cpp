// The output settings dialog driven as a user would: boxes chosen, "OK",
// "Default", "Cancel"; what lands in the catalogue's format.
#include "dialogs/settings_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>

#include "catalogue_fixture.h"
#include "dialogs/settings_values.h"

using namespace vidmill;
using vidmill::testing::FormatLine;
using vidmill::testing::TCatalogueFolder;
using vidmill::testing::TRecordingSink;

namespace {

const QVector<std::pair<QString, QString>> kVideoFormat = {
    {"resolutions", "320*240,640*480,1280*720"},
    {"frame_rates", "25000$25 fps,30000$30 fps"},
    {"video_bitrates", "768000$768 kbps,1500000$1500 kbps"},
    {"audio_bitrates", "128000$128 kbps,192000$192 kbps"},
    {"sample_rates", "44100$44100 Hz,48000$48000 Hz"},
    {"channels", "1$Mono,2$Stereo"},
    {"video_codecs", "libx264$H.264,mpeg4$MPEG-4"},
    {"audio_codecs", "aac$AAC,libmp3lame$MP3"},
    {"video_codec_name", "libx264"},
    {"audio_codec_name", "aac"},
    {"width", "320"},
    {"height", "240"},
    {"frame_rate", "25000"},
    {"video_bitrate", "768000"},
    {"audio_bitrate", "128000"},
    {"sample_rate", "44100"},
    {"channel", "2"},
    {"audio_format", "0"},
};

QVector<std::pair<QString, QString>> With(QVector<std::pair<QString, QString>> base,
                                          const QVector<std::pair<QString, QString>>& changes) {
  for (const auto& [k, v] : changes) {
    for (auto& kv : base) {
      if (kv.first == k) kv.second = v;
    }
  }
  return base;
}

class SettingsDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    folder.WriteProfiles({"<category id=\"dev\" title=\"Devices\" icon=\"dev\"/>"});
    folder.WriteFormats({
        FormatLine("dev", "Phone MP4", kVideoFormat),
        FormatLine("dev", "Music MP3",
                   With(kVideoFormat, {{"audio_format", "1"}, {"resolutions", ""}, {"width", ""}, {"height", ""},
                                       {"frame_rates", ""}, {"video_bitrates", ""}, {"video_codecs", ""},
                                       {"video_codec_name", ""}, {"frame_rate", ""}, {"video_bitrate", ""}})),
        FormatLine("dev", "Odd rate", With(kVideoFormat, {{"frame_rate", "12500"}})),
        FormatLine("dev", "Label without value", With(kVideoFormat, {{"channels", "1$Mono,2$Stereo,Surround"}})),
    });
    folder.WriteIcon("dev.bmp");
    catalogue.Load(folder.Path());
    ASSERT_EQ(catalogue.FormatCount(0), 4);
    dialog = std::make_unique<TSettingsDialog>(catalogue, sink);
    dialog->Warn = [this](const QString& text) { warnings.append(text); };
    dialog->AfterConfirm = [this] { ++estimates; };
  }
  void Open(int position) {
    ASSERT_TRUE(catalogue.SetCurrent({0, position}));
    dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
  }
  const TFormat& Format(int category, int position) { return *catalogue.FormatAt({category, position}); }
  void Choose(TSettingsBox box, const QString& label) {
    QComboBox* c = dialog->Box(box);
    const int i = c->findText(label);
    ASSERT_GE(i, 0) << label.toStdString();
    c->setCurrentIndex(i);
  }
  void TypeResolution(const QString& text) {
    QComboBox* c = dialog->ResolutionBox();
    c->lineEdit()->selectAll();
    QTest::keyClick(c->lineEdit(), Qt::Key_Delete);
    QTest::keyClicks(c->lineEdit(), text);
  }

  TCatalogueFolder folder;
  TRecordingSink sink;
  TCatalogue catalogue{sink};
  std::unique_ptr<TSettingsDialog> dialog;
  QStringList warnings;
  int estimates = 0;
};

TEST_F(SettingsDialog, ShowsTheFormatsValuesAndWritesTheChosenOnes) {
  Open(0);
  EXPECT_EQ(dialog->windowTitle(), "Profile Settings");
  EXPECT_EQ(dialog->ProfileEdit()->text(), "Phone MP4");
  EXPECT_EQ(dialog->ResolutionBox()->currentText(), "320*240");
  EXPECT_EQ(dialog->ResolutionBox()->count(), 3);
  EXPECT_EQ(dialog->Box(sbFrameRate)->currentText(), "25 fps");
  EXPECT_EQ(dialog->Box(sbChannels)->currentText(), "Stereo");

  TypeResolution("640*480");
  Choose(sbVideoEncoder, "MPEG-4");
  Choose(sbFrameRate, "30 fps");
  Choose(sbVideoBitRate, "1500 kbps");
  Choose(sbSampleRate, "48000 Hz");
  Choose(sbAudioEncoder, "MP3");
  Choose(sbChannels, "Mono");
  Choose(sbAudioBitRate, "192 kbps");
  dialog->Confirm();

  const TFormat& f = Format(0, 0);
  EXPECT_EQ(f.Width, "640");
  EXPECT_EQ(f.Height, "480");
  EXPECT_EQ(f.VideoCodecName, "mpeg4");
  EXPECT_EQ(f.FrameRate, "30000");
  EXPECT_EQ(f.VideoBitRate, "1500000");
  EXPECT_EQ(f.SampleRate, "48000");
  EXPECT_EQ(f.AudioCodecName, "libmp3lame");
  EXPECT_EQ(f.Channel, "1");
  EXPECT_EQ(f.AudioBitRate, "192000");
  EXPECT_EQ(catalogue.LastEdited(), (TFormatIndex{0, 0}));
  EXPECT_EQ(estimates, 1);
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_TRUE(sink.reports.isEmpty());

  // Only the copy inside the current category changed.
  const int all = catalogue.CategoryCount() - 1;
  EXPECT_EQ(Format(all, 0).Width, "320");
  EXPECT_EQ(Format(all, 0).VideoCodecName, "libx264");
}

TEST_F(SettingsDialog, ResolutionsOutsideTheRulesAreRefusedAndNothingChanges) {
  struct Case {
    const char* text;
    bool accepted;
  };
  for (Case c : {Case{"321*240", false}, Case{"1921*1080", false}, Case{"64*62", false}, Case{"320x240", false},
                 Case{"1922*1280", false}, Case{"abc", false}, Case{"", false}, Case{"320*240", true},
                 Case{"1920*1280", true}, Case{"64*64", true}}) {
    Open(0);
    warnings.clear();
    estimates = 0;
    TypeResolution(c.text);
    const TFormat before = Format(0, 0);
    dialog->Confirm();
    EXPECT_EQ(warnings.size(), c.accepted ? 0 : 1) << c.text;
    EXPECT_EQ(dialog->isVisible(), !c.accepted) << c.text;
    if (!c.accepted) {
      EXPECT_EQ(warnings.value(0), QString::fromLatin1(kInvalidResolutionText));
      EXPECT_EQ(Format(0, 0), before) << c.text;
      EXPECT_EQ(estimates, 0);
      dialog->reject();
    } else {
      EXPECT_EQ(Format(0, 0).Width + "*" + Format(0, 0).Height, QString(c.text));
    }
  }
}

TEST_F(SettingsDialog, AudioFormatWithoutAPictureSizeCanBeSaved) {
  Open(1);
  EXPECT_FALSE(dialog->ResolutionBox()->isEnabled());
  EXPECT_FALSE(dialog->Box(sbFrameRate)->isEnabled());
  EXPECT_TRUE(dialog->Box(sbSampleRate)->isEnabled());
  Choose(sbSampleRate, "48000 Hz");
  dialog->Confirm();
  EXPECT_TRUE(warnings.isEmpty());
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(Format(0, 1).SampleRate, "48000");
  EXPECT_EQ(Format(0, 1).Width, "");
  EXPECT_EQ(catalogue.LastEdited(), (TFormatIndex{0, 1}));
}

TEST_F(SettingsDialog, ValueMissingFromItsListDisablesTheBoxAndStaysUnchanged) {
  Open(2);
  EXPECT_FALSE(dialog->Box(sbFrameRate)->isEnabled());
  Choose(sbVideoBitRate, "1500 kbps");
  dialog->Confirm();
  EXPECT_EQ(Format(0, 2).FrameRate, "12500");
  EXPECT_EQ(Format(0, 2).VideoBitRate, "1500000");
}

TEST_F(SettingsDialog, LabelWithoutAValueWritesNoFieldAtAll) {
  Open(3);
  Choose(sbVideoBitRate, "1500 kbps");
  Choose(sbChannels, "Surround");  // a label with no value behind it
  const TFormat before = Format(0, 3);
  dialog->Confirm();
  EXPECT_EQ(Format(0, 3), before);  // not even the bit rate chosen before it
  ASSERT_EQ(sink.reports.size(), 1);
  EXPECT_EQ(sink.reports[0].first, "Error setting profile");
  EXPECT_EQ(sink.reports[0].second, "CLM_SettingProfile");
  EXPECT_EQ(estimates, 1);  // the estimates still run and the dialog closes
  EXPECT_FALSE(dialog->isVisible());
}

TEST_F(SettingsDialog, DefaultReloadsConfirmedValuesAndCancelChangesNothing) {
  Open(0);
  Choose(sbChannels, "Mono");
  dialog->Confirm();
  Open(0);
  Choose(sbChannels, "Stereo");
  TypeResolution("1280*720");
  dialog->Defaults();
  EXPECT_EQ(dialog->Box(sbChannels)->currentText(), "Mono");
  EXPECT_EQ(dialog->ResolutionBox()->currentText(), "320*240");
  Choose(sbChannels, "Stereo");
  dialog->reject();
  EXPECT_EQ(Format(0, 0).Channel, "1");
}

TEST_F(SettingsDialog, OkWithoutChangesStillMakesTheFormatTheLastEdited) {
  Open(2);
  dialog->Confirm();
  EXPECT_EQ(catalogue.LastEdited(), (TFormatIndex{0, 2}));
}

TEST_F(SettingsDialog, EditedValuesComeBackAtTheNextStart) {
  Open(0);
  TypeResolution("1280*720");
  Choose(sbAudioEncoder, "MP3");
  dialog->Confirm();
  // What the settings writer keeps of the last edited format ...
  const TFormat& edited = Format(0, 0);
  TStoredSelections stored;
  stored.LastEdited = catalogue.LastEdited();
  stored.Values = {edited.VideoCodecName, edited.VideoBitRate, edited.FrameRate, edited.Width, edited.Height,
                   edited.AudioCodecName, edited.AudioBitRate, edited.SampleRate, edited.Channel};
  // ... is put back into that format when the catalogue is read again.
  TCatalogue next(sink);
  next.Load(folder.Path(), stored);
  EXPECT_EQ(next.FormatAt({0, 0})->Width, "1280");
  EXPECT_EQ(next.FormatAt({0, 0})->Height, "720");
  EXPECT_EQ(next.FormatAt({0, 0})->AudioCodecName, "libmp3lame");
  EXPECT_EQ(next.FormatAt({next.CategoryCount() - 1, 0})->Width, "320");
}

}  // namespace
