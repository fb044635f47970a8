// Texts of the events log, the history list and the report: line formats,
// section order, the mail, the "mailto:" address and the transport settings.
#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QUrlQuery>

#include "report/events_log.h"
#include "report/history_list.h"
#include "report/report_message.h"
#include "report/report_transport.h"

using namespace vidmill;

TEST(ReportText, HistoryLinesFromTheEngineLogger) {
  struct Case {
    uint32_t thread;
    TLogLevel level;
    QString message;
    QString line;
  };
  const Case cases[] = {
      {4242, llError, "Could not open file\n", "#4242.3: Could not open file"},
      {1, llQuiet, "quiet", "#1.0: quiet"},
      {77, llDebug, "[mp4 @ 0x55] ok\r\n", "#77.7: [mp4 @ 0x55] ok"},
      {9, llInfo, "", "#9.5: "},
  };
  for (const Case& c : cases) EXPECT_EQ(HistoryLineOf(c.thread, c.level, c.message), c.line);
  THistoryList history;
  history.AppendLog(12, llWarning, "careful");
  EXPECT_EQ(history.Lines(), (QStringList{"FFLOGGER HISTORY:", "#12.4: careful"}));
}

TEST(ReportText, EventsLogLinesAreTimeArrowText) {
  TEventsLog log;
  QStringList seen;
  QObject::connect(&log, &TEventsLog::LineAdded, [&](const QString& line) { seen.append(line); });
  log.AddEvent("File added: /tmp/a.mp4");
  log.AddLine("");
  log.AddLine("plain");
  ASSERT_EQ(log.Lines().size(), 3);
  EXPECT_EQ(seen, log.Lines());
  // The time with its seconds, directly followed by the arrow: no blank, no zone name.
  EXPECT_TRUE(QRegularExpression(R"(^\d{1,2}[:.]\d{2}[:.]\d{2}( ?[AaPp]\.?[Mm]\.?)?-> File added: /tmp/a\.mp4$)")
                  .match(log.Lines()[0])
                  .hasMatch())
      << log.Lines()[0].toStdString();
  EXPECT_FALSE(LongTimeText(QTime(13, 5, 9)).contains("UTC"));
  EXPECT_TRUE(LongTimeText(QTime(13, 5, 9)).contains("05"));
  EXPECT_EQ(log.Lines()[1], "");
}

TEST(ReportText, ReportSectionsInOrder) {
  struct Case {
    const char* what;
    TUserRemarks remarks;
    QStringList tail;
  };
  const Case cases[] = {
      {"name and details", {"Ann", "ann@example.org", "It broke\r\nafter Start"},
       {"USER NAME: Ann", "PROBLEM DETAILS:", "It broke", "after Start"}},
      {"neither name nor details", {"", "", ""}, {}},
      {"details only", {"", "x", "one line"}, {"PROBLEM DETAILS:", "one line"}},
  };
  for (const Case& c : cases) {
    THistoryList history;
    history.Append("#1.5: engine line");
    AppendReportSections(history, {"10:00:00-> File added: a", "10:00:01-> Started Conversion"},
                         "Cannot set output file: x", "CLM_SetOutputFile", c.remarks);
    QStringList expected = {"FFLOGGER HISTORY:", "#1.5: engine line", "-------------------------",
                            "ACTION HISTORY:", "10:00:00-> File added: a", "10:00:01-> Started Conversion",
                            "-------------------------", "LAST ERROR MESSAGE: Cannot set output file: x",
                            "CODE LINE MARK: CLM_SetOutputFile"};
    expected += c.tail;
    EXPECT_EQ(history.Lines(), expected) << c.what;
  }
}

TEST(ReportText, ReplyToTakesOnlyASingleAddress) {
  struct Case {
    QString typed;
    QString reply_to;
  };
  const Case cases[] = {
      {"ann@example.org", "ann@example.org"},
      {"  ann@example.org ", "ann@example.org"},
      {"no address", ""},
      {"", ""},
      {"ann@example.org\r\nBcc: all@example.org", ""},
      {"ann@example.org\nX", ""},
      {"ann @example.org", ""},
      {QString::fromUtf8("änn@example.org"), ""},
  };
  for (const Case& c : cases) EXPECT_EQ(ReplyToOf(c.typed), c.reply_to) << c.typed.toStdString();
}

