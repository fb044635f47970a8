// The threading pieces of a running task: the pause gate, the worker
// thread with its stop request, and the component's event queue.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "transcode/event_queue.h"
#include "transcode/pause_gate.h"
#include "transcode/task_thread.h"

namespace vidmill {
namespace {

using namespace std::chrono_literals;

// Polls `done` for up to two seconds.
bool Eventually(const std::function<bool()>& done) {
  for (int i = 0; i < 400; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(5ms);
  }
  return done();
}

TEST(PauseGate, HoldsTheWorkerWhilePausedAndLetsItGoOnResumeOrOpen) {
  TPauseGate gate;
  std::atomic<int> passes{0};
  std::atomic<bool> quit{false};
  std::thread worker([&] {
    while (!quit) {
      gate.Pass();
      ++passes;
      std::this_thread::sleep_for(1ms);
    }
  });
  ASSERT_TRUE(Eventually([&] { return passes > 5; }));
  gate.Pause();
  ASSERT_TRUE(Eventually([&] { return gate.Holding(); }));
  const int held_at = passes;
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(passes, held_at);  // no progress while paused
  gate.Resume();
  ASSERT_TRUE(Eventually([&] { return passes > held_at + 5; }));
  gate.Pause();
  ASSERT_TRUE(Eventually([&] { return gate.Holding(); }));
  gate.Open();  // a stop lets a paused worker go
  ASSERT_TRUE(Eventually([&] { return !gate.Holding(); }));
  gate.Pause();  // ignored once opened
  EXPECT_FALSE(gate.Paused());
  quit = true;
  worker.join();
}

TEST(TaskThread, RunsTheBodyOnAWorkerAndStopsItOnRequest) {
  TTaskThread task;
  std::atomic<bool> on_other_thread{false};
  std::atomic<int> steps{0};
  const auto caller = std::this_thread::get_id();
  ASSERT_TRUE(task.Start(true, [&] {
    on_other_thread = std::this_thread::get_id() != caller && task.OnWorkerThread();
    while (!task.Broken()) {
      task.PassGate();
      ++steps;
      std::this_thread::sleep_for(1ms);
    }
  }));
  EXPECT_FALSE(task.Start(true, [] {}));  // one body at a time
  ASSERT_TRUE(Eventually([&] { return steps > 3; }));
  EXPECT_TRUE(task.Running());
  task.Pause();
  ASSERT_TRUE(Eventually([&] { return task.HeldAtGate(); }));
  const int held_at = steps;
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(steps, held_at);
  task.Stop(true);  // stopping a paused task lets it go and waits for it
  EXPECT_FALSE(task.Running());
  EXPECT_TRUE(on_other_thread);
}

TEST(TaskThread, WithoutAThreadRunsTheBodyInTheCaller) {
  TTaskThread task;
  std::thread::id ran_on;
  ASSERT_TRUE(task.Start(false, [&] { ran_on = std::this_thread::get_id(); }));
  EXPECT_EQ(ran_on, std::this_thread::get_id());
  EXPECT_FALSE(task.Running());
}

TEST(TaskThread, DestroyingTheObjectStopsAndWaitsForTheWorker) {
  std::atomic<bool> finished{false};
  {
    TTaskThread task;
    task.Start(true, [&] {
      while (!task.Broken()) std::this_thread::sleep_for(1ms);
      std::this_thread::sleep_for(20ms);  // still touching the task's state
      finished = task.Broken();
    });
    task.Pause();
  }
  EXPECT_TRUE(finished);
}

TEST(EventQueue, DeliversInOrderOneAtATimeOffThePostingThreads) {
  TEventQueue queue;
  std::mutex mu;
  std::vector<int> order;
  std::atomic<int> running{0}, most{0};
  std::atomic<bool> on_poster{false};
  std::vector<std::thread> posters;
  for (int t = 0; t < 4; ++t) {
    posters.emplace_back([&, t] {
      for (int k = 0; k < 25; ++k) {
        const auto poster = std::this_thread::get_id();
        queue.Post([&, t, k, poster] {
          const int now = ++running;
          most = std::max(most.load(), now);
          if (std::this_thread::get_id() == poster) on_poster = true;
          {
            std::lock_guard lock(mu);
            order.push_back(t * 100 + k);
          }
          --running;
        });
      }
    });
  }
  for (std::thread& p : posters) p.join();
  queue.Drain();
  EXPECT_TRUE(queue.Idle());
  EXPECT_EQ(order.size(), 100u);
  EXPECT_EQ(most, 1);
  EXPECT_FALSE(on_poster);
  // Each poster's calls arrive in its own order.
  for (int t = 0; t < 4; ++t) {
    int last = -1;
    for (int v : order) {
      if (v / 100 != t) continue;
      EXPECT_GT(v % 100, last);
      last = v % 100;
    }
  }
}

TEST(EventQueue, TheLastCallPostedComesLastAfterSlowerOnes) {
  TEventQueue queue;
  std::vector<int> seen;
  queue.Post([&] {
    std::this_thread::sleep_for(30ms);
    seen.push_back(0);
  });
  queue.Post([&] { seen.push_back(1); });
  queue.Post([&] { seen.push_back(-1); });
  queue.Drain();
  EXPECT_EQ(seen, (std::vector<int>{0, 1, -1}));
}

TEST(EventQueue, AFailingCallDoesNotStopTheOnesAfterIt) {
  TEventQueue queue;
  std::atomic<int> after{0};
  queue.Post([] { throw std::runtime_error("handler failed"); });
  queue.Post([&] { ++after; });
  queue.Drain();
  EXPECT_EQ(after, 1);
}

TEST(EventQueue, CallsMayPostAndDrainWithoutDeadlock) {
  TEventQueue queue;
  std::atomic<int> inner{0};
  queue.Post([&] {
    queue.Post([&] { ++inner; });
    queue.Drain();  // on the delivery thread: returns at once
  });
  queue.Drain();
  EXPECT_EQ(inner, 1);
}

TEST(EventQueue, DestructionDeliversEverythingPostedFirst) {
  std::atomic<int> delivered{0};
  {
    TEventQueue queue;
    for (int i = 0; i < 5; ++i) {
      queue.Post([&] {
        std::this_thread::sleep_for(5ms);
        ++delivered;
      });
    }
  }
  EXPECT_EQ(delivered, 5);
}

}  // namespace
}  // namespace vidmill
