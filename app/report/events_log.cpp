#include "events_log.h"

#include <QLocale>

namespace vidmill {
namespace {

// Drops the time-zone field ("t", outside quoted literals) from a time format
// and the separators left around it.
QString WithoutZone(const QString& format) {
  QString out;
  bool quoted = false;
  for (const QChar c : format) {
    if (c == u'\'') quoted = !quoted;
    if (!quoted && c == u't') continue;
    out.append(c);
  }
  return out.simplified();
}

}  // namespace

QString LongTimeText(const QTime& time) {
  const QLocale locale = QLocale::system();
  return locale.toString(time, WithoutZone(locale.timeFormat(QLocale::LongFormat)));
}

void TEventsLog::AddEvent(const QString& text) {
  AddLine(LongTimeText(QTime::currentTime()) + QStringLiteral("-> ") + text);
}

void TEventsLog::AddLine(const QString& text) {
  lines_.append(text);
  emit LineAdded(text);
}

}  // namespace vidmill
