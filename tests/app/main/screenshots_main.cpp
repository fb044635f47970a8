// vidmill-screenshots: takes the pictures of the main window and the
// progress window that README shows. Run it under an X server (Xvfb):
//
//   xvfb-run -a -s "-screen 0 1100x760x24" build/tests/app/main/vidmill-screenshots docs
//
// It makes its own clips, fills the list, plays the first entry in the
// preview and captures the window with ImageMagick's "import" (the player
// draws into its own X window, which only the X server's picture shows);
// then it converts a longer clip and captures the progress window mid-run.
// Settings and documents go to a private home, never the user's.
#include <cstdio>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include "main/conv_form.h"
#include "main/conversion_list.h"
#include "main/format_lookup.h"
#include "main/main_form.h"
#include "player/player.h"
#include "report/engine_bridge.h"

using namespace vidmill;

namespace {

bool Wait(const std::function<bool()>& done, int ms) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > ms) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

void Pause(int ms) {
  Wait([] { return false; }, ms);
}

bool MakeClip(const QString& path, int seconds, const char* size, const char* pattern) {
  const QStringList args = {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                            QStringLiteral("%1=size=%2:rate=25:duration=%3").arg(pattern, size).arg(seconds),
                            "-f", "lavfi", "-i", QStringLiteral("sine=frequency=440:duration=%1").arg(seconds),
                            "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac", path};
  return QProcess::execute("ffmpeg", args) == 0;
}

bool Capture(QWidget& window, const QString& file) {
  window.raise();
  Pause(300);
  const int status =
      QProcess::execute("import", {"-window", QString::number(window.winId()), QStringLiteral("png:") + file});
  if (status != 0) std::fprintf(stderr, "import failed for %s\n", qPrintable(file));
  return status == 0;
}

}  // namespace

int main(int argc, char** argv) {
  QTemporaryDir home;
  qputenv("HOME", home.path().toUtf8());
  qputenv("XDG_CONFIG_HOME", home.filePath("config").toUtf8());
  qputenv("XDG_DOCUMENTS_DIR", home.filePath("Documents").toUtf8());
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: vidmill-screenshots OUTPUT_FOLDER\n");
    return 2;
  }
  const QString out_dir = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(out_dir);
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.filePath("config"));
  InstallQtMainThreadPoster();

  QDir(home.path()).mkpath("Videos/holiday");
  const QString videos = home.filePath("Videos/holiday");
  const QStringList clips = {QDir(videos).filePath("Beach walk.mp4"), QDir(videos).filePath("Harbour at dusk.mp4"),
                             QDir(videos).filePath("Old town.mp4")};
  const char* const patterns[] = {"testsrc2", "smptebars", "rgbtestsrc"};
  for (int i = 0; i < clips.size(); ++i) {
    if (!MakeClip(clips[i], 8 + 3 * i, "640x360", patterns[i])) return 1;
  }
  const QString long_clip = QDir(videos).filePath("Long drive.mp4");
  if (!MakeClip(long_clip, 30, "640x360", "testsrc2")) return 1;

  int status = 0;
  {
    TMainFormOptions options;
    options.Folders.Program = QStringLiteral(VIDMILL_PROGRAM_DIR);
    options.Folders.Documents = home.filePath("Documents");
    options.Folders.Videos = home.filePath("Videos");
    options.Folders.Home = home.path();
    options.ErrorWindow = false;
    TMainForm window(std::move(options));
    window.resize(1060, 680);
    window.show();
    window.AddFiles(clips);
    QString error;
    if (const auto at = FindProfile(window.Catalogue(), "Phones and Tablets/Phone H.264 720p", &error))
      window.ApplyChosenFormat(*at);
    window.SelectEntry(1);
    window.Play();
    Wait([&] { return window.FFPlayer().CurrentFrame().Width() > 0; }, 10000);
    Pause(1500);
    if (!Capture(window, QDir(out_dir).filePath("main-window.png"))) status = 1;
    std::fprintf(stderr, "main window taken\n");
    window.StopPreview();
    std::fprintf(stderr, "preview stopped\n");

    window.ClearAll();
    window.AddFiles({long_clip});
    if (const auto at = FindProfile(window.Catalogue(), "Phones and Tablets/Phone H.264 720p", &error))
      window.ApplyChosenFormat(*at);
    window.ProgressWindow().cbOpenOutput->setChecked(false);
    window.StartConversion();
    std::fprintf(stderr, "conversion started: %d\n", window.Running() ? 1 : 0);
    if (!window.Running() ||
        !Wait([&] { return window.ProgressWindow().ProgressCurrent->value() >= 25; }, 120000)) {
      std::fprintf(stderr, "the conversion did not get going\n");
      status = 1;
    } else if (!Capture(window.ProgressWindow(), QDir(out_dir).filePath("progress-window.png"))) {
      status = 1;
    }
    if (window.Running()) {
      window.ProgressWindow().CancelButton->click();
      Wait([&] { return !window.Running(); }, 60000);
    }
  }
  RemoveQtMainThreadPoster();
  return status;
}
