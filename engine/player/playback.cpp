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
  // A second caller (the destructor after the play thread) waits here until
  // the first has joined every thread, instead of freeing what they use.
  std::lock_guard close_lock(close_mu_);
  if (closed_) return;
  abort_request_ = true;
  AbortQueues();
  if (read_tid_.joinable()) read_tid_.join();
  if (refresh_tid_.joinable()) refresh_tid_.join();
  // The read thread joins the decoders as it closes their streams; these are
  // left only if it never got there.
  if (video_tid_.joinable()) video_tid_.join();
  if (subtitle_tid_.joinable()) subtitle_tid_.join();
  if (rdft_) ff::av_tx_uninit(reinterpret_cast<AVTXContext**>(&rdft_));
  DestroyDisplay();
  for (auto& vp : pictq_) vp.frame.reset();
  for (auto& sp : subpq_) sp.Free();
  {
    std::lock_guard lock(shown_mu_);
    shown_.reset();
    displayed_.reset();
  }
  closed_ = true;
}

// Ends every wait of the decoders at once, whatever the read thread is
// doing: the packet queues return -1, and the picture and subtitle queues'
// waiters see the abort flag, which is read under the queue's own mutex, so
// none of them can miss the wake-up between checking and sleeping.
void TPlayback::AbortQueues() {
  videoq_.Abort();
  audioq_.Abort();
  subtitleq_.Abort();
  {
    std::lock_guard lock(pictq_mu_);
  }
  pictq_cond_.notify_all();
  {
    std::lock_guard lock(subpq_mu_);
  }
  subpq_cond_.notify_all();
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
  return FramePtr(ff::av_frame_clone(displayed_ ? displayed_.get() : shown_.get()));
}

// Lets the application see (and change) the picture in the hook converter's
// bitmap before it is queued. Runs in the video decoder thread, the only
// user of that converter while a playback runs.
void TPlayback::ApplyVideoHook(AVFrame* frame, double pts) {
  TFormatConverter& conv = owner_.hook_converter_;
  const auto fmt = static_cast<AVPixelFormat>(frame->format);
  if (!conv.PictureToRGB(PictureOf(*frame), fmt, true, frame->height, frame->width)) {
    Log(llError, conv.LastErrMsg());
    return;
  }
  bool update = true;
  try {
    owner_.OnVideoHook(&owner_, conv.Bitmap(), std::llrint(pts * 1000000) - start_time_, update);
  } catch (const std::exception& e) {
    Log(llError, std::string("Error occurs OnVideoHook: ") + e.what());
    return;
  }
  if (!update || ff::av_frame_make_writable(frame) < 0) return;
  conv.BitmapToRGB();
  TPicture dst = PictureOf(*frame);
  if (!conv.RGBToPicture(dst, fmt, frame->height, frame->width)) Log(llError, conv.LastErrMsg());
}

}  // namespace vidmill::player

namespace vidmill {

const TBitmap& TCustomPlayer::CurrentFrame(int64_t* APTS) {
  TBitmap& bitmap = rgb_converter_.Bitmap();
  bitmap.SetSize(0, 0);
  if (APTS) *APTS = -1;
  auto pb = CurrentPlayback();
  if (!pb || !pb->HasVideo()) return bitmap;
  double pts = 0;
  player::FramePtr frame = pb->ShownPicture(&pts);  // the picture on screen, not the next one
  if (!frame) return bitmap;
  if (APTS) *APTS = std::llrint(pts * 1000000) - pb->StartTime();
  if (!rgb_converter_.PictureToRGB(PictureOf(*frame), static_cast<AVPixelFormat>(frame->format), true,
                                   frame->height, frame->width)) {
    bitmap.SetSize(0, 0);
  }
  return bitmap;
}

void TCustomPlayer::SetVideoHookBitsPixel(int bits) {
  rgb_converter_.SetBitsPixel(bits);
  hook_converter_.SetBitsPixel(bits);
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
