#include "core/ff_log.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "core/engine_error.h"
#include "core/entry_points.h"
#include "core/ff_load.h"
#include "core/main_thread.h"

using namespace vidmill;

namespace {

struct Line {
  const TFFBaseComponent* sender;
  uint32_t thread_id;
  TLogLevel level;
  std::string text;
};

const char* FakeItemName(void*) { return "fake"; }
const char* ParentItemName(void*) { return "parent"; }

AVClass MakeClass(const char* name, const char* (*item_name)(void*), int parent_offset) {
  AVClass c{};
  c.class_name = name;
  c.item_name = item_name;
  c.version = LIBAVUTIL_VERSION_INT;
  c.parent_log_context_offset = parent_offset;
  return c;
}

// A library context object as the library's log sees one.
struct FakeContext {
  const AVClass* av_class;
  void* parent;
};
const AVClass kParentClass = MakeClass("Parent", ParentItemName, 0);
const AVClass kFakeClass = MakeClass("Fake", FakeItemName, offsetof(FakeContext, parent));

std::string Ptr(const void* p) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%p", p);
  return buf;
}

class Logger : public ::testing::Test {
 protected:
  void SetUp() override {
    TFFLoader::Instance().SetLibraryPath("");
    ASSERT_TRUE(TFFLoader::Instance().Load(kDecoderLibraries)) << TFFLoader::Instance().LastErrMsg();
    logger_ = TFFLogger::Create();
    logger_->SetLogLevel(llDebug);
    logger_->SetOnLog([this](const TFFBaseComponent* s, uint32_t t, TLogLevel l, const std::string& m) {
      std::lock_guard lock(mu_);
      lines_.push_back({s, t, l, m});
    });
    // Leaves no repeat count or partial line of an earlier test behind.
    ff::av_log(nullptr, AV_LOG_PANIC, "start of %s\n", ::testing::UnitTest::GetInstance()->current_test_info()->name());
    Take();
  }
  void TearDown() override { logger_.reset(); }
  std::vector<Line> Take() {
    std::lock_guard lock(mu_);
    return std::exchange(lines_, {});
  }
  std::vector<std::string> Texts() {
    std::vector<std::string> out;
    for (const Line& l : Take()) out.push_back(l.text);
    return out;
  }
  std::unique_ptr<TFFLogger> logger_;
  std::mutex mu_;
  std::vector<Line> lines_;
  FakeContext ctx_{&kFakeClass, nullptr};
};

TEST(LogLevels, MapBothWaysAsTheTableSays) {
  const TLogLevel levels[] = {llQuiet, llPanic, llFatal, llError, llWarning, llInfo, llVerbose, llDebug};
  const int numbers[] = {-8, 0, 8, 16, 24, 32, 40, 48};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(LibraryLevelOf(levels[i]), numbers[i]);
    EXPECT_EQ(LogLevelOfLibrary(numbers[i]), levels[i]);
  }
  const std::pair<int, TLogLevel> ranges[] = {
      {-100, llQuiet}, {-9, llQuiet}, {-8, llQuiet}, {-7, llPanic}, {7, llPanic}, {15, llFatal},
      {16, llError},   {23, llError}, {24, llWarning}, {31, llWarning}, {39, llInfo},
      {40, llVerbose}, {47, llVerbose}, {48, llDebug}, {56, llDebug}, {1000, llDebug}};
  for (const auto& [number, level] : ranges) EXPECT_EQ(LogLevelOfLibrary(number), level) << number;
}

TEST_F(Logger, LibraryLinesArePrefixedOnceAndJoinedPerThread) {
  ff::av_log(&ctx_, AV_LOG_ERROR, "abc");
  EXPECT_TRUE(Take().empty());
  ff::av_log(&ctx_, AV_LOG_ERROR, "def%d\n", 7);
  const auto lines = Take();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].text, "[fake @ " + Ptr(&ctx_) + "]abcdef7");
  EXPECT_EQ(lines[0].level, llError);
  EXPECT_EQ(lines[0].sender, logger_.get());
  EXPECT_EQ(lines[0].thread_id, CurrentThreadId());
}

