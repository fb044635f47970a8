// vidmill-report-shots OUTPUT_FOLDER
//
// Shows the events-log window and the error window with sample content and
// saves what the display shows of each (events-log.png, error-window.png).
// Run it on a real display, e.g. xvfb-run -s "-screen 0 800x600x24".
#include <cstdio>

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTest>

#include "dialogs/error_form.h"
#include "dialogs/events_log_form.h"
#include "report/events_log.h"

using namespace vidmill;

namespace {

// What the screen shows where the window is, frame included.
bool Shoot(QWidget& window, const QString& path) {
  window.show();
  window.raise();
  window.activateWindow();
  if (!QTest::qWaitForWindowExposed(&window, 5000)) return false;
  QTest::qWait(300);
  const QRect r = window.frameGeometry();
  const QPixmap shot = window.screen()->grabWindow(0, r.x(), r.y(), r.width(), r.height());
  window.hide();
  return shot.save(path, "PNG");
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: vidmill-report-shots OUTPUT_FOLDER\n");
    return 2;
  }
  const QDir out(QString::fromLocal8Bit(argv[1]));
  TEventsLog log;
  log.AddEvent("File added: /home/ann/Videos/holiday-2023.mp4");
  log.AddEvent("File added: /home/ann/Videos/birthday.mkv");
  log.AddLine("");
  log.AddEvent("File load error: Invalid data found when processing input");
  log.AddLine("");
  log.AddEvent("Started Conversion");
  log.AddEvent("Conversion successfully done.");
  TLogForm log_form(log);
  bool ok = Shoot(log_form, out.filePath("events-log.png"));

  TErrorForm error_form;
  error_form.lblErrorText->setText(
      "Cannot set output file: Permission denied\r\nPlease choose other output folder or rename output file.");
  error_form.edName->setText("Ann");
  error_form.edEmail->setText("ann@example.org");
  error_form.memDetails->setPlainText("Happened right after pressing Start.");
  ok = Shoot(error_form, out.filePath("error-window.png")) && ok;
  std::printf("%s\n", ok ? "saved" : "failed");
  return ok ? 0 : 1;
}
