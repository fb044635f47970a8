// Timing and display of a playback: the clocks, the picture queue, the
// refresh thread, drawing into the SDL window, the play thread's event loop
// and the position routine.
#include <cmath>

#include "core/ff_log.h"
#include "playback.h"
#include "sync_event.h"

namespace vidmill::player {
namespace {

double NowSeconds() { return ff::av_gettime_relative() / 1000000.0; }

constexpr int kPumpIntervalUs = 20000;

}  // namespace

// --- clocks ---------------------------------------------------------------

// The time of the sample being heard: the clock the last callback left
// behind, moved on by the time since then (at most the length of the buffer
// it filled, which is what the device has been playing since).
double TPlayback::AudioClock() {
  const double base = audio_clock_heard_.load();
  if (!HasAudio() || paused_) return base;
  const double since = (ff::av_gettime_relative() - audio_callback_time_.load()) / 1000000.0;
  return base + std::clamp(since, 0.0, audio_callback_span_.load());
}

double TPlayback::VideoClock() {
  std::lock_guard lock(clock_mu_);
  if (paused_) return video_current_pts_;
  if (video_current_valid_) return video_current_pts_drift_ + NowSeconds();
  return start_time_ / 1000000.0;
}

double TPlayback::ExternalClock() {
  // The external clock is never set: it is the wall clock itself.
  return NowSeconds();
}

double TPlayback::MasterClock() {
  switch (opts_.av_sync_type) {
    case AV_SYNC_VIDEO_MASTER: return HasVideo() ? VideoClock() : AudioClock();
    case AV_SYNC_AUDIO_MASTER: return HasAudio() ? AudioClock() : VideoClock();
    default: return ExternalClock();
  }
}

// Under pictq_mu_ (video decoder).
double TPlayback::ComputeTargetTime(double pts) {
  // The first picture after a flush is due when it is ready, not when the
  // flush was: decoding it may have taken long (a large key frame, the
  // decoder starting), and the pictures after it would race to catch up.
  if (!frame_last_pts_valid_) frame_timer_ = NowSeconds();
  double delay = pts - frame_last_pts_;
  if (!frame_last_pts_valid_ || delay <= 0 || delay >= kNoSyncThreshold) {
    delay = frame_last_delay_;
  } else {
    frame_last_delay_ = delay;
  }
  frame_last_pts_ = pts;
  frame_last_pts_valid_ = true;
  const bool video_is_master =
      opts_.av_sync_type == AV_SYNC_VIDEO_MASTER ||
      (opts_.av_sync_type == AV_SYNC_AUDIO_MASTER && !HasAudio());
  if (!video_is_master) {
    const double diff = VideoClock() - MasterClock();
    const double threshold = std::max(0.01, delay);
    if (std::fabs(diff) < kNoSyncThreshold) {
      if (diff <= -threshold) {
        delay = 0;
      } else if (diff >= threshold) {
        delay = 2 * delay;
      }
    }
  }
  frame_timer_ += delay;
  return frame_timer_;
}

// --- picture queue, producer side (video decoder) -------------------------

namespace {

// A copy of a planar picture turned upside down.
FramePtr FlippedCopy(const AVFrame* src) {
  FramePtr dst = NewFrame();
  dst->format = src->format;
  dst->width = src->width;
  dst->height = src->height;
  if (ff::av_frame_get_buffer(dst.get(), 0) < 0) return nullptr;
  ff::av_frame_copy_props(dst.get(), src);
  const uint8_t* planes[4] = {};
  int linesizes[4] = {};
  for (int p = 0; p < 3; ++p) {
    const int h = p == 0 ? src->height : (src->height + 1) / 2;
    planes[p] = src->data[p] + static_cast<ptrdiff_t>(src->linesize[p]) * (h - 1);
    linesizes[p] = -src->linesize[p];
  }
  ff::av_image_copy(dst->data, dst->linesize, planes, linesizes,
                    static_cast<AVPixelFormat>(src->format), src->width, src->height);
  return dst;
}

}  // namespace

int TPlayback::QueuePicture(AVFrame* frame, double pts, int64_t pos) {
  int slot;
  {
    std::unique_lock lock(pictq_mu_);
    if (pictq_size_ >= kPictureQueueSize && !refresh_) {
      skip_frames_ = std::max(0.95f, skip_frames_ * 0.95f);
    }
    pictq_cond_.wait(lock, [this] { return pictq_size_ < kPictureQueueSize || VideoAborted(); });
    if (VideoAborted()) return -1;
    slot = pictq_windex_;
  }
  // The write slot is outside the queued range: no other thread reads it.
  TVideoPicture& vp = pictq_[slot];
  FramePtr picture = owner_.vertical_flip_ ? FlippedCopy(frame) : FramePtr(ff::av_frame_clone(frame));
  if (!picture) return 0;
  if (owner_.video_hook_ && owner_.OnVideoHook) ApplyVideoHook(picture.get(), pts);
  vp.frame = std::move(picture);
  vp.pts = pts;
  vp.pos = pos;
  vp.sar = frame->sample_aspect_ratio;
  {
    std::lock_guard lock(pictq_mu_);
    vp.target_time = ComputeTargetTime(pts);
    pictq_windex_ = (pictq_windex_ + 1) % kPictureQueueSize;
    ++pictq_size_;
  }
  first_picture_ready_ = true;
  return 0;
}

// --- refresh thread and the play thread's loop -----------------------------

void TPlayback::RefreshThread() {
  while (!abort_request_) {
    if (!refresh_.exchange(true)) PushEvent(TPlayEventKind::evRefresh);
    const bool audio_display = HasAudio() && show_audio_ != 0;
    ff::av_usleep(static_cast<unsigned>(audio_display ? opts_.rdftspeed : 5) * 1000);
  }
}

void TPlayback::PushEvent(TPlayEventKind kind) {
  {
    std::lock_guard lock(ev_mu_);
    events_.push_back(kind);
  }
  ev_cond_.notify_one();
}

void TPlayback::EventLoop() {
  // The window is ready before the first picture is due.
  if (!opts_.display_disable) OpenVideoMode(false);
  for (;;) {
    std::optional<TPlayEventKind> kind;
    {
      std::unique_lock lock(ev_mu_);
      ev_cond_.wait_for(lock, std::chrono::milliseconds(20), [this] { return !events_.empty(); });
      if (!events_.empty()) {
        kind = events_.front();
        events_.pop_front();
      }
    }
    HandleWindowEvents();
    if (!kind) continue;
    switch (*kind) {
      case TPlayEventKind::evQuit:
        return;
      case TPlayEventKind::evResize:
        // A renderer keeps the drawable size it was made with: a host
        // window that changed size gets a new one.
        if (host_window_) {
          const int w = host_width_, h = host_height_;
          if (w > 0 && h > 0) {
            std::lock_guard lock(SDLCallLock());
            sdl_.SDL_SetWindowSize(window_, w, h);  // tells SDL, the window has it already
          }
          ResetRenderer();
        }
        UpdateScreenSize();
        VideoDisplay();
        break;
      case TPlayEventKind::evExpose:
        VideoDisplay();
        break;
      case TPlayEventKind::evRefresh:
        VideoRefresh(true);
        refresh_ = false;
        break;
      case TPlayEventKind::evAspect:
        OpenVideoMode(true);
        VideoDisplay();
        break;
      case TPlayEventKind::evPausedOpen:
        owner_.ReportState(psPause);
        break;
    }
  }
}

// --- refresh step ----------------------------------------------------------

void TPlayback::AdvanceReadSlot() {
  {
    std::lock_guard lock(pictq_mu_);
    pictq_rindex_ = (pictq_rindex_ + 1) % kPictureQueueSize;
    --pictq_size_;
  }
  pictq_cond_.notify_all();
}

void TPlayback::VideoRefresh(bool dequeue) {
  if (!dequeue) {
    VideoDisplay();
    return;
  }
  if (!HasVideo()) {
    if (HasAudio()) {
      VideoDisplay();
      PositionRoutine();
    }
    return;
  }
  bool any_dropped = false;
  for (;;) {
    // Until the decoder has given the first picture after a seek, every
    // queued picture is from before it. The flag is read anew for each
    // picture: one that arrives after it cleared belongs to the new position
    // (and may be the only one coming while paused).
    const bool drop = seek_done_;
    std::unique_lock lock(pictq_mu_);
    if (pictq_size_ == 0) break;
    const double now = NowSeconds();
    TVideoPicture& vp = pictq_[pictq_rindex_];
    if (now < vp.target_time) return;
    {
      std::lock_guard clock(clock_mu_);
      video_current_pts_ = vp.pts;
      video_current_pts_drift_ = vp.pts - now;
      video_current_valid_ = true;
      video_current_pos_ = vp.pos;
    }
    const double next_target = pictq_size_ > 1 ? pictq_[(pictq_rindex_ + 1) % kPictureQueueSize].target_time
                                               : vp.target_time + video_clock_ - vp.pts;
    const bool late = opts_.framedrop != 0 && now > next_target && !is_device_;
    if (late || drop) {
      skip_frames_ *= 1.05f;
      if (pictq_size_ > 1 || now > next_target + 0.5 || drop) {
        lock.unlock();
        AdvanceReadSlot();
        any_dropped = true;
        std::lock_guard s(stats_mu_);
        ++stats_.pictures_dropped;
        continue;
      }
    }
    lock.unlock();
    if (HasSubtitles()) DropExpiredSubtitles();
    {
      std::lock_guard shown(shown_mu_);
      shown_.reset(ff::av_frame_clone(vp.frame.get()));
      displayed_.reset();
      shown_pts_ = vp.pts;
    }
    shown_sar_ = vp.sar;
    VideoDisplay();
    {
      std::lock_guard s(stats_mu_);
      ++stats_.pictures_shown;
      stats_.last_shown_pts = vp.pts;
      const double lateness = NowSeconds() - vp.target_time;
      stats_.max_lateness = std::max(stats_.max_lateness, lateness);
      const double now = NowSeconds();
      if (lateness > frame_delay_) {
        ++stats_.pictures_late;
        last_late_time_ = now;
      }
      // The gap is measured while the display keeps time: not for a late
      // picture nor for those catching up after it.
      if (HasAudio() && !paused_ && now - last_late_time_ > 0.2) {
        const double gap = std::fabs(vp.pts - AudioClock());
        if (gap > stats_.max_av_diff) {
          stats_.max_av_diff = gap;
          stats_.max_av_diff_at = vp.pts;
        }
        ++stats_.av_diff_samples;
      }
    }
    AdvanceReadSlot();
    break;
  }
  if (!any_dropped) PositionRoutine();
}

void TPlayback::DropExpiredSubtitles() {
  double current;
  {
    std::lock_guard clock(clock_mu_);
    current = video_current_pts_;
  }
  std::unique_lock lock(subpq_mu_);
  if (subtitle_stream_changed_) {
    while (subpq_size_ > 0) {
      subpq_[subpq_rindex_].Free();
      subpq_rindex_ = (subpq_rindex_ + 1) % kSubtitleQueueSize;
      --subpq_size_;
    }
    subtitle_stream_changed_ = false;
    lock.unlock();
    subpq_cond_.notify_all();
    return;
  }
  while (subpq_size_ > 0) {
    TSubtitleEntry& sp = subpq_[subpq_rindex_];
    const bool ended = current > sp.pts + sp.sub.end_display_time / 1000.0;
    bool replaced = false;
    if (subpq_size_ > 1) {
      const TSubtitleEntry& next = subpq_[(subpq_rindex_ + 1) % kSubtitleQueueSize];
      replaced = current > next.pts + next.sub.start_display_time / 1000.0;
    }
    if (!ended && !replaced) break;
    sp.Free();
    subpq_rindex_ = (subpq_rindex_ + 1) % kSubtitleQueueSize;
    --subpq_size_;
    subpq_cond_.notify_all();
  }
}

// --- drawing -----------------------------------------------------------------

int TPlayback::EventWatch(void* userdata, SDL_Event* event) {
  auto* self = static_cast<TPlayback*>(userdata);
  if (event->type != SDL_WINDOWEVENT || event->window.windowID != self->window_id_) return 0;
  switch (event->window.event) {
    case SDL_WINDOWEVENT_SIZE_CHANGED: self->PushEvent(TPlayEventKind::evResize); break;
    case SDL_WINDOWEVENT_EXPOSED: self->PushEvent(TPlayEventKind::evExpose); break;
    case SDL_WINDOWEVENT_CLOSE:
      if (!self->host_window_) self->PushEvent(TPlayEventKind::evQuit);
      break;
    default: break;
  }
  return 0;
}

// SDL's one event queue is pumped by whichever player gets here first; the
// event watches hand each player the events of its own window.
void TPlayback::HandleWindowEvents() {
  if (!window_) return;
  const int64_t now = ff::av_gettime_relative();
  if (now - last_pump_ < kPumpIntervalUs) return;
  last_pump_ = now;
  std::lock_guard lock(SDLCallLock());
  sdl_.SDL_PumpEvents();
  sdl_.SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
}

bool TPlayback::OpenVideoMode(bool force) {
  if (opts_.display_disable) return false;
  std::lock_guard lock(SDLCallLock());
  if (renderer_ && !force) return true;
  if (!window_) {
    int w = 640, h = 480;
    if (opts_.is_full_screen && fs_width_ > 0) {
      w = fs_width_;
      h = fs_height_;
    } else if (opts_.screen_width > 0 && opts_.screen_height > 0) {
      w = opts_.screen_width;
      h = opts_.screen_height;
    } else if (video_width_ > 0 && video_height_ > 0) {
      w = video_width_ & ~1;
      h = video_height_ & ~1;
    }
    Uint32 flags = SDL_WINDOW_RESIZABLE;
    if (opts_.is_full_screen) flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
    window_ = sdl_.SDL_CreateWindow("FFPlayer", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, w, h, flags);
    own_window_ = window_ != nullptr;
  }
  if (!window_) {
    Log(llError, std::string("SDL: could not set video mode. ") + sdl_.SDL_GetError());
    return false;
  }
  if (!watching_events_) {
    window_id_ = sdl_.SDL_GetWindowID(window_);
    sdl_.SDL_AddEventWatch(&TPlayback::EventWatch, this);
    watching_events_ = true;
  }
  if (!renderer_) {
    renderer_ = sdl_.SDL_CreateRenderer(window_, -1, 0);
    if (!renderer_) renderer_ = sdl_.SDL_CreateRenderer(window_, -1, SDL_RENDERER_SOFTWARE);
    if (!renderer_) {
      Log(llError, std::string("SDL: could not set video mode. ") + sdl_.SDL_GetError());
      return false;
    }
  }
  UpdateScreenSize();
  return true;
}

// Under SDLCallLock or on the play thread before drawing.
void TPlayback::UpdateScreenSize() {
  if (!renderer_) return;
  std::lock_guard lock(SDLCallLock());
  int w = 0, h = 0;
  sdl_.SDL_GetRendererOutputSize(renderer_, &w, &h);
  width_ = w;
  height_ = h;
}

void TPlayback::RequestResize(int width, int height) {
  host_width_ = width;
  host_height_ = height;
  PushEvent(TPlayEventKind::evResize);
}

void TPlayback::ResetRenderer() {
  std::lock_guard lock(SDLCallLock());
  if (texture_) sdl_.SDL_DestroyTexture(texture_);
  if (spectrum_) sdl_.SDL_DestroyTexture(spectrum_);
  if (renderer_) sdl_.SDL_DestroyRenderer(renderer_);
  texture_ = spectrum_ = nullptr;
  renderer_ = nullptr;
  texture_w_ = texture_h_ = spectrum_w_ = spectrum_h_ = 0;
}

void TPlayback::DestroyDisplay() {
  std::lock_guard lock(SDLCallLock());
  if (watching_events_) sdl_.SDL_DelEventWatch(&TPlayback::EventWatch, this);
  watching_events_ = false;
  if (texture_) sdl_.SDL_DestroyTexture(texture_);
  if (spectrum_) sdl_.SDL_DestroyTexture(spectrum_);
  if (renderer_) sdl_.SDL_DestroyRenderer(renderer_);
  texture_ = spectrum_ = nullptr;
  renderer_ = nullptr;
  if (own_window_ && window_) sdl_.SDL_DestroyWindow(window_);
  window_ = nullptr;
  own_window_ = false;
}

void TPlayback::VideoDisplay() {
  if (!renderer_ && !OpenVideoMode(false)) return;
  if (HasAudio() && show_audio_ != 0) {
    AudioDisplay();
    return;
  }
  if (!HasVideo()) return;
  FramePtr frame;
  double pts = 0;
  {
    std::lock_guard lock(shown_mu_);
    if (!shown_) return;
    frame.reset(ff::av_frame_clone(shown_.get()));
    pts = shown_pts_;
  }
  if (frame) DrawPicture(frame.get(), shown_sar_, pts);
}

void TPlayback::DrawPicture(const AVFrame* frame, AVRational sar, double pts) {
  const int fw = frame->width & ~1, fh = frame->height & ~1;
  if (fw <= 0 || fh <= 0) return;
  FramePtr blended;
  if (HasSubtitles()) {
    blended.reset(ff::av_frame_clone(frame));
    if (blended && BlendSubtitles(blended.get(), pts)) {
      frame = blended.get();
      std::lock_guard s(stats_mu_);
      ++stats_.subtitles_shown;
    } else {
      blended.reset();
    }
  }
  {
    // Snapshots show what is on screen, subtitles included.
    std::lock_guard lock(shown_mu_);
    displayed_.reset(blended ? ff::av_frame_clone(blended.get()) : nullptr);
  }
  std::lock_guard lock(SDLCallLock());
  if (!texture_ || texture_w_ != fw || texture_h_ != fh) {
    if (texture_) sdl_.SDL_DestroyTexture(texture_);
    texture_ = sdl_.SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_IYUV, SDL_TEXTUREACCESS_STREAMING, fw, fh);
    if (!texture_) {
      Logf(llFatal,
           "Error: the video system does not support an image size of %dx%d pixels. Try using "
           "-lowres or -vf \"scale=w:h\" to reduce the image size.",
           fw, fh);
      PushEvent(TPlayEventKind::evQuit);
      return;
    }
    texture_w_ = fw;
    texture_h_ = fh;
  }
  const SDL_Rect src{0, 0, fw, fh};
  sdl_.SDL_UpdateYUVTexture(texture_, &src, frame->data[0], frame->linesize[0], frame->data[1],
                            frame->linesize[1], frame->data[2], frame->linesize[2]);

