// The settings that survive from one run to the next, kept per user in
// QSettings under organisation "Tarnwick", application "Tarnwick Vidmill".
//
// Value names: OutputPath, OpenVideoDialogPath, ScreenShotsPath (strings);
// recentformatind, recentprofileind, lasteditedformatind,
// lasteditedprofileind (32-bit integers); videocodecname, videobitrate,
// framerate, videowidth, videoheight, audiocodecname, audiobitrate,
// samplerate, channels (strings: the last edited format's values).
#pragma once

#include <memory>
#include <optional>

#include <QString>

#include "catalogue/catalogue.h"

class QSettings;

namespace vidmill {

inline constexpr char kOrganisationName[] = "Tarnwick";
inline constexpr char kApplicationName[] = "Tarnwick Vidmill";

// The application's settings store (native format, current user).
std::unique_ptr<QSettings> OpenAppSettings();

// What start-up reads; an absent value stays empty.
struct TStoredSettings {
  std::optional<QString> OutputPath;
  std::optional<QString> OpenVideoDialogPath;
  std::optional<QString> ScreenShotsPath;
  TStoredSelections Selections;
};

// Reads every value that exists; nothing when the store holds none of ours.
TStoredSettings ReadStoredSettings(QSettings& settings);

// What the window writes when it closes.
struct TSettingsToWrite {
  QString OutputPath;
  std::optional<QString> OpenVideoDialogPath;  // only when the open dialog returned files this run
  QString ScreenShotsPath;
  TFormatIndex Recent;
  TFormatIndex LastEdited;                      // written with its values when both are 0 or more
  std::optional<TFormat> LastEditedFormat;      // the format at LastEdited as edited now
};

// Writes the values in table order and flushes; false when the store
// reports a failure.
bool WriteSettings(QSettings& settings, const TSettingsToWrite& values);

}  // namespace vidmill
