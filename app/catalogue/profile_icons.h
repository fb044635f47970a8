// The catalogue's icons: every "*.bmp" of the folder Icons.
#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

#include "profile_types.h"

namespace vidmill {

struct TIconFolder {
  QVector<TProfileIcon> Icons;  // in file-name order
  QStringList Rejected;         // paths of ".bmp" files that are not bitmaps
};

// Loads every "*.bmp" (any case) of folder, sorted by name. A missing folder
// gives no icons; a file that does not read as a BMP bitmap is left out and
// named in Rejected.
TIconFolder LoadIconFolder(const QString& folder);

// Index of the first icon whose ID equals name without regard to case; 0
// when none matches; -1 when there are no icons.
int IconIndexOf(const QVector<TProfileIcon>& icons, const QString& name);
// The same with regard to case.
int IconIndexExact(const QVector<TProfileIcon>& icons, const QString& name);

}  // namespace vidmill
