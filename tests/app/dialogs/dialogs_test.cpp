// The events-log window and the error window, driven as a user would, under
// the offscreen platform. No mail program or mail server is ever reached.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QUrlQuery>

#include "dialogs/error_form.h"
#include "dialogs/events_log_form.h"
#include "report/error_reporter.h"
#include "report/events_log.h"
#include "report/history_list.h"

using namespace vidmill;

namespace {

// The program's QApplication (widget_app.cpp makes it before the tests run).
QApplication& App() { return *qobject_cast<QApplication*>(QCoreApplication::instance()); }

QStringList LabelTexts(const QWidget& w) {
  QStringList texts;
  for (const QLabel* l : w.findChildren<QLabel*>()) texts.append(l->text());
  return texts;
}

// Runs action once a modal window is up (gives up after about two seconds,
// closing whatever is open, so a test can fail but never hang).
void WhenModal(std::function<void(QWidget*)> action, int tries = 200) {
  QTimer::singleShot(10, [action, tries] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal) {
      action(modal);
    } else if (tries > 0) {
      WhenModal(action, tries - 1);
    } else {
      ADD_FAILURE() << "no modal window appeared";
      for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* d = qobject_cast<QDialog*>(w)) d->reject();
      }
    }
  });
}

}  // namespace

TEST(EventsLogWindow, ShowsEveryLineAndClosesWithOK) {
  App();
  TEventsLog log;
  log.AddEvent("File added: /videos/a.mp4");
  log.AddLine("");
  TLogForm form(log);
  EXPECT_EQ(form.windowTitle(), "Events Log");
  EXPECT_TRUE(form.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(form.size(), QSize(412, 358));
  EXPECT_TRUE(form.mmoLog->isReadOnly());
  EXPECT_EQ(form.btnOK->text(), "OK");
  log.AddEvent("Started Conversion");
  const QStringList shown = form.mmoLog->toPlainText().split('\n');
  EXPECT_EQ(shown, log.Lines());
  EXPECT_TRUE(shown[2].endsWith("-> Started Conversion"));

  // Typing into the memo changes nothing.
  form.show();
  QTest::keyClicks(form.mmoLog, "typed");
  EXPECT_EQ(form.mmoLog->toPlainText().split('\n'), log.Lines());

  form.hide();
  WhenModal([&](QWidget*) { QTest::mouseClick(form.btnOK, Qt::LeftButton); });
  EXPECT_EQ(form.exec(), QDialog::Rejected);
  EXPECT_FALSE(form.isVisible());
}

TEST(EventsLogWindow, ManyLinesScrollToTheLatest) {
  App();
  TEventsLog log;
  TLogForm form(log);
  form.show();
  for (int i = 0; i < 200; ++i) log.AddEvent(QStringLiteral("line %1 with a long text that needs the horizontal scroll bar to be read whole").arg(i));
  QApplication::processEvents();
  const QScrollBar* bar = form.mmoLog->verticalScrollBar();
  EXPECT_GT(bar->maximum(), 0);
  EXPECT_EQ(bar->value(), bar->maximum());
  EXPECT_GT(form.mmoLog->horizontalScrollBar()->maximum(), 0);
}

TEST(ErrorWindow, TextsAndSize) {
  App();
  TErrorForm form;
  EXPECT_EQ(form.windowTitle(), "Error!");
  const QStringList texts = LabelTexts(form);
  for (const char* t : {"The following error occured:",
                        "Error report is generated. Please send it to developers to fix the problem.",
                        "If you want to be notified when the problem is fixed,  you can leave",
                        "your contact information. You can also provide details of the problem. ",
                        "Your Name:", "Your E-Mail:", "Details:"}) {
    EXPECT_TRUE(texts.contains(t)) << t;
  }
  EXPECT_EQ(form.btnSend->text(), "Send");
  EXPECT_EQ(form.btnCancel->text(), "Cancel");
  form.show();
  EXPECT_EQ(form.size(), QSize(375, 255));
  // Every control fits inside the window.
  for (QWidget* w : {static_cast<QWidget*>(form.edName), static_cast<QWidget*>(form.edEmail),
                     static_cast<QWidget*>(form.memDetails), static_cast<QWidget*>(form.btnSend)}) {
    const QRect r(w->mapTo(&form, QPoint(0, 0)), w->size());
    EXPECT_TRUE(form.rect().contains(r)) << w->objectName().toStdString();
    EXPECT_GT(w->height(), 10) << w->objectName().toStdString();
  }
}

TEST(ErrorWindow, SendReturnsTheRemarksAndCancelReturnsNothing) {
  App();
  TErrorForm form;
  WhenModal([&](QWidget*) {
    EXPECT_EQ(form.lblErrorText->text(), "Error loading formats");
    QTest::keyClicks(form.edName, "Ann");
    QTest::keyClicks(form.edEmail, "ann@example.org");
    QTest::keyClicks(form.memDetails, "It broke");
    QTest::mouseClick(form.btnSend, Qt::LeftButton);
  });
  const auto remarks = form.Ask("Error loading formats");
  ASSERT_TRUE(remarks.has_value());
  EXPECT_EQ(remarks->Name, "Ann");
  EXPECT_EQ(remarks->Email, "ann@example.org");
  EXPECT_EQ(remarks->Details, "It broke");

  // The next report finds the same remarks; Cancel gives nothing.
  WhenModal([&](QWidget*) {
    EXPECT_EQ(form.edName->text(), "Ann");
    EXPECT_EQ(form.memDetails->toPlainText(), "It broke");
    QTest::mouseClick(form.btnCancel, Qt::LeftButton);
  });
  EXPECT_FALSE(form.Ask("second").has_value());
  WhenModal([&](QWidget*) { QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Escape); });
  EXPECT_FALSE(form.Ask("third").has_value());
}

