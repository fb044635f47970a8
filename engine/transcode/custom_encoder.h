// TCustomEncoder: the component through which the application converts
// media. It keeps an ordered list of transcoding tasks (TFFmpeg), opens their
// inputs and outputs while they are added (so errors come back per call),
// runs them in worker threads or in the caller's thread, and reports
// progress, preview pictures, hooks and the end of each task and of the
// whole run through its events.
//
// Thread rules:
// - Every method is called from the application's main thread (or one
//   thread that plays its role), unless said otherwise. Event handlers are
//   set before Start and not changed while working.
// - OnProgress and OnPreviewBitmap run on the main thread while the worker
//   waits (TriggerEventInMainThread, through main_thread.h), else on the
//   worker. Hooks run on the worker. OnTerminate runs on the component's one
//   delivery thread (never the main thread), in order: per task, then the
//   end of the run (TaskIndex -1) last. Handlers of one kind never run at once.
// - A main thread that waits (Stop with waiting, ClearTasks, destruction)
//   keeps running the calls other threads wait for on it.
// Misuse while working throws EEngineError ("Cannot %s while working.");
// failures on media or options return -1 or false with LastErrMsg set.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "core/base_component.h"
#include "core/bitmap.h"
#include "event_queue.h"
#include "ffmpeg_task.h"
#include "option_records.h"
#include "task_thread.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/samplefmt.h>
}

namespace vidmill {

class TFFDecoder;
class TCustomEncoder;

struct TProgressInfo {
  int32_t TaskIndex = 0;        // the reporting task's index in the list
  int32_t FileIndex = 0;        // input being read; -1 in a task's final report
  int32_t FrameNumber = -1;     // video frames encoded; -1 without video
  int32_t FPS = -1;             // frames per second since the task started; -1 without video
  float Quality = -1;           // quantiser of the last video frame; -1 when copied or without video
  float BitRate = 0;            // kbit/s
  int64_t CurrentSize = 0;      // bytes of the (first) output so far
  int64_t CurrentDuration = 0;  // microseconds of output, at least 10000
  int64_t TotalDuration = -1;   // microseconds expected; -1 when unknown
};

struct TTerminateInfo {
  int32_t TaskIndex = -1;   // -1: the end of the whole run
  bool Finished = true;     // converted to the end without being stopped
  bool Exception = false;   // ended with a fatal error
  std::string ExceptionMsg;
};

struct TPreviewInfo {
  int32_t TaskIndex = 0;
  const TBitmap* Bitmap = nullptr;  // owned by the task; valid during the call
  int32_t FrameNumber = 0;          // output frame number, from 1
  int64_t PTS = 0;                  // microseconds
};

struct THookInfo {
  int32_t TaskIndex = 0;
  TBitmap* Bitmap = nullptr;  // the picture as a bitmap; the handler may draw on it
  int32_t FrameNumber = 0;    // from 1
  int64_t PTS = 0;            // microseconds
  bool Update = true;         // leave true to write the bitmap back into the picture
  bool StopHook = false;      // set to end this hook for the rest of the task
};

using TProgressEvent = std::function<void(TCustomEncoder* Sender, TProgressInfo* AProgressInfo)>;
using TTerminateEvent = std::function<void(TCustomEncoder* Sender, const TTerminateInfo& ATerminateInfo)>;
using TPreviewBitmapEvent = std::function<void(TCustomEncoder* Sender, const TPreviewInfo& APreviewInfo)>;
using TVideoHookEvent = std::function<void(TCustomEncoder* Sender, THookInfo* AHookInfo)>;
using TAudioHookEvent =
    std::function<void(TCustomEncoder* Sender, int32_t ATaskIndex, int64_t APTS, uint8_t* ASample, int32_t ASize,
                       int32_t ASampleRate, int32_t AChannels, AVSampleFormat ASampleFormat)>;
using TBeforeFindStreamInfoEvent = std::function<void(TCustomFFmpeg* Sender, AVFormatContext* AFormatContext)>;

class TCustomEncoder : public TFFBaseComponent {
 public:
  TCustomEncoder();
  // Stops every task (waiting), delivers what the event queue holds, then
  // frees the tasks.
  ~TCustomEncoder() override;
  TCustomEncoder(const TCustomEncoder&) = delete;
  TCustomEncoder& operator=(const TCustomEncoder&) = delete;

