#include "report_message.h"

#include <QUuid>

#include "history_list.h"

namespace vidmill {
namespace {

constexpr char kRule[] = "-------------------------";

// Mail headers take ASCII only; the fixed subject and the addresses are.
QByteArray HeaderLine(const char* name, const QString& value) {
  return QByteArray(name) + ": " + value.toLatin1() + "\r\n";
}

QByteArray Base64Lines(const QByteArray& data) {
  const QByteArray encoded = data.toBase64();
  QByteArray out;
  for (qsizetype at = 0; at < encoded.size(); at += 76) out += encoded.mid(at, 76) + "\r\n";
  return out;
}

// Line breaks in a mailto body are CR LF, percent-encoded.
QByteArray MailtoEncoded(QString text) {
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(u'\r', u'\n');
  text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
  return QUrl::toPercentEncoding(text);
}

}  // namespace

void AppendReportSections(THistoryList& history, const QStringList& events_log,
                          const QString& message, const QString& mark, const TUserRemarks& remarks) {
  history.Append(QString::fromLatin1(kRule));
  history.Append(QStringLiteral("ACTION HISTORY:"));
  history.AppendLines(events_log);
  history.Append(QString::fromLatin1(kRule));
  history.Append(QStringLiteral("LAST ERROR MESSAGE: ") + message);
  history.Append(QStringLiteral("CODE LINE MARK: ") + mark);
  if (!remarks.Name.isEmpty()) history.Append(QStringLiteral("USER NAME: ") + remarks.Name);
  if (!remarks.Details.isEmpty()) {
    history.Append(QStringLiteral("PROBLEM DETAILS:"));
    QString details = remarks.Details;
    details.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    history.AppendLines(details.split(u'\n'));
  }
}

QString ReplyToOf(const QString& typed_email) {
  const QString email = typed_email.trimmed();
  if (!email.contains(u'@')) return {};
  for (const QChar c : email) {
    if (c.unicode() < 0x21 || c.unicode() > 0x7E) return {};
  }
  return email;
}

QByteArray MailText(const TMailMessage& message, const QDateTime& date) {
  QByteArray text;
  text += HeaderLine("Date", date.toString(Qt::RFC2822Date));
  text += HeaderLine("From", message.From);
  text += HeaderLine("To", message.To);
  if (!message.ReplyTo.isEmpty()) text += HeaderLine("Reply-To", message.ReplyTo);
  text += HeaderLine("Subject", message.Subject);
  text += HeaderLine("Message-ID", QStringLiteral("<%1@vidmill.report>")
                                       .arg(QUuid::createUuid().toString(QUuid::WithoutBraces)));
  text += "MIME-Version: 1.0\r\n";
  text += "Content-Type: text/plain; charset=UTF-8\r\n";
  text += "Content-Transfer-Encoding: base64\r\n";
  text += "\r\n";
  text += Base64Lines(message.BodyLines.join(QStringLiteral("\r\n")).toUtf8());
  return text;
}

QUrl MailtoUrl(const QString& recipient, const QString& subject, const QString& message,
               const QString& mark) {
  const QString body =
      message + QStringLiteral(" ;CODE LINE MARK:") + mark + QStringLiteral(";  YOUR COMMENT (DETAILS):");
  const QByteArray encoded = "mailto:" + QUrl::toPercentEncoding(recipient, "@") + "?subject=" +
                             MailtoEncoded(subject) + "&body=" + MailtoEncoded(body);
  return QUrl::fromEncoded(encoded, QUrl::StrictMode);
}

}  // namespace vidmill
