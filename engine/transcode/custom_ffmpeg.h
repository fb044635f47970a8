// TCustomFFmpeg: one transcoding task's transcoder.
//
// Options (SetExtOption) change the task's option state; opening an input
// (OpenInputFile) or an output (OpenOutputFile) reads the state at that
// moment, so an option applies to the input or output that follows it.
// RunSetup prepares a run: stream mapping, stream copy or encoding set-up,
// filter graphs, two-pass files, encoders, decoders and output headers.
//
// Outputs are written under a temporary name in their folder; CommitOutputs
// renames them into place when the task has finished, DiscardOutputs (and
// destruction without a commit) removes them.
//
// Thread rules: options are set and files opened on the caller's thread
// (normally the main thread); RunSetup and what follows run on the task's
// worker thread. The two never overlap for one task.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/bitmap.h"
#include "core/frame_hooks.h"
#include "option_context.h"
#include "option_state.h"
#include "progress_report.h"
#include "task_thread.h"
#include "transcode_types.h"

namespace vidmill {

class TFFBaseComponent;
class TTranscodeLoop;

// Post hooks of a task's output pictures.
enum TPostHook : uint8_t {
  phPreview = 1,  // paint into the preview surface
  phBitmap = 2,   // deliver bitmaps through OnPreviewBitmap
  phHBITMAP = 4,  // a platform bitmap handle (kept for the set's shape)
};

inline constexpr int kMaxFilesLimit = 512;

class TCustomFFmpeg {
 public:
  // `max_files`: capacity of inputs and of outputs, 1..512 (a programming
  // error otherwise).
  explicit TCustomFFmpeg(int max_files);
  virtual ~TCustomFFmpeg();
  TCustomFFmpeg(const TCustomFFmpeg&) = delete;
  TCustomFFmpeg& operator=(const TCustomFFmpeg&) = delete;

  // ---- Options -----------------------------------------------------------
  // Sets one named option (the converter's option names). Throws
  // FFmpegException with the option's error text.
  void SetExtOption(const std::string& name, const std::string& value);
  // Applies the target preset `type` ("vcd", "svcd", "dvd", "dv", "dv50")
  // for `norm` ("pal", "ntsc", "film", anything else: detect), falling back
  // to `fallback` ("film", "ntsc", else PAL) when detection cannot decide.
  void ApplyTarget(const std::string& type, const std::string& norm, const std::string& fallback);
  bool HaltOnInvalidOption = true;
  int Verbose() const { return opt_.verbose; }
  void SetVerbose(int v) { opt_.verbose = v; }
  const TOptionState& OptionState() const { return opt_; }
  const TOptionContext& OptionStore() const { return *store_; }

  // ---- Opening -----------------------------------------------------------
  // Opens an input and appends it. False with LastErrMsg set when it cannot
  // be opened; option errors met on the way are thrown.
  bool OpenInputFile(const std::string& file_name);
  // Opens an output and creates its streams. The new number of outputs, or
  // -1 with LastErrMsg set. Nothing is left on disk after a failure.
  int OpenOutputFile(const std::string& file_name, bool join);
  // Duplicates the joined output for every further input.
  void JoinSetup();

  // ---- Run ---------------------------------------------------------------
  // Prepares a run; throws FFmpegException with the fatal message.
  void RunSetup();
  // The video statistics file ("vstats", "vstats_file"), opened for writing
  // on first use; null when none was asked for. Throws FFmpegException
  // "fopen fail: <name>" when it cannot be created.
  FILE* VideoStatsFile();
  // Renames finished outputs into place; false with LastErrMsg when one
  // cannot be renamed (its temporary file is then removed).
  bool CommitOutputs();
  // Removes the temporary files of outputs not committed.
  void DiscardOutputs();
  // Releases everything the task opened (inputs, outputs, run tables,
  // frame hooks, the statistics file); temporary outputs not committed are
  // removed. Options set so far stay.
  virtual void CleanUp();

  // Abandons a blocking open step at once (a stop without worker thread).
  void CancelIO() { io_start_time_ = 0; }

  // ---- Running (ffmpeg_run.cpp) ----------------------------------------------
  // Starts the run: on a new worker thread when `use_thread` (true is
  // returned at once), else in the calling thread (false is returned when
  // it has ended). Nothing happens for a task that is converting or has
  // terminated. A task without an output or input ends at once with its
  // fatal message. Every run ends with the terminate step (OnTerminate).
  bool StartConvert(bool use_thread, TThreadPriority priority = tpNormal);
  // Asks the run to end at the next packet (the output is still closed
  // properly); with `wait`, waits for it (running the main thread's pending
  // calls meanwhile when called there).
  void Stop(bool wait);
  // A paused run holds still between two packets.
  void Pause() { thread_.Pause(); }
  void Resume() { thread_.Resume(); }
  // Whether the worker holds still at the pause gate now.
  bool HeldAtGate() const { return thread_.HeldAtGate(); }
  // Ends a task that never started: releases what it opened, then the
  // terminate step, without a run.
  void TerminateWithoutRun();
  // Stops the task's threads and waits for them (the destructors do).
  void WaitForThreads();

