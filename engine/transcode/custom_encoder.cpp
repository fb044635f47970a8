#include "custom_encoder.h"

#include <cinttypes>

#include "core/engine_error.h"
#include "core/ff_load.h"
#include "core/ff_log.h"
#include "core/ff_utils.h"
#include "core/main_thread.h"
#include "option_lines.h"
#include "probe/ff_decode.h"

namespace vidmill {

namespace {

bool StartsWithKey(const std::string& key, const char* name) { return LowerCase(key) == LowerCase(name); }

int64_t ParseMicroseconds(const std::string& value) {
  char* end = nullptr;
  const long long v = std::strtoll(value.c_str(), &end, 10);
  if (value.empty() || !end || *end != '\0') return kNoTime;
  return v;
}

int ParseIntOr(const std::string& value, int fallback) {
  char* end = nullptr;
  const long v = std::strtol(value.c_str(), &end, 10);
  if (value.empty() || !end || *end != '\0') return fallback;
  return static_cast<int>(v);
}

// Input options from option lines: a "TimeStart" line (microseconds) sets
// the start, every other line goes into ExtOptions.
TInputOptions InputOptionsOfLines(const std::string& text) {
  TInputOptions options;
  InitInputOptions(&options);
  for (const TOptionLine& line : SplitOptionLines(text)) {
    if (StartsWithKey(line.key, "TimeStart")) {
      options.TimeStart = ParseMicroseconds(line.value);
    } else if (!line.key.empty() || !line.value.empty()) {
      options.ExtOptions += line.key + "=" + line.value + "\n";
    }
  }
  return options;
}

std::string StreamName(const void* stream, const std::string& private_data) {
  return FormatText("stream:%" PRIuPTR ":%s", reinterpret_cast<uintptr_t>(stream), private_data.c_str());
}

}  // namespace

TCustomEncoder::TCustomEncoder() : TFFBaseComponent("3.9"), decoder_(std::make_unique<TFFDecoder>()) {}

TCustomEncoder::~TCustomEncoder() {
  Stop(true);
  events_.Drain();
  tasks_.Clear();  // each task waits for its threads
}

// ---- Libraries -------------------------------------------------------------------

bool TCustomEncoder::LoadAVLib(const std::string& path) {
  TFFLoader& loader = TFFLoader::Instance();
  loader.SetLibraryPath(path);
  if (loader.Load(kEncoderLibraries)) return true;
  last_err_msg_ = loader.LastErrMsg();
  TFFLogger::Process().Log(this, llError, last_err_msg_);
  return false;
}

bool TCustomEncoder::AVLibLoaded() const { return TFFLoader::Instance().Loaded(kEncoderLibraries); }

void TCustomEncoder::UnloadAVLib() { TFFLoader::Instance().Unload(kEncoderLibraries); }

void TCustomEncoder::CheckLibraries() const {
  for (TLibrary lib : {avUtil, avCodec, avFormat, avFilter, swScale, swResample}) {
    if (!TFFLoader::Instance().Loaded(lib)) throw EEngineError(NotLoadedText(lib));
  }
}

void TCustomEncoder::CheckWorking(const char* what) const {
  if (working_.load()) throw EEngineError(FormatText("Cannot %s while working.", what));
}

bool TCustomEncoder::CheckTaskIndex(int index) {
  const std::string error = tasks_.CheckIndex(index);
  if (error.empty()) return true;
  last_err_msg_ = error;
  TFFLogger::Process().Log(this, llError, error);
  return false;
}

// ---- Adding tasks and files ----------------------------------------------------------

std::unique_ptr<TFFmpeg> TCustomEncoder::NewTask(int max_files) { return std::make_unique<TFFmpeg>(max_files); }

void TCustomEncoder::PrepareTask(TFFmpeg* task) {
  task->HaltOnInvalidOption = HaltOnInvalidOption;
  task->SetVerbose(Verbose);
  task->LogSender = this;
  task->FParent = this;
  uint8_t hooks = 0;
  if (preview_) hooks |= phPreview;
  if (preview_bitmap_) hooks |= phBitmap;
  task->PostHooks = hooks;
  task->OnBeforeFindStreamInfo = [this](TCustomFFmpeg* sender, AVFormatContext* ctx) {
    if (OnBeforeFindStreamInfo) OnBeforeFindStreamInfo(sender, ctx);
  };
  task->OnPreviewBitmap = [this](TCustomFFmpeg* sender, const TBitmap& bitmap, int frame, int64_t pts) {
    DoPreviewBitmap(sender, bitmap, frame, pts);
  };
}

void TCustomEncoder::RouteRunEvents(TFFmpeg* task) {
  task->OnProgress = [this](TCustomFFmpeg* sender, const TProgressFigures& f) { DoProgress(sender, f); };
  task->OnTerminate = [this](TCustomFFmpeg* sender) { TaskTerminated(sender); };
  task->OnAudioHook = [this](TCustomFFmpeg* sender, int64_t pts, uint8_t* samples, int size, int rate, int channels,
                             AVSampleFormat format) { DoAudioHook(sender, pts, samples, size, rate, channels, format); };
  task->OnVideoInputHook = [this](TCustomFFmpeg* sender, TBitmap& bitmap, int frame, int64_t pts, bool* update,
                                  bool* stop) { DoVideoInputHook(sender, bitmap, frame, pts, update, stop); };
  task->OnVideoOutputHook = [this](TCustomFFmpeg* sender, TBitmap& bitmap, int frame, int64_t pts, bool* update,
                                   bool* stop) { DoVideoOutputHook(sender, bitmap, frame, pts, update, stop); };
}

int TCustomEncoder::AddTask(const std::string& AFileName, TInputOptions* AOptions) {
  CheckWorking("AddTask");
  CheckLibraries();
  last_err_msg_.clear();
  std::unique_ptr<TFFmpeg> task;
  try {
    task = NewTask(custom_max_files_);
    PrepareTask(task.get());
    task->ReadTimeout = ReadTimeout;
    if (!task->AddInput(AFileName, AOptions)) {
      last_err_msg_ = task->LastErrMsg();
      return -1;
    }
  } catch (const std::exception& e) {
    last_err_msg_ = e.what();
    TFFLogger::Process().Log(this, llError, last_err_msg_);
    return -1;
  }
  RouteRunEvents(task.get());
  return tasks_.Add(std::move(task));
}

int TCustomEncoder::AddTask(const std::string& AFileName, const std::string& AExtOptions) {
  TInputOptions options = InputOptionsOfLines(AExtOptions);
  return AddTask(AFileName, &options);
}

int TCustomEncoder::AddTask(const void* AStream, const std::string& APrivateData, TInputOptions* AOptions) {
  return AddTask(StreamName(AStream, APrivateData), AOptions);
}

TFFmpeg* TCustomEncoder::TaskToAddTo(int index, bool input) {
  CheckLibraries();
  if (!CheckTaskIndex(index)) return nullptr;
  TFFmpeg* task = tasks_.Items(index);
  last_err_msg_.clear();
  const int count = input ? task->nb_input_files() : task->nb_output_files();
  if (count >= task->MaxFiles()) {
    last_err_msg_ = FormatText(input ? "max input files %d reached" : "max output files %d reached", task->MaxFiles());
    TFFLogger::Process().Log(this, llError, last_err_msg_);
    return nullptr;
  }
  task->HaltOnInvalidOption = HaltOnInvalidOption;
  task->ReadTimeout = ReadTimeout;
  return task;
}

template <typename F>
bool TCustomEncoder::AddFile(TFFmpeg* task, F add) {
  try {
    if (add()) return true;
    last_err_msg_ = task->LastErrMsg();
  } catch (const std::exception& e) {
    last_err_msg_ = e.what();
    TFFLogger::Process().Log(this, llError, last_err_msg_);
  }
  return false;
}

bool TCustomEncoder::AddInputFile(int ATaskIndex, const std::string& AFileName, TInputOptions* AOptions) {
  CheckWorking("AddInputFile");
  TFFmpeg* task = TaskToAddTo(ATaskIndex, true);
  return task && AddFile(task, [&] { return task->AddInput(AFileName, AOptions); });
}

bool TCustomEncoder::AddInputFile(int ATaskIndex, const std::string& AFileName, const std::string& AExtOptions) {
  TInputOptions options = InputOptionsOfLines(AExtOptions);
  return AddInputFile(ATaskIndex, AFileName, &options);
}

bool TCustomEncoder::SetOutputFile(int ATaskIndex, const std::string& AFileName, TOutputOptions* AOptions) {
  CheckWorking("SetOutputFile");
  TFFmpeg* task = TaskToAddTo(ATaskIndex, false);
  return task && AddFile(task, [&] { return task->SetOutput(AFileName, AOptions); });
}

bool TCustomEncoder::SetOutputFile(int ATaskIndex, const std::string& AFileName, const std::string& AExtOptions) {
  TOutputOptions options;
  InitOutputOptions(&options);
  for (const TOptionLine& line : SplitOptionLines(AExtOptions)) {
    const std::string& key = line.key;
    if (StartsWithKey(key, "AudioHook")) {
      options.AudioHook = line.value != "0";
    } else if (StartsWithKey(key, "VideoInputHook")) {
      options.VideoInputHook = line.value != "0";
    } else if (StartsWithKey(key, "VideoOutputHook")) {
      options.VideoOutputHook = line.value != "0";
    } else if (StartsWithKey(key, "Join")) {
      options.Join = line.value != "0";
    } else if (StartsWithKey(key, "VideoHookBitsPixel")) {
      options.VideoHookBitsPixel = ParseIntOr(line.value, 24);
    } else if (StartsWithKey(key, "TimeStart")) {
      options.TimeStart = ParseMicroseconds(line.value);
    } else if (StartsWithKey(key, "TimeLength")) {
      options.TimeLength = ParseMicroseconds(line.value);
    } else if (!key.empty() || !line.value.empty()) {
      options.ExtOptions += key + "=" + line.value + "\n";
    }
  }
  return SetOutputFile(ATaskIndex, AFileName, &options);
}

bool TCustomEncoder::SetOutputStream(int ATaskIndex, const void* AStream, const std::string& APrivateData,
                                     TOutputOptions* AOptions) {
  return SetOutputFile(ATaskIndex, StreamName(AStream, APrivateData), AOptions);
}

// ---- The list ------------------------------------------------------------------------

void TCustomEncoder::ClearTasks() {
  if (working_.load() && !terminated_.load()) throw EEngineError("Cannot ClearTasks while working.");
  events_.Drain();  // the end of the run may still be on its way
  tasks_.Clear();
  last_err_msg_.clear();
  std::lock_guard lock(terminate_lock_);
  complete_tasks_ = 0;
  current_task_ = -1;
  pending_tasks_ = 0;
  terminated_ = false;
  thread_mode_ = false;
  working_ = false;
  paused_ = false;
}

void TCustomEncoder::RemoveTask(int ATaskIndex) {
  CheckWorking("RemoveTask");
  if (!tasks_.Delete(ATaskIndex, &last_err_msg_)) TFFLogger::Process().Log(this, llError, last_err_msg_);
}

void TCustomEncoder::Exchange(int ATaskIndex1, int ATaskIndex2) {
  CheckWorking("Exchange");
  if (!tasks_.Exchange(ATaskIndex1, ATaskIndex2, &last_err_msg_)) TFFLogger::Process().Log(this, llError, last_err_msg_);
}

int TCustomEncoder::GetTaskIndex(const TFFmpeg* AFFmpeg) const { return tasks_.IndexOf(AFFmpeg); }
int TCustomEncoder::TasksCount() const { return tasks_.Count(); }
TFFmpeg* TCustomEncoder::Task(int ATaskIndex) const { return tasks_.Items(ATaskIndex); }

int TCustomEncoder::IndexOf(const TCustomFFmpeg* task) const {
  for (int i = 0; i < tasks_.Count(); ++i) {
    if (tasks_.Items(i) == task) return i;
  }
  return -1;
}

// ---- Properties ----------------------------------------------------------------------

void TCustomEncoder::SetCustomMaxFiles(int value) {
  if (value < 1 || value > kMaxFilesLimit) throw EEngineError(FormatText("CustomMaxFiles %d out of 1..512", value));
  custom_max_files_ = value;
}

void TCustomEncoder::SetProgressInterval(int ms) { progress_interval_ = ms <= 100 ? 100 : ms; }

void TCustomEncoder::SetPreview(bool value) {
  preview_ = value;
  tasks_.SetPostHookAll(phPreview, value);
}

void TCustomEncoder::SetPreviewBitmap(bool value) {
  preview_bitmap_ = value;
  tasks_.SetPostHookAll(phBitmap, value);
}

// ---- Running -------------------------------------------------------------------------

void TCustomEncoder::Start(int AThreadCount) {
  CheckWorking("StartTask");
  events_.Drain();  // nothing of an earlier run may still be on its way
  std::unique_lock lock(terminate_lock_);
  complete_tasks_ = 0;
  current_task_ = 0;
  pending_tasks_ = tasks_.Count();
  terminated_ = false;
  thread_mode_ = AThreadCount > 0;
  working_ = true;
  paused_ = false;
  if (pending_tasks_ == 0) {
    AllTasksTerminated();  // nothing to run: the run ends at once, so waiting for its end cannot hang
    return;
  }
  if (thread_mode_) {
    // Under the terminate lock: a task that ends meanwhile waits for this
    // loop before it starts the next one, so no index is taken twice.
    for (int left = AThreadCount; left > 0 && pending_tasks_ > 0; --left) StartNextTask();
    return;
  }
  lock.unlock();
  while (true) {
    {
      std::lock_guard again(terminate_lock_);
      if (pending_tasks_ <= 0) break;
    }
    StartNextTask();
  }
  events_.Drain();
}

void TCustomEncoder::StartNextTask() {
  TFFmpeg* task = nullptr;
  {
    std::lock_guard lock(terminate_lock_);
    if (pending_tasks_ <= 0) return;
    --pending_tasks_;
    task = tasks_.Items(current_task_++);
    if (!task) return;
    task->ReportInterval = int64_t{progress_interval_} * 1000;
    if (paused_.load()) task->Pause();
    if (thread_mode_) {
      task->StartConvert(true, ThreadPriority);
      return;
    }
  }
  task->StartConvert(false, ThreadPriority);  // runs here; its end comes back through TaskTerminated
}

void TCustomEncoder::Pause() {
  if (!working_.load() || paused_.load()) return;
  std::lock_guard lock(terminate_lock_);
  paused_ = true;
  tasks_.PauseAll();
}

void TCustomEncoder::Resume() {
  if (!working_.load() || !paused_.load()) return;
  std::lock_guard lock(terminate_lock_);
  paused_ = false;
  tasks_.ResumeAll();
}

void TCustomEncoder::Stop(bool AWaitForStop) {
  {
    std::lock_guard lock(terminate_lock_);
    pending_tasks_ = 0;
  }
  if (!working_.load()) return;
  tasks_.StopAll(AWaitForStop);
}

void TCustomEncoder::WaitForEnd() {
  if (!working_.load()) return;
  main_thread::WaitPumping([this] { return terminated_.load() && events_.Idle(); }, std::chrono::milliseconds(5));
  events_.Drain();
}

// ---- Termination -------------------------------------------------------------------

void TCustomEncoder::TaskTerminated(TCustomFFmpeg* task) {
  std::lock_guard lock(terminate_lock_);
  TTerminateInfo info;
  info.TaskIndex = IndexOf(task);
  info.Finished = task->Finished();
  info.Exception = task->FatalException();
  info.ExceptionMsg = task->FatalMessage();
  DeliverTerminate(info);
  ++complete_tasks_;
  if (pending_tasks_ < 1) {
    if (complete_tasks_ >= tasks_.Count()) AllTasksTerminated();
  } else if (thread_mode_) {
    StartNextTask();
  }
}

// In a threaded run (or after one) the delivery thread carries the event;
// in a run in the caller's thread it is called right here, after whatever
// the delivery thread still holds.
void TCustomEncoder::DeliverTerminate(const TTerminateInfo& info) {
  auto deliver = [this, info] {
    if (info.TaskIndex == -1) terminated_ = true;
    if (!OnTerminate) return;
    std::lock_guard handler(terminate_handler_lock_);
    OnTerminate(this, info);
  };
  if (thread_mode_ || !working_.load()) {
    events_.Post(deliver);
  } else {
    events_.Drain();
    deliver();
  }
}

void TCustomEncoder::AllTasksTerminated() {
  TTerminateInfo info;
  info.TaskIndex = -1;
  info.Finished = true;
  DeliverTerminate(info);
}

// ---- Deliveries from the tasks -------------------------------------------------------

void TCustomEncoder::DoProgress(TCustomFFmpeg* task, const TProgressFigures& f) {
  if (!OnProgress) return;
  std::lock_guard lock(progress_lock_);
  progress_info_.TaskIndex = IndexOf(task);
  progress_info_.FileIndex = f.file_index;
  progress_info_.FrameNumber = f.frame_number;
  progress_info_.FPS = f.fps;
  progress_info_.Quality = f.quality;
  progress_info_.BitRate = f.bit_rate;
  progress_info_.CurrentSize = f.current_size;
  progress_info_.CurrentDuration = f.current_duration;
  progress_info_.TotalDuration = f.total_duration;
  if (TriggerEventInMainThread.load()) {
    main_thread::Synchronize([this] { OnProgress(this, &progress_info_); });
  } else {
    OnProgress(this, &progress_info_);
  }
}

void TCustomEncoder::DoPreviewBitmap(TCustomFFmpeg* task, const TBitmap& bitmap, int frame_number, int64_t pts) {
  if (!OnPreviewBitmap) return;
  std::lock_guard lock(preview_lock_);
  TPreviewInfo info;
  info.TaskIndex = IndexOf(task);
  info.Bitmap = &bitmap;
  info.FrameNumber = frame_number;
  info.PTS = pts;
  if (TriggerEventInMainThread.load()) {
    main_thread::Synchronize([this, &info] { OnPreviewBitmap(this, info); });
  } else {
    OnPreviewBitmap(this, info);
  }
}

void TCustomEncoder::VideoHook(const TVideoHookEvent& handler, TCustomFFmpeg* task, TBitmap& bitmap, int frame_number,
                               int64_t pts, bool* update, bool* stop) {
  if (!handler) return;
  std::lock_guard lock(video_hook_lock_);
  hook_info_.TaskIndex = IndexOf(task);
  hook_info_.Bitmap = &bitmap;
  hook_info_.FrameNumber = frame_number;
  hook_info_.PTS = pts;
  hook_info_.Update = *update;
  hook_info_.StopHook = *stop;
  handler(this, &hook_info_);
  *update = hook_info_.Update;
  *stop = hook_info_.StopHook;
}

void TCustomEncoder::DoVideoInputHook(TCustomFFmpeg* task, TBitmap& bitmap, int frame_number, int64_t pts,
                                      bool* update, bool* stop) {
  VideoHook(OnVideoInputHook, task, bitmap, frame_number, pts, update, stop);
}

void TCustomEncoder::DoVideoOutputHook(TCustomFFmpeg* task, TBitmap& bitmap, int frame_number, int64_t pts,
                                       bool* update, bool* stop) {
  VideoHook(OnVideoOutputHook, task, bitmap, frame_number, pts, update, stop);
}

void TCustomEncoder::DoAudioHook(TCustomFFmpeg* task, int64_t pts, uint8_t* samples, int size, int rate,
                                 int channels, AVSampleFormat format) {
  if (!OnAudioHook) return;
  std::lock_guard lock(audio_hook_lock_);
  OnAudioHook(this, IndexOf(task), pts, samples, size, rate, channels, format);
}

}  // namespace vidmill
