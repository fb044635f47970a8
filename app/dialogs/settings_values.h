// What the output settings dialog shows of a format and how a confirmed
// choice is written back, without widgets.
//
// Every box but the resolution offers the labels of one of the format's
// value/label lists; the resolution is "width*height" text. Writing is all
// or nothing: every index is checked before the first field changes.
#pragma once

#include <array>
#include <optional>

#include <QString>
#include <QStringList>

#include "catalogue/profile_types.h"

namespace vidmill {

// The fixed-list boxes in the order the dialog fills them.
enum TSettingsBox : int {
  sbFrameRate,
  sbVideoEncoder,
  sbVideoBitRate,
  sbSampleRate,
  sbChannels,
  sbAudioEncoder,
  sbAudioBitRate,
  kSettingsBoxCount,
};

struct TSettingsBoxView {
  QStringList Labels;
  int Selected = -1;  // index of the format's value in the list's values; -1 when absent
};

struct TSettingsView {
  QString Title;
  QStringList Resolutions;  // labels of Resolutions
  QString Resolution;       // Width "*" Height; "" when both are empty
  std::array<TSettingsBoxView, kSettingsBoxCount> Boxes;
};

// What the dialog shows for a format.
TSettingsView SettingsViewOf(const TFormat& format);

// "Please input valid resolution. ..." when the text is not width*height
// with both even, width 64..1920 and height 64..1280.
bool IsValidResolution(const QString& text);
extern const char kInvalidResolutionText[];

// The user's choice: the resolution text when its box is enabled, and the
// selected index of every enabled fixed-list box.
struct TSettingsChoice {
  std::optional<QString> Resolution;
  std::array<std::optional<int>, kSettingsBoxCount> Boxes;
};

// Writes the choice into the format: every enabled box's index must name a
// value of its list (and a label), else nothing is written and false.
bool ApplySettingsChoice(TFormat& format, const TSettingsChoice& choice);

}  // namespace vidmill