  // ---- Libraries ----------------------------------------------------------
  // Loads the component's libraries from `path` (falling back to the
  // system's); false with LastErrMsg set.
  bool LoadAVLib(const std::string& path);
  bool AVLibLoaded() const;
  void UnloadAVLib();

  // ---- Tasks and files ----------------------------------------------------
  // Adds a task with its first input. The index of the new task, or -1 with
  // LastErrMsg set. `options` may be null; its empty FileName is filled in.
  int AddTask(const std::string& AFileName, TInputOptions* AOptions = nullptr);
  // The same with option lines; a "TimeStart" line (microseconds) sets the start.
  int AddTask(const std::string& AFileName, const std::string& AExtOptions);
  // An input read from an application stream object ("stream:%d:%s").
  int AddTask(const void* AStream, const std::string& APrivateData, TInputOptions* AOptions);
  bool AddInputFile(int ATaskIndex, const std::string& AFileName, TInputOptions* AOptions = nullptr);
  bool AddInputFile(int ATaskIndex, const std::string& AFileName, const std::string& AExtOptions);
  bool SetOutputFile(int ATaskIndex, const std::string& AFileName, TOutputOptions* AOptions = nullptr);
  // The same with option lines; "AudioHook", "VideoInputHook",
  // "VideoOutputHook", "Join", "VideoHookBitsPixel", "TimeStart" and
  // "TimeLength" lines set the record's fields.
  bool SetOutputFile(int ATaskIndex, const std::string& AFileName, const std::string& AExtOptions);
  bool SetOutputStream(int ATaskIndex, const void* AStream, const std::string& APrivateData,
                       TOutputOptions* AOptions);

  // Frees every task and returns to idle. Throws while a run is going on.
  void ClearTasks();
  void RemoveTask(int ATaskIndex);
  void Exchange(int ATaskIndex1, int ATaskIndex2);
  int GetTaskIndex(const TFFmpeg* AFFmpeg) const;
  int TasksCount() const;
  // The task at an index (null when out of range); the component owns it.
  TFFmpeg* Task(int ATaskIndex) const;

  // ---- Running --------------------------------------------------------------
  // Runs the tasks: at most AThreadCount at once in worker threads
  // (returns at once), or with 0 or less one after another in the calling
  // thread (returns when all have ended and their events were delivered).
  void Start(int AThreadCount);
  // A paused task holds still between two packets.
  void Pause();
  void Resume();
  // Stops every running task and terminates the others unstarted; each
  // still reports OnTerminate, and the end of the run follows.
  void Stop(bool AWaitForStop = true);
  // Waits until the run has ended and every event was delivered (keeps
  // running the main thread's pending calls). Returns at once when idle.
  void WaitForEnd();

  // ---- Properties -------------------------------------------------------------
  int CustomMaxFiles() const { return custom_max_files_; }
  // 1..512; other values throw EEngineError.
  void SetCustomMaxFiles(int value);
  bool HaltOnInvalidOption = true;
  bool Preview() const { return preview_; }
  void SetPreview(bool value);
  bool PreviewBitmap() const { return preview_bitmap_; }
  void SetPreviewBitmap(bool value);
  int ProgressInterval() const { return progress_interval_; }
  void SetProgressInterval(int ms);  // 100 or less is stored as 100
  int ReadTimeout = 10000;           // milliseconds; <= 0: never
  TThreadPriority ThreadPriority = tpNormal;
  std::atomic<bool> TriggerEventInMainThread{true};
  int Verbose = 1;
  void* UserData = nullptr;
  const std::string& LastErrMsg() const { return last_err_msg_; }
  bool Working() const { return working_.load(); }
  bool Paused() const { return paused_.load(); }
  bool Terminated() const { return terminated_.load(); }
  TFFDecoder& Decoder() { return *decoder_; }

