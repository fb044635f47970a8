#include "core/interrupt_cb.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core/ff_log.h"

using namespace vidmill;

namespace {

class InterruptRegistry : public ::testing::Test {
 protected:
  void SetUp() override { TInterruptCB::Instance().Clear(); }
  void TearDown() override { TInterruptCB::Instance().Clear(); }
  TInterruptCB& reg = TInterruptCB::Instance();
};

TEST_F(InterruptRegistry, ThreadWithoutEntriesIsNotInterrupted) {
  EXPECT_FALSE(reg.Interrupt(CurrentThreadId()));
  EXPECT_EQ(RegistryInterrupt(nullptr), 0);
}

TEST_F(InterruptRegistry, AddingTheSameEntryTwiceKeepsOne) {
  const int sender = 0;
  const auto id = reg.Add(1234, &sender, [](const void*) { return true; });
  EXPECT_EQ(reg.Add(1234, &sender, [](const void*) { return false; }, id), id);
  EXPECT_EQ(reg.Count(), 1u);
  EXPECT_TRUE(reg.Interrupt(1234));  // the first routine still answers
  // Another sender, or another routine, is another entry.
  const int other = 0;
  reg.Add(1234, &other, [](const void*) { return false; }, id);
  reg.Add(1234, &sender, [](const void*) { return false; });
  EXPECT_EQ(reg.Count(), 3u);
}

TEST_F(InterruptRegistry, FirstEntryOfTheThreadAnswersWithItsSender) {
  const int a = 0, b = 0;
  const void* seen = nullptr;
  reg.Add(7, &b, [](const void*) { return true; });
  const auto id = reg.Add(8, &a, [&](const void* s) {
    seen = s;
    return false;
  });
  reg.Add(8, &b, [](const void*) { return true; });
  EXPECT_FALSE(reg.Interrupt(8));
  EXPECT_EQ(seen, &a);
  EXPECT_TRUE(reg.Remove(8, &a, id));
  EXPECT_FALSE(reg.Remove(8, &a, id));
  EXPECT_TRUE(reg.Interrupt(8));  // now the next entry of thread 8
  EXPECT_TRUE(reg.Interrupt(7));
  EXPECT_FALSE(reg.Interrupt(9));
}

TEST_F(InterruptRegistry, ListIsHeldWhileLocked) {
  reg.Add(1, nullptr, nullptr);
  reg.Add(2, nullptr, nullptr);
  const auto& list = reg.LockList();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].thread_id, 1u);
  EXPECT_EQ(list[1].thread_id, 2u);
  std::atomic<bool> added{false};
  std::thread other([&] {
    reg.Add(3, nullptr, nullptr);
    added = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(added);
  reg.UnlockList();
  other.join();
  EXPECT_EQ(reg.Count(), 3u);
}

TEST_F(InterruptRegistry, ScopeAnswersForItsOwnThreadOnly) {
  std::atomic<bool> stop{true};
  std::atomic<int> other_thread_answer{-1};
  {
    TInterruptScope scope(this, [&] { return stop.load(); });
    EXPECT_EQ(RegistryInterrupt(nullptr), 1);
    std::thread([&] { other_thread_answer = RegistryInterrupt(nullptr); }).join();
    EXPECT_EQ(other_thread_answer, 0);
    stop = false;
    EXPECT_EQ(RegistryInterrupt(nullptr), 0);
  }
  EXPECT_EQ(reg.Count(), 0u);
  const AVIOInterruptCB cb = RegistryInterruptCB();
  EXPECT_EQ(cb.callback, &RegistryInterrupt);
}

}  // namespace
