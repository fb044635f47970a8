#include "ffmpeg_task.h"

#include <cmath>
#include <ctime>

#include "core/ff_log.h"
#include "ffmpeg_exception.h"
#include "option_lines.h"

namespace vidmill {

namespace {

// Keys that the output steps handle themselves.
bool IsStreamKey(const std::string& key) {
  for (const char* k : {"newvideo", "newaudio", "newsubtitle", "apre", "vpre", "spre", "vfilters", "vf"}) {
    if (key == k) return true;
  }
  return false;
}

bool IsCodecKey(const std::string& key) {
  return key == "acodec" || key == "vcodec" || key == "scodec" || key == "s";
}

std::string DefaultOf(const std::vector<std::pair<std::string, std::string>>& defs, const std::string& key) {
  for (const auto& [k, v] : defs) {
    if (k == key) return v;
  }
  return {};
}

// Local date-time (days since 1899-12-30) to seconds since 1970 UTC.
int64_t UnixTimeOfLocalDays(double days) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const double offset_days = local.tm_gmtoff / 86400.0;
  return std::llround((days - 25569.0 - offset_days) * 86400.0);
}

template <typename T>
void StoreRecord(std::vector<std::unique_ptr<T>>* slots, int i, const T& value) {
  if (static_cast<int>(slots->size()) <= i) slots->resize(i + 1);
  if (!(*slots)[i]) (*slots)[i] = std::make_unique<T>();
  *(*slots)[i] = value;
}

template <typename T>
void ResetRecord(std::vector<std::unique_ptr<T>>* slots, int i) {
  if (i >= 0 && i < static_cast<int>(slots->size()) && (*slots)[i]) *(*slots)[i] = T();
}

template <typename T>
const T* RecordAt(const std::vector<std::unique_ptr<T>>& slots, int i) {
  return i >= 0 && i < static_cast<int>(slots.size()) ? slots[i].get() : nullptr;
}

}  // namespace

TFFmpeg::TFFmpeg(int max_files) : TCustomFFmpeg(max_files) {}

TFFmpeg::~TFFmpeg() {
  WaitForThreads();  // nothing below may go while the worker runs
  OnBeforeFindStreamInfo = nullptr;
  OutputPathGuard = nullptr;
  FDecoders.clear();  // before the inputs they look at are closed
}

void TFFmpeg::CleanUp() {
  for (auto& d : FDecoders) {
    if (d) d->CloseFile();
  }
  TCustomFFmpeg::CleanUp();
}

TFFDecoder* TFFmpeg::Decoders(int i) {
  if (i < 0 || i >= MaxFiles()) return nullptr;
  if (static_cast<int>(FDecoders.size()) <= i) FDecoders.resize(i + 1);
  if (!FDecoders[i]) {
    FDecoders[i] = std::make_unique<TFFDecoder>();
    if (i < nb_input_files()) FDecoders[i]->SetFileHandle(InputContext(i));
  }
  return FDecoders[i].get();
}

const TInputOptions* TFFmpeg::InputOptions(int i) const { return RecordAt(FInputOptions, i); }
const TOutputOptions* TFFmpeg::OutputOptions(int i) const { return RecordAt(FOutputOptions, i); }
void TFFmpeg::SetInputOptions(int i, const TInputOptions& o) { StoreRecord(&FInputOptions, i, o); }
void TFFmpeg::SetOutputOptions(int i, const TOutputOptions& o) { StoreRecord(&FOutputOptions, i, o); }
void TFFmpeg::ResetInputOptions(int i) { ResetRecord(&FInputOptions, i); }
void TFFmpeg::ResetOutputOptions(int i) { ResetRecord(&FOutputOptions, i); }

void TFFmpeg::ApplyExtOptions(const std::string& text, bool include_codec_keys) {
  for (const TOptionLine& line : SplitOptionLines(text)) {
    const std::string key = LowerCase(line.key);
    if (key.empty() && line.value.empty()) continue;  // a blank line
    if (IsStreamKey(key)) continue;
    if (IsCodecKey(key) && !include_codec_keys) continue;
    SetExtOption(key, line.value);
  }
}

