// THistoryList: the in-memory history that error reports are made of.
//
// It starts with "FFLOGGER HISTORY:", receives every message of the engine
// logger as "#<thread id>.<level ordinal>: <message>", and keeps the
// sections that each error report appends, so a later report repeats the
// earlier ones in time order. Unbounded, never cleared.
//
// Thread rules: main thread only; engine_bridge.h carries logger lines over.
#pragma once

#include <cstdint>

#include <QString>
#include <QStringList>

#include "core/ff_log.h"

namespace vidmill {

inline constexpr char kHistoryFirstLine[] = "FFLOGGER HISTORY:";

// "#" thread "." level ": " message, without the message's final line break.
QString HistoryLineOf(uint32_t thread_id, TLogLevel level, const QString& message);

class THistoryList {
 public:
  THistoryList() : lines_{QString::fromLatin1(kHistoryFirstLine)} {}
  const QStringList& Lines() const { return lines_; }
  void Append(const QString& line) { lines_.append(line); }
  void AppendLines(const QStringList& lines) { lines_.append(lines); }
  // The logger's OnLog handler.
  void AppendLog(uint32_t thread_id, TLogLevel level, const QString& message) {
    lines_.append(HistoryLineOf(thread_id, level, message));
  }

 private:
  QStringList lines_;
};

}  // namespace vidmill
