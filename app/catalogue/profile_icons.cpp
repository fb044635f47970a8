#include "profile_icons.h"

#include <QDir>

namespace vidmill {

TIconFolder LoadIconFolder(const QString& folder) {
  TIconFolder result;
  const QDir dir(folder);
  const QFileInfoList files =
      dir.entryInfoList({QStringLiteral("*.bmp")}, QDir::Files | QDir::Readable, QDir::Name);
  for (const QFileInfo& info : files) {
    TProfileIcon icon;
    icon.ID = info.fileName().chopped(4);
    if (!icon.Picture.load(info.filePath(), "BMP")) {
      result.Rejected.append(info.filePath());
      continue;
    }
    result.Icons.append(std::move(icon));
  }
  return result;
}

namespace {
int IndexOrFirst(const QVector<TProfileIcon>& icons, const QString& name, Qt::CaseSensitivity cs) {
  if (icons.isEmpty()) return -1;
  for (qsizetype i = 0; i < icons.size(); ++i) {
    if (icons[i].ID.compare(name, cs) == 0) return static_cast<int>(i);
  }
  return 0;
}
}  // namespace

int IconIndexOf(const QVector<TProfileIcon>& icons, const QString& name) {
  return IndexOrFirst(icons, name, Qt::CaseInsensitive);
}

int IconIndexExact(const QVector<TProfileIcon>& icons, const QString& name) {
  return IndexOrFirst(icons, name, Qt::CaseSensitive);
}

}  // namespace vidmill
