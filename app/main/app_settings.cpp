#include "app_settings.h"

#include <QSettings>

namespace vidmill {
namespace {

std::optional<QString> StringValue(QSettings& s, const char* name) {
  const QString key = QString::fromLatin1(name);
  if (!s.contains(key)) return std::nullopt;
  return s.value(key).toString();
}

std::optional<int> IntValue(QSettings& s, const char* name) {
  const QString key = QString::fromLatin1(name);
  if (!s.contains(key)) return std::nullopt;
  bool ok = false;
  const int v = s.value(key).toInt(&ok);
  return ok ? std::optional<int>(v) : std::nullopt;
}

std::optional<TFormatIndex> PairValue(QSettings& s, const char* profile, const char* format) {
  const std::optional<int> p = IntValue(s, profile), f = IntValue(s, format);
  if (!p && !f) return std::nullopt;
  return TFormatIndex{p.value_or(0), f.value_or(0)};
}

}  // namespace

std::unique_ptr<QSettings> OpenAppSettings() {
  return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                     QString::fromLatin1(kOrganisationName),
                                     QString::fromLatin1(kApplicationName));
}

TStoredSettings ReadStoredSettings(QSettings& s) {
  TStoredSettings r;
  r.OutputPath = StringValue(s, "OutputPath");
  r.OpenVideoDialogPath = StringValue(s, "OpenVideoDialogPath");
  r.ScreenShotsPath = StringValue(s, "ScreenShotsPath");
  r.Selections.Recent = PairValue(s, "recentprofileind", "recentformatind");
  r.Selections.LastEdited = PairValue(s, "lasteditedprofileind", "lasteditedformatind");
  TLastEditedValues& v = r.Selections.Values;
  v.VideoCodecName = StringValue(s, "videocodecname").value_or(QString());
  v.VideoBitRate = StringValue(s, "videobitrate").value_or(QString());
  v.FrameRate = StringValue(s, "framerate").value_or(QString());
  v.VideoWidth = StringValue(s, "videowidth").value_or(QString());
  v.VideoHeight = StringValue(s, "videoheight").value_or(QString());
  v.AudioCodecName = StringValue(s, "audiocodecname").value_or(QString());
  v.AudioBitRate = StringValue(s, "audiobitrate").value_or(QString());
  v.SampleRate = StringValue(s, "samplerate").value_or(QString());
  v.Channels = StringValue(s, "channels").value_or(QString());
  r.Selections.LastEditedTitle = StringValue(s, "lasteditedtitle");
  return r;
}

bool WriteSettings(QSettings& s, const TSettingsToWrite& w) {
  s.setValue(QStringLiteral("OutputPath"), w.OutputPath);
  if (w.OpenVideoDialogPath) s.setValue(QStringLiteral("OpenVideoDialogPath"), *w.OpenVideoDialogPath);
  s.setValue(QStringLiteral("ScreenShotsPath"), w.ScreenShotsPath);
  s.setValue(QStringLiteral("recentformatind"), static_cast<int>(w.Recent.Position));
  s.setValue(QStringLiteral("recentprofileind"), static_cast<int>(w.Recent.Category));
  if (w.LastEdited.Category >= 0 && w.LastEdited.Position >= 0 && w.LastEditedFormat) {
    const TFormat& f = *w.LastEditedFormat;
    s.setValue(QStringLiteral("lasteditedformatind"), static_cast<int>(w.LastEdited.Position));
    s.setValue(QStringLiteral("lasteditedprofileind"), static_cast<int>(w.LastEdited.Category));
    s.setValue(QStringLiteral("videocodecname"), f.VideoCodecName);
    s.setValue(QStringLiteral("videobitrate"), f.VideoBitRate);
    s.setValue(QStringLiteral("framerate"), f.FrameRate);
    s.setValue(QStringLiteral("videowidth"), f.Width);
    s.setValue(QStringLiteral("videoheight"), f.Height);
    s.setValue(QStringLiteral("audiocodecname"), f.AudioCodecName);
    s.setValue(QStringLiteral("audiobitrate"), f.AudioBitRate);
    s.setValue(QStringLiteral("samplerate"), f.SampleRate);
    s.setValue(QStringLiteral("channels"), f.Channel);
    s.setValue(QStringLiteral("lasteditedtitle"), f.Title);
  }
  s.sync();
  return s.status() == QSettings::NoError;
}

}  // namespace vidmill
