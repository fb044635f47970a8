#include "error_reporter.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QThread>

#include "events_log.h"
#include "history_list.h"

namespace vidmill {
namespace {

bool OnOwnThread(const QObject* object) { return QThread::currentThread() == object->thread(); }

}  // namespace

TErrorReporter::TErrorReporter(THistoryList& history, TEventsLog& events_log, QObject* parent)
    : QObject(parent),
      history_(history),
      events_log_(events_log),
      ask_user_([](const QString&) { return std::optional<TUserRemarks>(); }),
      transport_source_([] { return ReadReportTransport(); }),
      mail_sender_(&SendReportMail),
      mail_opener_([](const QUrl& url) { return QDesktopServices::openUrl(url); }) {}

void TErrorReporter::LogEvent(const QString& text) {
  if (!OnOwnThread(this)) {
    QMetaObject::invokeMethod(this, [this, text] { LogEvent(text); }, Qt::QueuedConnection);
    return;
  }
  events_log_.AddEvent(text);
}

void TErrorReporter::ErrorReport(const QString& message, const QString& mark) {
  if (!OnOwnThread(this)) {
    QMetaObject::invokeMethod(this, [this, message, mark] { ErrorReport(message, mark); },
                              Qt::QueuedConnection);
    return;
  }
  pending_.emplace_back(message, mark);
  // A report asked for while the error window of another is open (its modal
  // loop runs queued calls) waits until that one is done.
  if (!running_) RunReports();
}

void TErrorReporter::RunReports() {
  running_ = true;
  while (!pending_.empty()) {
    const auto [message, mark] = pending_.front();
    pending_.pop_front();
    RunReport(message, mark);
  }
  running_ = false;
}

void TErrorReporter::RunReport(const QString& message, const QString& mark) {
  const std::optional<TUserRemarks> remarks = ask_user_(message);
  if (!remarks) return;

  const TReportTransport transport = transport_source_();
  AppendReportSections(history_, events_log_.Lines(), message, mark, *remarks);
  TMailMessage mail;
  mail.From = transport.Account;
  mail.To = transport.Recipient;
  mail.ReplyTo = ReplyToOf(remarks->Email);
  mail.Subject = QString::fromLatin1(kReportSubject);
  mail.BodyLines = history_.Lines();
  const QString body = mail.BodyLines.join(QStringLiteral("\n"));

  if (!transport.CanSend()) {
    Fallback(transport, message, mark, body);
    return;
  }
  const TSendResult result = mail_sender_(transport, mail);
  if (result.Sent) {
    emit ReportDone(true, false);
    return;
  }
  events_log_.AddEvent(QStringLiteral("The error report could not be mailed: ") + result.Error);
  Fallback(transport, message, mark, body);
}

void TErrorReporter::Fallback(const TReportTransport& transport, const QString& message,
                              const QString& mark, const QString& body) {
  const QUrl url = MailtoUrl(transport.Recipient, QString::fromLatin1(kReportSubject), message, mark);
  const bool opened = mail_opener_(url);
  if (!opened) {
    events_log_.AddEvent(QStringLiteral("No mail program opened for the error report."));
    if (no_mail_program_) no_mail_program_(transport.Recipient, body);
  }
  emit ReportDone(false, opened);
}

}  // namespace vidmill
