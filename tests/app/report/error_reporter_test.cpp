// The error report routine: what the user's choice, the transport settings
// and the outside world's answers make of a report. The mail servers are
// the tests' own on 127.0.0.1; the mail program is a recording opener.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QTcpServer>
#include <QUrlQuery>
#include <thread>

#include "report/error_reporter.h"
#include "report/events_log.h"
#include "report/history_list.h"
#include "test_mail_server.h"

using namespace vidmill;
using vidmill::testing::TestApp;
using vidmill::testing::TTestMailServer;

namespace {

struct ReportRig {
  THistoryList history;
  TEventsLog events;
  TErrorReporter reporter{history, events};
  std::optional<TUserRemarks> answer = TUserRemarks{"Ann", "ann@example.org", "Details here"};
  TReportTransport transport;
  QStringList asked;
  QVector<TMailMessage> sent;
  TSendResult send_result{true, {}};
  QVector<QUrl> opened;
  bool opener_result = true;
  QStringList notices;

  explicit ReportRig(bool fake_sender = true) {
    TestApp();
    transport.Host = "127.0.0.1";
    transport.Account = "reports@example.org";
    transport.Password = "secret";
    transport.Recipient = "support@example.org";
    reporter.SetAskUser([this](const QString& m) {
      asked.append(m);
      return answer;
    });
    reporter.SetTransportSource([this] { return transport; });
    if (fake_sender) {
      reporter.SetMailSender([this](const TReportTransport&, const TMailMessage& m) {
        sent.append(m);
        return send_result;
      });
    }
    reporter.SetMailOpener([this](const QUrl& url) {
      opened.append(url);
      return opener_result;
    });
    reporter.SetNoMailProgram([this](const QString& to, const QString&) { notices.append(to); });
  }
};

int FreePort() {
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost, 0);
  return probe.serverPort();  // closed again when probe goes away
}

}  // namespace

TEST(ErrorReporter, CancelSendsAndRecordsNothing) {
  ReportRig rig;
  rig.answer.reset();
  rig.events.AddEvent("something");
  rig.reporter.ErrorReport("Error loading profiles", "CLM_LoadProfiles");
  EXPECT_EQ(rig.asked, QStringList{"Error loading profiles"});
  EXPECT_EQ(rig.history.Lines(), QStringList{"FFLOGGER HISTORY:"});
  EXPECT_TRUE(rig.sent.isEmpty());
  EXPECT_TRUE(rig.opened.isEmpty());
}

TEST(ErrorReporter, SendMailsTheWholeHistory) {
  ReportRig rig;
  rig.history.AppendLog(5, llError, "engine says no");
  rig.events.AddEvent("File added: a.mp4");
  rig.reporter.ErrorReport("Error loading formats", "CLM_LoadFormats");
  ASSERT_EQ(rig.sent.size(), 1);
  const TMailMessage& mail = rig.sent[0];
  EXPECT_EQ(mail.From, "reports@example.org");
  EXPECT_EQ(mail.To, "support@example.org");
  EXPECT_EQ(mail.ReplyTo, "ann@example.org");
  EXPECT_EQ(mail.Subject, "ERROR REPORT | Tarnwick Vidmill");
  EXPECT_EQ(mail.BodyLines, rig.history.Lines());
  EXPECT_EQ(mail.BodyLines.value(1), "#5.3: engine says no");
  EXPECT_TRUE(rig.opened.isEmpty());
}

TEST(ErrorReporter, AddressWithoutAtLeavesTheAccountAlone) {
  ReportRig rig;
  rig.answer = TUserRemarks{"", "not an address", ""};
  rig.reporter.ErrorReport("m", "CLM_Shut");
  ASSERT_EQ(rig.sent.size(), 1);
  EXPECT_EQ(rig.sent[0].From, "reports@example.org");
  EXPECT_EQ(rig.sent[0].ReplyTo, "");
  EXPECT_FALSE(rig.history.Lines().join("\n").contains("USER NAME: "));
  EXPECT_FALSE(rig.history.Lines().join("\n").contains("PROBLEM DETAILS:"));
}

TEST(ErrorReporter, TwoReportsRepeatTheFirstSections) {
  ReportRig rig;
  rig.reporter.ErrorReport("first", "CLM_Terminate");
  rig.reporter.ErrorReport("second", "CLM_Terminate");
  ASSERT_EQ(rig.sent.size(), 2);
  EXPECT_EQ(rig.sent[1].BodyLines.count("ACTION HISTORY:"), 2);
  const QString body = rig.sent[1].BodyLines.join("\n");
  EXPECT_LT(body.indexOf("LAST ERROR MESSAGE: first"), body.indexOf("LAST ERROR MESSAGE: second"));
}

TEST(ErrorReporter, WithoutAnAccountTheMailProgramOpensAtOnce) {
  ReportRig rig;
  rig.transport.Account.clear();
  rig.reporter.ErrorReport("Cannot set output file: x & y", "CLM_SetOutputFile");
  EXPECT_TRUE(rig.sent.isEmpty());
  ASSERT_EQ(rig.opened.size(), 1);
  EXPECT_EQ(rig.opened[0].path(), "support@example.org");
  EXPECT_EQ(QUrlQuery(rig.opened[0]).queryItemValue("body", QUrl::FullyDecoded),
            "Cannot set output file: x & y ;CODE LINE MARK:CLM_SetOutputFile;  YOUR COMMENT (DETAILS):");
  EXPECT_TRUE(rig.history.Lines().contains("CODE LINE MARK: CLM_SetOutputFile"));
}