TEST(ReportText, MailtoAddressIsPercentEncoded) {
  const QString message = "Cannot set output file: a&b #1 100% done? yes\r\nPlease choose other output folder";
  const QUrl url = MailtoUrl("support@example.org", "ERROR REPORT | Tarnwick Vidmill", message, "CLM_SetOutputFile");
  ASSERT_TRUE(url.isValid()) << url.errorString().toStdString();
  EXPECT_EQ(url.scheme(), "mailto");
  EXPECT_EQ(url.path(), "support@example.org");
  const QByteArray encoded = url.toEncoded();
  EXPECT_TRUE(encoded.startsWith("mailto:support@example.org?subject=ERROR%20REPORT%20%7C%20Tarnwick%20Vidmill&body="))
      << encoded.toStdString();
  EXPECT_TRUE(encoded.contains("a%26b%20%231%20100%25%20done%3F%20yes%0D%0APlease")) << encoded.toStdString();
  // Read back, the query gives exactly the two texts.
  const QUrlQuery query(url);
  ASSERT_EQ(query.queryItems(QUrl::FullyDecoded).size(), 2);
  EXPECT_EQ(query.queryItemValue("subject", QUrl::FullyDecoded), "ERROR REPORT | Tarnwick Vidmill");
  EXPECT_EQ(query.queryItemValue("body", QUrl::FullyDecoded),
            message + " ;CODE LINE MARK:CLM_SetOutputFile;  YOUR COMMENT (DETAILS):");
}

TEST(ReportText, MailTextHeadersAndBody) {
  TMailMessage mail{"reports@example.org", "support@example.org", "ann@example.org",
                    "ERROR REPORT | Tarnwick Vidmill", {"FFLOGGER HISTORY:", QString::fromUtf8("Grüße"), ".", ""}};
  const QByteArray text = MailText(mail, QDateTime(QDate(2024, 3, 1), QTime(12, 0), Qt::UTC));
  const qsizetype split = text.indexOf("\r\n\r\n");
  ASSERT_GT(split, 0);
  const QByteArray headers = text.left(split + 2);
  EXPECT_TRUE(headers.contains("From: reports@example.org\r\n"));
  EXPECT_TRUE(headers.contains("To: support@example.org\r\n"));
  EXPECT_TRUE(headers.contains("Reply-To: ann@example.org\r\n"));
  EXPECT_TRUE(headers.contains("Subject: ERROR REPORT | Tarnwick Vidmill\r\n"));
  EXPECT_TRUE(headers.contains("01 Mar 2024 12:00:00 +0000\r\n")) << headers.toStdString();
  EXPECT_TRUE(headers.contains("Content-Transfer-Encoding: base64\r\n"));
  const QByteArray body = QByteArray::fromBase64(text.mid(split + 4).replace("\r\n", ""));
  EXPECT_EQ(QString::fromUtf8(body), mail.BodyLines.join("\r\n"));
  for (const QByteArray& line : text.split('\n')) EXPECT_LE(line.size(), 78);
  mail.ReplyTo.clear();
  EXPECT_FALSE(MailText(mail, QDateTime::currentDateTime()).contains("Reply-To"));
}

TEST(ReportText, TransportSettings) {
  QTemporaryDir dir;
  {
    QSettings empty(dir.filePath("empty.ini"), QSettings::IniFormat);
    const TReportTransport t = ReadReportTransport(empty);
    EXPECT_EQ(t.Port, 26);
    EXPECT_EQ(t.Host, "");
    EXPECT_EQ(t.Account, "");
    EXPECT_EQ(t.Recipient, kDefaultSupportAddress);
    EXPECT_FALSE(t.CanSend());
  }
  {
    QSettings s(dir.filePath("set.ini"), QSettings::IniFormat);
    s.setValue("ErrorReport/Host", "mail.example.org");
    s.setValue("ErrorReport/Port", 587);
    s.setValue("ErrorReport/Account", "reports@example.org");
    s.setValue("ErrorReport/Password", "from-the-store");
    s.setValue("ErrorReport/Recipient", "team@example.org");
    const TReportTransport t = ReadReportTransport(s);
    EXPECT_EQ(t.Host, "mail.example.org");
    EXPECT_EQ(t.Port, 587);
    EXPECT_EQ(t.Account, "reports@example.org");
    EXPECT_EQ(t.Password, "from-the-store");
    EXPECT_EQ(t.Recipient, "team@example.org");
    EXPECT_TRUE(t.CanSend());
  }
  {
    QSettings s(dir.filePath("bad.ini"), QSettings::IniFormat);
    s.setValue("ErrorReport/Port", "not a port");
    s.setValue("ErrorReport/Host", "h");
    EXPECT_EQ(ReadReportTransport(s).Port, 26);
    EXPECT_FALSE(ReadReportTransport(s).CanSend()) << "no account: straight to the mail program";
  }
}
