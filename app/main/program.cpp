// vidmill: the converter's desktop program.
//
//   vidmill [COMPANION] [--add FILE]... [--quit-after SECONDS [--screenshot PNG]]
//
// COMPANION names the program in the program folder that "Switch Converter"
// starts. --add puts files into the list at start-up as "Add video" would.
// --quit-after closes the program after that many seconds (a check that it
// starts, e.g. on a virtual display), saving a picture of the window first
// with --screenshot.
#include <cstdio>

#include <QApplication>
#include <QPixmap>
#include <QTimer>

#include "core/ff_load.h"
#include "editing/attach_dialogs.h"
#include "main/conversion_list.h"
#include "main/main_form.h"
#include "report/engine_bridge.h"

namespace {

struct TCommandLine {
  QStringList arguments;  // what is left for the window (the companion program)
  QStringList add;
  int quit_after_s = -1;
  QString screenshot;
};

TCommandLine Parse(const QStringList& args) {
  TCommandLine c;
  for (int i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    if (a == QLatin1String("--add") && i + 1 < args.size()) {
      c.add << args[++i];
    } else if (a == QLatin1String("--quit-after") && i + 1 < args.size()) {
      c.quit_after_s = args[++i].toInt();
    } else if (a == QLatin1String("--screenshot") && i + 1 < args.size()) {
      c.screenshot = args[++i];
    } else {
      c.arguments << a;
    }
  }
  return c;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationDisplayName(QString());
  vidmill::InstallQtMainThreadPoster();
  const TCommandLine command = Parse(QApplication::arguments().mid(1));
  int status = 0;
  {
    vidmill::TMainFormOptions options;
    options.Arguments = command.arguments;
    vidmill::TMainForm window(std::move(options));
    vidmill::AttachDialogs(window);
    window.show();
    if (!command.add.isEmpty()) QTimer::singleShot(0, &window, [&] { window.AddFiles(command.add); });
    if (command.quit_after_s >= 0) {
      QTimer::singleShot(command.quit_after_s * 1000, &window, [&] {
        if (!command.screenshot.isEmpty()) window.grab().save(command.screenshot, "PNG");
        std::printf("vidmill: the window showed %d list entries%s%s\n", window.List().Count(),
                    command.screenshot.isEmpty() ? "" : "; picture: ", qPrintable(command.screenshot));
        QApplication::closeAllWindows();
        QApplication::quit();  // also ends a dialog's loop that is still open
      });
    }
    status = QApplication::exec();
  }
  vidmill::RemoveQtMainThreadPoster();
  vidmill::TFFLoader::Instance().Shutdown();
  return status;
}