void TFFmpeg::ApplyInputRecord(TInputOptions* options) {
  ApplyExtOptions(options->ExtOptions, true);
  if (!options->ForceFormat.empty()) SetExtOption("f", options->ForceFormat);
  if (options->TimeStart != kNoTime) opt_.start_time = options->TimeStart;
  if (options->ProgramID >= 0) opt_.opt_programid = options->ProgramID;
}

bool TFFmpeg::AddInput(const std::string& file_name, TInputOptions* options) {
  const int slot = nb_input_files();
  try {
    if (options) {
      if (options->FileName.empty()) options->FileName = file_name;
      SetInputOptions(slot, *options);
      ApplyInputRecord(options);
    } else {
      ResetInputOptions(slot);
    }
    if (OpenInputFile(file_name)) {
      Decoders(slot)->SetFileHandle(InputContext(slot));
      return true;
    }
  } catch (const std::exception& e) {
    SetError(e.what());
  }
  ResetInputOptions(slot);
  return false;
}

void TFFmpeg::ApplyRecordFields(const TOutputOptions& o) {
  const bool target = o.TargetType != ttIgnore;
  auto generic = [this](const char* name, int value) {
    if (value > 0) store_->Set(name, std::to_string(value));  // a refused value is ignored
  };
  if (!o.ForceFormat.empty()) SetExtOption("f", o.ForceFormat);
  generic("packetsize", o.PacketSize);
  generic("muxrate", o.MuxRate);
  if (o.MuxDelay > 0) opt_.mux_max_delay = o.MuxDelay;
  if (o.MuxPreload > 0) opt_.mux_preload = o.MuxPreload;
  if (o.DisableAudio) SetExtOption("an", "1");
  if (o.AudioVolume >= 0) SetExtOption("vol", std::to_string(o.AudioVolume));
  if (o.AudioChannels > 0) SetExtOption("ac", std::to_string(o.AudioChannels));
  if (o.AudioSampleRate > 0) SetExtOption("ar", std::to_string(o.AudioSampleRate));
  if (!target) generic("ab", o.AudioBitrate);
  generic("abt", o.AudioBitRateTolerance);
  SetExtOption("alang", o.AudioLanguage);
  SetExtOption("async", std::to_string(o.AudioSyncMethod));
  if (!o.AudioTag.empty()) SetExtOption("atag", o.AudioTag);
  if (o.DisableVideo) SetExtOption("vn", "1");
  if (!o.FrameRate.empty()) SetExtOption("r", o.FrameRate);
  if (!o.FrameAspectRatio.empty()) SetExtOption("aspect", o.FrameAspectRatio);
  generic("g", o.GroupPictureSize);
  if (!target) generic("vb", o.VideoBitrate);
  generic("maxrate", o.VideoMaxRate);
  generic("minrate", o.VideoMinRate);
  generic("bt", o.VideoBitRateTolerance);
  generic("bufsize", o.VideoBufSize);
  SetExtOption("vsync", std::to_string(o.VideoSyncMethod));
  if (!o.VideoTag.empty()) SetExtOption("vtag", o.VideoTag);
  SetExtOption("vlang", o.VideoLanguage);
  if (o.DisableSubtitle) SetExtOption("sn", "1");
  SetExtOption("slang", o.SubtitleLanguage);
  SetExtOption("isync", o.InputSync ? "1" : "0");
  if (o.CopyTimestamp) SetExtOption("copyts", "1");
  if (o.TimeStart != kNoTime) opt_.start_time = o.TimeStart;
  if (o.TimeLength != kNoTime) {
    opt_.recording_time = o.TimeLength;
    total_output_duration_ = o.TimeLength;
  }
  // Metadata.
  const TStreamInfo& info = o.Info;
  if (info.TimeStamp == 0) opt_.rec_timestamp = std::time(nullptr);
  else if (info.TimeStamp > 0) opt_.rec_timestamp = UnixTimeOfLocalDays(info.TimeStamp);
  if (info.Year > 0) opt_.metadata.emplace_back("year", std::to_string(info.Year));
  if (info.Track > 0) opt_.metadata.emplace_back("track", std::to_string(info.Track));
  const std::pair<const char*, const std::string*> texts[] = {
      {"title", &info.Title},     {"author", &info.Author}, {"copyright", &info.Copyright},
      {"comment", &info.Comment}, {"album", &info.Album},   {"genre", &info.Genre}};
  for (const auto& [key, value] : texts) {
    if (!value->empty()) opt_.metadata.emplace_back(key, *value);
  }
}

