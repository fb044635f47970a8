// TConverter: what the main window needs of its encoder component
// ("Mediora"): library loading, the probe for added files, the task list,
// and running, pausing and stopping a run with its two events.
//
// The window owns one; MakeEncoderConverter gives the engine's TFFEncoder
// behind it, tests may give a converter of their own.
//
// Thread rules: every method is called on the main thread. OnProgress is
// raised on the main thread (the worker waits for it); OnTerminate is
// raised on a delivery thread, once per task and then once with TaskIndex -1.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace vidmill {

class TCustomDecoder;
class TTaskSink;

struct TRunProgress {
  int TaskIndex = 0;
  int64_t CurrentDuration = 0;  // microseconds converted of the task
  int64_t TotalDuration = -1;   // microseconds the task will write; -1 unknown
  int64_t CurrentSize = 0;      // bytes written
};

struct TTaskEnd {
  int TaskIndex = -1;      // -1: the end of the run
  bool Finished = false;   // converted to its end without being stopped
  bool Exception = false;  // ended with a fatal error
  std::string ExceptionMsg;
};

class TConverter {
 public:
  virtual ~TConverter() = default;
  virtual bool AVLibLoaded() const = 0;
  // False with LastErrMsg set.
  virtual bool LoadAVLib(const std::string& path) = 0;
  virtual std::string LastErrMsg() const = 0;
  // The probe for added files (the encoder's Decoder).
  virtual TCustomDecoder& Decoder() = 0;
  virtual TTaskSink& Tasks() = 0;
  // Runs the tasks, thread_count at a time, in worker threads.
  virtual void Start(int thread_count) = 0;
  // Stops every task; with wait, returns when they have stopped.
  virtual void Stop(bool wait) = 0;
  virtual void Pause() = 0;
  virtual void Resume() = 0;

  std::function<void(const TRunProgress&)> OnProgress;
  std::function<void(const TTaskEnd&)> OnTerminate;
};

// The engine's encoder component behind TConverter; null when this build
// has no encoder component.
std::unique_ptr<TConverter> MakeEncoderConverter();

}  // namespace vidmill
