// What the progress window shows of a run, and how a run ended.
#pragma once

#include <cstdint>

#include <QString>
#include <QStringList>
#include <QVector>

namespace vidmill {

// Percent of the current task: current * 100 / total, truncated; 0 when
// the total is unknown (0 or less); at most 100.
int CurrentTaskPercent(int64_t current_us, int64_t total_us);
// Percent of the whole run of `tasks` tasks while task `task` is at
// current/total: 100/n*t + 100/n*c/d, rounded half to even; 0..100.
int TotalPercent(int task, int tasks, int64_t current_us, int64_t total_us);

// Remaining time estimated from the time spent and the run's fraction done
// (0..1); -1 while nothing can be said (too little done).
int64_t RemainingMs(int64_t elapsed_ms, double fraction_done);
// "%.2d:%.2d:%.2d" of milliseconds; "--:--:--" for a negative value.
QString ClockText(int64_t ms);

// The outcome of each task of a run and of the run as a whole.
class TRunOutcome {
 public:
  explicit TRunOutcome(int tasks = 0) : ended_(tasks, false), failed_(tasks, false) {}

  // A task ended: it finished, or failed (with an error, or without one while
  // the run was not cancelled).
  void TaskEnded(int task, bool finished, bool exception);
  void SetCancelled() { cancelled_ = true; }
  bool Cancelled() const { return cancelled_; }
  int Tasks() const { return static_cast<int>(ended_.size()); }
  int Failed() const;
  int Finished() const { return finished_; }
  // Every task finished and nothing was cancelled.
  bool Completed() const;
  // The events-log text of the end of the run: "Conversion successfully
  // done.", "Conversion cancelled." or "Conversion finished: N of M tasks
  // failed."
  QString FinalText() const;

 private:
  QVector<bool> ended_;
  QVector<bool> failed_;
  int finished_ = 0;
  bool cancelled_ = false;
};

}  // namespace vidmill
