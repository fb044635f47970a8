// Engine calls and log lines reach the GUI thread through the adapters.
#include <gtest/gtest.h>

#include <QObject>
#include <atomic>
#include <thread>

#include "core/ff_log.h"
#include "core/main_thread.h"
#include "report/engine_bridge.h"
#include "report/history_list.h"
#include "test_mail_server.h"

using namespace vidmill;

TEST(EngineBridge, LoggerLinesFromAnyThreadLandInTheHistoryOnTheMainThread) {
  vidmill::testing::TestApp();
  InstallQtMainThreadPoster();
  THistoryList history;
  auto owner = std::make_unique<QObject>();
  TFFLogger& logger = TFFLogger::Process();
  ConnectLoggerToHistory(logger, history, owner.get());

  logger.Log(nullptr, llWarning, "from the main thread\n");
  EXPECT_EQ(history.Lines().size(), 2);
  uint32_t worker_id = 0;
  std::thread worker([&] {
    worker_id = CurrentThreadId();
    logger.Log(nullptr, llError, "from a worker");
  });
  worker.join();
  EXPECT_EQ(history.Lines().size(), 2) << "not appended on the worker";
  QCoreApplication::processEvents();
  ASSERT_EQ(history.Lines().size(), 3);
  EXPECT_EQ(history.Lines()[1], QStringLiteral("#%1.4: from the main thread").arg(CurrentThreadId()));
  EXPECT_EQ(history.Lines()[2], QStringLiteral("#%1.3: from a worker").arg(worker_id));

  // Lines that arrive after the owner has gone are dropped, not appended to
  // a history that may be gone too.
  std::thread late([&] { logger.Log(nullptr, llError, "late"); });
  late.join();
  owner.reset();
  QCoreApplication::processEvents();
  EXPECT_EQ(history.Lines().size(), 3);
  DisconnectLogger(logger);
  RemoveQtMainThreadPoster();
}

TEST(EngineBridge, PostedCallsRunOnTheGuiThread) {
  vidmill::testing::TestApp();
  InstallQtMainThreadPoster();
  std::atomic<bool> ran_on_main{false};
  std::thread worker([&] { main_thread::Post([&] { ran_on_main = main_thread::IsMainThread(); }); });
  worker.join();
  QCoreApplication::processEvents();
  EXPECT_TRUE(ran_on_main);
  RemoveQtMainThreadPoster();
}
