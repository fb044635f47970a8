// The settings store: what start-up reads and what closing writes, under
// the value names of the key.
#include <gtest/gtest.h>

#include <QSettings>
#include <QTemporaryDir>

#include "main/app_settings.h"

using namespace vidmill;

namespace {

std::unique_ptr<QSettings> StoreIn(const QTemporaryDir& dir) {
  return std::make_unique<QSettings>(dir.filePath("store.conf"), QSettings::IniFormat);
}

}  // namespace

TEST(AppSettings, AFreshStoreReadsNothing) {
  QTemporaryDir dir;
  const TStoredSettings s = ReadStoredSettings(*StoreIn(dir));
  EXPECT_FALSE(s.OutputPath.has_value());
  EXPECT_FALSE(s.OpenVideoDialogPath.has_value());
  EXPECT_FALSE(s.ScreenShotsPath.has_value());
  EXPECT_FALSE(s.Selections.Recent.has_value());
  EXPECT_FALSE(s.Selections.LastEdited.has_value());
  EXPECT_FALSE(s.Selections.LastEditedTitle.has_value());
}

TEST(AppSettings, WrittenValuesReadBackUnderTheirNames) {
  QTemporaryDir dir;
  TSettingsToWrite w;
  w.OutputPath = "/videos/out";
  w.ScreenShotsPath = "/videos/shots";
  w.Recent = {2, 5};
  w.LastEdited = {-1, -1};
  ASSERT_TRUE(WriteSettings(*StoreIn(dir), w));
  {
    auto raw = StoreIn(dir);
    EXPECT_EQ(raw->value("OutputPath").toString(), "/videos/out");
    EXPECT_EQ(raw->value("ScreenShotsPath").toString(), "/videos/shots");
    EXPECT_EQ(raw->value("recentprofileind").toInt(), 2);
    EXPECT_EQ(raw->value("recentformatind").toInt(), 5);
    // Not chosen in this run, never edited: absent.
    EXPECT_FALSE(raw->contains("OpenVideoDialogPath"));
    EXPECT_FALSE(raw->contains("lasteditedformatind"));
    EXPECT_FALSE(raw->contains("videocodecname"));
  }

  TFormat f;
  f.VideoCodecName = "libx264";
  f.VideoBitRate = "1500000";
  f.FrameRate = "29970";
  f.Width = "640";
  f.Height = "360";
  f.AudioCodecName = "aac";
  f.AudioBitRate = "128000";
  f.SampleRate = "48000";
  f.Channel = "2";
  f.Title = "Phone 720p";
  w.OpenVideoDialogPath = "/home/me/Videos";
  w.LastEdited = {1, 3};
  w.LastEditedFormat = f;
  ASSERT_TRUE(WriteSettings(*StoreIn(dir), w));
  const TStoredSettings s = ReadStoredSettings(*StoreIn(dir));
  EXPECT_EQ(s.OutputPath.value_or(""), "/videos/out");
  EXPECT_EQ(s.OpenVideoDialogPath.value_or(""), "/home/me/Videos");
  EXPECT_EQ(s.Selections.Recent.value_or(TFormatIndex{}), (TFormatIndex{2, 5}));
  EXPECT_EQ(s.Selections.LastEdited.value_or(TFormatIndex{}), (TFormatIndex{1, 3}));
  const TLastEditedValues& v = s.Selections.Values;
  EXPECT_EQ(v.VideoCodecName, "libx264");
  EXPECT_EQ(v.VideoBitRate, "1500000");
  EXPECT_EQ(v.FrameRate, "29970");
  EXPECT_EQ(v.VideoWidth, "640");
  EXPECT_EQ(v.VideoHeight, "360");
  EXPECT_EQ(v.AudioCodecName, "aac");
  EXPECT_EQ(v.AudioBitRate, "128000");
  EXPECT_EQ(v.SampleRate, "48000");
  EXPECT_EQ(v.Channels, "2");
  EXPECT_EQ(s.Selections.LastEditedTitle.value_or(""), "Phone 720p");
}

TEST(AppSettings, AnUnwritableStoreReportsFailure) {
  QTemporaryDir dir;
  QSettings store("/proc/vidmill-cannot-write-here/store.conf", QSettings::IniFormat);
  TSettingsToWrite w;
  w.OutputPath = "x";
  EXPECT_FALSE(WriteSettings(store, w));
}
