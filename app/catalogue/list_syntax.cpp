#include "list_syntax.h"

#include <numeric>

namespace vidmill {

TValueLabelList SplitValueLabelList(const QString& text) {
  TValueLabelList list;
  QString pending;
  for (const QChar c : text) {
    if (c == u'$') {
      list.Values.append(pending);
      pending.clear();
    } else if (c == u',') {
      list.Labels.append(pending);
      pending.clear();
    } else {
      pending.append(c);
    }
  }
  list.Labels.append(pending);
  return list;
}

QStringList ValuesOf(const QString& text) { return SplitValueLabelList(text).Values; }
QStringList LabelsOf(const QString& text) { return SplitValueLabelList(text).Labels; }

bool IsDecimalInteger(const QString& text) {
  qsizetype i = (text.startsWith(u'-') || text.startsWith(u'+')) ? 1 : 0;
  if (i == text.size()) return false;
  for (; i < text.size(); ++i) {
    if (text[i] < u'0' || text[i] > u'9') return false;
  }
  bool fits = false;
  text.toInt(&fits);
  return fits;
}

TFrameRate FrameRateFraction(const QString& thousandths) {
  if (!IsDecimalInteger(thousandths) || thousandths.toInt() <= 0) return {};
  const qint64 milli = thousandths.toLongLong();
  // 29970 stands for 30000/1001: the whole rate that, slowed by 1000/1001,
  // rounds to the given thousandths.
  const qint64 whole = (milli * 1001 + 500) / 1000;
  if (milli % 1000 != 0 && whole % 1000 == 0 && (whole * 1000 + 500) / 1001 == milli) {
    return {static_cast<int>(whole), 1001};
  }
  const qint64 g = std::gcd(milli, qint64{1000});
  return {static_cast<int>(milli / g), static_cast<int>(1000 / g)};
}

namespace {
QString IntegerOrMinusOne(const QString& part) {
  return IsDecimalInteger(part) ? part : QStringLiteral("-1");
}
}  // namespace

QString ResolutionWidth(const QString& resolution) {
  const qsizetype star = resolution.indexOf(u'*');
  if (star < 0) return QStringLiteral("-1");
  return IntegerOrMinusOne(resolution.left(star));
}

QString ResolutionHeight(const QString& resolution) {
  const qsizetype star = resolution.lastIndexOf(u'*');
  if (star < 0) return QStringLiteral("-1");
  return IntegerOrMinusOne(resolution.mid(star + 1));
}

}  // namespace vidmill
