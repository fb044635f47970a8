#include "data_text.h"

namespace vidmill {

QString AttributeValue(const QString& line, const QString& key, qsizetype from,
                       qsizetype* value_end) {
  if (value_end) *value_end = from;
  const QString opening = key + QStringLiteral("=\"");
  const qsizetype at = line.indexOf(opening, from);
  if (at < 0) return {};
  const qsizetype start = at + opening.size();
  const qsizetype close = line.indexOf(u'"', start);
  if (close < 0) {
    if (value_end) *value_end = line.size();
    return {};
  }
  if (value_end) *value_end = close;
  return line.mid(start, close - start);
}

QStringList SplitTextLines(const QString& text) {
  QStringList lines;
  QString current;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (c == u'\r' || c == u'\n') {
      lines.append(current);
      current.clear();
      if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
    } else {
      current.append(c);
    }
  }
  if (!current.isEmpty()) lines.append(current);
  return lines;
}

QString TrimControls(const QString& text) {
  qsizetype first = 0;
  qsizetype last = text.size();
  while (first < last && text[first] <= u' ') ++first;
  while (last > first && text[last - 1] <= u' ') --last;
  return text.mid(first, last - first);
}

}  // namespace vidmill