TEST(ErrorWindow, ReportThroughTheWindowOpensThePreparedMail) {
  App();
  THistoryList history;
  TEventsLog log;
  TErrorReporter reporter(history, log);
  TErrorForm form;
  AttachErrorWindow(reporter, form, nullptr);
  reporter.SetTransportSource([] { return TReportTransport{}; });  // no account
  QVector<QUrl> opened;
  reporter.SetMailOpener([&](const QUrl& url) {
    opened.append(url);
    return true;
  });
  WhenModal([&](QWidget*) {
    form.edName->setText("Bob");
    QTest::mouseClick(form.btnSend, Qt::LeftButton);
  });
  reporter.ErrorReport("Error writing data to Registry", "CLM_RegDataWrite");
  ASSERT_EQ(opened.size(), 1);
  EXPECT_EQ(QUrlQuery(opened[0]).queryItemValue("subject", QUrl::FullyDecoded), "ERROR REPORT | Tarnwick Vidmill");
  EXPECT_TRUE(history.Lines().contains("USER NAME: Bob"));
}

TEST(ErrorWindow, NoMailProgramIsToldAndTheReportGoesToTheClipboard) {
  App();
  THistoryList history;
  TEventsLog log;
  TErrorReporter reporter(history, log);
  TErrorForm form;
  AttachErrorWindow(reporter, form, nullptr);
  reporter.SetTransportSource([] { return TReportTransport{}; });
  reporter.SetMailOpener([](const QUrl&) { return false; });
  QString notice;
  WhenModal([&](QWidget*) {
    QTest::mouseClick(form.btnSend, Qt::LeftButton);
    WhenModal([&](QWidget* box) {
      auto* message_box = qobject_cast<QMessageBox*>(box);
      ASSERT_NE(message_box, nullptr);
      notice = message_box->text();
      message_box->accept();
    });
  });
  reporter.ErrorReport("Error trying shut down the Windows", "CLM_Shut");
  EXPECT_EQ(notice, NoMailProgramText(kDefaultSupportAddress));
  EXPECT_EQ(QApplication::clipboard()->text(), history.Lines().join("\n"));
}
