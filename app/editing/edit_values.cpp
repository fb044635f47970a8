#include "editing/edit_values.h"

#include <algorithm>
#include <cmath>

#include <QStringList>

namespace vidmill {

QString TrimTimeText(int64_t microseconds) {
  const int64_t t = std::max<int64_t>(microseconds, 0) / 1000000;
  return QString::asprintf("%.2lld:%.2lld:%.2lld", static_cast<long long>(t / 3600),
                           static_cast<long long>((t / 60) % 60), static_cast<long long>(t % 60));
}

std::optional<int64_t> ParseTrimTime(const QString& text) {
  const QStringList parts = text.split(':');
  if (parts.size() != 3) return std::nullopt;
  int64_t fields[3];
  for (int i = 0; i < 3; ++i) {
    const QString part = parts[i].trimmed();
    bool ok = false;
    const int v = part.toInt(&ok);
    if (part.isEmpty() || !ok || v < 0) return std::nullopt;
    fields[i] = v;
  }
  if (fields[0] > 23 || fields[1] > 59 || fields[2] > 59) return std::nullopt;
  return (fields[0] * 3600 + fields[1] * 60 + fields[2]) * int64_t{1000000};
}

int64_t ClampToDuration(int64_t t, int64_t duration) {
  t = std::max<int64_t>(t, 0);
  return duration > 0 ? std::min(t, duration) : t;
}

int HandleX(int64_t t, int64_t duration, int track_width) {
  if (duration <= 0) return 10;
  const int64_t value = ClampToDuration(t, duration) * 1000 / duration;
  return static_cast<int>(value * track_width / 1000 + 10);
}

int64_t TimeAtHandleX(int x, int64_t duration, int track_width) {
  if (duration <= 0 || track_width <= 0) return 0;
  const int64_t value = std::llround((x - 10) * 1000.0 / track_width);
  return ClampToDuration(value * duration / 1000, duration);
}

QRect ClampCropRect(const QRect& selection, int frame_w, int frame_h) {
  const auto even_down = [](int v) { return v - (v & 1); };
  const int max_w = even_down(frame_w);
  const int max_h = even_down(frame_h);
  const int min_w = std::min(kMinCropSize, max_w);
  const int min_h = std::min(kMinCropSize, max_h);
  const int w = std::clamp(even_down(selection.width()), min_w, max_w);
  const int h = std::clamp(even_down(selection.height()), min_h, max_h);
  const int x = std::clamp(even_down(selection.x()), 0, even_down(frame_w - w));
  const int y = std::clamp(even_down(selection.y()), 0, even_down(frame_h - h));
  return QRect(x, y, w, h);
}

void SetCropMargins(TCropValues& values, const QRect& selection, int frame_w, int frame_h) {
  const QRect r = ClampCropRect(selection, frame_w, frame_h);
  values.CropLeft = r.x();
  values.CropTop = r.y();
  values.CropRight = frame_w - r.width() - r.x();
  values.CropBottom = frame_h - r.height() - r.y();
  // The whole frame of an odd-sized source keeps nothing to cut.
  if (values.CropRight == 1 && values.CropLeft == 0) values.CropRight = 0;
  if (values.CropBottom == 1 && values.CropTop == 0) values.CropBottom = 0;
}

QRect SelectionOf(const TCropValues& values, int frame_w, int frame_h) {
  if (values.CropLeft == 0 && values.CropTop == 0 && values.CropRight == 0 && values.CropBottom == 0) {
    return QRect(0, 0, frame_w, frame_h);
  }
  return ClampCropRect(QRect(values.CropLeft, values.CropTop, frame_w - values.CropRight - values.CropLeft,
                             frame_h - values.CropBottom - values.CropTop),
                       frame_w, frame_h);
}

int ClampAdjustment(int v) { return std::clamp(v, -100, 100); }

float AspectOfItem(int index) {
  switch (index) {
    case 1: return -1.0f;
    case 2: return 1.3333334f;
    case 3: return 1.7777778f;
    default: return 0.0f;
  }
}

}  // namespace vidmill