  const float aspect = owner_.aspect_ratio_.load();
  double ratio;
  if (aspect < 0 && width_ > 0 && height_ > 0) {
    ratio = static_cast<double>(width_) / height_;
  } else if (aspect > 0) {
    ratio = aspect;
  } else {
    const double s = (sar.num > 0 && sar.den > 0) ? av_q2d(sar) : 1.0;
    ratio = s * fw / fh;
  }
  int h = height_;
  int w = static_cast<int>(std::lrint(h * ratio)) & ~1;
  if (w > width_) {
    w = width_;
    h = static_cast<int>(std::lrint(w / ratio)) & ~1;
  }
  const SDL_Rect dst{xleft_ + (width_ - w) / 2, ytop_ + (height_ - h) / 2, w, h};
  sdl_.SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
  sdl_.SDL_RenderClear(renderer_);
  sdl_.SDL_RenderCopy(renderer_, texture_, &src, &dst);
  sdl_.SDL_RenderPresent(renderer_);
}

namespace {

// Blends one palettised rectangle (palette entries alpha, Y, U, V) into a
// writable YUV 4:2:0 picture, clipped to it.
void BlendRect(AVFrame* dst, const AVSubtitleRect* rect) {
  const int x0 = std::clamp(rect->x, 0, dst->width);
  const int y0 = std::clamp(rect->y, 0, dst->height);
  const int w = std::clamp(rect->w, 0, dst->width - x0);
  const int h = std::clamp(rect->h, 0, dst->height - y0);
  const auto* pal = reinterpret_cast<const uint32_t*>(rect->data[1]);
  if (!pal || w <= 0 || h <= 0) return;
  auto entry = [&](int x, int y) { return pal[rect->data[0][(y - rect->y) * rect->linesize[0] + (x - rect->x)]]; };
  for (int y = y0; y < y0 + h; ++y) {
    uint8_t* line = dst->data[0] + static_cast<ptrdiff_t>(y) * dst->linesize[0];
    for (int x = x0; x < x0 + w; ++x) {
      const uint32_t c = entry(x, y);
      const int a = c >> 24, yy = (c >> 16) & 0xff;
      line[x] = static_cast<uint8_t>((line[x] * (255 - a) + yy * a) / 255);
    }
  }
  // Chroma: each sample covers a 2x2 block; the block's share of the rectangle
  // decides how many pixels are averaged (4, 2 or 1).
  for (int cy = y0 / 2; cy <= (y0 + h - 1) / 2; ++cy) {
    for (int cx = x0 / 2; cx <= (x0 + w - 1) / 2; ++cx) {
      int n = 0, sum_a = 0, sum_u = 0, sum_v = 0;
      for (int dy = 0; dy < 2; ++dy) {
        for (int dx = 0; dx < 2; ++dx) {
          const int x = cx * 2 + dx, y = cy * 2 + dy;
          if (x < x0 || x >= x0 + w || y < y0 || y >= y0 + h) continue;
          const uint32_t c = entry(x, y);
          const int a = c >> 24;
          sum_a += a;
          sum_u += ((c >> 8) & 0xff) * a;
          sum_v += (c & 0xff) * a;
          ++n;
        }
      }
      if (n == 0 || sum_a == 0) continue;
      uint8_t* u = dst->data[1] + static_cast<ptrdiff_t>(cy) * dst->linesize[1] + cx;
      uint8_t* v = dst->data[2] + static_cast<ptrdiff_t>(cy) * dst->linesize[2] + cx;
      // new = old * (1 - mean alpha) + alpha-weighted mean colour * mean alpha
      const int mean_a = sum_a / n;
      *u = static_cast<uint8_t>((*u * (255 - mean_a) * n + sum_u) / (255 * n));
      *v = static_cast<uint8_t>((*v * (255 - mean_a) * n + sum_v) / (255 * n));
    }
  }
}

}  // namespace