  // ---- Events -------------------------------------------------------------------
  TProgressEvent OnProgress;
  TTerminateEvent OnTerminate;
  TPreviewBitmapEvent OnPreviewBitmap;
  TVideoHookEvent OnVideoInputHook;
  TVideoHookEvent OnVideoOutputHook;
  TAudioHookEvent OnAudioHook;
  TBeforeFindStreamInfoEvent OnBeforeFindStreamInfo;

 protected:
  // Makes a new task; a derived component may make tasks of its own kind.
  virtual std::unique_ptr<TFFmpeg> NewTask(int max_files);
  // The five deliveries each task's callbacks are routed to (any thread).
  virtual void DoVideoInputHook(TCustomFFmpeg* task, TBitmap& bitmap, int frame_number, int64_t pts, bool* update,
                                bool* stop);
  virtual void DoVideoOutputHook(TCustomFFmpeg* task, TBitmap& bitmap, int frame_number, int64_t pts, bool* update,
                                 bool* stop);
  virtual void DoPreviewBitmap(TCustomFFmpeg* task, const TBitmap& bitmap, int frame_number, int64_t pts);
  virtual void DoProgress(TCustomFFmpeg* task, const TProgressFigures& figures);
  virtual void TaskTerminated(TCustomFFmpeg* task);

 private:
  void CheckWorking(const char* what) const;
  void CheckLibraries() const;
  bool CheckTaskIndex(int index);
  TFFmpeg* TaskToAddTo(int index, bool input);
  template <typename F>
  bool AddFile(TFFmpeg* task, F add);
  void PrepareTask(TFFmpeg* task);
  void RouteRunEvents(TFFmpeg* task);
  void DoAudioHook(TCustomFFmpeg* task, int64_t pts, uint8_t* samples, int size, int rate, int channels,
                   AVSampleFormat format);
  void VideoHook(const TVideoHookEvent& handler, TCustomFFmpeg* task, TBitmap& bitmap, int frame_number,
                 int64_t pts, bool* update, bool* stop);
  void StartNextTask();
  void AllTasksTerminated();
  void DeliverTerminate(const TTerminateInfo& info);
  int IndexOf(const TCustomFFmpeg* task) const;

  TFFmpegList tasks_;
  std::unique_ptr<TFFDecoder> decoder_;
  std::string last_err_msg_;
  int custom_max_files_ = 20;
  int progress_interval_ = 500;
  bool preview_ = false;
  bool preview_bitmap_ = false;

  // Run state; changed under terminate_lock_.
  std::recursive_mutex terminate_lock_;  // the whole of TaskTerminated, and choosing the next task
  int complete_tasks_ = 0;
  int current_task_ = -1;
  int pending_tasks_ = 0;
  bool thread_mode_ = false;
  std::atomic<bool> working_{false};
  std::atomic<bool> paused_{false};
  std::atomic<bool> terminated_{false};

  // One lock per kind of event: handlers of one kind never run at once.
  std::mutex progress_lock_;
  std::mutex preview_lock_;
  std::mutex video_hook_lock_;
  std::mutex audio_hook_lock_;
  std::mutex terminate_handler_lock_;
  TProgressInfo progress_info_;  // guarded by progress_lock_
  THookInfo hook_info_;          // guarded by video_hook_lock_

  // OnTerminate deliveries; declared last so it goes first, after draining.
  TEventQueue events_;
};

// The published form of the component.
class TFFEncoder : public TCustomEncoder {};

}  // namespace vidmill
