// TReportSink: where the application's parts send caught failures and
// events-log lines.
//
// The error report routine and the events log live in the application's
// foundation (error_reporter.h); parts that only need to report a failure
// (the catalogue, dialogs) take this small interface, so tests can record
// what was reported without windows.
//
// Thread rules: call from the main thread. The foundation's implementation
// also accepts calls from other threads and carries them over.
#pragma once

#include <QString>

namespace vidmill {

class TReportSink {
 public:
  virtual ~TReportSink() = default;
  // Reports a failure: message for the user, mark a "CLM_" name that tells
  // the maker where it happened.
  virtual void ErrorReport(const QString& message, const QString& mark) = 0;
  // Adds an events-log line: the current time, "-> " and text.
  virtual void LogEvent(const QString& text) = 0;
};

}  // namespace vidmill
