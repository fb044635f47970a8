#include "profiles_file.h"

#include <QFile>

#include "data_text.h"
#include "list_syntax.h"

namespace vidmill {
namespace {

constexpr char kCategoryKey[] = "<category id";
constexpr char kEndLine[] = "</profile>";

TProfile CategoryOfLine(const QString& line) {
  TProfile category;
  qsizetype end = 0;
  category.ID = AttributeValue(line, QString::fromLatin1(kCategoryKey), 0, &end);
  category.Title = AttributeValue(line, QStringLiteral("title"), end, &end);
  category.Icon = AttributeValue(line, QStringLiteral("icon"), end);
  return category;
}

}  // namespace

bool ReadProfilesFile(const QString& path, TProfilesFile& out, QString& reason) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    reason = QStringLiteral("Cannot open %1: %2").arg(path, file.errorString());
    return false;
  }
  QString text = QString::fromUtf8(file.readAll());
  if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
  const QStringList lines = SplitTextLines(text);
  if (lines.size() < 3) {
    reason = QStringLiteral("%1 ends before its first category").arg(path);
    return false;
  }
  const QString height = AttributeValue(lines[1], QStringLiteral("height"));
  if (!IsDecimalInteger(height)) {
    reason = QStringLiteral("%1: the chooser height \"%2\" is not a number").arg(path, height);
    return false;
  }
  out.ChooserHeight = height.toInt();
  const QString category_opening = QString::fromLatin1(kCategoryKey) + QStringLiteral("=\"");
  for (qsizetype i = 3; i < lines.size(); ++i) {
    const QString line = TrimControls(lines[i]);
    if (line.contains(QLatin1String(kEndLine))) return true;
    if (line.contains(category_opening)) out.Categories.append(CategoryOfLine(line));
  }
  reason = QStringLiteral("%1 ends before %2").arg(path, QLatin1String(kEndLine));
  return false;
}

}  // namespace vidmill
