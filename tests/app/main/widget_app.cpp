// A QApplication for the main window's tests (headless under the offscreen
// platform the common main selects), with settings kept out of the user's
// own store.
#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>

namespace {

class WidgetApplication : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "main-window-tests";
    static char* argv[] = {name, nullptr};
    // Before anything could open the user's store: every test's settings live here.
    settings_ = std::make_unique<QTemporaryDir>();
    qputenv("XDG_CONFIG_HOME", settings_->path().toUtf8());
    app_ = std::make_unique<QApplication>(argc, argv);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings_->path());
  }
  void TearDown() override {
    app_.reset();
    settings_.reset();
  }

 private:
  std::unique_ptr<QTemporaryDir> settings_;
  std::unique_ptr<QApplication> app_;
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new WidgetApplication);

}  // namespace
