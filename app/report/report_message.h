// Building an error report: the sections appended to the history list, the
// mail that carries it, and the "mailto:" address of the fallback.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace vidmill {

class THistoryList;

// What the user typed into the error window.
struct TUserRemarks {
  QString Name;
  QString Email;
  QString Details;
};

// Appends the report's sections to history: a rule, "ACTION HISTORY:" and
// the events-log lines, a rule, the message and the mark, and the user's
// name and details when given.
void AppendReportSections(THistoryList& history, const QStringList& events_log,
                          const QString& message, const QString& mark, const TUserRemarks& remarks);

// The typed address when it may go into Reply-To: it holds "@" and is plain
// printable ASCII (no line break that could add header lines); else "".
QString ReplyToOf(const QString& typed_email);

struct TMailMessage {
  QString From;
  QString To;
  QString ReplyTo;  // "" for none
  QString Subject;
  QStringList BodyLines;
};

// The message as sent: headers, then the body as UTF-8 in base64.
QByteArray MailText(const TMailMessage& message, const QDateTime& date);

// "mailto:" recipient "?subject=" subject "&body=" message " ;CODE LINE
// MARK:" mark ";  YOUR COMMENT (DETAILS):", subject and body percent-encoded
// so that "&", "#", "%", "?" and line breaks arrive as written.
QUrl MailtoUrl(const QString& recipient, const QString& subject, const QString& message,
               const QString& mark);

}  // namespace vidmill
