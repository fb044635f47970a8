// Takes a screenshot of every dialog of the main window and of the editing
// tools, each filled with real content, for the documentation:
//   xvfb-run -s "-screen 0 1280x1024x24" vidmill-dialog-shots <profiles folder> <out folder>
// Not a test: it needs an X server and writes pictures.
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <QWindow>

#include <cstdio>
#include <cstdlib>

#include "catalogue/catalogue.h"
#include "core/ff_load.h"
#include "dialogs/file_info_dialog.h"
#include "dialogs/profile_chooser.h"
#include "dialogs/settings_dialog.h"
#include "editing/crop_dialog.h"
#include "editing/trim_dialog.h"
#include "probe/ff_decode.h"
#include "report/report_sink.h"

using namespace vidmill;

namespace {

struct PrintSink : TReportSink {
  void ErrorReport(const QString& m, const QString& k) override {
    std::fprintf(stderr, "report: %s (%s)\n", qPrintable(m), qPrintable(k));
  }
  void LogEvent(const QString& t) override { std::fprintf(stderr, "event: %s\n", qPrintable(t)); }
};

void Shoot(QWidget* w, const QString& path) {
  QTest::qWait(400);
  QApplication::processEvents();
  QScreen* screen = QGuiApplication::primaryScreen();
  QRect frame = w->frameGeometry();
  QPixmap shot = screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
  if (shot.isNull()) shot = w->grab();
  std::printf("%s: %s\n", qPrintable(path), shot.save(path) ? "saved" : "FAILED");
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <profiles folder> <out folder>\n", argv[0]);
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[2]);
  QDir().mkpath(out);
  if (!TFFLoader::Instance().Load(kPlayerLibraries)) return 1;
  const QString clip = QDir::temp().filePath("vidmill-shots-clip.mp4");
  const std::string make = "ffmpeg -v error -y -f lavfi -i testsrc2=size=640x360:rate=25:duration=6 -f lavfi -i "
                           "sine=frequency=440:duration=6 -c:v libx264 -g 25 -c:a aac -shortest '" +
                           clip.toStdString() + "'";
  if (std::system(make.c_str()) != 0) return 1;

  PrintSink sink;
  TCatalogue catalogue(sink);
  catalogue.Load(QString::fromLocal8Bit(argv[1]));

  QWidget field;  // stands for the main window's profile field
  field.setGeometry(60, 560, 500, 30);
  field.show();
  TChooserHost host;
  host.SelectedEntry = [] { return 0; };
  TProfileChooser chooser(catalogue, sink, host, &field);
  chooser.Popup(field.mapToGlobal(QPoint(0, 0)), false);
  chooser.HoverCategory(1);
  QTest::qWait(700);
  chooser.HoverFormat(1);
  Shoot(&chooser, out + "/profile_chooser.png");
  chooser.hide();
  field.hide();

  TSettingsDialog settings(catalogue, sink);
  catalogue.SetCurrent({1, 1});
  settings.show();
  Shoot(&settings, out + "/settings_dialog.png");
  settings.hide();

  TFFDecoder probe;
  TFileInfoDialog info(sink);
  info.Load(probe, clip);
  info.show();
  Shoot(&info, out + "/file_info_dialog.png");
  info.hide();

  TTrimDialog trim(sink);
  trim.Begin(clip, {1000000, 4500000, 3500000});
  trim.Player().Pause();
  trim.SeekTrack(420);
  trim.show();
  Shoot(&trim, out + "/trim_dialog.png");
  trim.hide();

  TCropDialog crop(sink);
  TCropValues values;
  values.CropLeft = 80;
  values.CropTop = 40;
  values.CropRight = 160;
  values.CropBottom = 60;
  values.AspectRatio = 3;
  values.Brightness = 30;
  values.Saturation = 40;
  crop.Begin(clip, values);
  crop.Pause();
  crop.show();
  Shoot(&crop, out + "/crop_dialog.png");
  crop.hide();
  return 0;
}