void TFFmpeg::ApplyOutputRecord(const TOutputOptions& o, std::vector<TStreamEntry>* per_stream,
                                std::vector<TStreamEntry>* defaults) {
  // 2. Stream defaults, and the per-stream entries of the option lines.
  std::vector<std::pair<std::string, std::string>> defs = {
      {"acodec", o.AudioCodec}, {"vcodec", o.VideoCodec}, {"scodec", o.SubtitleCodec},
      {"apre", o.AudioPreset},  {"vpre", o.VideoPreset},  {"spre", o.SubtitlePreset},
      {"s", o.FrameSize},       {"vf", o.VideoFilters}};
  for (const TOptionLine& line : SplitOptionLines(o.ExtOptions)) {
    std::string key = LowerCase(line.key);
    if (key == "vfilters") key = "vf";
    if (line.value.empty()) continue;
    for (auto& [k, v] : defs) {
      if (k != key) continue;
      if (v.empty()) v = line.value;
      per_stream->push_back({key, line.value});
    }
  }
  for (const auto& [k, v] : defs) defaults->push_back({k, v});
  // 3. Target.
  if (o.TargetType != ttIgnore) {
    static const char* types[] = {"", "vcd", "svcd", "dvd"};
    static const char* norms[] = {"auto", "pal", "ntsc"};
    ApplyTarget(types[o.TargetType], norms[o.NormType], o.NormDefault == ntNTSC ? "ntsc" : "pal");
  }
  // 4, 5. Codecs and presets.
  for (const char* key : {"acodec", "vcodec", "scodec", "apre", "vpre", "spre"}) {
    const std::string value = DefaultOf(defs, key);
    if (!value.empty()) SetExtOption(key, value);
  }
  // 6, 7, 8.
  ApplyExtOptions(o.ExtOptions, false);
  ApplyRecordFields(o);
  for (const char* key : {"s", "vf"}) {
    const std::string value = DefaultOf(defs, key);
    if (!value.empty()) SetExtOption(key, value);
  }
  // 9. Hooks.
  AudioHookAssigned = o.AudioHook;
  VideoInputHookAssigned = o.VideoInputHook;
  VideoOutputHookAssigned = o.VideoOutputHook;
  VideoHookBitsPixel = o.VideoHookBitsPixel;
}

void TFFmpeg::ApplyPerStreamLines(const TOutputOptions& o, std::vector<TStreamEntry>* per_stream,
                                  const std::vector<TStreamEntry>& defaults) {
  auto take = [&](const std::string& key) {
    for (auto it = per_stream->begin(); it != per_stream->end(); ++it) {
      if (it->key == key) {
        std::string value = it->value;
        per_stream->erase(it);
        return value;
      }
    }
    for (const TStreamEntry& d : defaults) {
      if (d.key == key) return d.value;
    }
    return std::string();
  };
  for (const TOptionLine& line : SplitOptionLines(o.ExtOptions)) {
    const std::string key = LowerCase(line.key);
    std::vector<std::string> keys;
    if (key == "newaudio") keys = {"acodec", "apre"};
    else if (key == "newvideo") keys = {"vcodec", "vpre", "s", "vf"};
    else if (key == "newsubtitle") keys = {"scodec", "spre"};
    else continue;
    for (const std::string& k : keys) {
      const std::string value = take(k);
      if (!value.empty()) SetExtOption(k, value);
    }
    SetExtOption(key, line.value);
  }
}

