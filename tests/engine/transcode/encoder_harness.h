// Runs conversions through the encoder component and keeps what its events
// reported, for the end-to-end tests.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "core/main_thread.h"
#include "transcode/custom_encoder.h"
#include "transcode_test_util.h"

namespace vidmill::testing {

struct TProgressRecord {
  double at_s;  // seconds since the harness was made
  TProgressInfo info;
};

class TEncoderHarness {
 public:
  TEncoderHarness() : start_(std::chrono::steady_clock::now()) {
    encoder.TriggerEventInMainThread = false;
    encoder.OnTerminate = [this](TCustomEncoder*, const TTerminateInfo& info) {
      std::lock_guard lock(mu_);
      terminates_.push_back(info);
    };
    encoder.OnProgress = [this](TCustomEncoder*, TProgressInfo* info) {
      std::lock_guard lock(mu_);
      progress_.push_back({Seconds(), *info});
    };
  }

  // A task for `input` with an output; -1 (and a test failure) when refused.
  int AddTask(const std::string& input, const std::string& output, const std::string& output_lines,
              const std::string& input_lines = "") {
    const int index = encoder.AddTask(input, input_lines);
    EXPECT_GE(index, 0) << encoder.LastErrMsg();
    if (index < 0) return -1;
    EXPECT_TRUE(encoder.SetOutputFile(index, output, output_lines)) << encoder.LastErrMsg();
    return index;
  }

  // Starts the run and waits for its end (every event delivered).
  void Run(int threads) {
    encoder.Start(threads);
    encoder.WaitForEnd();
  }

  std::vector<TTerminateInfo> Terminates() const {
    std::lock_guard lock(mu_);
    return terminates_;
  }
  std::vector<TProgressRecord> Progress() const {
    std::lock_guard lock(mu_);
    return progress_;
  }
  // The terminate event of a task (TaskIndex -1 included); fails when absent.
  TTerminateInfo TerminateOf(int task) const {
    std::lock_guard lock(mu_);
    for (const TTerminateInfo& t : terminates_) {
      if (t.TaskIndex == task) return t;
    }
    ADD_FAILURE() << "no OnTerminate for task " << task;
    return {};
  }
  double Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }
  // Waits (up to 20 s) until `done` holds.
  static bool WaitFor(const std::function<bool()>& done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
      if (std::chrono::steady_clock::now() > until) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }

  TFFEncoder encoder;

 private:
  mutable std::mutex mu_;
  std::vector<TTerminateInfo> terminates_;
  std::vector<TProgressRecord> progress_;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace vidmill::testing
