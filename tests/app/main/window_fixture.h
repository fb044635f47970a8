// What the main window's tests share: a headless QApplication, a private
// home with its own documents and settings, and stand-ins for the layers
// that would meet the outside world (message boxes, the shell, the power
// switch, and, where a test says so, the encoder).
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QVector>
#include <functional>
#include <memory>
#include <thread>
#include <utility>

#include "core/ff_load.h"
#include "main/converter.h"
#include "main/main_form.h"
#include "main/messenger.h"
#include "main/power_off.h"
#include "main/task_sink.h"
#include "probe/ff_decode.h"

namespace vidmill::testing {

// Runs the event loop until done() or the time is up; true when done.
inline bool SpinUntil(const std::function<bool()>& done, int timeout_ms = 20000) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > timeout_ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

// Runs `act` on the modal dialog of type D once it is shown.
template <class D>
inline void WhenShown(std::function<void(D&)> act) {
  auto* poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, [poll, act] {
    if (auto* d = qobject_cast<D*>(QApplication::activeModalWidget())) {
      poll->stop();
      poll->deleteLater();
      act(*d);
    }
  });
  poll->start(20);
}

struct TMessages : TMessenger {
  QStringList information, warnings, errors;
  void Information(QWidget*, const QString& text) override { information << text; }
  void Warning(QWidget*, const QString& text) override { warnings << text; }
  void Error(QWidget*, const QString& title, const QString& text) override { errors << title + "|" + text; }
};

struct TPowerSwitch : TPowerOff {
  int* requests;
  explicit TPowerSwitch(int* r) : requests(r) {}
  bool PowerOff(QString*) override {
    ++*requests;
    return true;
  }
};

// Records the tasks handed over; never fails.
struct TTaskRecorder : TTaskSink {
  QStringList outputs;
  int tasks = 0;
  void ClearTasks() override {
    outputs.clear();
    tasks = 0;
  }
  int AddTask(const std::string&, TInputOptions*) override { return tasks++; }
  bool AddInputFile(int, const std::string&, TInputOptions*) override { return true; }
  bool SetOutputFile(int, const std::string& file, TOutputOptions*) override {
    outputs << QString::fromStdString(file);
    return true;
  }
  int TasksCount() const override { return tasks; }
  std::string LastErrMsg() const override { return {}; }
};

// An encoder whose events the test raises itself; the probe is the real one.
struct TScriptedConverter : TConverter {
  TFFDecoder decoder;
  TTaskRecorder tasks;
  int starts = 0, stops = 0, pauses = 0, resumes = 0;

  bool AVLibLoaded() const override { return TFFLoader::Instance().Loaded(kEncoderLibraries); }
  bool LoadAVLib(const std::string&) override { return TFFLoader::Instance().Load(kEncoderLibraries); }
  std::string LastErrMsg() const override { return TFFLoader::Instance().LastErrMsg(); }
  TCustomDecoder& Decoder() override { return decoder; }
  TTaskSink& Tasks() override { return tasks; }
  void Start(int) override { ++starts; }
  void Stop(bool) override { ++stops; }
  void Pause() override { ++pauses; }
  void Resume() override { ++resumes; }

  // A task's end or the run's end, raised on a thread of its own as the
  // engine's delivery thread does.
  void End(int task, bool finished = true, bool exception = false, const std::string& msg = {}) {
    TTaskEnd e;
    e.TaskIndex = task;
    e.Finished = finished;
    e.Exception = exception;
    e.ExceptionMsg = msg;
    auto handler = OnTerminate;
    std::thread([handler, e] { handler(e); }).join();
  }
  void Progress(int task, int64_t current, int64_t total) {
    TRunProgress p;
    p.TaskIndex = task;
    p.CurrentDuration = current;
    p.TotalDuration = total;
    OnProgress(p);
  }
};

// A user of the program: a home of their own (documents, videos, settings)
// and the program folder of this build.
class TWindowFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(home_.isValid());
    QDir(home_.path()).mkpath("Documents");
    QDir(home_.path()).mkpath("Videos");
    QDir(home_.path()).mkpath("config");
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home_.filePath("config"));
  }

  TAppFolders Folders() const {
    TAppFolders f;
    f.Program = QStringLiteral(VIDMILL_PROGRAM_DIR);
    f.Documents = home_.filePath("Documents");
    f.Videos = home_.filePath("Videos");
    f.Temp = QDir::tempPath() + "/";
    f.Home = home_.path();
    return f;
  }

  // A window with the stand-ins; converter null: the engine's encoder.
  std::unique_ptr<TMainForm> MakeWindow(std::unique_ptr<TConverter> converter = nullptr,
                                        QStringList arguments = {}) {
    TMainFormOptions options;
    options.Folders = Folders();
    options.Arguments = std::move(arguments);
    options.Converter = std::move(converter);
    options.ErrorWindow = false;
    auto w = std::make_unique<TMainForm>(std::move(options));
    auto messages = std::make_unique<TMessages>();
    messages_ = messages.get();
    w->SetMessenger(std::move(messages));
    w->SetPowerOff(std::make_unique<TPowerSwitch>(&power_requests_));
    w->SetOpener([this](const QUrl& url) {
      opened_ << url;
      return true;
    });
    QObject::connect(w.get(), &TMainForm::ErrorReported, [this](const QString& message, const QString& mark) {
      reports_ << std::make_pair(message, mark);
    });
    return w;
  }

  QStringList ReportMarks() const {
    QStringList marks;
    for (const auto& r : reports_) marks << r.second;
    return marks;
  }

  QTemporaryDir home_;
  TMessages* messages_ = nullptr;  // owned by the window
  int power_requests_ = 0;
  QVector<QUrl> opened_;
  QVector<std::pair<QString, QString>> reports_;
};

}  // namespace vidmill::testing
