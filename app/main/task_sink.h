// TTaskSink: the part of the encoder component that job assembly hands its
// tasks to. The window and the command line give it their TFFEncoder
// (TEncoderTaskSink); tests give it a recorder.
//
// Thread rules: main thread, while the encoder is not working.
#pragma once

#include <string>

#include "transcode/option_records.h"

namespace vidmill {

class TTaskSink {
 public:
  virtual ~TTaskSink() = default;
  virtual void ClearTasks() = 0;
  // The new task's index, or -1 with LastErrMsg set. The records are copied.
  virtual int AddTask(const std::string& file_name, TInputOptions* options) = 0;
  virtual bool AddInputFile(int task, const std::string& file_name, TInputOptions* options) = 0;
  virtual bool SetOutputFile(int task, const std::string& file_name, TOutputOptions* options) = 0;
  virtual int TasksCount() const = 0;
  virtual std::string LastErrMsg() const = 0;
};

// Adapts an encoder component (TFFEncoder) to TTaskSink. The encoder must
// outlive the adapter.
template <class TEncoder>
class TEncoderTaskSink : public TTaskSink {
 public:
  explicit TEncoderTaskSink(TEncoder& encoder) : encoder_(encoder) {}
  void ClearTasks() override { encoder_.ClearTasks(); }
  int AddTask(const std::string& file_name, TInputOptions* options) override {
    return encoder_.AddTask(file_name, options);
  }
  bool AddInputFile(int task, const std::string& file_name, TInputOptions* options) override {
    return encoder_.AddInputFile(task, file_name, options);
  }
  bool SetOutputFile(int task, const std::string& file_name, TOutputOptions* options) override {
    return encoder_.SetOutputFile(task, file_name, options);
  }
  int TasksCount() const override { return encoder_.TasksCount(); }
  std::string LastErrMsg() const override { return encoder_.LastErrMsg(); }

 private:
  TEncoder& encoder_;
};

}  // namespace vidmill
