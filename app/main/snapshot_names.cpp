#include "snapshot_names.h"

#include <QDir>
#include <QFileInfo>

namespace vidmill {

std::optional<TSnapshotName> NextSnapshotName(const QString& folder, const QString& title, const QString& ext,
                                              int counter, const std::function<bool(const QString&)>& exists) {
  if (folder.trimmed().isEmpty() || title.isEmpty()) return std::nullopt;
  auto used = [&exists](const QString& path) { return exists ? exists(path) : QFileInfo::exists(path); };
  const QDir dir(folder);
  for (int n = counter < 1 ? 1 : counter; n < counter + 100000; ++n) {
    const QString path = dir.filePath(QStringLiteral("%1_%2%3").arg(title).arg(n).arg(ext));
    if (!used(path)) return TSnapshotName{path, n};
  }
  return std::nullopt;
}

}  // namespace vidmill