  bool Converting() const { return converting_.load(); }
  bool Terminated() const { return terminated_.load(); }
  bool Finished() const { return finished_.load(); }
  bool FatalException() const { return fatal_exception_.load(); }
  // Valid once the task has terminated.
  const std::string& FatalMessage() const { return fatal_message_; }
  // Microseconds between two progress reports, and between two previews.
  int64_t ReportInterval = 500000;
  int64_t PreviewInterval = 100000;

  // Events of a run, called on the thread that runs the task (set before
  // the start). The component routes them to itself.
  std::function<void(TCustomFFmpeg* sender, const TProgressFigures& figures)> OnProgress;
  std::function<void(TCustomFFmpeg* sender)> OnTerminate;
  std::function<void(TCustomFFmpeg* sender, int64_t pts, uint8_t* samples, int size, int sample_rate, int channels,
                     AVSampleFormat format)>
      OnAudioHook;
  using TVideoHookCallback = std::function<void(TCustomFFmpeg* sender, TBitmap& bitmap, int frame_number, int64_t pts,
                                                bool* update, bool* stop)>;
  TVideoHookCallback OnVideoInputHook;
  TVideoHookCallback OnVideoOutputHook;
  std::function<void(TCustomFFmpeg* sender, const TBitmap& bitmap, int frame_number, int64_t pts)> OnPreviewBitmap;

  // ---- State -------------------------------------------------------------
  const std::string& LastErrMsg() const { return last_err_msg_; }
  int MaxFiles() const { return max_files_; }
  int nb_input_files() const { return static_cast<int>(input_files_.size()); }
  int nb_output_files() const { return static_cast<int>(output_files_.size()); }
  int64_t TotalOutputDuration() const { return total_output_duration_; }
  bool JoinMode() const { return join_mode_; }
  bool EnableFilter() const { return enable_filter_; }
  int ReadTimeout = 10000;  // milliseconds; <= 0: never

  // Whether a path is (by file identity) one of this task's inputs.
  bool HasInputFile(const std::string& path) const;
  // Whether `path` is the same file as one of the task's outputs.
  bool HasOutputFile(const std::string& path) const;
  // Paths of the inputs, in order.
  std::vector<std::string> InputFileNames() const;
  // Final names of the outputs (one per output file, join slots once).
  std::vector<std::string> OutputFileNames() const;
  // Extra check of an output path before it is opened: returns an error
  // text to refuse it (e.g. it is an input of another task), or "".
  std::function<std::string(const std::string& path)> OutputPathGuard;

  // Hooks and post hooks the run must honour (set by the output options).
  bool AudioHookAssigned = false;
  bool VideoInputHookAssigned = false;
  bool VideoOutputHookAssigned = false;
  int VideoHookBitsPixel = 24;
  std::atomic<uint8_t> PostHooks{0};  // TPostHook bits

  // Sender of this task's log lines (the owning component) or null.
  const TFFBaseComponent* LogSender = nullptr;
  // Raised while an input is opened, before its streams are analysed.
  std::function<void(TCustomFFmpeg* sender, AVFormatContext* ctx)> OnBeforeFindStreamInfo;
  // Frame-hook modules loaded with "vhook".
  int FrameHookCount() const { return frame_hooks_.Count(); }
  TFrameHookList& FrameHooks() { return frame_hooks_; }

  // ---- Read access for the run and for tests -----------------------------
  AVFormatContext* InputContext(int i) const { return input_files_[i].ctx.get(); }
  AVFormatContext* OutputContext(int i) const { return output_files_[i].out->ctx; }
  const std::string& OutputTempName(int i) const { return output_files_[i].out->temp_name; }
  const std::vector<std::unique_ptr<TAVOutputStream>>& OutputStreams(int i) const {
    return output_files_[i].streams;
  }
  const std::vector<TAVInputStream>& InputStreams() const { return input_streams_; }
  const std::vector<TAVInputFile>& InputTables() const { return input_tables_; }
  // Number of output streams of the first output (join groups).
  int StreamsPerSlot() const { return streams_per_slot_; }

 protected:
  friend class TTranscodeLoop;

  // The conversion itself: set-up and the packet loop. Throws
  // FFmpegException on a fatal error; a derived task may do its own work.
  virtual void Transcode();

  void Log(int level, const std::string& msg) const;
  void Logf(int level, const char* format, ...) const __attribute__((format(printf, 3, 4)));
  void SetError(const std::string& msg);  // LastErrMsg, logged at the error level

