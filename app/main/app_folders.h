// The folders the application uses.
//
// Program folder: where the executable lies; the data folder
// "vidmill-profiles", the folder "common-data" and the engine library folder
// "LibAV" lie in it (an installed program finds the first two under
// share/vidmill beside its bin folder). Under the user's documents folder the
// program keeps "Tarnwick/Tarnwick Vidmill" with "Output" and "ScreenShots".
#pragma once

#include <QString>

namespace vidmill {

inline constexpr char kCommonDataName[] = "common-data";
inline constexpr char kLibAVName[] = "LibAV";
inline constexpr char kFallbackFolderName[] = "tarnwick_temp";

struct TAppFolders {
  QString Program;    // folder of the running executable
  QString Documents;  // the user's documents folder ("" when unknown)
  QString Videos;     // the user's video folder ("" when unknown)
  QString Temp;       // the temporary folder, with its trailing separator
  QString Home;       // the user's home folder

  // Program/name, or <prefix>/share/vidmill/name of an installed program
  // when the program folder has none.
  QString Resource(const QString& name) const;
  QString DataFolder() const;    // "vidmill-profiles"
  QString CommonData() const;    // "common-data"
  QString LibAV() const;         // Program + "/LibAV"
  QString OwnDocuments() const;  // Documents/Tarnwick/Tarnwick Vidmill
  QString Output() const;        // OwnDocuments/Output
  QString ScreenShots() const;   // OwnDocuments/ScreenShots
  // Where a run converts when the chosen output folder is missing.
  QString FallbackOutput() const;  // Home/tarnwick_temp
};

// The folders as the system gives them (QStandardPaths, QDir).
TAppFolders SystemFolders();

// Creates Tarnwick, Tarnwick Vidmill, Output and ScreenShots under the
// documents folder where missing, one level at a time (and the documents
// folder itself, which a fresh account may lack); failures are silent (the
// folder defaults are then simply not applied).
void CreateDocumentFolders(const TAppFolders& folders);

}  // namespace vidmill