bool TFFmpeg::SetOutput(const std::string& file_name, TOutputOptions* options) {
  const int slot = nb_output_files();
  const int outputs_before = slot;
  try {
    if (!options) {
      ResetOutputOptions(slot);
      if (OpenOutputFile(file_name, false) > 0) return true;
    } else {
      if (options->FileName.empty()) options->FileName = file_name;
      SetOutputOptions(slot, *options);
      std::vector<TStreamEntry> per_stream, defaults;
      ApplyOutputRecord(*options, &per_stream, &defaults);
      if (OpenOutputFile(file_name, options->Join) > 0) {
        ApplyPerStreamLines(*options, &per_stream, defaults);
        if (options->Join) JoinSetup();
        return true;
      }
    }
  } catch (const std::exception& e) {
    SetError(e.what());
    // An output opened before the error goes again, with its file.
    while (nb_output_files() > outputs_before) output_files_.pop_back();
    join_mode_ = false;
  }
  ResetOutputOptions(slot);
  return false;
}

// ---- TFFmpegList -------------------------------------------------------------

int TFFmpegList::Add(std::unique_ptr<TFFmpeg> task) {
  TFFmpeg* t = task.get();
  t->OutputPathGuard = [this, t](const std::string& path) -> std::string {
    for (const auto& other : FList) {
      if (other.get() != t && other->HasInputFile(path))
        return FormatText("Output file '%s' is an input of another task: refusing to overwrite it", path.c_str());
      if (other.get() != t && other->HasOutputFile(path))
        return FormatText("Output file '%s' is already an output of another task", path.c_str());
    }
    return {};
  };
  FList.push_back(std::move(task));
  return Count() - 1;
}

void TFFmpegList::Clear() { FList.clear(); }

std::string TFFmpegList::CheckIndex(int index) const {
  if (index >= 0 && index < Count()) return {};
  return FormatText("Task index %d out of range (%d tasks)", index, Count());
}

bool TFFmpegList::Delete(int index, std::string* error) {
  *error = CheckIndex(index);
  if (!error->empty()) return false;
  FList.erase(FList.begin() + index);
  return true;
}

bool TFFmpegList::Exchange(int index1, int index2, std::string* error) {
  *error = CheckIndex(index1);
  if (error->empty()) *error = CheckIndex(index2);
  if (!error->empty()) return false;
  std::swap(FList[index1], FList[index2]);
  return true;
}

TFFmpeg* TFFmpegList::Items(int index) const { return CheckIndex(index).empty() ? FList[index].get() : nullptr; }

int TFFmpegList::IndexOf(const TFFmpeg* task) const {
  for (int i = 0; i < Count(); ++i) {
    if (FList[i].get() == task) return i;
  }
  return -1;
}

bool TFFmpegList::IsInputOfAnyTask(const std::string& path) const {
  for (const auto& t : FList) {
    if (t->HasInputFile(path)) return true;
  }
  return false;
}

void TFFmpegList::PauseAll() {
  for (const auto& t : FList) t->Pause();
}

void TFFmpegList::ResumeAll() {
  for (const auto& t : FList) t->Resume();
}

void TFFmpegList::StopAll(bool wait) {
  for (const auto& t : FList) {
    if (t->Converting()) {
      t->Stop(wait);
    } else if (!t->Terminated()) {
      t->TerminateWithoutRun();
    }
  }
}

void TFFmpegList::SetPostHookAll(TPostHook hook, bool on) {
  for (const auto& t : FList) {
    if (on) t->PostHooks.fetch_or(hook);
    else t->PostHooks.fetch_and(static_cast<uint8_t>(~hook));
  }
}

}  // namespace vidmill
