// The time-out check a task registers while it opens a file (internal).
#pragma once

#include "core/entry_points.h"
#include "core/interrupt_cb.h"
#include "custom_ffmpeg.h"

namespace vidmill {

// Registers the time-out check for the calling thread while a file is opened.
class TCustomFFmpeg::TIOGuard {
 public:
  explicit TIOGuard(TCustomFFmpeg* task)
      : task_(task), scope_(task, [task] { return task->IOExpired(); }) {
    task_->io_abandoned_ = 0;
  }
  ~TIOGuard() {
    task_->io_start_time_ = INT64_MAX;
    task_->ReportIOAbandon();
  }
  void StepStarts() { task_->io_start_time_ = ff::av_gettime_relative(); }

 private:
  TCustomFFmpeg* task_;
  TInterruptScope scope_;
};

}  // namespace vidmill
