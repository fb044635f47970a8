// How "vidmill-cli convert" shows a run: a progress bar redrawn in place on
// a terminal (percent, speed, time left), or plain lines when the output is
// not a terminal; an error line per failed file and a summary at the end.
//
// Thread rules: Update may be called from any thread (the encoder's
// workers); Draw, Failed and Summary from the command's own thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace vidmill::cli {

// The figures of one task as its last progress event gave them.
struct TTaskProgress {
  int64_t done_us = 0;    // output time reached
  int64_t total_us = -1;  // expected length; -1 when unknown
  bool ended = false;
};

// Percent of the whole run (0..100) from the tasks' figures; a task of
// unknown length counts as 0 until it ends.
double RunPercent(const std::vector<TTaskProgress>& tasks);
// "hh:mm:ss" of a count of seconds (negative or unknown: "--:--:--").
std::string ClockText(double seconds);

class TProgressDisplay {
 public:
  // `names`: the output file of each task, for the lines.
  TProgressDisplay(std::FILE* out, bool terminal, std::vector<std::string> names);

  void Update(int task, int64_t done_us, int64_t total_us);
  void Ended(int task);
  // Redraws the bar (terminal) or prints a line when something changed
  // and a second has passed (plain).
  void Draw();
  // One line per failed file: "vidmill-cli convert: NAME: MESSAGE".
  void Failed(int task, const std::string& message);
  // "N of M files converted (K failed, L stopped) in hh:mm:ss".
  void Summary(int converted, int failed, int stopped, int total);

 private:
  void ClearLine();
  std::string Line();

  std::FILE* out_;
  bool terminal_;
  std::vector<std::string> names_;
  std::mutex mu_;                      // guards tasks_ and changed_
  std::vector<TTaskProgress> tasks_;
  bool changed_ = false;
  bool bar_shown_ = false;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_plain_;
};

}  // namespace vidmill::cli