bool TPlayback::BlendSubtitles(AVFrame* frame, double pts) {
  std::lock_guard lock(subpq_mu_);
  if (subpq_size_ == 0) return false;
  const TSubtitleEntry& sp = subpq_[subpq_rindex_];
  if (pts < sp.pts + sp.sub.start_display_time / 1000.0) return false;
  if (ff::av_frame_make_writable(frame) < 0) return false;
  for (unsigned i = 0; i < sp.sub.num_rects; ++i) BlendRect(frame, sp.sub.rects[i]);
  return true;
}

// --- pause -------------------------------------------------------------------

void TPlayback::TogglePause() {
  if (!owner_.seek_event_->WaitFor(std::chrono::milliseconds(250))) owner_.seek_event_->Set();
  if (abort_request_) return;
  if (paused_) {
    const double now = NowSeconds();
    std::lock_guard lock(pictq_mu_);
    std::lock_guard clock(clock_mu_);
    frame_timer_ += now + video_current_pts_drift_ - video_current_pts_;
    if (read_pause_return_ != AVERROR(ENOSYS)) video_current_pts_ = video_current_pts_drift_ + now;
    video_current_pts_drift_ = video_current_pts_ - now;
    paused_ = false;
  } else {
    if (HasVideo() && !owner_.pict_event_->WaitFor(std::chrono::milliseconds(250))) {
      owner_.pict_event_->Set();
    }
    if (abort_request_) return;
    // The clock of the picture on screen stops where it is.
    std::lock_guard clock(clock_mu_);
    if (video_current_valid_) video_current_pts_ = video_current_pts_drift_ + NowSeconds();
    paused_ = true;
  }
}

