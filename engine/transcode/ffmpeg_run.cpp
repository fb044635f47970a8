// A task's run as the component drives it: starting (in a worker thread or
// the caller's), the conversion, moving the outputs into place, clean-up,
// stopping and the terminate step.
#include <exception>

#include "core/ff_log.h"
#include "custom_ffmpeg.h"
#include "ffmpeg_exception.h"
#include "transcode_loop.h"

namespace vidmill {

bool TCustomFFmpeg::StartConvert(bool use_thread, TThreadPriority priority) {
  if (converting_.load() || terminated_.load()) return false;
  const char* missing = nb_output_files() == 0  ? "At least one output file must be specified"
                        : nb_input_files() == 0 ? "At least one input file must be specified"
                                                : nullptr;
  if (missing) {
    Guarded([this] { CleanUp(); });
    Log(llQuiet, missing);
    fatal_message_ = missing;
    fatal_exception_ = true;
    TerminateStep();
    return false;
  }
  finished_ = false;
  converting_ = true;
  thread_.Start(use_thread, [this, priority, use_thread] {
    if (use_thread) ApplyThreadPriority(priority);
    Run();
  });
  return use_thread;
}

// Runs `step`; a failure is logged and, when it is the first, becomes the
// task's fatal message. Later steps run all the same.
template <typename F>
void TCustomFFmpeg::Guarded(F step) {
  std::string failure;
  try {
    step();
    return;
  } catch (const std::exception& e) {
    failure = e.what();
  } catch (...) {
    failure = "Unknown error";
  }
  Log(llQuiet, failure);
  if (!fatal_exception_.load()) {
    fatal_message_ = failure;
    fatal_exception_ = true;
  }
}

void TCustomFFmpeg::Transcode() {
  RunSetup();
  TLoopEvents events;
  if (OnProgress) events.progress = [this](const TProgressFigures& f) { OnProgress(this, f); };
  if (OnAudioHook)
    events.audio_hook = [this](int64_t pts, uint8_t* samples, int size, int rate, int channels, AVSampleFormat format) {
      OnAudioHook(this, pts, samples, size, rate, channels, format);
    };
  if (OnVideoInputHook)
    events.video_input_hook = [this](TBitmap& bitmap, int frame, int64_t pts, bool* update, bool* stop) {
      OnVideoInputHook(this, bitmap, frame, pts, update, stop);
    };
  if (OnVideoOutputHook)
    events.video_output_hook = [this](TBitmap& bitmap, int frame, int64_t pts, bool* update, bool* stop) {
      OnVideoOutputHook(this, bitmap, frame, pts, update, stop);
    };
  if (OnPreviewBitmap)
    events.preview_bitmap = [this](const TBitmap& bitmap, int frame, int64_t pts) {
      OnPreviewBitmap(this, bitmap, frame, pts);
    };
  TTranscodeLoop loop(*this, &thread_, std::move(events));
  loop.ReportInterval = ReportInterval;
  loop.PreviewInterval = PreviewInterval;
  loop.Run();
  finished_ = loop.Finished();
  packets_written_ = loop.PacketsWritten();
}

void TCustomFFmpeg::Run() {
  finished_ = false;
  packets_written_ = 0;
  Guarded([this] { Transcode(); });
  // A finished or stopped run closed its outputs properly: they go into
  // place (empty ones are removed). A failed run leaves nothing behind, nor
  // does a run stopped before it wrote anything (a header alone).
  Guarded([this] {
    if (fatal_exception_.load() || (!finished_.load() && packets_written_ == 0)) {
      DiscardOutputs();
    } else if (!CommitOutputs()) {
      throw FFmpegException(last_err_msg_);
    }
  });
  if (fatal_exception_.load()) finished_ = false;
  Guarded([this] { CleanUp(); });
  Guarded([this] { TerminateStep(); });
}

void TCustomFFmpeg::TerminateStep() {
  if (terminated_.exchange(true)) return;  // once per task
  converting_ = false;
  if (OnTerminate) OnTerminate(this);
}

void TCustomFFmpeg::TerminateWithoutRun() {
  if (converting_.load() || terminated_.load()) return;
  // It can never start now: what it opened (its empty temporary outputs) goes.
  Guarded([this] { CleanUp(); });
  TerminateStep();
}

void TCustomFFmpeg::Stop(bool wait) {
  if (!thread_.HasThread()) CancelIO();  // a blocking open step in the caller's thread gives up
  thread_.Stop(wait);
}

void TCustomFFmpeg::WaitForThreads() {
  thread_.Stop(false);
  thread_.WaitStopped();
}

}  // namespace vidmill