TEST_F(Logger, ParentContextComesFirst) {
  FakeContext parent{&kParentClass, nullptr};
  FakeContext child{&kFakeClass, &parent};
  ff::av_log(&child, AV_LOG_WARNING, "hello\n");
  EXPECT_EQ(Texts(), std::vector<std::string>{"[parent @ " + Ptr(&parent) + "] [fake @ " + Ptr(&child) + "]hello"});
}

TEST_F(Logger, SplitsLinesAndKeepsEmptyOnes) {
  ff::av_log(nullptr, AV_LOG_INFO, "one\ntwo\n");
  ff::av_log(nullptr, AV_LOG_INFO, "\n");
  ff::av_log(nullptr, AV_LOG_INFO, "three\nfou");
  ff::av_log(nullptr, AV_LOG_INFO, "r\n");
  const auto lines = Take();
  ASSERT_EQ(lines.size(), 5u);
  const char* expected[] = {"one", "two", "", "three", "four"};
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].text, expected[i]);
    EXPECT_EQ(lines[i].level, llInfo);
  }
}

TEST_F(Logger, FoldsRepeatedLinesAcrossThreads) {
  for (int i = 0; i < 3; ++i) ff::av_log(&ctx_, AV_LOG_WARNING, "same\n");
  std::thread([this] {
    for (int i = 0; i < 2; ++i) ff::av_log(&ctx_, AV_LOG_WARNING, "same\n");
  }).join();
  ff::av_log(nullptr, AV_LOG_ERROR, "different\n");
  const auto lines = Take();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].text, "[fake @ " + Ptr(&ctx_) + "]same");
  EXPECT_EQ(lines[1].text, "    Last message repeated 4 times");
  EXPECT_EQ(lines[1].level, llError);  // the level of the message that ends the run
  EXPECT_EQ(lines[2].text, "different");
}

TEST_F(Logger, LongMessagesAreNotCut) {
  const std::string big(5000, 'x');
  ff::av_log(&ctx_, AV_LOG_ERROR, "%s|%d\n", big.c_str(), 42);
  EXPECT_EQ(Texts(), std::vector<std::string>{"[fake @ " + Ptr(&ctx_) + "]" + big + "|42"});
}

TEST_F(Logger, ErrorLevelFiltersBothPaths) {
  logger_->SetLogLevel(llError);
  EXPECT_EQ(ff::av_log_get_level(), AV_LOG_ERROR);
  ff::av_log(nullptr, AV_LOG_WARNING, "not composed ");
  ff::av_log(nullptr, AV_LOG_ERROR, "shown\n");
  logger_->Log(nullptr, llWarning, "dropped");
  logger_->Log(nullptr, llVerbose, "verbose passes");
  logger_->Log(nullptr, llQuiet, "quiet passes");
  logger_->Logf(nullptr, llError, "error %d %s %0.3f", 1, "two", 3.0);
  EXPECT_EQ(Texts(), (std::vector<std::string>{"shown", "verbose passes", "quiet passes",
                                                "error 1 two 3.000"}));
}

TEST_F(Logger, QuietLetsOnlyQuietThrough) {
  logger_->SetLogLevel(llQuiet);
  ff::av_log(nullptr, AV_LOG_PANIC, "panic\n");
  ff::av_log(nullptr, AV_LOG_QUIET, "library quiet\n");
  for (TLogLevel l : {llPanic, llError, llVerbose, llDebug}) logger_->Log(nullptr, l, "no");
  logger_->Log(nullptr, llQuiet, "component quiet");
  EXPECT_EQ(Texts(), (std::vector<std::string>{"library quiet", "component quiet"}));
}