// --- position ------------------------------------------------------------------

void TPlayback::PositionRoutine() {
  if (is_image2_) return;
  int64_t pts;
  if (HasVideo()) {
    pts = std::llrint(VideoClock() * 1000000) - start_time_;
  } else if (HasAudio()) {
    pts = std::llrint(AudioClock() * 1000000) - start_time_;
    const int64_t audio_duration = audio_duration_;
    if (audio_duration > 0 && pts >= audio_duration && pts < duration_) pts = duration_;
  } else {
    return;
  }
  owner_.current_pts_ = pts;
  if (duration_ > 0 && pts >= duration_) {
    pts = duration_;
    if (owner_.last_pts_ != duration_) owner_.last_pts_ = 0;
  }
  const int64_t last = owner_.last_pts_;
  if (last == INT64_MIN || std::llabs(pts - last) > 10000) {
    owner_.last_pts_ = pts;
    owner_.ReportPosition(pts);
  }
  if (!is_device_ && !event_eof_ && reach_eof_) {
    if (HasVideo()) event_eof_ = true;
    owner_.ReportState(psEnd);
  }
  if (opts_.play_time != INT64_MIN) {
    const int64_t limit =
        opts_.start_time != INT64_MIN ? opts_.start_time + opts_.play_time : opts_.play_time;
    if (pts >= limit) {
      switch (opts_.repeat_type) {
        case rtStop: PushEvent(TPlayEventKind::evQuit); break;
        case rtLoop:
          if (opts_.start_time != INT64_MIN) {
            SeekTo(opts_.start_time, 0);
          } else {
            SeekTo(0, sfAny);
          }
          break;
        case rtNone: break;
      }
    }
  }
}

// A seek to a position from the start (microseconds), as the player's Seek does.
void TPlayback::SeekTo(int64_t pts, int flags) {
  if (flags & sfByte) {
    RequestSeek(pts, 0, flags);
    return;
  }
  int64_t target = pts;
  if (duration_ > 0 && target > duration_) target = duration_;
  target += start_time_;
  RequestSeek(target, pts <= 0 ? 1 : 0, flags);
}

}  // namespace vidmill::player
