// The read thread of a playback: opening the input, choosing streams,
// reading packets into the queues, seeking, switching streams, end of input.
#include <cmath>
#include <cstdarg>

#include "core/ff_log.h"
#include "core/ff_utils.h"
#include "core/interrupt_cb.h"
#include "core/main_thread.h"
#include "core/unicode_protocol.h"
#include "playback.h"
#include "sync_event.h"

namespace vidmill::player {
namespace {

int64_t Now() { return ff::av_gettime_relative(); }

void SleepMs(int ms) { ff::av_usleep(static_cast<unsigned>(ms) * 1000); }

}  // namespace

void TPlayback::Log(int level, const std::string& msg) const {
  TFFLogger::Process().Log(&owner_, static_cast<TLogLevel>(level), msg);
}

void TPlayback::Logf(int level, const char* fmt, ...) const {
  char buf[1024];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  Log(level, buf);
}

bool TPlayback::Start(const std::string& filename, bool paused) {
  filename_ = filename;
  if (paused) {
    paused_ = true;
    open_paused_ = 1;
    owner_.step_ = false;
  }
  try {
    read_tid_ = std::thread([this] { ReadThread(); });
  } catch (const std::system_error&) {
    owner_.SetLastErrMsg("SDL_CreateThread() failed.");
    Log(llError, "SDL_CreateThread() failed.");
    return false;
  }
  main_thread::WaitPumping([this] { return opened_.load() != 0; }, std::chrono::milliseconds(10));
  if (opened_.load() > 0) {
    if (!HasVideo() && !opts_.display_disable) show_audio_ = opts_.show_audio;
    refresh_tid_ = std::thread([this] { RefreshThread(); });
    return true;
  }
  main_thread::WaitPumping([this] { return opened_.load() != -1; }, std::chrono::milliseconds(10));
  Close();
  return false;
}

// Asked by the libraries while they block in this playback's read thread.
// Must not log: the interrupt registry's lock is held.
bool TPlayback::InterruptRequested() {
  if (abort_request_.load()) return true;
  if (opened_.load() != 0) return false;
  const int64_t last = owner_.last_read_.load();
  if (last == 0 || owner_.open_cancel_) return true;  // a stop cancels the open
  return opts_.read_timeout_ms > 0 && last != INT64_MAX &&
         Now() - last > int64_t{opts_.read_timeout_ms} * 1000;
}

void TPlayback::ReadThread() {
  TInterruptScope scope(this, [this] { return InterruptRequested(); });
  const int result = OpenInput();
  if (result == 0) ReadLoop();
  EndPhase(result);
}

int TPlayback::OpenInput() {
  owner_.last_read_ = INT64_MAX;
  AVDictionary* format_opts = nullptr;
  if (opts_.frame_width > 0 && opts_.frame_height > 0) {
    const std::string size = std::to_string(opts_.frame_width) + "x" + std::to_string(opts_.frame_height);
    ff::av_dict_set(&format_opts, "video_size", size.c_str(), 0);
  }
  if (opts_.frame_pix_fmt >= 0) {
    ff::av_dict_set(&format_opts, "pixel_format",
                    ff::av_get_pix_fmt_name(static_cast<AVPixelFormat>(opts_.frame_pix_fmt)), 0);
  }
  const AVInputFormat* iformat =
      opts_.file_iformat.empty() ? nullptr : ff::av_find_input_format(opts_.file_iformat.c_str());

  AVFormatContext* ic = ff::avformat_alloc_context();
  if (!ic) {
    ff::av_dict_free(&format_opts);
    owner_.SetLastErrMsg(ErrorText(filename_, AVERROR(ENOMEM)));
    return -1;
  }
  SetRegistryInterrupt(ic);
  if (opts_.genpts) ic->flags |= AVFMT_FLAG_GENPTS;
  owner_.last_read_ = Now();
  const int err = vidmill::OpenInput(&ic, filename_, iformat, &format_opts);
  ff::av_dict_free(&format_opts);
  auto cancelled = [this] {
    if (owner_.last_read_.load() == 0 || owner_.open_cancel_ || abort_request_.load()) {
      Log(llInfo, "connecting/reading canceled");
      owner_.SetLastErrMsg(filename_ + ": connecting/reading canceled");
      return true;
    }
    return false;
  };
  if (err < 0) {
    if (!cancelled()) {
      if (err == AVERROR_EXIT) Log(llInfo, "connecting/reading timeout");
      owner_.SetLastErrMsg(ErrorText(filename_, err));
    }
    return -1;
  }
  ic_ = ic;
  if (owner_.OnBeforeFindStreamInfo) owner_.OnBeforeFindStreamInfo(&owner_, ic_);

  owner_.last_read_ = Now();
  if (ff::avformat_find_stream_info(ic_, nullptr) < 0) {
    if (!cancelled()) owner_.SetLastErrMsg(filename_ + ": could not find codec parameters");
    return -1;
  }
  if (ic_->pb) {
    ic_->pb->eof_reached = 0;
    ic_->pb->error = 0;
  }
  const char* fmt_name = ic_->iformat ? ic_->iformat->name : "";
  is_image2_ = std::string(fmt_name) == "image2";
  is_device_ = ic_->iformat && ic_->iformat->priv_class &&
               AV_IS_INPUT_DEVICE(ic_->iformat->priv_class->category);
  if (ic_->start_time != AV_NOPTS_VALUE) start_time_ = ic_->start_time;
  duration_ = ic_->duration != AV_NOPTS_VALUE ? ic_->duration : -1;
  bit_rate_ = ic_->bit_rate;

  if (opts_.start_time != INT64_MIN) {
    int64_t target = opts_.start_time;
    if (ic_->start_time != AV_NOPTS_VALUE) target += ic_->start_time;
    owner_.last_read_ = Now();
    if (ff::avformat_seek_file(ic_, -1, INT64_MIN, target, INT64_MAX, 0) < 0) {
      Logf(llError, "%s: could not seek to position %0.3f", filename_.c_str(),
           static_cast<double>(target) / AV_TIME_BASE);
    }
  }

  for (unsigned i = 0; i < ic_->nb_streams; ++i) ic_->streams[i]->discard = AVDISCARD_ALL;
  auto wanted = [this](AVMediaType t) { return opts_.wanted_stream[t + 1]; };
  int video_index = -1, audio_index = -1, subtitle_index = -1;
  if (!opts_.video_disable) {
    video_index = ff::av_find_best_stream(ic_, AVMEDIA_TYPE_VIDEO, wanted(AVMEDIA_TYPE_VIDEO), -1, nullptr, 0);
  }
  if (!opts_.audio_disable) {
    audio_index = ff::av_find_best_stream(ic_, AVMEDIA_TYPE_AUDIO, wanted(AVMEDIA_TYPE_AUDIO),
                                          video_index, nullptr, 0);
  }
  if (!opts_.video_disable) {
    subtitle_index = ff::av_find_best_stream(ic_, AVMEDIA_TYPE_SUBTITLE, wanted(AVMEDIA_TYPE_SUBTITLE),
                                             audio_index >= 0 ? audio_index : video_index, nullptr, 0);
  }
  owner_.last_read_ = INT64_MAX;
  owner_.playback_cb_ = this;
  if (cancelled()) return -1;

  if (audio_index >= 0) StreamComponentOpen(audio_index);
  int ret = -1;
  if (video_index >= 0) ret = StreamComponentOpen(video_index);
  if (ret < 0 && !opts_.display_disable) show_audio_ = saRDFT;
  if (subtitle_index >= 0) StreamComponentOpen(subtitle_index);

  if (video_stream_ < 0 && audio_stream_ < 0) {
    owner_.SetLastErrMsg(filename_ + ": could not open codecs, no stream to play.");
    return -1;
  }
  // A stop that came while the streams were opening ends the open too.
  if (cancelled()) return -1;
  opened_ = 1;
  return 0;
}

bool TPlayback::QueuesFull() const {
  const int64_t total = int64_t{audioq_.Size()} + videoq_.Size() + subtitleq_.Size();
  if (total > kMaxQueueBytes) return true;
  return (audioq_.Size() > kMinAudioQueueBytes || audio_stream_ < 0) &&
         (videoq_.Count() > kMinFrames || video_stream_ < 0) &&
         (subtitleq_.Count() > kMinFrames || subtitle_stream_ < 0);
}

void TPlayback::ReadLoop() {
  bool eof = false;
  bool last_paused = false;
  bool io_eof_logged = false, io_err_logged = false;
  PacketPtr pkt = NewPacket();
  auto queues_empty = [this] { return audioq_.Size() + videoq_.Size() + subtitleq_.Size() == 0; };
  auto drain_video = [this] {
    if (video_stream_ >= 0) {
      if (videoq_.Count() == 0) videoq_.PutEmpty();
      owner_.pict_event_->Set();
    }
  };

  while (!abort_request_) {
    if (paused_ != last_paused) {
      last_paused = paused_;
      if (last_paused) {
        read_pause_return_ = ff::av_read_pause(ic_);
      } else {
        ff::av_read_play(ic_);
      }
    }
    if (SwitchPending()) {
      DoStreamSwitch();  // reads the new stream from the current position
      io_eof_logged = io_err_logged = false;
      eof = false;
    }
    if (seek_req_.load(std::memory_order_acquire)) {
      DoSeek(seek_pos_, seek_rel_, seek_flags_);
      io_eof_logged = io_err_logged = false;
      eof = false;
    }
    if (QueuesFull()) {
      SleepMs(10);
      continue;
    }
    if (eof) {
      drain_video();
      SleepMs(10);
      if (queues_empty()) reach_eof_ = true;
      continue;
    }
    reading_ = true;
    const int ret = ff::av_read_frame(ic_, pkt.get());
    reading_ = false;
    if (abort_request_) break;
    if (ret < 0) {
      if (video_stream_ >= 0) owner_.pict_event_->Set();
      AVIOContext* pb = ic_->pb;
      auto at_end = [&] {
        eof = true;
        if (!is_image2_ && !io_eof_logged) {
          Logf(llInfo, "reach end of file: %s", filename_.c_str());
          io_eof_logged = true;
        }
      };
      if (ret == AVERROR(EAGAIN)) {
        if (pb) pb->eof_reached = pb->error = 0;
      } else if (ret == AVERROR_EOF) {
        at_end();
      } else if (pb && pb->error == AVERROR(EAGAIN)) {
        pb->eof_reached = pb->error = 0;
      } else if (pb && ff::avio_feof(pb)) {
        if (opts_.check_io_eof) {
          at_end();
        } else {
          pb->eof_reached = pb->error = 0;
        }
      } else if (!is_image2_ && !io_err_logged) {
        Logf(llError, "error #%d while reading file: %s", ret, filename_.c_str());
        io_err_logged = true;
      }
      if (pb && pb->error) {
        if (opts_.check_io_err) break;
        pb->eof_reached = pb->error = 0;
      }
      // A source that keeps failing ends like one at its end once what
      // was read before has been played.
      if (!eof && queues_empty()) reach_eof_ = true;
      SleepMs(100);
      continue;
    }
    read_pos_ = pkt->pos;
    if (pkt->stream_index == audio_stream_) {
      audioq_.Put(pkt.get());
    } else if (pkt->stream_index == video_stream_) {
      videoq_.Put(pkt.get());
    } else if (pkt->stream_index == subtitle_stream_) {
      subtitleq_.Put(pkt.get());
    } else {
      ff::av_packet_unref(pkt.get());
    }
  }
  // Reading stopped on an I/O error: play what is queued, then report the end.
  while (!abort_request_) {
    if (SwitchPending()) DoStreamSwitch();
    drain_video();
    if (queues_empty()) reach_eof_ = true;
    SleepMs(100);
  }
}

void TPlayback::DoSeek(int64_t target, int64_t rel, int flags) {
  const int64_t min = rel > 0 ? target - rel + 2 : INT64_MIN;
  const int64_t max = rel < 0 ? target - rel - 2 : INT64_MAX;
  int ret = ff::avformat_seek_file(ic_, -1, min, target, max, flags);
  if (ret < 0) ret = ff::av_seek_frame(ic_, -1, target, flags);
  if (ret < 0) ret = ff::av_seek_frame(ic_, -1, target, flags ^ AVSEEK_FLAG_BACKWARD);
  if (ret < 0) {
    Logf(llError, "%s: error while seeking", filename_.c_str());
    if (video_stream_ >= 0) owner_.pict_event_->Set();
  } else {
    // Marked before the flush goes out, so that the first picture after it
    // always finds the mark to clear.
    if (video_stream_ >= 0) seek_flushed_ = false;
    seek_done_ = true;
    if (audio_stream_ >= 0) {
      audioq_.Flush();
      audioq_.PutFlush();
    }
    if (subtitle_stream_ >= 0) {
      subtitleq_.Flush();
      subtitleq_.PutFlush();
    }
    if (video_stream_ >= 0) {
      videoq_.Flush();
      videoq_.PutFlush();
      owner_.pict_event_->Reset();
    }
  }
  reach_eof_ = false;
  seek_done_ = true;
  seek_req_ = false;
  owner_.seek_event_->Set();
  if (video_stream_ < 0) owner_.seeking_ = false;
}

int TPlayback::StreamIndex(int media_type) const {
  switch (media_type) {
    case AVMEDIA_TYPE_VIDEO: return video_stream_;
    case AVMEDIA_TYPE_AUDIO: return audio_stream_;
    case AVMEDIA_TYPE_SUBTITLE: return subtitle_stream_;
    default: return -1;
  }
}

bool TPlayback::RequestStreamSwitch(int media_type, int index) {
  auto refuse = [this](const char* msg) {
    owner_.SetLastErrMsg(msg);
    Log(llError, msg);
    return false;
  };
  const int current = StreamIndex(media_type);
  const bool is_sub = media_type == AVMEDIA_TYPE_SUBTITLE;
  if (media_type != AVMEDIA_TYPE_VIDEO && media_type != AVMEDIA_TYPE_AUDIO && !is_sub) {
    return refuse("the stream type is invalid.");
  }
  std::unique_lock ic_lock(ic_mu_);
  if (current < (is_sub ? -1 : 0) || !ic_) return refuse("the current stream is not valid.");
  if (index < (is_sub ? -1 : 0) || index >= static_cast<int>(ic_->nb_streams)) {
    return refuse("the stream index is not valid.");
  }
  if (index == current) return true;
  if (index >= 0) {
    const AVCodecParameters* par = ic_->streams[index]->codecpar;
    if (par->codec_type != media_type) return refuse("the stream type is not matched.");
    if (media_type == AVMEDIA_TYPE_AUDIO && (par->sample_rate == 0 || par->ch_layout.nb_channels == 0)) {
      return refuse("the audio stream is not invalid.");
    }
  }
  ic_lock.unlock();
  {
    std::lock_guard lock(switch_mu_);
    switch_req_ = true;
    switch_type_ = media_type;
    switch_index_ = index;
    switch_result_ = 0;
  }
  main_thread::WaitPumping([&] {
    std::lock_guard lock(switch_mu_);
    return switch_result_ != 0 || abort_request_.load() || read_done_.load();
  });
  std::lock_guard lock(switch_mu_);
  switch_req_ = false;
  if (switch_result_ < 0) {
    owner_.SetLastErrMsg(filename_ + ": could not open stream " + std::to_string(index) + ".");
    return false;
  }
  return switch_result_ > 0;
}

bool TPlayback::SwitchPending() {
  std::lock_guard lock(switch_mu_);
  return switch_req_ && switch_result_ == 0;
}

void TPlayback::DoStreamSwitch() {
  int type, index;
  {
    std::lock_guard lock(switch_mu_);
    type = switch_type_;
    index = switch_index_;
  }
  const int current = StreamIndex(type);
  const double position = MasterClock();
  if (current >= 0) StreamComponentClose(current);
  int result = 1;
  if (index >= 0 && StreamComponentOpen(index) < 0) result = -1;
  if (result > 0 && index >= 0) {
    // What was read ahead is gone with the old stream: read the new one from
    // where the playback is now, so that it takes effect at once.
    seek_paused_ = paused_.load();
    DoSeek(std::llrint(position * 1000000), 0, AVSEEK_FLAG_BACKWARD);
  }
  std::lock_guard lock(switch_mu_);
  switch_result_ = result;
}

int TPlayback::StreamComponentOpen(int index) {
  if (index < 0 || index >= static_cast<int>(ic_->nb_streams)) return -1;
  AVStream* st = ic_->streams[index];
  const AVCodecParameters* par = st->codecpar;
  const AVCodec* codec = ff::avcodec_find_decoder(par->codec_id);
  CodecContextPtr ctx(ff::avcodec_alloc_context3(codec));
  bool ok = codec && ctx && ff::avcodec_parameters_to_context(ctx.get(), par) >= 0;
  if (ok) {
    ctx->pkt_timebase = st->time_base;
    ctx->debug = opts_.debug;
    ctx->workaround_bugs = opts_.workaround_bugs;
    ctx->lowres = std::min(opts_.lowres, static_cast<int>(codec->max_lowres));
    ctx->idct_algo = opts_.idct_algo;
    if (opts_.fast) ctx->flags2 |= AV_CODEC_FLAG2_FAST;
    ctx->skip_frame = static_cast<AVDiscard>(opts_.skip_frame);
    ctx->skip_idct = static_cast<AVDiscard>(opts_.skip_idct);
    ctx->skip_loop_filter = static_cast<AVDiscard>(opts_.skip_loop_filter);
    ctx->error_concealment = opts_.error_concealment;
    ctx->thread_count = par->codec_type == AVMEDIA_TYPE_VIDEO ? opts_.decoder_threads : 1;
    ok = ff::avcodec_open2(ctx.get(), codec, nullptr) >= 0;
  }
  if (!ok) {
    Log(llError, "avcodec_open() failed.");
    return -1;
  }
  if (par->codec_type == AVMEDIA_TYPE_AUDIO && OpenAudioDevice(ctx.get()) < 0) return -1;
  st->discard = AVDISCARD_DEFAULT;

  switch (par->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
      audio_st_ = st;
      audio_dec_ = std::move(ctx);
      audio_duration_ = st->duration != AV_NOPTS_VALUE
                            ? ff::av_rescale_q(st->duration, st->time_base, AVRational{1, AV_TIME_BASE})
                            : -1;
      audio_buf_size_ = 0;
      audio_buf_index_ = 0;
      audio_diff_avg_coef_ = std::exp(std::log(0.01) / 20);
      audio_diff_avg_count_ = 0;
      audio_diff_cum_ = 0;
      audio_diff_threshold_ = 2.0 * 1024 / audio_out_rate_;
      audio_need_packet_ = true;
      audioq_.Start();
      audioq_.PutFlush();
      audio_stream_ = index;
      sdl_.SDL_PauseAudioDevice(audio_dev_, 0);
      break;
    case AVMEDIA_TYPE_SUBTITLE:
      subtitle_st_ = st;
      subtitle_dec_ = std::move(ctx);
      subtitleq_.Start();
      subtitleq_.PutFlush();
      {
        std::lock_guard lock(subpq_mu_);
        subtitle_stream_changed_ = false;
      }
      subtitle_stream_ = index;
      subtitle_tid_ = std::thread([this] { SubtitleThread(); });
      break;
    case AVMEDIA_TYPE_VIDEO: {
      video_st_ = st;
      video_width_ = ctx->width;
      video_height_ = ctx->height;
      video_dec_ = std::move(ctx);
      AVRational rate = ff::av_guess_frame_rate(ic_, st, nullptr);
      video_rate_ = rate;
      video_sar_ = ff::av_guess_sample_aspect_ratio(ic_, st, nullptr);
      if (!opts_.auto_adjust_frame_rate && st->r_frame_rate.num > 0) rate = st->r_frame_rate;
      AVRational forced{0, 0};
      if (!opts_.force_frame_rate.empty() &&
          ff::av_parse_video_rate(&forced, opts_.force_frame_rate.c_str()) >= 0 && forced.num > 0) {
        Logf(llInfo, "Force stream %d frame rate: %2.2f (%d/%d) -> %2.2f (%d/%d)", index,
             rate.den ? av_q2d(rate) : 0.0, rate.num, rate.den, av_q2d(forced), forced.num, forced.den);
        rate = forced;
      } else if (opts_.auto_adjust_frame_rate && st->r_frame_rate.num > 0 &&
                 av_cmp_q(rate, st->r_frame_rate) != 0) {
        Logf(llInfo, "Seems stream %d codec frame rate differs from container frame rate: %2.2f (%d/%d) -> %2.2f (%d/%d)",
             index, av_q2d(st->r_frame_rate), st->r_frame_rate.num, st->r_frame_rate.den,
             av_q2d(rate), rate.num, rate.den);
      }
      frame_delay_ = (rate.num > 0 && rate.den > 0) ? av_q2d(av_inv_q(rate)) : 0.04;
      videoq_.Start();
      videoq_.PutFlush();
      video_stream_ = index;
      video_tid_ = std::thread([this] { VideoThread(); });
      break;
    }
    default:
      break;
  }
  return 0;
}

void TPlayback::StreamComponentClose(int index) {
  if (!ic_ || index < 0 || index >= static_cast<int>(ic_->nb_streams)) return;
  AVStream* st = ic_->streams[index];
  switch (st->codecpar->codec_type) {
    case AVMEDIA_TYPE_VIDEO:
      videoq_.Abort();
      {
        std::lock_guard lock(pictq_mu_);
      }
      pictq_cond_.notify_all();
      if (video_tid_.joinable()) video_tid_.join();
      videoq_.Flush();
      video_stream_ = -1;
      video_st_ = nullptr;
      video_dec_.reset();
      chain_.reset();
      break;
    case AVMEDIA_TYPE_AUDIO:
      audioq_.Abort();
      if (audio_dev_) sdl_.SDL_CloseAudioDevice(audio_dev_);  // waits for the callback
      audio_dev_ = 0;
      audioq_.Flush();
      audio_stream_ = -1;
      audio_st_ = nullptr;
      audio_dec_.reset();
      swr_.reset();
      audio_duration_ = -1;
      break;
    case AVMEDIA_TYPE_SUBTITLE:
      subtitleq_.Abort();
      {
        std::lock_guard lock(subpq_mu_);
        subtitle_stream_changed_ = true;
      }
      subpq_cond_.notify_all();
      if (subtitle_tid_.joinable()) subtitle_tid_.join();
      subtitleq_.Flush();
      {
        // The old stream's subtitles must not be drawn over the new stream's.
        std::lock_guard lock(subpq_mu_);
        for (; subpq_size_ > 0; --subpq_size_) {
          subpq_[subpq_rindex_].Free();
          subpq_rindex_ = (subpq_rindex_ + 1) % kSubtitleQueueSize;
        }
        subtitle_stream_changed_ = false;
      }
      subtitle_stream_ = -1;
      subtitle_st_ = nullptr;
      subtitle_dec_.reset();
      break;
    default:
      break;
  }
  st->discard = AVDISCARD_ALL;
}

void TPlayback::EndPhase(int result) {
  if (opened_ != 1) opened_ = -1;
  owner_.last_read_ = INT64_MAX;
  owner_.playback_cb_ = nullptr;
  if (audio_stream_ >= 0) StreamComponentClose(audio_stream_);
  if (video_stream_ >= 0) StreamComponentClose(video_stream_);
  if (subtitle_stream_ >= 0) StreamComponentClose(subtitle_stream_);
  {
    // The probe must let go of the context before it is closed.
    auto decoder_lock = owner_.LockDecoder();
    owner_.DetachDecoder(this);
    std::lock_guard lock(ic_mu_);
    CloseInput(&ic_);
  }
  if (result != 0) PushEvent(TPlayEventKind::evQuit);
  read_done_ = true;
  int expected = -1;
  opened_.compare_exchange_strong(expected, -2);
}

void TPlayback::RequestSeek(int64_t pos, int64_t rel, int flags) {
  if (seek_req_) return;
  owner_.seeking_ = true;
  seek_paused_ = paused_.load();
  seek_pos_ = pos;
  seek_rel_ = rel;
  seek_flags_ = flags & 0x0F;
  owner_.seek_event_->Reset();
  seek_req_.store(true, std::memory_order_release);
}

int64_t TPlayback::ByteOffset() const {
  std::lock_guard lock(clock_mu_);
  return video_current_pos_ >= 0 ? video_current_pos_ : read_pos_.load();
}

int64_t TPlayback::BitRate() const { return bit_rate_; }

}  // namespace vidmill::player
