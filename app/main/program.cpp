// vidmill: the converter's desktop program.
#include <QApplication>

#include "core/ff_load.h"
#include "editing/attach_dialogs.h"
#include "main/main_form.h"
#include "report/engine_bridge.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationDisplayName(QString());
  vidmill::InstallQtMainThreadPoster();
  int status = 0;
  {
    vidmill::TMainFormOptions options;
    options.Arguments = QApplication::arguments().mid(1);
    vidmill::TMainForm window(std::move(options));
    vidmill::AttachDialogs(window);
    window.show();
    status = QApplication::exec();
  }
  vidmill::RemoveQtMainThreadPoster();
  vidmill::TFFLoader::Instance().Shutdown();
  return status;
}
