#include "editing/frame_player.h"

#include <algorithm>

#include "core/entry_points.h"
#include "core/ff_load.h"
#include "core/ff_log.h"
#include "editing/sound_companion.h"
#include "editing/thumbnail.h"
#include "filters/adjust_filters.h"
#include "filters/filter_chain.h"
#include "probe/frame_decoder.h"

namespace vidmill {
namespace {

struct FrameFree {
  void operator()(AVFrame* f) const { ff::av_frame_free(&f); }
};
using TFramePtr = std::unique_ptr<AVFrame, FrameFree>;

constexpr TLibraries kEditingLibraries = kPlayerLibraries;
constexpr int64_t kSoundTickUs = 40000;  // position steps of a source without pictures
constexpr int kFollowSoundMs = 10;       // how often the time being heard is read

}  // namespace

TFramePlayer::TFramePlayer(QObject* parent) : QObject(parent), decoder_(std::make_unique<TFrameDecoder>()) {
  connect(&timer_, &QTimer::timeout, this, &TFramePlayer::Tick);
}

TFramePlayer::~TFramePlayer() = default;

bool TFramePlayer::AVLibLoaded() { return TFFLoader::Instance().Loaded(kEditingLibraries); }

bool TFramePlayer::LoadAVLib(const QString& path) {
  TFFLoader& loader = TFFLoader::Instance();
  if (!path.isEmpty()) loader.SetLibraryPath(path.toStdString());
  if (!loader.Load(kEditingLibraries)) {
    last_err_msg_ = QString::fromStdString(loader.LastErrMsg());
    return false;
  }
  RegisterEqFilter();
  RegisterHueFilter();
  return true;
}

bool TFramePlayer::IsOpen() const { return decoder_->FileHandle() != nullptr; }

bool TFramePlayer::Open(const QString& file, bool paused) {
  Stop();
  // A file that fails to open leaves nothing of the previous one behind.
  picture_ = QImage();
  duration_ = -1;
  frame_w_ = frame_h_ = 0;
  current_pts_ = 0;
  if (!AVLibLoaded()) {
    last_err_msg_ = QStringLiteral("libav not loaded.");
    return false;
  }
  RegisterEqFilter();
  RegisterHueFilter();
  if (!decoder_->LoadFile(file.toStdString())) {
    last_err_msg_ = QString::fromStdString(decoder_->LastErrMsg());
    return false;
  }
  has_video_ = decoder_->FirstVideoStreamIndex() >= 0;
  if (has_video_ && !decoder_->Decode()) {
    last_err_msg_ = QString::fromStdString(decoder_->LastErrMsg());
    decoder_->CloseFile();
    return false;
  }
  file_ = file;
  held_shown_ = false;
  pictures_done_ = false;
  StartSound(paused);
  duration_ = decoder_->FileStreamInfo().Duration;
  frame_w_ = has_video_ ? decoder_->FrameInfo().Width : 0;
  frame_h_ = has_video_ ? decoder_->FrameInfo().Height : 0;
  picture_ = QImage();
  current_pts_ = 0;
  emit FileOpened(duration_, frame_w_, frame_h_);
  if (has_video_) {
    ShowDecoded();
  } else {
    emit PositionChanged(current_pts_);
  }
  SetState(TFrameState::Play);
  if (paused) {
    SetState(TFrameState::Pause);
  } else {
    timer_.start(TickMs());
  }
  return true;
}

int TFramePlayer::TickMs() const {
  if (SoundActive()) return kFollowSoundMs;
  const int64_t frame = has_video_ ? decoder_->FrameDuration(decoder_->DecodeIndex()) : kSoundTickUs;
  return static_cast<int>(std::max<int64_t>(frame / 1000, 1));
}

void TFramePlayer::Stop() {
  timer_.stop();
  DropSound();
  if (!IsOpen()) return;
  decoder_->CloseFile();
  chain_.reset();
  SetState(TFrameState::Stop);
}

void TFramePlayer::Pause() {
  if (state_ != TFrameState::Play) return;
  timer_.stop();
  if (sound_) sound_->Pause();
  SetState(TFrameState::Pause);
}

void TFramePlayer::Resume() {
  if (state_ != TFrameState::Pause || !IsOpen()) return;
  if (sound_) sound_->Resume();
  timer_.start(TickMs());
  SetState(TFrameState::Play);
}

void TFramePlayer::TogglePause() {
  if (state_ == TFrameState::Play) {
    Pause();
  } else {
    Resume();
  }
}

void TFramePlayer::Seek(int64_t t) {
  if (!IsOpen()) return;
  ++seek_count_;
  pictures_done_ = false;
  if (sound_) sound_->Seek(t);
  if (!has_video_) {  // a sound alone: its position only
    current_pts_ = std::clamp<int64_t>(t, 0, std::max<int64_t>(duration_, 0));
    emit PositionChanged(current_pts_);
  } else if (DecodePictureAt(*decoder_, t)) {
    ShowDecoded();
  }
  if (state_ == TFrameState::End) SetState(TFrameState::Pause);
}

void TFramePlayer::SetVideoFilters(const std::string& chain) { chain_text_ = chain; }

void TFramePlayer::Refresh() {
  if (decoder_->FrameInfo().Ready) ShowDecoded();
}

void TFramePlayer::Tick() {
  if (SoundActive()) {
    TickWithSound();
    return;
  }
  if (!has_video_) {  // the position of a sound moves with the clock
    current_pts_ += kSoundTickUs;
    if (duration_ > 0 && current_pts_ < duration_) {
      emit PositionChanged(current_pts_);
      return;
    }
    current_pts_ = std::max<int64_t>(duration_, 0);
    emit PositionChanged(current_pts_);
  } else if (!held_shown_ || decoder_->Decode()) {  // a picture decoded ahead for the sound is shown first
    ShowDecoded();
    return;
  }
  timer_.stop();
  SetState(TFrameState::End);
}

// --- sound ------------------------------------------------------------------

void TFramePlayer::SetSound(bool on, const QString& sdl_path) {
  sound_wanted_ = on;
  sdl_path_ = sdl_path;
  if (!on) DropSound();
}

void TFramePlayer::SetAudioVolume(int volume) {
  volume_ = std::clamp(volume, 0, 128);
  if (sound_) sound_->SetVolume(volume_);
}

bool TFramePlayer::SoundActive() const { return sound_ && sound_->Active(); }

TFFPlayer& TFramePlayer::SoundPlayer() {
  if (!sound_) sound_ = std::make_unique<TSoundCompanion>();
  return sound_->Player();
}

void TFramePlayer::StartSound(bool paused) {
  if (!sound_wanted_ || decoder_->FirstAudioStreamIndex() < 0) return;
  if (!sound_) sound_ = std::make_unique<TSoundCompanion>();
  if (!sound_->Open(file_.toStdString(), sdl_path_.toStdString(), paused)) {
    TFFLogger::Process().Log(nullptr, llInfo, "the preview plays without sound: " + sound_->LastErrMsg());
    return;
  }
  sound_->SetVolume(volume_);
}

void TFramePlayer::DropSound() {
  if (sound_) sound_->Close();
}

// The sound is the clock: the picture shown is the last one due at the time
// being heard, and the position of a source without (more) pictures is that
// time. A sound that ends before the pictures, or whose device takes no
// samples, leaves the rest to the timer.
void TFramePlayer::TickWithSound() {
  if (sound_->Stalled()) {
    TFFLogger::Process().Log(nullptr, llInfo, "the preview's sound does not play: the pictures go on without it");
    sound_->Close();
    timer_.start(TickMs());
    return;
  }
  const bool ended = sound_->Ended();
  const unsigned seeks = seek_count_;
  if (const std::optional<int64_t> heard = sound_->HeardPosition()) {
    if (has_video_ && !pictures_done_) pictures_done_ = !ShowPicturesUntil(*heard);
    if (seek_count_ != seeks) return;  // a handler sought elsewhere
    if (!has_video_ || pictures_done_) FollowHeardPosition(*heard);
    if (seek_count_ != seeks) return;
  }
  if (!ended) return;
  if (has_video_ && !pictures_done_) {
    sound_->Close();
    timer_.start(TickMs());
    return;
  }
  sound_->Pause();  // kept open: a seek and Resume play on
  timer_.stop();
  SetState(TFrameState::End);
}

// Shows the last picture due at heard (microseconds), passing over late
// ones without filtering them, and decodes the one after it. False when the
// pictures have run out.
bool TFramePlayer::ShowPicturesUntil(int64_t heard) {
  const unsigned seeks = seek_count_;
  const int64_t frame = std::max<int64_t>(decoder_->FrameDuration(decoder_->DecodeIndex()), 1);
  for (;;) {
    if (held_shown_) {
      if (!decoder_->Decode()) return false;
      held_shown_ = false;
    }
    const int64_t pts = decoder_->FrameInfo().PTS;
    const bool timed = pts != AV_NOPTS_VALUE;
    if (timed && pts > heard) return true;  // not due yet
    if (timed && pts + frame <= heard) {    // late: the next one is due as well
      held_shown_ = true;
      continue;
    }
    ShowDecoded();
    if (seek_count_ != seeks) return true;
  }
}

void TFramePlayer::FollowHeardPosition(int64_t heard) {
  const int64_t pos = duration_ > 0 ? std::min(heard, duration_) : heard;
  if (pos == current_pts_) return;
  current_pts_ = pos;
  emit PositionChanged(current_pts_);
}

void TFramePlayer::SetState(TFrameState s) {
  state_ = s;
  emit StateChanged(s);
}

bool TFramePlayer::ShowDecoded() {
  held_shown_ = true;
  QImage image;
  if (!Filter(&image)) return false;
  picture_ = image;
  const int64_t pts = decoder_->FrameInfo().PTS;
  if (pts != AV_NOPTS_VALUE) current_pts_ = pts;
  emit PictureChanged();
  emit PositionChanged(current_pts_);
  return true;
}

// The held picture through the chain, as a 32-bit image.
bool TFramePlayer::Filter(QImage* out) {
  const TFrameInfo& info = decoder_->FrameInfo();
  if (!info.Ready) return false;
  if (!chain_ || built_text_ != chain_text_ || built_w_ != info.Width || built_h_ != info.Height ||
      built_fmt_ != info.PixFmt) {
    TVideoFormat in;
    in.width = info.Width;
    in.height = info.Height;
    in.pix_fmt = info.PixFmt;
    in.time_base = AVRational{1, 1000000};
    std::string error;
    chain_ = TFilterChain::Create(chain_text_, in, AV_PIX_FMT_BGRA, &error);
    if (!chain_) {
      last_err_msg_ = QString::fromStdString(error);
      return false;
    }
    built_text_ = chain_text_;
    built_w_ = info.Width;
    built_h_ = info.Height;
    built_fmt_ = info.PixFmt;
  }
  TFramePtr frame(ff::av_frame_alloc());
  frame->width = info.Width;
  frame->height = info.Height;
  frame->format = info.PixFmt;
  frame->pts = info.PTS == AV_NOPTS_VALUE ? 0 : info.PTS;
  if (ff::av_frame_get_buffer(frame.get(), 0) < 0) return false;
  ff::av_image_copy(frame->data, frame->linesize, const_cast<const uint8_t**>(info.Picture.data),
                    info.Picture.linesize, info.PixFmt, info.Width, info.Height);
  TFramePtr filtered(ff::av_frame_alloc());
  if (chain_->SendFrame(frame.get()) < 0 || chain_->ReceiveFrame(filtered.get()) < 0) {
    chain_.reset();  // rebuilt for the next picture
    return false;
  }
  QImage image(filtered->data[0], filtered->width, filtered->height, filtered->linesize[0], QImage::Format_RGB32);
  *out = image.copy();
  return true;
}

}  // namespace vidmill
