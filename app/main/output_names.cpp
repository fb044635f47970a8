#include "output_names.h"

#include <QDir>
#include <QFileInfo>

namespace vidmill {

bool IsValidDestinationTitle(const QString& title, QString* reason) {
  auto refuse = [reason](const QString& why) {
    if (reason) *reason = why;
    return false;
  };
  if (title.trimmed().isEmpty()) return refuse(QStringLiteral("The destination file name cannot be empty."));
  if (title.contains(u'/') || title.contains(u'\\'))
    return refuse(QStringLiteral("The destination file name cannot hold \"/\" or \"\\\"."));
  if (title.contains(QLatin1String("..")))
    return refuse(QStringLiteral("The destination file name cannot hold \"..\"."));
  for (const QChar c : title) {
    if (c.category() == QChar::Other_Control)
      return refuse(QStringLiteral("The destination file name cannot hold control characters."));
  }
  return true;
}

QString PathKey(const QString& path) {
  const QFileInfo info(path);
  const QString canonical = info.canonicalFilePath();
  return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

TOutputNamer::TOutputNamer(const QStringList& sources, bool replace_existing, TExists exists)
    : replace_existing_(replace_existing), exists_(std::move(exists)) {
  if (!exists_) exists_ = [](const QString& path) { return QFileInfo::exists(path); };
  for (const QString& s : sources) sources_.insert(PathKey(s));
}

bool TOutputNamer::Free(const QString& path) const {
  const QString key = PathKey(path);
  if (sources_.contains(key) || claimed_.contains(key)) return false;
  return replace_existing_ || !exists_(path);
}

QString TOutputNamer::Claim(const QString& folder, const QString& title, const QString& ext) {
  const QDir dir(folder);
  for (int n = 1; n < 10000; ++n) {
    const QString name = n == 1 ? title + ext : QStringLiteral("%1 (%2)%3").arg(title).arg(n).arg(ext);
    const QString path = dir.filePath(name);
    if (Free(path)) {
      claimed_.insert(PathKey(path));
      return path;
    }
  }
  return QString();
}

}  // namespace vidmill
