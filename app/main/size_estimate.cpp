#include "size_estimate.h"

#include "catalogue/list_syntax.h"
#include "catalogue/profile_types.h"
#include "video_file.h"

namespace vidmill {
namespace {

// A bit rate field: empty counts as 0, anything else must be a decimal integer.
std::optional<qint64> BitRateOf(const QString& text) {
  const QString t = text.trimmed();
  if (t.isEmpty()) return 0;
  if (!IsDecimalInteger(t)) return std::nullopt;
  return t.toLongLong();
}

}  // namespace

std::optional<double> EstimateSizeMB(const TVideoFile& entry, const TFormat& format) {
  const std::optional<qint64> video = BitRateOf(format.VideoBitRate);
  const std::optional<qint64> audio = BitRateOf(format.AudioBitRate);
  if (!video || !audio) return std::nullopt;
  const bool with_video = format.IsAudioFormat.trimmed() != QLatin1String("1") && !entry.isSourceAudioFormat;
  const double bits_per_second = static_cast<double>((with_video ? *video : 0) + *audio);
  const double seconds = entry.TrimmedLength > 0 ? static_cast<double>(entry.TrimmedLength) / 1e6 : 0.0;
  return bits_per_second * seconds / 8.0 / 1e6;
}

bool UpdateEstimatedSize(TVideoFile& entry, const TFormat& format) {
  const std::optional<double> size = EstimateSizeMB(entry, format);
  if (!size) return false;
  entry.EstimatedSize = *size;
  return true;
}

}  // namespace vidmill
