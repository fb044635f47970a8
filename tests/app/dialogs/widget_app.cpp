// A QApplication for the widget tests of this program (headless under the
// offscreen platform that the common main selects).
#include <gtest/gtest.h>

#include <QApplication>

namespace {

class WidgetApplication : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "widget-tests";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QApplication>(argc, argv);
  }
  void TearDown() override { app_.reset(); }

 private:
  std::unique_ptr<QApplication> app_;
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new WidgetApplication);

}  // namespace
