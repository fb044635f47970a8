// TCatalogue: the profile catalogue read from the data folder.
//
// The data folder "vidmill-profiles" in the program folder holds
// Profiles.dat (categories), Formats.dat (formats, stored with every byte
// complemented) and the folder Icons. The catalogue reads them once at
// start-up into categories that each hold their own copies of their formats,
// plus a last category "All Profiles" with a copy of every format. A format
// is addressed by (category index, position in that category).
//
// Every (category, position) lookup is bounds-checked: a pair that names no
// format gives null / false, never an out-of-range access.
//
// Thread rules: main thread only.
#pragma once

#include <optional>

#include <QString>
#include <QVector>

#include "profile_types.h"

namespace vidmill {

class TReportSink;

inline constexpr char kDataFolderName[] = "vidmill-profiles";
inline constexpr char kProfilesFileName[] = "Profiles.dat";
inline constexpr char kFormatsFileName[] = "Formats.dat";
inline constexpr char kIconsFolderName[] = "Icons";
inline constexpr char kAllProfilesTitle[] = "All Profiles";
inline constexpr char kAllProfilesID[] = "0";
inline constexpr char kAllProfilesIcon[] = "menuall";

// The folder "vidmill-profiles" inside program_folder.
QString DataFolderOf(const QString& program_folder);

// The nine values of the last edited format kept in the settings store.
struct TLastEditedValues {
  QString VideoCodecName;  // videocodecname
  QString VideoBitRate;    // videobitrate
  QString FrameRate;       // framerate
  QString VideoWidth;      // videowidth
  QString VideoHeight;     // videoheight
  QString AudioCodecName;  // audiocodecname
  QString AudioBitRate;    // audiobitrate
  QString SampleRate;      // samplerate
  QString Channels;        // channels
};

// Selections read from the settings store; absent values keep the defaults.
struct TStoredSelections {
  std::optional<TFormatIndex> Recent;      // recentprofileind, recentformatind
  std::optional<TFormatIndex> LastEdited;  // lasteditedprofileind, lasteditedformatind
  TLastEditedValues Values;
  // lasteditedtitle: the title of the edited format when it was stored. When
  // present and the pair now names a format of another title (the data files
  // changed), the values are not applied.
  std::optional<QString> LastEditedTitle;
};

class TCatalogue {
 public:
  // sink receives the error reports and events-log lines of loading; it must
  // outlive the catalogue's loading calls.
  explicit TCatalogue(TReportSink& sink) : sink_(sink) {}

  // Start-up, in this order: icons; data files; then, once the stored
  // selections are known, Distribute. Each may be called once.
  void LoadIcons(const QString& data_folder);
  void ReadDataFiles(const QString& data_folder);
  void Distribute(const TStoredSelections& stored);
  // All three in order (tools and tests).
  void Load(const QString& data_folder, const TStoredSelections& stored = {});

  const QVector<TProfile>& Categories() const { return categories_; }
  int CategoryCount() const { return static_cast<int>(categories_.size()); }
  // Number of formats in a category; 0 for an index out of range.
  int FormatCount(int category) const;
  bool Exists(TFormatIndex at) const;
  // The format at a pair, or null when the pair names none.
  const TFormat* FormatAt(TFormatIndex at) const;
  TFormat* MutableFormatAt(TFormatIndex at);
  // True when no category holds a format (nothing can be converted).
  bool IsEmpty() const;
  // The first format in category order, if any.
  std::optional<TFormatIndex> FirstFormat() const;
  // Every format of Formats.dat in file order.
  const QVector<TFormat>& AllFormats() const { return all_formats_; }

  int ChooserHeight() const { return chooser_height_; }
  const QVector<TProfileIcon>& Icons() const { return icons_; }
  // Icon lookups: see profile_icons.h (-1 when there are no icons).
  int IconIndexOf(const QString& name) const;
  int IconIndexExact(const QString& name) const;
  // The picture of an icon index, or null when the index names none.
  const QImage* IconPicture(int index) const;

  // The format new list entries receive. After Distribute it names an
  // existing format whenever the catalogue is not empty.
  TFormatIndex Current() const { return current_; }
  // False (and no change) when at names no format.
  bool SetCurrent(TFormatIndex at);
  // Last format chosen in the chooser; persisted.
  TFormatIndex Recent() const { return recent_; }
  bool SetRecent(TFormatIndex at);
  // Format last changed in the settings dialog; (-1, -1) for none.
  TFormatIndex LastEdited() const { return last_edited_; }
  bool SetLastEdited(TFormatIndex at);

 private:
  void PlaceFormats();
  void ApplyRecent(const std::optional<TFormatIndex>& stored);
  void ApplyLastEdited(const std::optional<TFormatIndex>& stored, const TLastEditedValues& values,
                       const std::optional<QString>& title);

  TReportSink& sink_;
  QVector<TProfile> categories_;
  QVector<TFormat> all_formats_;
  QVector<bool> placed_;
  QVector<TProfileIcon> icons_;
  int chooser_height_ = 0;
  TFormatIndex current_{0, 0};
  TFormatIndex recent_{0, 0};
  TFormatIndex last_edited_{-1, -1};
};

}  // namespace vidmill
