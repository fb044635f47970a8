// TEventsLog: the events log's lines, for the life of the program.
//
// The application adds one line per notable event (files added, conversions
// started, finished, cancelled, failures): the current time in the system's
// long time format followed directly by "-> " and the text. The events-log
// window shows the lines; error reports quote them. Never cleared or saved.
//
// Thread rules: main thread only (TErrorReporter::LogEvent carries calls
// from other threads over).
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTime>

namespace vidmill {

// time in the system locale's long time format, without a time-zone name.
QString LongTimeText(const QTime& time);

class TEventsLog : public QObject {
  Q_OBJECT
 public:
  using QObject::QObject;

  const QStringList& Lines() const { return lines_; }
  // Adds LongTimeText(now) + "-> " + text.
  void AddEvent(const QString& text);
  // Adds text as it stands (a plain or empty line).
  void AddLine(const QString& text);

 signals:
  void LineAdded(const QString& line);

 private:
  QStringList lines_;
};

}  // namespace vidmill
