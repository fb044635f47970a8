// TTranscodeLoop: the packet loop of one run of a task, after its set-up.
//
// Reads packets from the inputs in time order, decodes what is encoded,
// sends pictures through the video path (pre-processing, input hook, the
// stream's filter chain or scaler, frame-rate synchronisation, output hook,
// preview, encoding) and audio through the audio path, copies the packets
// of copied streams, writes everything interleaved and reports progress.
// It ends at the end of the inputs, at a time, frame or size limit, or on a
// stop request, and then drains decoders, filters and encoders and writes
// the trailers, so even a stopped output is a properly closed file. In join
// mode it plays the inputs one after another into the one output, each with
// a fresh encoder whose header matches the one already written.
//
// Fatal conditions are thrown as FFmpegException; a stop is not fatal.
//
// Thread rules: runs on the task's worker thread (or the caller's thread
// without one). The events are called on that thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio_path.h"
#include "core/bitmap.h"
#include "progress_report.h"
#include "transcode_types.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace vidmill {

class TCustomFFmpeg;
class TTaskThread;
class TFormatConverter;
class TPreviewer;
struct TOptionState;

// The process-wide lock of the post-hook sets and the preview work.
std::mutex& PreviewLock();

// What the loop hands to its task while it runs. Unset members are not called.
struct TLoopEvents {
  std::function<void(const TProgressFigures& figures)> progress;
  // Decoded audio as one packed buffer the handler may change in place.
  std::function<void(int64_t pts_us, uint8_t* samples, int size, int sample_rate, int channels,
                     AVSampleFormat format)>
      audio_hook;
  // A picture as a bitmap; the handler leaves *update true to write its
  // changes back, and sets *stop to end the hook for the rest of the run.
  using TVideoHook = std::function<void(TBitmap& bitmap, int frame_number, int64_t pts_us, bool* update, bool* stop)>;
  TVideoHook video_input_hook;
  TVideoHook video_output_hook;
  std::function<void(const TBitmap& bitmap, int frame_number, int64_t pts_us)> preview_bitmap;
};

class TTranscodeLoop {
 public:
  // `task`: the task whose set-up ran (not owned). `control`: its worker
  // side (stop request and pause gate); null: never stopped or paused.
  TTranscodeLoop(TCustomFFmpeg& task, TTaskThread* control, TLoopEvents events);
  ~TTranscodeLoop();
  TTranscodeLoop(const TTranscodeLoop&) = delete;
  TTranscodeLoop& operator=(const TTranscodeLoop&) = delete;

  // Runs the loop to its end; throws FFmpegException on a fatal error.
  void Run();
  // Microseconds between two progress reports (at least 1).
  int64_t ReportInterval = 500000;
  // Microseconds between two preview pictures.
  int64_t PreviewInterval = 100000;

  // After Run: no stop was requested.
  bool Finished() const { return finished_; }
  int64_t FramesDuplicated() const { return nb_frames_dup_; }
  // Packets handed to the muxers.
  int64_t PacketsWritten() const { return packets_written_; }
  int64_t FramesDropped() const { return nb_frames_drop_; }

 private:
  struct TOutput;  // the loop's side of one output stream
  struct TInput;   // the loop's side of one input stream

  // Control.
  bool Broken() const;
  bool AbandonIO() const;

  // The loop (transcode_loop.cpp).
  void Prepare();
  int ChooseInput();
  bool SizeLimitReached() const;
  void HandlePacket(AVPacket* pkt, int file_index);
  bool SwitchSegment(int file_index);
  int64_t ReopenEncoder(TOutput* out, TOutput* previous);
  void Finish();
  int ProcessPacket(int ist_index, const AVPacket* pkt);
  int Decode(int ist_index, const AVPacket* pkt);
  void DrainOutputs(int ist_index);
  void HandleAudio(int ist_index, AVFrame* frame);
  void CopyPacket(int ist_index, const AVPacket* pkt);
  void SubtitleOut(TOutput* out, const AVSubtitle* sub, int64_t pts_us);
  void EncodeAudio(TOutput* out, AVFrame* frame);
  void EncodeVideo(TOutput* out, AVFrame* frame);
  void ReceivePackets(TOutput* out, const char* failure);
  void KeepTimesRising(TOutput* out, AVPacket* pkt);
  TOutput* Previous(TOutput* out);
  void WriteFrame(TOutput* out, AVPacket* pkt);
  void WriteThroughFilters(TOutput* out, AVPacket* pkt, size_t first_filter);
  void InitBitstreamFilters(TOutput* out);
  void PaceToRealTime(const TAVInputStream& ist) const;
  void ReportProgress(bool is_last, int file_index);
  double OutputTime(const TOutput& out) const;
  std::vector<TOutput*> OutputsFedBy(int ist_index);

  // The video path (video_path.cpp).
  void HandleVideo(int ist_index, AVFrame* frame);
  void PassPicture(int ist_index, AVFrame* picture);
  void VideoOut(TOutput* out, int ist_index, AVFrame* frame, int64_t time_us);
  void FlushVideoChain(TOutput* out, int ist_index);
  void EmitVideoFrame(TOutput* out, int ist_index, AVFrame* picture, int64_t time_us);
  AVFrame* Rescaled(TOutput* out, int ist_index, AVFrame* picture);
  bool CallHook(const TLoopEvents::TVideoHook& hook, TFormatConverter* converter, AVFrame* picture,
                int frame_number, int64_t pts_us, bool* stop);
  void RunPostHooks(AVFrame* picture, int frame_number, int64_t pts_us, bool bitmap_ready);
  void WriteVideoStats(TOutput* out, int frame_size);
  void ForcedKeyFrames(TOutput* out);

  TCustomFFmpeg& task_;
  const TOptionState& opt_;
  TTaskThread* control_;
  TLoopEvents events_;
  std::vector<std::unique_ptr<TOutput>> outputs_;  // one per output stream of every slot
  std::vector<std::unique_ptr<TInput>> inputs_;    // one per input stream
  std::vector<bool> try_again_;                    // per input file
  int try_again_count_ = 0;
  int join_index_ = 0;                             // the input being played (join mode)
  int64_t timer_start_ = 0;
  int64_t last_report_ = 0;
  int64_t video_size_ = 0, audio_size_ = 0;
  int64_t nb_frames_dup_ = 0, nb_frames_drop_ = 0;
  bool show_dup_or_drop_ = false;
  TQpHistogram qp_hist_;
  bool finished_ = false;
  int64_t packets_written_ = 0;
  std::atomic<bool> io_armed_{true};               // the stop check abandons blocking I/O
  std::atomic<int64_t> drain_started_{0};          // when draining after a stop began
  uint8_t* subtitle_buf_ = nullptr;                // av_malloc'd, owned

  // Hooks and preview.
  std::unique_ptr<TFormatConverter> input_converter_;
  std::unique_ptr<TFormatConverter> output_converter_;
  std::unique_ptr<TPreviewer> previewer_;  // guarded by PreviewLock()
  int64_t preview_last_time_ = 0;
  bool input_hook_on_ = false;
  bool output_hook_on_ = false;
};

}  // namespace vidmill
