// The engine's encoder component (TFFEncoder) behind TConverter.
#include <memory>

#include "converter.h"
#include "task_sink.h"
#include "transcode/custom_encoder.h"

namespace vidmill {
namespace {

class TEncoderConverter : public TConverter {
 public:
  TEncoderConverter() : tasks_(encoder_) {
    encoder_.OnProgress = [this](TCustomEncoder*, TProgressInfo* info) {
      if (!OnProgress || !info) return;
      TRunProgress p;
      p.TaskIndex = info->TaskIndex;
      p.CurrentDuration = info->CurrentDuration;
      p.TotalDuration = info->TotalDuration;
      p.CurrentSize = info->CurrentSize;
      OnProgress(p);
    };
    encoder_.OnTerminate = [this](TCustomEncoder*, const TTerminateInfo& info) {
      if (!OnTerminate) return;
      TTaskEnd end;
      end.TaskIndex = info.TaskIndex;
      end.Finished = info.Finished;
      end.Exception = info.Exception;
      end.ExceptionMsg = info.ExceptionMsg;
      OnTerminate(end);
    };
  }

  bool AVLibLoaded() const override { return encoder_.AVLibLoaded(); }
  bool LoadAVLib(const std::string& path) override { return encoder_.LoadAVLib(path); }
  std::string LastErrMsg() const override { return encoder_.LastErrMsg(); }
  TCustomDecoder& Decoder() override { return encoder_.Decoder(); }
  TTaskSink& Tasks() override { return tasks_; }
  void Start(int thread_count) override { encoder_.Start(thread_count); }
  void Stop(bool wait) override { encoder_.Stop(wait); }
  void Pause() override { encoder_.Pause(); }
  void Resume() override { encoder_.Resume(); }

 private:
  TFFEncoder encoder_;
  TEncoderTaskSink<TFFEncoder> tasks_;
};

}  // namespace

std::unique_ptr<TConverter> MakeEncoderConverter() { return std::make_unique<TEncoderConverter>(); }

}  // namespace vidmill
