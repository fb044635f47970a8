#include "dialogs/settings_values.h"

#include "catalogue/list_syntax.h"

namespace vidmill {
namespace {

// The list a box offers and the field it writes.
struct TBoxField {
  QString TFormat::*List;
  QString TFormat::*Value;
};

constexpr std::array<TBoxField, kSettingsBoxCount> kBoxFields{{
    {&TFormat::FrameRates, &TFormat::FrameRate},
    {&TFormat::VideoCodecs, &TFormat::VideoCodecName},
    {&TFormat::VideoBitRates, &TFormat::VideoBitRate},
    {&TFormat::SampleRates, &TFormat::SampleRate},
    {&TFormat::Channels, &TFormat::Channel},
    {&TFormat::AudioCodecs, &TFormat::AudioCodecName},
    {&TFormat::AudioBitRates, &TFormat::AudioBitRate},
}};

bool InRangeEven(const QString& text, int low, int high) {
  if (!IsDecimalInteger(text)) return false;
  bool ok = false;
  const int v = text.toInt(&ok);
  return ok && v >= low && v <= high && v % 2 == 0;
}

}  // namespace

const char kInvalidResolutionText[] =
    "Please input valid resolution. Both width and height must be multiples of 2, and range from 64*64 to "
    "1920*1280.";

TSettingsView SettingsViewOf(const TFormat& format) {
  TSettingsView view;
  view.Title = format.Title;
  view.Resolutions = LabelsOf(format.Resolutions);
  view.Resolution = format.Width + "*" + format.Height;
  if (view.Resolution == "*") view.Resolution.clear();
  for (int b = 0; b < kSettingsBoxCount; ++b) {
    const TValueLabelList list = SplitValueLabelList(format.*kBoxFields[b].List);
    view.Boxes[b].Labels = list.Labels;
    const int at = list.Values.indexOf(format.*kBoxFields[b].Value);
    view.Boxes[b].Selected = at < list.Labels.size() ? at : -1;
  }
  return view;
}

bool IsValidResolution(const QString& text) {
  return InRangeEven(ResolutionWidth(text), 64, 1920) && InRangeEven(ResolutionHeight(text), 64, 1280);
}

bool ApplySettingsChoice(TFormat& format, const TSettingsChoice& choice) {
  if (choice.Resolution && !IsValidResolution(*choice.Resolution)) return false;
  std::array<QString, kSettingsBoxCount> values;
  for (int b = 0; b < kSettingsBoxCount; ++b) {
    if (!choice.Boxes[b]) continue;
    const TValueLabelList list = SplitValueLabelList(format.*kBoxFields[b].List);
    const int at = *choice.Boxes[b];
    if (at < 0 || at >= list.Values.size() || at >= list.Labels.size()) return false;
    values[b] = list.Values[at];
  }
  if (choice.Resolution) {
    format.Width = ResolutionWidth(*choice.Resolution);
    format.Height = ResolutionHeight(*choice.Resolution);
  }
  for (int b = 0; b < kSettingsBoxCount; ++b) {
    if (choice.Boxes[b]) format.*kBoxFields[b].Value = values[b];
  }
  return true;
}

}  // namespace vidmill