TEST(ErrorReporter, FailedMailFallsBackAndNoMailProgramIsToldToTheUser) {
  ReportRig rig;
  rig.send_result = {false, "Connection refused"};
  rig.opener_result = false;
  rig.reporter.ErrorReport("m", "CLM_Shut");
  EXPECT_EQ(rig.sent.size(), 1);
  EXPECT_EQ(rig.opened.size(), 1);
  EXPECT_EQ(rig.notices, QStringList{"support@example.org"});
  EXPECT_TRUE(rig.events.Lines().join("\n").contains("Connection refused"));
}

TEST(ErrorReporter, ReportsFromOtherThreadsRunOnTheMainThread) {
  ReportRig rig;
  std::thread worker([&] {
    rig.reporter.LogEvent("from a worker");
    rig.reporter.ErrorReport("Conversion terminated with error: boom", "CLM_Terminate");
  });
  worker.join();
  EXPECT_TRUE(rig.asked.isEmpty()) << "nothing runs on the worker";
  QCoreApplication::processEvents();
  EXPECT_EQ(rig.asked, QStringList{"Conversion terminated with error: boom"});
  EXPECT_TRUE(rig.events.Lines().value(0).endsWith("-> from a worker"));
}

TEST(ErrorReporterMail, ReportArrivesOverTlsWithItsSubjectAndSectionsInOrder) {
  TTestMailServer server(true, "reports@example.org", "s3cret");
  ASSERT_TRUE(server.Running()) << server.Error().toStdString();
  ReportRig rig(false);
  rig.transport.Port = server.Port();
  rig.transport.Password = "s3cret";
  rig.transport.CaFile = server.CertFile();
  rig.history.AppendLog(31, llWarning, "[mp4 @ 0x1] a warning");
  rig.events.AddEvent("File added: /tmp/clip.mp4");
  rig.events.AddEvent("Started Conversion");
  rig.reporter.ErrorReport("Conversion terminated with error: boom", "CLM_Terminate");
  EXPECT_TRUE(rig.opened.isEmpty()) << rig.events.Lines().join("\n").toStdString();

  const QJsonObject mail = server.Message(1);
  ASSERT_FALSE(mail.isEmpty());
  EXPECT_TRUE(mail["tls"].toBool());
  EXPECT_EQ(mail["subject"].toString(), "ERROR REPORT | Tarnwick Vidmill");
  EXPECT_EQ(mail["mail_from"].toString(), "reports@example.org");
  EXPECT_EQ(mail["rcpt_tos"].toArray().first().toString(), "support@example.org");
  EXPECT_EQ(mail["reply_to"].toString(), "ann@example.org");
  const QStringList body = mail["body"].toString().split(QRegularExpression("\r?\n"));
  const QStringList expected_order = {
      "FFLOGGER HISTORY:", "#31.4: [mp4 @ 0x1] a warning", "-------------------------", "ACTION HISTORY:",
      "-> File added: /tmp/clip.mp4", "-> Started Conversion", "-------------------------",
      "LAST ERROR MESSAGE: Conversion terminated with error: boom", "CODE LINE MARK: CLM_Terminate",
      "USER NAME: Ann", "PROBLEM DETAILS:", "Details here"};
  qsizetype at = 0;
  for (const QString& part : expected_order) {
    const qsizetype found = body.indexOf(QRegularExpression("^.*" + QRegularExpression::escape(part) + "$"), at);
    ASSERT_GE(found, at) << "missing or out of order: " << part.toStdString() << "\n"
                         << body.join("\n").toStdString();
    at = found + 1;
  }
}

TEST(ErrorReporterMail, WrongPasswordFallsBackToTheMailProgram) {
  TTestMailServer server(true, "reports@example.org", "right");
  ASSERT_TRUE(server.Running()) << server.Error().toStdString();
  ReportRig rig(false);
  rig.transport.Port = server.Port();
  rig.transport.Password = "wrong";
  rig.transport.CaFile = server.CertFile();
  rig.reporter.ErrorReport("m", "CLM_Shut");
  EXPECT_EQ(rig.opened.size(), 1);
  EXPECT_EQ(server.MessageCount(), 0);
}

TEST(ErrorReporterMail, ServerWithoutTlsNeverGetsThePassword) {
  TTestMailServer server(false);
  ASSERT_TRUE(server.Running()) << server.Error().toStdString();
  ReportRig rig(false);
  rig.transport.Port = server.Port();
  rig.reporter.ErrorReport("m", "CLM_Shut");
  ASSERT_EQ(rig.opened.size(), 1) << "TLS is required when an account is set";
  EXPECT_EQ(server.MessageCount(), 0);
}

TEST(ErrorReporterMail, ServerDownFallsBackToTheMailProgram) {
  ReportRig rig(false);
  rig.transport.Port = FreePort();
  rig.reporter.ErrorReport("Error writing data to Registry", "CLM_RegDataWrite");
  ASSERT_EQ(rig.opened.size(), 1);
  const QUrl& url = rig.opened[0];
  EXPECT_EQ(url.scheme(), "mailto");
  EXPECT_EQ(QUrlQuery(url).queryItemValue("subject", QUrl::FullyDecoded), "ERROR REPORT | Tarnwick Vidmill");
  EXPECT_TRUE(QUrlQuery(url).queryItemValue("body", QUrl::FullyDecoded).startsWith("Error writing data to Registry ;CODE LINE MARK:CLM_RegDataWrite"));
  EXPECT_TRUE(rig.notices.isEmpty());
}
