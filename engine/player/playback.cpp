// The life of a playback record, and the pictures it hands out (the shown
// picture for snapshots, the pictures passed to the video hook).
#include "playback.h"

#include <cmath>

#include "core/ff_log.h"
#include "sync_event.h"

namespace vidmill::player {

TPlayback::TPlayback(TCustomPlayer& owner, const TPlayOptions& opts, const TSDLFunctions& sdl,
                     SDL_Window* host_window, int fs_width, int fs_height)
    : owner_(owner),
      opts_(opts),
      sdl_(sdl),
      window_(host_window),
      host_window_(host_window != nullptr),
      fs_width_(fs_width),
      fs_height_(fs_height) {
  deinterlace_ = opts.deinterlace;
}

TPlayback::~TPlayback() {
  Close();
  ff::av_channel_layout_uninit(&swr_in_layout_);
}

void TPlayback::Close() {
  if (closed_) return;
  closed_ = true;
  abort_request_ = true;
  if (read_tid_.joinable()) read_tid_.join();
  if (refresh_tid_.joinable()) refresh_tid_.join();
  if (rdft_) ff::av_tx_uninit(reinterpret_cast<AVTXContext**>(&rdft_));
  DestroyDisplay();
  for (auto& vp : pictq_) vp.frame.reset();
  for (auto& sp : subpq_) sp.Free();
  std::lock_guard lock(shown_mu_);
  shown_.reset();
}

void TPlayback::SetShowAudio(int v) {
  show_audio_ = v;
  PushEvent(TPlayEventKind::evExpose);
}

int TPlayback::VideoWidth() const { return video_width_; }
int TPlayback::VideoHeight() const { return video_height_; }

TPlayStats TPlayback::Stats() {
  std::lock_guard lock(stats_mu_);
  return stats_;
}

FramePtr TPlayback::ShownPicture(double* pts) {
  std::lock_guard lock(shown_mu_);
  if (!shown_) return nullptr;
  if (pts) *pts = shown_pts_;
  return FramePtr(ff::av_frame_clone(shown_.get()));
}

namespace {

struct SwsFree {
  void operator()(SwsContext* c) const { ff::sws_freeContext(c); }
};
using SwsPtr = std::unique_ptr<SwsContext, SwsFree>;

}  // namespace

// Lets the application see (and change) the picture as 32-bit BGRA before
// it is queued. Runs in the video decoder thread.
void TPlayback::ApplyVideoHook(AVFrame* frame, double pts) {
  const int w = frame->width, h = frame->height;
  const auto fmt = static_cast<AVPixelFormat>(frame->format);
  SwsPtr to_rgb(ff::sws_getContext(w, h, fmt, w, h, AV_PIX_FMT_BGRA, SWS_BICUBIC, nullptr, nullptr, nullptr));
  if (!to_rgb) {
    Log(llError, "video hook: cannot convert the picture to RGB");
    return;
  }
  std::vector<uint8_t> pixels(static_cast<size_t>(w) * h * 4);
  uint8_t* dst[4] = {pixels.data()};
  int dst_stride[4] = {w * 4};
  ff::sws_scale(to_rgb.get(), frame->data, frame->linesize, 0, h, dst, dst_stride);
  THookPicture picture{w, h, w * 4, pixels.data()};
  bool update = true;
  try {
    owner_.OnVideoHook(&owner_, picture, std::llrint(pts * 1000000) - start_time_, update);
  } catch (const std::exception& e) {
    Log(llError, std::string("Error occurs OnVideoHook: ") + e.what());
    return;
  }
  if (!update || ff::av_frame_make_writable(frame) < 0) return;
  SwsPtr to_yuv(ff::sws_getContext(w, h, AV_PIX_FMT_BGRA, w, h, fmt, SWS_BICUBIC, nullptr, nullptr, nullptr));
  if (!to_yuv) {
    Log(llError, "video hook: cannot convert the picture back from RGB");
    return;
  }
  const uint8_t* src[4] = {pixels.data()};
  ff::sws_scale(to_yuv.get(), src, dst_stride, 0, h, frame->data, frame->linesize);
}

}  // namespace vidmill::player

namespace vidmill {

TPlayerSnapshot TCustomPlayer::CurrentFrame(int64_t* APTS) {
  TPlayerSnapshot shot;
  if (APTS) *APTS = -1;
  auto pb = CurrentPlayback();
  if (!pb || !pb->HasVideo()) return shot;
  double pts = 0;
  player::FramePtr frame = pb->ShownPicture(&pts);
  if (!frame) return shot;
  if (APTS) *APTS = std::llrint(pts * 1000000) - pb->StartTime();
  const int w = frame->width, h = frame->height;
  player::SwsPtr sws(ff::sws_getContext(w, h, static_cast<AVPixelFormat>(frame->format), w, h,
                                        AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr));
  if (!sws) return shot;
  shot.width = w;
  shot.height = h;
  shot.stride = w * 3;
  shot.pixels.resize(static_cast<size_t>(shot.stride) * h);
  uint8_t* dst[4] = {shot.pixels.data()};
  int dst_stride[4] = {shot.stride};
  if (ff::sws_scale(sws.get(), frame->data, frame->linesize, 0, h, dst, dst_stride) != h) {
    shot = TPlayerSnapshot{};
  }
  return shot;
}

std::unique_lock<std::mutex> TCustomPlayer::LockDecoder() { return std::unique_lock(decoder_mu_); }

void TCustomPlayer::AttachDecoder(player::TPlayback& pb) {
  auto lock = LockDecoder();
  if (AVFormatContext* ic = pb.FormatContext()) {  // null once the read thread closed it
    decoder_->SetFileHandle(ic);
    attached_to_ = &pb;
  }
}

// Under LockDecoder.
void TCustomPlayer::DetachDecoder(const player::TPlayback* pb) {
  if (attached_to_ != pb) return;
  decoder_->SetFileHandle(nullptr);
  attached_to_ = nullptr;
}

}  // namespace vidmill
