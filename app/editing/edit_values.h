// What the trim and crop dialogs edit of a conversion list entry, and the
// rules that keep those values convertible.
//
// The fields mirror the list entry's own (TVideoFile): a dialog is handed
// a copy, the user edits it, and OK writes it back.
#pragma once

#include <cstdint>
#include <optional>

#include <QRect>
#include <QString>

namespace vidmill {

// Trim of an entry, microseconds from the source's start.
struct TTrimValues {
  int64_t TimeStart = 0;
  int64_t TimeEnd = -1;       // -1: the source states no duration
  int64_t TrimmedLength = -1;
};

// Crop, output aspect and picture adjustment of an entry.
struct TCropValues {
  int32_t CropLeft = 0;  // pixels cut away at each side of the source frame
  int32_t CropTop = 0;
  int32_t CropRight = 0;
  int32_t CropBottom = 0;
  int32_t AspectRatio = 0;  // 0 "Keep Original", 1 "Full Screen", 2 "4:3", 3 "16:9"
  int32_t Brightness = 0;   // -100..100; 0 = unchanged
  int32_t Contrast = 0;
  int32_t Saturation = 0;
  bool operator==(const TCropValues&) const = default;
};

// ------------------------------------------------------------ trim

// "%.2d:%.2d:%.2d" of a time (hours not wrapped; negative times as 0).
QString TrimTimeText(int64_t microseconds);
// "hh:mm:ss" (each part digits, blanks allowed as the edit mask leaves
// them) read as a time of day: hours 0..23, minutes and seconds 0..59.
// Microseconds in 64 bits; nothing for any other text.
std::optional<int64_t> ParseTrimTime(const QString& text);
// A time limited to 0..duration (no upper limit when duration <= 0).
int64_t ClampToDuration(int64_t t, int64_t duration);

// Position of the trim handles on a track of `width` pixels whose value
// runs 0..1000: x(t) = (t * 1000 / duration) * width / 1000 + 10, and back.
// Only meaningful for duration > 0.
int HandleX(int64_t t, int64_t duration, int track_width);
int64_t TimeAtHandleX(int x, int64_t duration, int track_width);

// ------------------------------------------------------------ crop

// Smallest picture a crop may leave, in source pixels.
inline constexpr int kMinCropSize = 16;

// A selection (left, top, width, height in source pixels) moved and sized
// to lie inside a frame_w x frame_h picture, at least kMinCropSize on each
// side (the whole frame when it is smaller), with even values.
QRect ClampCropRect(const QRect& selection, int frame_w, int frame_h);
// The crop margins of a selection, and the selection of margins.
void SetCropMargins(TCropValues& values, const QRect& selection, int frame_w, int frame_h);
QRect SelectionOf(const TCropValues& values, int frame_w, int frame_h);
// Adjustment values are limited to -100..100.
int ClampAdjustment(int v);

// The aspect ratio list and the ratio the output preview uses for an item:
// 0 keeps the picture's own, -1 fills the area, else width / height.
inline constexpr const char* kAspectItems[] = {"Keep Original", "Full Screen", "4:3", "16:9"};
float AspectOfItem(int index);

}  // namespace vidmill