TEST_F(Logger, ComponentMessagesCarryTheirOwnValues) {
  const TFFBaseComponent* sender = logger_.get();
  std::thread([&] { logger_->Log(sender, llWarning, "from a worker"); }).join();
  logger_->Log(nullptr, llInfo, "from here");
  const auto lines = Take();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].sender, sender);
  EXPECT_NE(lines[0].thread_id, CurrentThreadId());
  EXPECT_EQ(lines[0].level, llWarning);
  EXPECT_EQ(lines[1].sender, nullptr);
  EXPECT_EQ(lines[1].thread_id, CurrentThreadId());
}

TEST_F(Logger, OptLogLevelTakesNamesAndNumbers) {
  const std::pair<const char*, TLogLevel> cases[] = {
      {"Debug", llDebug}, {"QUIET", llQuiet}, {"panic", llPanic}, {"fatal", llFatal},
      {"error", llError}, {"Warning", llWarning}, {"info", llInfo}, {"verbose", llVerbose},
      {"20", llError}, {"-8", llQuiet}, {"-100", llQuiet}, {"48", llDebug}, {"33", llInfo}};
  for (const auto& [text, level] : cases) {
    logger_->OptLogLevel(text);
    EXPECT_EQ(logger_->LogLevel(), level) << text;
  }
  EXPECT_THROW(logger_->OptLogLevel("loud"), std::invalid_argument);
  EXPECT_THROW(logger_->OptLogLevel("12x"), std::invalid_argument);
}

TEST_F(Logger, NoHandlerDropsComponentMessagesButKeepsLineState) {
  logger_->SetOnLog(nullptr);
  logger_->Log(nullptr, llError, "nobody listens");
  ff::av_log(nullptr, AV_LOG_ERROR, "half ");
  logger_->SetOnLog([this](const TFFBaseComponent*, uint32_t, TLogLevel, const std::string& m) {
    std::lock_guard lock(mu_);
    lines_.push_back({nullptr, 0, llQuiet, m});
  });
  ff::av_log(nullptr, AV_LOG_ERROR, "line\n");
  EXPECT_EQ(Texts(), std::vector<std::string>{"half line"});
}

TEST_F(Logger, OnlyOneApplicationLogger) {
  try {
    auto second = TFFLogger::Create();
    FAIL() << "a second logger was created";
  } catch (const EEngineError& e) {
    EXPECT_STREQ(e.what(), "Allow creating only one instance of TFFLogger.");
  }
  EXPECT_EQ(&TFFLogger::Process(), logger_.get());
}

TEST(LoggerLifecycle, ApplicationLoggerReplacesAnAutoCreatedOne) {
  TFFLogger& automatic = TFFLogger::Process();  // engine code logging first
  automatic.Log(nullptr, llError, "before the application");
  auto app = TFFLogger::Create();
  EXPECT_EQ(&TFFLogger::Process(), app.get());
  EXPECT_EQ(app->LogLevel(), LogLevelOfLibrary(ff::av_log_get_level ? ff::av_log_get_level() : 32));
  app.reset();
  EXPECT_NE(&TFFLogger::Process(), nullptr);  // a new automatic one
}

TEST_F(Logger, LibraryCallsNeverWaitForTheMainThread) {
  // A main thread that is busy (here: never pumps) must not hold up a
  // worker whose library call logs.
  std::vector<std::function<void()>> posted;
  std::mutex posted_mu;
  main_thread::Install([&](std::function<void()> fn) {
    std::lock_guard lock(posted_mu);
    posted.push_back(std::move(fn));
  });
  std::thread([this] { ff::av_log(&ctx_, AV_LOG_ERROR, "from a worker\n"); }).join();
  EXPECT_TRUE(Take().empty());
  main_thread::Install(nullptr);
  for (auto& fn : posted) fn();
  EXPECT_EQ(Texts(), std::vector<std::string>{"[fake @ " + Ptr(&ctx_) + "]from a worker"});
}

}  // namespace
