#include "catalogue.h"

#include <exception>

#include <QDir>

#include "formats_file.h"
#include "profile_icons.h"
#include "profiles_file.h"
#include "report/error_marks.h"
#include "report/report_sink.h"

namespace vidmill {

QString DataFolderOf(const QString& program_folder) {
  return QDir(program_folder).filePath(QString::fromLatin1(kDataFolderName));
}

void TCatalogue::LoadIcons(const QString& data_folder) {
  TIconFolder folder = LoadIconFolder(QDir(data_folder).filePath(QLatin1String(kIconsFolderName)));
  icons_ = std::move(folder.Icons);
  for (const QString& path : folder.Rejected) {
    sink_.LogEvent(QStringLiteral("Icon is not a bitmap and was left out: %1").arg(path));
  }
}

void TCatalogue::ReadDataFiles(const QString& data_folder) {
  const QDir dir(data_folder);
  TProfilesFile profiles;
  QString reason;
  const bool profiles_ok = ReadProfilesFile(dir.filePath(QLatin1String(kProfilesFileName)), profiles, reason);
  chooser_height_ = profiles.ChooserHeight;
  categories_ = std::move(profiles.Categories);
  if (!profiles_ok) {
    sink_.LogEvent(reason);
    sink_.ErrorReport(QString::fromLatin1(clm::kLoadProfilesMsg), QString::fromLatin1(clm::kLoadProfiles));
  }

  TProfile all;
  all.Title = QString::fromLatin1(kAllProfilesTitle);
  all.ID = QString::fromLatin1(kAllProfilesID);
  all.Icon = QString::fromLatin1(kAllProfilesIcon);
  categories_.append(std::move(all));

  reason.clear();
  if (!ReadFormatsFile(dir.filePath(QLatin1String(kFormatsFileName)), all_formats_, reason)) {
    sink_.LogEvent(reason);
    sink_.ErrorReport(QString::fromLatin1(clm::kLoadFormatsMsg), QString::fromLatin1(clm::kLoadFormats));
  }
  placed_.fill(false, all_formats_.size());
}

void TCatalogue::Distribute(const TStoredSelections& stored) {
  try {
    PlaceFormats();
    ApplyRecent(stored.Recent);
    ApplyLastEdited(stored.LastEdited, stored.Values, stored.LastEditedTitle);
  } catch (const std::exception& e) {
    sink_.LogEvent(QString::fromUtf8(e.what()));
    sink_.ErrorReport(QString::fromLatin1(clm::kInitProfilesMsg), QString::fromLatin1(clm::kInitProfiles));
  }
}

void TCatalogue::Load(const QString& data_folder, const TStoredSelections& stored) {
  LoadIcons(data_folder);
  ReadDataFiles(data_folder);
  Distribute(stored);
}

// Each format goes to the first category whose ID equals its own, and to
// every category whose ID is "0" ("All Profiles" and any such file category).
void TCatalogue::PlaceFormats() {
  const QString take_all = QString::fromLatin1(kAllProfilesID);
  for (TProfile& category : categories_) {
    for (qsizetype f = 0; f < all_formats_.size(); ++f) {
      const TFormat& format = all_formats_[f];
      if ((!placed_[f] && category.ID == format.Category) || category.ID == take_all) {
        placed_[f] = true;
        category.Formats.append(format);
      }
    }
  }
}

void TCatalogue::ApplyRecent(const std::optional<TFormatIndex>& stored) {
  if (stored && Exists(*stored)) {
    current_ = recent_ = *stored;
    return;
  }
  if (stored) {
    sink_.LogEvent(QStringLiteral("The stored recent format (profile %1, format %2) no longer exists; "
                                  "the first format is used instead.")
                       .arg(stored->Category)
                       .arg(stored->Position));
  }
  // The first existing format, so that the selection never names nothing
  // while the catalogue has formats.
  current_ = recent_ = FirstFormat().value_or(TFormatIndex{0, 0});
}

void TCatalogue::ApplyLastEdited(const std::optional<TFormatIndex>& stored,
                                 const TLastEditedValues& values, const std::optional<QString>& title) {
  if (!stored || (stored->Category < 0 && stored->Position < 0)) return;
  TFormat* format = MutableFormatAt(*stored);
  if (!format) {
    sink_.LogEvent(QStringLiteral("The stored settings of the last edited format (profile %1, format %2) "
                                  "no longer match a format and were ignored.")
                       .arg(stored->Category)
                       .arg(stored->Position));
    return;
  }
  if (title && *title != format->Title) {
    sink_.LogEvent(QStringLiteral("The stored settings of the last edited format \"%1\" were ignored: "
                                  "profile %2, format %3 is now \"%4\".")
                       .arg(*title)
                       .arg(stored->Category)
                       .arg(stored->Position)
                       .arg(format->Title));
    return;
  }
  last_edited_ = *stored;
  format->Width = values.VideoWidth;
  format->Height = values.VideoHeight;
  format->VideoBitRate = values.VideoBitRate;
  format->FrameRate = values.FrameRate;
  format->SampleRate = values.SampleRate;
  format->AudioBitRate = values.AudioBitRate;
  format->Channel = values.Channels;
  format->VideoCodecName = values.VideoCodecName;
  format->AudioCodecName = values.AudioCodecName;
}

int TCatalogue::FormatCount(int category) const {
  if (category < 0 || category >= categories_.size()) return 0;
  return static_cast<int>(categories_[category].Formats.size());
}

bool TCatalogue::Exists(TFormatIndex at) const {
  return at.Position >= 0 && at.Position < FormatCount(at.Category);
}

const TFormat* TCatalogue::FormatAt(TFormatIndex at) const {
  return Exists(at) ? &categories_[at.Category].Formats[at.Position] : nullptr;
}

TFormat* TCatalogue::MutableFormatAt(TFormatIndex at) {
  return Exists(at) ? &categories_[at.Category].Formats[at.Position] : nullptr;
}

bool TCatalogue::IsEmpty() const { return !FirstFormat().has_value(); }

std::optional<TFormatIndex> TCatalogue::FirstFormat() const {
  for (int c = 0; c < CategoryCount(); ++c) {
    if (FormatCount(c) > 0) return TFormatIndex{c, 0};
  }
  return std::nullopt;
}

int TCatalogue::IconIndexOf(const QString& name) const { return vidmill::IconIndexOf(icons_, name); }

int TCatalogue::IconIndexExact(const QString& name) const {
  return vidmill::IconIndexExact(icons_, name);
}

const QImage* TCatalogue::IconPicture(int index) const {
  if (index < 0 || index >= icons_.size()) return nullptr;
  return &icons_[index].Picture;
}

bool TCatalogue::SetCurrent(TFormatIndex at) {
  if (!Exists(at)) return false;
  current_ = at;
  return true;
}

bool TCatalogue::SetRecent(TFormatIndex at) {
  if (!Exists(at)) return false;
  recent_ = at;
  return true;
}

bool TCatalogue::SetLastEdited(TFormatIndex at) {
  if (!Exists(at)) return false;
  last_edited_ = at;
  return true;
}

}  // namespace vidmill
