#include "formats_file.h"

#include <QFile>
#include <QStringDecoder>

#include "data_text.h"

namespace vidmill {
namespace {

// Fields of TFormat in the order of FormatKeys().
using TField = QString TFormat::*;
constexpr TField kFields[] = {
    &TFormat::FormatExt,      &TFormat::IsAudioFormat,  &TFormat::Icon,
    &TFormat::Category,       &TFormat::Title,          &TFormat::Description,
    &TFormat::Resolutions,    &TFormat::FrameRates,     &TFormat::VideoBitRates,
    &TFormat::AudioBitRates,  &TFormat::SampleRates,    &TFormat::Channels,
    &TFormat::VideoCodecs,    &TFormat::AudioCodecs,    &TFormat::VideoCodecName,
    &TFormat::Width,          &TFormat::Height,         &TFormat::KeepOriFrameRate,
    &TFormat::FrameRate,      &TFormat::VideoBitRate,   &TFormat::AudioCodecName,
    &TFormat::SampleRate,     &TFormat::AudioBitRate,   &TFormat::Channel,
    &TFormat::ExtraParam,
};

}  // namespace

const QStringList& FormatKeys() {
  static const QStringList keys = {
      "format_ext",     "audio_format",   "icon",         "id",
      "name",           "description",    "resolutions",  "frame_rates",
      "video_bitrates", "audio_bitrates", "sample_rates", "channels",
      "video_codecs",   "audio_codecs",   "video_codec_name", "width",
      "height",         "keep_ori_frame_rate", "frame_rate", "video_bitrate",
      "audio_codec_name", "sample_rate",  "audio_bitrate", "channel",
      "extra_param",
  };
  return keys;
}

QStringList FormatFieldValues(const TFormat& format) {
  QStringList values;
  for (const TField field : kFields) values.append(format.*field);
  return values;
}

QByteArray ComplementBytes(QByteArray bytes) {
  for (char& b : bytes) b = static_cast<char>(~static_cast<unsigned char>(b));
  return bytes;
}

QString DecodeFormatsText(const QByteArray& plain) {
  const auto by_mark = QStringConverter::encodingForData(plain);
  QStringDecoder decoder(by_mark.value_or(QStringConverter::Utf8));
  QString text = decoder.decode(plain);
  if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
  return text;
}

TFormat ParseFormatLine(const QString& line) {
  static_assert(std::size(kFields) == 25);
  TFormat format;
  const QStringList& keys = FormatKeys();
  for (qsizetype i = 0; i < keys.size(); ++i) {
    // The blank keeps "keep_ori_frame_rate" from matching "frame_rate".
    const QString key = keys[i] == QLatin1String("frame_rate") ? QStringLiteral(" frame_rate") : keys[i];
    format.*kFields[i] = AttributeValue(line, key);
  }
  return format;
}

bool ReadFormatsFile(const QString& path, QVector<TFormat>& out, QString& reason) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    reason = QStringLiteral("Cannot open %1: %2").arg(path, file.errorString());
    return false;
  }
  const QByteArray stored = file.readAll();
  if (file.error() != QFileDevice::NoError) {
    reason = QStringLiteral("Cannot read %1: %2").arg(path, file.errorString());
    return false;
  }
  if (stored.isEmpty()) {
    reason = QStringLiteral("%1 is empty").arg(path);
    return false;
  }
  const QStringList lines = SplitTextLines(DecodeFormatsText(ComplementBytes(stored)));
  for (qsizetype i = 3; i <= lines.size() - 3; ++i) out.append(ParseFormatLine(lines[i]));
  return true;
}

}  // namespace vidmill
