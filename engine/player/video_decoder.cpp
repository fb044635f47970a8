// The decode threads of a playback: video (decoder -> filter chain ->
// picture queue) and subtitles (decoder -> subtitle queue).
#include "core/ff_log.h"
#include "playback.h"
#include "sync_event.h"

namespace vidmill::player {
namespace {

void SleepMs(int ms) { ff::av_usleep(static_cast<unsigned>(ms) * 1000); }

double NowSeconds() { return ff::av_gettime_relative() / 1000000.0; }

}  // namespace

void TSubtitleEntry::Free() {
  if (used) ff::avsubtitle_free(&sub);
  sub = AVSubtitle{};
  used = false;
}

void TPlayback::VideoThread() {
  FramePtr frame = NewFrame();
  while (frame) {
    if (paused_ && !VideoAborted() && !seek_paused_ && !open_paused_) {
      SleepMs(10);
      continue;
    }
    int64_t pts = AV_NOPTS_VALUE, pos = -1;
    const int ret = GetVideoFrame(frame.get(), &pts, &pos);
    if (ret < 0) break;
    if (ret == 0) continue;
    const bool ok = FilterAndQueue(frame.get(), pts, pos);
    ff::av_frame_unref(frame.get());
    if (!ok) break;
  }
  chain_.reset();
}

void TPlayback::HandleVideoFlush() {
  ff::avcodec_flush_buffers(video_dec_.get());
  {
    std::unique_lock lock(pictq_mu_);
    for (auto& p : pictq_) p.target_time = 0;
    pictq_cond_.wait(lock, [this] { return pictq_size_ == 0 || VideoAborted(); });
    frame_last_pts_valid_ = false;
    frame_last_delay_ = 0;
    frame_timer_ = NowSeconds();
    video_clock_ = 0;
    skip_frames_ = 1;
    skip_frames_index_ = 0;
  }
  {
    std::lock_guard lock(clock_mu_);
    video_current_pos_ = -1;
  }
  pts_correction_.Reset();
  // The chain may hold pictures from before the seek.
  chain_.reset();
  seek_flushed_ = true;
}

// 1: a picture is in frame; 0: the decoder skipped it; -1: the queue was aborted.
int TPlayback::GetVideoFrame(AVFrame* frame, int64_t* pts, int64_t* pos) {
  PacketPtr pkt = NewPacket();
  for (;;) {
    const int ret = ff::avcodec_receive_frame(video_dec_.get(), frame);
    if (ret >= 0) {
      int64_t chosen;
      if (opts_.decoder_reorder_pts == -1) {
        chosen = pts_correction_.Guess(frame->pts, frame->pkt_dts);
      } else if (opts_.decoder_reorder_pts) {
        chosen = frame->pts;
      } else {
        chosen = frame->pkt_dts;
      }
      *pts = chosen;
      *pos = frame->pkt_pos;
      {
        std::lock_guard lock(stats_mu_);
        ++stats_.pictures_decoded;
      }
      bool show;
      {
        std::lock_guard lock(pictq_mu_);
        skip_frames_index_ += 1;
        show = skip_frames_index_ >= skip_frames_;
        if (show) skip_frames_index_ -= std::max(skip_frames_, 1.0f);
      }
      if (show) return 1;
      std::lock_guard lock(stats_mu_);
      ++stats_.pictures_skipped;
      ff::av_frame_unref(frame);
      return 0;
    }
    if (ret != AVERROR(EAGAIN) && ret != AVERROR_EOF) {
      // A broken picture: go on with the next packet.
    }
    TPacketKind kind;
    if (videoq_.Get(pkt.get(), &kind, true) < 0) return -1;
    switch (kind) {
      case TPacketKind::pkFlush:
        HandleVideoFlush();
        break;
      case TPacketKind::pkEmpty:
        if (ret == AVERROR_EOF) break;  // drained already
        ff::avcodec_send_packet(video_dec_.get(), nullptr);
        // The chain gives out what it still holds too.
        if (chain_) {
          chain_->SendFrame(nullptr);
          FramePtr out = NewFrame();
          while (chain_->ReceiveFrame(out.get()) >= 0) {
            ff::av_frame_unref(out.get());
          }
        }
        break;
      case TPacketKind::pkData:
        ff::avcodec_send_packet(video_dec_.get(), pkt.get());
        ff::av_packet_unref(pkt.get());
        break;
    }
  }
}

bool TPlayback::EnsureFilterChain(const AVFrame* frame) {
  const AVStream* st = video_st_;
  TVideoFormat in;
  in.width = frame->width;
  in.height = frame->height;
  in.pix_fmt = static_cast<AVPixelFormat>(frame->format);
  in.time_base = st->time_base;
  in.sample_aspect_ratio = frame->sample_aspect_ratio.num > 0 ? frame->sample_aspect_ratio : video_sar_;
  in.frame_rate = video_rate_;
  if (chain_ && in.width == chain_in_.width && in.height == chain_in_.height &&
      in.pix_fmt == chain_in_.pix_fmt) {
    return true;
  }
  std::string text = deinterlace_ ? "yadif" : "";
  if (!opts_.vfilters.empty()) text += (text.empty() ? "" : ",") + opts_.vfilters;
  std::string error;
  TFilterChainOptions chain_opts;
  chain_opts.sws_flags = opts_.sws_flags;
  chain_opts.threads = 1;
  chain_ = TFilterChain::Create(text, in, AV_PIX_FMT_YUV420P, &error, chain_opts);
  if (!chain_) {
    Log(llError, "video filters \"" + text + "\": " + error);
    return false;
  }
  chain_in_ = in;
  return true;
}

bool TPlayback::FilterAndQueue(AVFrame* decoded, int64_t pts, int64_t pos) {
  decoded->pts = pts;
  if (!EnsureFilterChain(decoded)) return false;
  if (chain_->SendFrame(decoded) < 0) return true;  // a picture the chain refuses is dropped
  FramePtr out = NewFrame();
  const AVRational tb = video_st_->time_base;
  for (;;) {
    const int ret = chain_->ReceiveFrame(out.get());
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return true;
    if (ret < 0) return true;
    int64_t out_pts = out->pts;
    const AVRational out_tb = chain_->OutputFormat().time_base;
    if (out_pts != AV_NOPTS_VALUE && av_cmp_q(out_tb, tb) != 0) {
      out_pts = ff::av_rescale_q(out_pts, out_tb, tb);
    }
    if (seek_done_ && seek_flushed_) {
      seek_done_ = false;
      seek_paused_ = false;
    }
    const double seconds = out_pts != AV_NOPTS_VALUE ? out_pts * av_q2d(tb) : -1;
    if (!out->sample_aspect_ratio.num) out->sample_aspect_ratio = chain_in_.sample_aspect_ratio;
    const int queued = OutputPicture(out.get(), seconds, pos);
    ff::av_frame_unref(out.get());
    if (queued < 0) return false;

    owner_.pict_event_->Set();
    event_eof_ = false;
    if (owner_.seeking_ && !seek_req_) owner_.seeking_ = false;
    if (open_paused_ > 0) {
      if (open_paused_ > 1) {
        open_paused_ = 0;
        PushEvent(TPlayEventKind::evPausedOpen);  // reported after psPlay
      } else {
        ++open_paused_;
      }
    }
    if (owner_.step_) TogglePause();
  }
}

// pts < 0: the picture has no time of its own and follows the previous one.
int TPlayback::OutputPicture(AVFrame* frame, double pts, int64_t pos) {
  double frame_delay;
  {
    std::lock_guard lock(pictq_mu_);
    if (pts >= 0) {
      video_clock_ = pts;
    } else {
      pts = video_clock_;
    }
    frame_delay = frame_delay_ * (1 + frame->repeat_pict * 0.5);
    video_clock_ += frame_delay;
  }
  return QueuePicture(frame, pts, pos);
}

void TPlayback::SubtitleThread() {
  PacketPtr pkt = NewPacket();
  for (;;) {
    if (paused_ && !SubtitleAborted() && !seek_paused_ && !open_paused_) {
      SleepMs(10);
      continue;
    }
    TPacketKind kind;
    if (subtitleq_.Get(pkt.get(), &kind, true) < 0) return;
    if (kind == TPacketKind::pkFlush) {
      ff::avcodec_flush_buffers(subtitle_dec_.get());
      continue;
    }
    if (kind != TPacketKind::pkData) continue;
    int slot;
    {
      std::unique_lock lock(subpq_mu_);
      subpq_cond_.wait(lock, [this] {
        return subpq_size_ < kSubtitleQueueSize || SubtitleAborted();
      });
      if (SubtitleAborted()) return;
      slot = subpq_windex_;
    }
    TSubtitleEntry& entry = subpq_[slot];
    const double pts =
        pkt->pts != AV_NOPTS_VALUE ? pkt->pts * av_q2d(subtitle_st_->time_base) : 0;
    int got = 0;
    AVSubtitle sub{};
    const int ret = ff::avcodec_decode_subtitle2(subtitle_dec_.get(), &sub, &got, pkt.get());
    ff::av_packet_unref(pkt.get());
    if (ret < 0 || !got) continue;
    {
      std::lock_guard lock(stats_mu_);
      ++stats_.subtitles_decoded;
    }
    if (sub.format != 0) {
      ff::avsubtitle_free(&sub);  // text subtitles are not drawn
      continue;
    }
    ConvertSubtitlePalette(&sub);
    {
      // The slot is not visible to the display before subpq_size grows.
      entry.Free();
      entry.sub = sub;
      entry.used = true;
      entry.pts = pts;
    }
    std::lock_guard lock(subpq_mu_);
    subpq_windex_ = (subpq_windex_ + 1) % kSubtitleQueueSize;
    ++subpq_size_;
  }
}

// Palette entries become alpha, Y, U, V (from the top byte down), limited range.
void TPlayback::ConvertSubtitlePalette(AVSubtitle* sub) {
  for (unsigned i = 0; i < sub->num_rects; ++i) {
    AVSubtitleRect* rect = sub->rects[i];
    auto* pal = reinterpret_cast<uint32_t*>(rect->data[1]);
    if (!pal) continue;
    for (int j = 0; j < rect->nb_colors; ++j) {
      const uint32_t c = pal[j];
      const int a = (c >> 24) & 0xff, r = (c >> 16) & 0xff, g = (c >> 8) & 0xff, b = c & 0xff;
      const int y = (263 * r + 517 * g + 101 * b + 16896) >> 10;
      const int u = ((-152 * r - 298 * g + 450 * b + 511) >> 10) + 128;
      const int v = ((450 * r - 377 * g - 74 * b + 511) >> 10) + 128;
      pal[j] = (uint32_t(a) << 24) | (uint32_t(y) << 16) | (uint32_t(u) << 8) | uint32_t(v);
    }
  }
}

}  // namespace vidmill::player
