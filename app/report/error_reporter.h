// TErrorReporter: the application's one error report routine and its events
// log front door.
//
// ErrorReport(message, mark) shows the error window (through AskUser); only
// when the user chooses "Send" are the report's sections appended to the
// history list and the history mailed to the maker. Without a reporting
// account, or when the mail cannot be sent, the user's mail program is opened
// with a prepared "mailto:" message; when that fails too, the user is told.
//
// Everything that meets the outside world is injectable: the window, the
// transport settings, the mail sender, the "mailto:" opener and the notice
// to the user, so tests never open windows, real servers or mail programs.
//
// Thread rules: owned by and used on the main thread; ErrorReport and
// LogEvent called from another thread are queued to the main thread. A report
// requested while another is open waits for it.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <utility>

#include <QObject>
#include <QString>
#include <QUrl>

#include "report_mailer.h"
#include "report_message.h"
#include "report_sink.h"
#include "report_transport.h"

namespace vidmill {

class TEventsLog;
class THistoryList;

class TErrorReporter : public QObject, public TReportSink {
  Q_OBJECT
 public:
  // Shows the error window with the message; the user's remarks when the
  // window was closed with "Send", else nothing.
  using TAskUser = std::function<std::optional<TUserRemarks>(const QString& message)>;
  using TTransportSource = std::function<TReportTransport()>;
  using TMailSender = std::function<TSendResult(const TReportTransport&, const TMailMessage&)>;
  // Opens a "mailto:" address with the user's mail program; false when none opened.
  using TMailOpener = std::function<bool(const QUrl&)>;
  // Tells the user that no mail program opened; gets the recipient and the report body.
  using TNoMailProgram = std::function<void(const QString& recipient, const QString& body)>;

  // history and events_log must outlive the reporter. Defaults: settings from
  // the application's key, SendReportMail, QDesktopServices::openUrl, and no
  // notice (set one with SetNoMailProgram).
  TErrorReporter(THistoryList& history, TEventsLog& events_log, QObject* parent = nullptr);

  void SetAskUser(TAskUser ask) { ask_user_ = std::move(ask); }
  void SetTransportSource(TTransportSource source) { transport_source_ = std::move(source); }
  void SetMailSender(TMailSender sender) { mail_sender_ = std::move(sender); }
  void SetMailOpener(TMailOpener opener) { mail_opener_ = std::move(opener); }
  void SetNoMailProgram(TNoMailProgram notice) { no_mail_program_ = std::move(notice); }

  void ErrorReport(const QString& message, const QString& mark) override;
  void LogEvent(const QString& text) override;

 signals:
  // A report finished: sent by mail, handed to the mail program, or neither.
  void ReportDone(bool mailed, bool mail_program_opened);

 private:
  void RunReports();
  void RunReport(const QString& message, const QString& mark);
  void Fallback(const TReportTransport& transport, const QString& message, const QString& mark,
                const QString& body);

  THistoryList& history_;
  TEventsLog& events_log_;
  TAskUser ask_user_;
  TTransportSource transport_source_;
  TMailSender mail_sender_;
  TMailOpener mail_opener_;
  TNoMailProgram no_mail_program_;
  std::deque<std::pair<QString, QString>> pending_;  // message, mark
  bool running_ = false;
};

}  // namespace vidmill
