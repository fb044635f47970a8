// Reader of Profiles.dat: the chooser height and the categories.
//
// Line 1 is ignored, line 2 carries height="N", line 3 is ignored; then each
// line holding <category id="..." title="..." icon="..."> defines a category,
// other lines are skipped, and a line holding </profile> ends the file.
#pragma once

#include <QString>
#include <QVector>

#include "profile_types.h"

namespace vidmill {

struct TProfilesFile {
  int ChooserHeight = 0;
  QVector<TProfile> Categories;  // file order, empty Formats
};

// Reads path into out. False on any failure (missing or unreadable file, a
// height that is not an integer, a file that ends before </profile>), with
// the categories read before the failure kept in out and a short reason for
// the events log in reason.
bool ReadProfilesFile(const QString& path, TProfilesFile& out, QString& reason);

}  // namespace vidmill
