#include "player.h"

#include <cmath>

#include "core/engine_error.h"
#include "core/entry_points.h"
#include "core/ff_load.h"
#include "core/ff_log.h"
#include "core/main_thread.h"
#include "play_events.h"
#include "playback.h"
#include "sync_event.h"

namespace vidmill {

using player::TPlayEventQueue;
using player::TPlayback;
using player::TSyncEvent;

const char* AudioDriverName(TAudioDriver d) {
  switch (d) {
    case adPulseAudio: return "pulseaudio";
    case adAlsa: return "alsa";
    case adDummy: return "dummy";
    case adDisk: return "disk";
    default: return "";
  }
}

const char* VideoDriverName(TVideoDriver d) {
  switch (d) {
    case vdX11: return "x11";
    case vdDummy: return "dummy";
    default: return "";
  }
}

TCustomPlayer::TCustomPlayer()
    : TFFBaseComponent("3.0"),
      events_(std::make_unique<TPlayEventQueue>()),
      seek_event_(std::make_unique<TSyncEvent>(true)),
      pict_event_(std::make_unique<TSyncEvent>(true)),
      stop_event_(std::make_unique<TSyncEvent>(true)) {
  decoder_ = std::make_unique<TFFDecoder>();
}

TCustomPlayer::~TCustomPlayer() {
  destroying_ = true;  // no handler is called from here on
  Stop(true);
  StopEventThread();
  if (play_thread_ && play_thread_->joinable()) play_thread_->join();
}

// --- libraries -------------------------------------------------------------------

bool TCustomPlayer::AVLibLoaded() const { return TFFLoader::Instance().Loaded(kPlayerLibraries); }

bool TCustomPlayer::LoadAVLib(const std::string& APath, bool AAutoLoadSDL) {
  TFFLoader& loader = TFFLoader::Instance();
  loader.SetLibraryPath(APath);
  if (!loader.Load(kPlayerLibraries)) {
    SetLastErrMsg(loader.LastErrMsg());
    return false;
  }
  return !AAutoLoadSDL || LoadSDLLib(APath, kDefaultSDLFile);
}

void TCustomPlayer::UnloadAVLib() { TFFLoader::Instance().Unload(kPlayerLibraries); }

bool TCustomPlayer::LoadSDLLib(const std::string& APath, const std::string& AFile) {
  if (!sdl_loader_.Load(APath, AFile)) {
    sdl_ = TSDLFunctions{};
    SetLastErrMsg(sdl_loader_.LastErrMsg());
    return false;
  }
  sdl_ = sdl_loader_.Functions();
  return true;
}

void TCustomPlayer::UnloadSDLLib() {
  Stop(true);
  sdl_ = TSDLFunctions{};
  sdl_loader_.Unload();
}

// --- errors and events -------------------------------------------------------------

std::string TCustomPlayer::LastErrMsg() const {
  std::lock_guard lock(err_mu_);
  return last_err_msg_;
}

void TCustomPlayer::SetLastErrMsg(const std::string& msg) {
  std::lock_guard lock(err_mu_);
  last_err_msg_ = msg;
}

void TCustomPlayer::Fail(const std::string& msg) {
  SetLastErrMsg(msg);
  TFFLogger::Process().Log(this, llError, msg);
}

void TCustomPlayer::ReportState(TPlayState s) {
  state_ = s;
  if (OnState) {
    events_->Push(player::peState, s);
  } else if (s == psStop) {
    events_->Push(player::peStop, 0);
  }
}

void TCustomPlayer::ReportPosition(int64_t pts) {
  if (OnPosition) events_->Push(player::pePosition, pts);
}

void TCustomPlayer::DeliverEvent(int kind, int64_t value) {
  if (destroying_) return;
  auto call = [&] {
    if (kind == player::pePosition && OnPosition) OnPosition(this, value);
    if (kind == player::peState && OnState) OnState(this, static_cast<TPlayState>(value));
  };
  if (trigger_in_main_) {
    main_thread::Synchronize(call);
  } else {
    call();
  }
}

void TCustomPlayer::RunEventThread() {
  while (!event_thread_stop_) {
    int64_t value = 0;
    const auto kind = events_->Pop(&value);
    if (kind == player::peStop) break;
    if (kind != player::peNone) {
      DeliverEvent(kind, value);
      if (kind == player::peState && value == psStop) break;
      continue;
    }
    events_->Wait(std::chrono::milliseconds(100));
  }
  event_thread_done_ = true;
}

void TCustomPlayer::StartEventThread() {
  StopEventThread();
  event_thread_stop_ = false;
  event_thread_done_ = false;
  event_thread_ = std::make_unique<std::thread>([this] { RunEventThread(); });
}

// The event thread may be inside a handler waiting for the main thread.
void TCustomPlayer::StopEventThread() {
  if (!event_thread_) return;
  event_thread_stop_ = true;
  events_->Push(player::peStop, 0);
  main_thread::WaitPumping([this] { return event_thread_done_.load(); });
  event_thread_->join();
  event_thread_.reset();
  events_->Clear();
}

// --- SDL on the host window -------------------------------------------------------

bool TCustomPlayer::StartSDL(uint64_t handle, const TPlayOptions& opts) {
  std::lock_guard lock(SDLCallLock());
  sdl_.SDL_SetHintWithPriority(SDL_HINT_NO_SIGNAL_HANDLERS, "1", SDL_HINT_OVERRIDE);
  auto driver_hint = [this](const char* hint, const char* name) {
    if (*name) {
      sdl_.SDL_SetHintWithPriority(hint, name, SDL_HINT_OVERRIDE);
    } else {
      sdl_.SDL_ResetHint(hint);
    }
  };
  driver_hint(SDL_HINT_AUDIODRIVER, AudioDriverName(opts.audio_driver));
  driver_hint(SDL_HINT_VIDEODRIVER, VideoDriverName(opts.video_driver));
  Uint32 flags = 0;
  if (!opts.audio_disable) flags |= SDL_INIT_AUDIO;
  if (!opts.display_disable) flags |= SDL_INIT_VIDEO;
  if (flags && sdl_.SDL_InitSubSystem(flags) != 0) return false;
  sdl_subsystems_ = flags;
  if (const char* a = (flags & SDL_INIT_AUDIO) ? sdl_.SDL_GetCurrentAudioDriver() : nullptr) {
    TFFLogger::Process().Logf(this, llDebug, "using audio driver: %s", a);
  }
  if (const char* v = (flags & SDL_INIT_VIDEO) ? sdl_.SDL_GetCurrentVideoDriver() : nullptr) {
    TFFLogger::Process().Logf(this, llDebug, "using video driver: %s", v);
  }
  if (handle && !opts.display_disable) {
    window_ = sdl_.SDL_CreateWindowFrom(reinterpret_cast<const void*>(static_cast<uintptr_t>(handle)));
    if (!window_) {
      sdl_.SDL_QuitSubSystem(sdl_subsystems_);
      sdl_subsystems_ = 0;
      return false;
    }
  }
  return true;
}

void TCustomPlayer::ShutSDL() {
  std::lock_guard lock(SDLCallLock());
  if (window_) sdl_.SDL_DestroyWindow(window_);  // the host's own window stays
  window_ = nullptr;
  if (sdl_subsystems_) sdl_.SDL_QuitSubSystem(sdl_subsystems_);
  sdl_subsystems_ = 0;
}

void TCustomPlayer::ResetPlaybackOptions() {
  last_pts_ = INT64_MIN;
  current_pts_ = -1;
  step_ = false;
  options_.wanted_stream.fill(-1);
  options_.seek_by_bytes = -1;
  options_.start_time = INT64_MIN;
  options_.play_time = INT64_MIN;
  options_.repeat_type = rtStop;
  vertical_flip_ = false;
  seek_event_->Set();
  seeking_ = false;
}

// --- open and stop ---------------------------------------------------------------

std::shared_ptr<TPlayback> TCustomPlayer::CurrentPlayback() const {
  std::lock_guard lock(playback_mu_);
  return playback_;
}

bool TCustomPlayer::Playing() const { return CurrentPlayback() != nullptr; }

bool TCustomPlayer::Open(const std::string& AFileName, uint64_t AScreenHandle, bool APaused) {
  if (!AVLibLoaded()) {
    Fail("libav not loaded.");
    return false;
  }
  if (!SDLLibLoaded()) {
    Fail("sdl not loaded.");
    return false;
  }
  Stop(true);
  if (play_thread_ && play_thread_->joinable()) play_thread_->join();
  play_thread_.reset();

  TPlayOptions opts = options_;
  if (!StartSDL(AScreenHandle, opts)) {
    char msg[512];
    std::snprintf(msg, sizeof msg, "Could not initialize SDL with ScreenHandle(%llu): %s",
                  static_cast<unsigned long long>(AScreenHandle), sdl_.SDL_GetError());
    Fail(msg);
    return false;
  }
  int fs_width = 0, fs_height = 0;
  if (opts.display_disable) {
    opts.video_disable = true;
  } else {
    SDL_DisplayMode mode{};
    std::unique_lock lock(SDLCallLock());
    if (sdl_.SDL_GetCurrentDisplayMode(0, &mode) != 0) {
      lock.unlock();
      Fail("SDL_GetVideoInfo() failed");
      ShutSDL();
      return false;
    }
    fs_width = mode.w;
    fs_height = mode.h;
  }
  opts.deinterlace = deinterlace_;
  auto pb = std::make_shared<TPlayback>(*this, opts, sdl_, window_, fs_width, fs_height);
  open_cancel_ = false;
  if (!pb->Start(AFileName, APaused)) {
    ShutSDL();
    return false;
  }
  stop_event_->Reset();
  {
    std::lock_guard lock(playback_mu_);
    playback_ = pb;
  }
  input_filename_ = AFileName;
  screen_handle_ = AScreenHandle;
  AttachDecoder(*pb);
  NotifyFileOpen(*pb);
  StartEventThread();
  play_thread_ = std::make_unique<std::thread>([this, pb] { RunPlayThread(pb); });
  return true;
}

void TCustomPlayer::NotifyFileOpen(TPlayback& pb) {
  int& sw = options_.screen_width;
  int& sh = options_.screen_height;
  if (OnFileOpen) {
    const int64_t duration = pb.IsImage2() ? 0 : pb.Duration();
    const bool video = pb.HasVideo() && pb.VideoWidth() > 0;
    OnFileOpen(this, duration, video ? pb.VideoWidth() : -1, video ? pb.VideoHeight() : -1, sw, sh);
  }
  if (window_ && (sw == 0 || sh == 0)) {
    std::lock_guard lock(SDLCallLock());
    sdl_.SDL_GetWindowSize(window_, &sw, &sh);
  }
}

void TCustomPlayer::RunPlayThread(std::shared_ptr<TPlayback> pb) {
  ReportState(psPlay);
  try {
    pb->EventLoop();
  } catch (const std::exception& e) {
    TFFLogger::Process().Log(this, llFatal, std::string("PlayThread Exception: ") + e.what());
  }
  pb->Close();
  {
    std::lock_guard lock(stats_mu_);
    last_stats_ = pb->Stats();
  }
  {
    std::lock_guard lock(playback_mu_);
    playback_.reset();
  }
  ShutSDL();
  ResetPlaybackOptions();
  ReportState(psStop);
  stop_event_->Set();
}

void TCustomPlayer::Stop(bool AWaitForStop) {
  if (auto pb = CurrentPlayback()) {
    if (pb->IsPaused()) {
      pb->TogglePause();
      step_ = false;
    }
    pb->PushEvent(player::TPlayEventKind::evQuit);
    if (AWaitForStop) WaitForStop();
    return;
  }
  // Nothing open yet: cancel an open that is still connecting.
  last_read_ = 0;
  open_cancel_ = true;
  if (TPlayback* opening = playback_cb_.load()) opening->RequestAbort();
  if (AWaitForStop) WaitForStop();
}

void TCustomPlayer::WaitForStop() {
  main_thread::WaitPumping([this] { return stop_event_->IsSet(); }, std::chrono::milliseconds(10));
  if (play_thread_ && play_thread_->joinable() && play_thread_->get_id() != std::this_thread::get_id()) {
    play_thread_->join();
    play_thread_.reset();
  }
  // OnState(psStop) has been delivered when a waiting Stop returns (unless
  // the Stop comes from a handler on the event thread itself).
  if (event_thread_ && event_thread_->get_id() != std::this_thread::get_id()) {
    main_thread::WaitPumping([this] { return event_thread_done_.load(); });
  }
}

// --- control -------------------------------------------------------------------

bool TCustomPlayer::Paused() const {
  auto pb = CurrentPlayback();
  return !pb || pb->IsPaused();
}

void TCustomPlayer::Pause() {
  auto pb = CurrentPlayback();
  if (!pb || pb->IsPaused()) return;
  pb->TogglePause();
  step_ = false;
  ReportState(psPause);
}

void TCustomPlayer::Resume() {
  auto pb = CurrentPlayback();
  if (!pb || !pb->IsPaused()) return;
  pb->TogglePause();
  step_ = false;
  ReportState(psResume);
}

void TCustomPlayer::TogglePause() {
  auto pb = CurrentPlayback();
  if (!pb) return;
  pb->TogglePause();
  step_ = false;
  ReportState(pb->IsPaused() ? psPause : psResume);
}

void TCustomPlayer::StepToNextFrame() {
  auto pb = CurrentPlayback();
  if (!pb) return;
  if (pb->IsPaused()) pb->TogglePause();
  const bool was = step_.exchange(true);
  if (!was) ReportState(psStep);
}

void TCustomPlayer::ToggleAudioDisplay() {
  auto pb = CurrentPlayback();
  if (!pb) return;
  pb->SetShowAudio((pb->ShowAudioMode() + 1) % 3);
}

void TCustomPlayer::SetShowAudio(TShowAudio v) {
  options_.show_audio = v;
  auto pb = CurrentPlayback();
  if (pb && pb->HasAudio() && !pb->Options().display_disable) pb->SetShowAudio(v);
}

void TCustomPlayer::SetAspectRatio(float ratio) {
  if (aspect_ratio_.exchange(ratio) == ratio) return;
  if (auto pb = CurrentPlayback()) pb->PushEvent(player::TPlayEventKind::evAspect);
}

void TCustomPlayer::UpdateScreenPosition(int AWidth, int AHeight) {
  if (auto pb = CurrentPlayback()) pb->RequestResize(AWidth, AHeight);
}

void TCustomPlayer::WaitSeek(TPlayback& pb) {
  main_thread::WaitPumping([&] { return seek_event_->IsSet() || pb.Aborted(); },
                           std::chrono::milliseconds(10));
  if (pb.HasVideo()) {
    main_thread::WaitPumping([&] { return pict_event_->IsSet() || pb.Aborted(); },
                             std::chrono::milliseconds(10));
  }
}

void TCustomPlayer::Seek(int64_t APTS, TSeekFlags ASeekFlags, bool AWaitForSeekEnd) {
  auto pb = CurrentPlayback();
  if (!pb || pb->SeekPending()) return;
  pb->SeekTo(APTS, ASeekFlags);
  if (AWaitForSeekEnd) WaitSeek(*pb);
}

void TCustomPlayer::SeekDelta(double ADelta, TSeekFlags ASeekFlags, bool AWaitForSeekEnd) {
  auto pb = CurrentPlayback();
  if (!pb || pb->SeekPending()) return;
  if (ASeekFlags & sfByte) {
    const int64_t pos = pb->ByteOffset();
    const int64_t bit_rate = pb->BitRate();
    const double rel = bit_rate > 0 ? ADelta * static_cast<double>(bit_rate / 8) : ADelta * 180000;
    pb->RequestSeek(pos + std::llrint(rel), std::llrint(rel), ASeekFlags);
  } else {
    pb->RequestSeek(std::llrint((pb->MasterClock() + ADelta) * 1000000), std::llrint(ADelta * 1000000),
                    ASeekFlags);
  }
  if (AWaitForSeekEnd) WaitSeek(*pb);
}

// --- streams -------------------------------------------------------------------

int TCustomPlayer::AudioStreamIndex() const {
  auto pb = CurrentPlayback();
  return pb ? pb->StreamIndex(AVMEDIA_TYPE_AUDIO) : -1;
}
int TCustomPlayer::VideoStreamIndex() const {
  auto pb = CurrentPlayback();
  return pb ? pb->StreamIndex(AVMEDIA_TYPE_VIDEO) : -1;
}
int TCustomPlayer::SubtitleStreamIndex() const {
  auto pb = CurrentPlayback();
  return pb ? pb->StreamIndex(AVMEDIA_TYPE_SUBTITLE) : -1;
}

bool TCustomPlayer::SwitchStream(int media_type, int index) {
  auto pb = CurrentPlayback();
  if (!pb) return false;
  return pb->RequestStreamSwitch(media_type, index);
}

bool TCustomPlayer::SetAudioStreamIndex(int index) { return SwitchStream(AVMEDIA_TYPE_AUDIO, index); }
bool TCustomPlayer::SetVideoStreamIndex(int index) { return SwitchStream(AVMEDIA_TYPE_VIDEO, index); }
bool TCustomPlayer::SetSubtitleStreamIndex(int index) {
  return SwitchStream(AVMEDIA_TYPE_SUBTITLE, index);
}

// --- options ----------------------------------------------------------------------

bool TCustomPlayer::SetForceFormat(const std::string& name) {
  if (!AVLibLoaded()) {
    Fail("libav not loaded.");
    return false;
  }
  if (!name.empty() && !ff::av_find_input_format(name.c_str())) {
    throw EEngineError("Unknown input format: " + name);
  }
  options_.file_iformat = name;
  return true;
}

void TCustomPlayer::SetForceFrameRate(const std::string& rate) {
  if (rate == options_.force_frame_rate) return;
  if (!rate.empty()) {
    AVRational q{0, 0};
    if (!AVLibLoaded() || ff::av_parse_video_rate(&q, rate.c_str()) < 0) {
      throw EEngineError("Incorrect frame rate");
    }
  }
  options_.force_frame_rate = rate;
}

TPlayStats TCustomPlayer::Stats() const {
  auto pb = CurrentPlayback();
  if (pb) {
    std::lock_guard lock(stats_mu_);
    last_stats_ = pb->Stats();
  }
  std::lock_guard lock(stats_mu_);
  return last_stats_;
}

}  // namespace vidmill