  // Options (ffmpeg_options.cpp, ffmpeg_target.cpp).
  bool SetGenericOption(const std::string& name, const std::string& value);
  void SetBitrate(const std::string& name, const std::string& value);
  void SetCodecName(AVMediaType type, const std::string& value);
  void SetCodecTag(const std::string& name, const std::string& value);
  void ApplyPreset(const std::string& name, const std::string& value);
  void ApplyPresetText(const std::string& source, const std::string& text);
  void SetTarget(const std::string& value);
  void AddBitstreamFilter(std::vector<std::string>* list, const std::string& value);
  void AddStreamMap(const std::string& value);
  void AddMetaDataMap(const std::string& value);
  void AddChapterMap(const std::string& value);
  void AddVideoHook(const std::string& value);
  void AddNewStream(AVMediaType type);
  int DetectNorm(const std::string& norm, const std::string& fallback);

  // Opening (ffmpeg_open_input.cpp, ffmpeg_open_output.cpp).
  bool FindCodec(const std::string& name, AVMediaType type, bool encoder, const AVCodec** codec);
  void PrepareInputStream(TInputFileEntry* entry, int stream_index);
  void CheckInputKinds(bool* want_video, bool* want_audio, bool* want_subtitle);
  TAVOutputStream* NewOutputStream(TOutputFileEntry* file, AVMediaType type, const AVCodec** codec);
  void NewVideoStream(TOutputFileEntry* file);
  void NewAudioStream(TOutputFileEntry* file);
  void NewSubtitleStream(TOutputFileEntry* file);
  void ChoosePixelFormat(AVCodecContext* enc, const AVCodec* codec);
  void ChooseSampleFormat(AVCodecContext* enc, const AVCodec* codec);
  void ChooseSampleRate(AVCodecContext* enc, const AVCodec* codec);
  void AttachBitstreamFilters(TAVOutputStream* ost, std::vector<std::string>* pending);
  void ResetVideoState();
  void ResetAudioState();
  void ResetSubtitleState();
  bool OpenOutputIO(TOutputContext* out);
  std::string CheckOutputPath(const std::string& file_name) const;

  // Run set-up (ffmpeg_setup.cpp).
  void BuildInputTables();
  void CheckOutputTables();
  void MapStreams();
  void SetupStreamCopy(TAVOutputStream* ost, TAVInputStream* ist, AVFormatContext* oc);
  void SetupEncoding(TAVOutputStream* ost, TAVInputStream* ist);
  int BuildVideoFilterGraph(TAVInputStream* ist, TAVOutputStream* ost);
  void SetupTwoPass(TAVOutputStream* ost, int position);
  void OpenEncoders();
  void KeepEncoderTemplate(TAVOutputStream* ost, const AVCodec* codec);
  void OpenDecoders();
  void InitInputTimes();
  void CopyMetadataAndChapters();
  void WriteHeaders();
  void LogStreamMapping();
  void ReleaseRunTables();
  std::string PassLogPrefix();

  // Time-out check of blocking open steps: registered for the calling
  // thread while it opens a file; each step records its start time.
  class TIOGuard;
  bool IOExpired();
  void ReportIOAbandon();
  std::atomic<int64_t> io_start_time_{INT64_MAX};
  std::atomic<int> io_abandoned_{0};  // 1 timeout, 2 canceled (logged after the call)

  // State written by the options and read by the opening steps.
  TOptionState opt_;
  std::unique_ptr<TOptionContext> store_;
  TFrameHookList frame_hooks_;

  // Opened files.
  const int max_files_;
  std::vector<TInputFileEntry> input_files_;
  std::vector<TOutputFileEntry> output_files_;
  int64_t total_output_duration_ = -1;
  bool join_mode_ = false;
  bool enable_filter_ = false;
  std::string last_err_msg_;
  std::string pass_log_unique_;  // this task's default pass-log prefix

  // Run tables (RunSetup).
  std::vector<TAVInputFile> input_tables_;
  std::vector<TAVInputStream> input_streams_;
  int streams_per_slot_ = 0;
  int bit_buffer_size_ = 262144;
  FILE* vstats_file_ = nullptr;
  int64_t extra_size_ = 0;

 private:
  void Run();
  void TerminateStep();
  template <typename F>
  void Guarded(F step);

  std::atomic<bool> converting_{false};
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
  std::atomic<bool> fatal_exception_{false};
  std::string fatal_message_;  // written by the thread that runs the task, before the terminate step
  int64_t packets_written_ = 0;  // by the last run (the thread that runs the task)
  // Last member: destroyed first, so nothing of the task goes while its worker runs.
  TTaskThread thread_;
};

}  // namespace vidmill
