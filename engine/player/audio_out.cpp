// Audio output of a playback: the SDL device and its callback (decode,
// resample to the device's format, synchronise, volume), the audio clock's
// writer side, and the wave and spectrum displays.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/ff_log.h"
#include "playback.h"

namespace vidmill::player {

int TPlayback::OpenAudioDevice(AVCodecContext* ctx) {
  SDL_AudioSpec wanted{}, obtained{};
  const int channels = ctx->ch_layout.nb_channels;
  wanted.freq = ctx->sample_rate;
  wanted.format = AUDIO_S16SYS;
  wanted.channels = static_cast<Uint8>((channels == 1 || channels == 2) ? channels : 2);
  wanted.silence = 0;
  wanted.samples = 1024;
  wanted.callback = &TPlayback::AudioCallbackThunk;
  wanted.userdata = this;
  const SDL_AudioDeviceID dev = sdl_.SDL_OpenAudioDevice(
      nullptr, 0, &wanted, &obtained, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE | SDL_AUDIO_ALLOW_CHANNELS_CHANGE);
  if (dev == 0) {
    Log(llError, std::string("SDL_OpenAudio() failed: ") + sdl_.SDL_GetError());
    return -1;
  }
  audio_dev_ = dev;
  audio_hw_buf_size_ = static_cast<int>(obtained.size);
  audio_out_rate_ = obtained.freq;
  audio_out_channels_ = obtained.channels;
  std::lock_guard s(stats_mu_);
  stats_.audio_rate = obtained.freq;
  stats_.audio_channels = obtained.channels;
  return 0;
}

// The sound starts with the first picture: decoding the first picture of a
// large video takes a while, and sound started before would leave the
// pictures behind from the start. A video that gives no picture within a
// second does not hold the sound back.
bool TPlayback::WaitingForFirstPicture() {
  if (!HasVideo() || opts_.display_disable || first_picture_ready_) return false;
  const int64_t now = ff::av_gettime_relative();
  int64_t started = audio_wait_start_.load();
  if (started == 0) {
    audio_wait_start_ = now;
    started = now;
  }
  return now - started < 1000000;
}

void SDLCALL TPlayback::AudioCallbackThunk(void* opaque, Uint8* stream, int len) {
  static_cast<TPlayback*>(opaque)->AudioCallback(stream, len);
}

void TPlayback::AudioCallback(uint8_t* stream, int len) {
  const int64_t callback_time = ff::av_gettime_relative();
  const int frame_bytes = 2 * audio_out_channels_;
  const int bytes_per_sec = audio_out_rate_ * frame_bytes;
  const int buffer_len = len;
  while (len > 0) {
    if (audio_buf_index_ >= audio_buf_size_) {
      double pts = 0;
      int size = AudioDecodeFrame(&pts);
      if (audioq_.Aborted()) {
        std::memset(stream, 0, static_cast<size_t>(len));
        audio_callback_time_ = callback_time;
        return;
      }
      if (size < 0) {
        audio_buf_ = silence_;
        size = static_cast<int>(sizeof silence_) / frame_bytes * frame_bytes;
      } else {
        if (owner_.audio_hook_ && owner_.OnAudioHook) {
          owner_.OnAudioHook(&owner_, std::llrint(pts * 1000000) - start_time_, audio_buf1_.data(), size,
                             audio_out_rate_, audio_out_channels_);
        }
        if (show_audio_ != 0) UpdateSampleArray(audio_buf1_.data(), size);
        size = SynchronizeAudio(size);
        audio_buf_ = audio_buf1_.data();
      }
      audio_buf_size_ = size;
      audio_buf_index_ = 0;
    }
    const int n = std::min(len, audio_buf_size_ - audio_buf_index_);
    const uint8_t* src = audio_buf_ + audio_buf_index_;
    const int volume = owner_.audio_volume_;
    if (owner_.mute_ || volume == 0) {
      std::memset(stream, 0, static_cast<size_t>(n));
    } else if (volume >= SDL_MIX_MAXVOLUME) {
      std::memcpy(stream, src, static_cast<size_t>(n));
    } else {
      std::memset(stream, 0, static_cast<size_t>(n));
      sdl_.SDL_MixAudioFormat(stream, src, AUDIO_S16SYS, static_cast<Uint32>(n), volume);
    }
    audio_buf_index_ += n;
    stream += n;
    len -= n;
  }
  // What the device starts playing now is the buffer just filled: its first
  // sample lies the buffer's length and the undelivered rest of the chunk
  // before the decoded time.
  const double span = static_cast<double>(buffer_len) / bytes_per_sec;
  audio_clock_heard_ =
      audio_clock_ - static_cast<double>(audio_buf_size_ - audio_buf_index_) / bytes_per_sec - span;
  audio_callback_span_ = span;
  audio_callback_time_ = callback_time;
}

// The next chunk of device-format samples in audio_buf1_: its size in bytes
// and its time, or -1 when there is nothing to play now.
int TPlayback::AudioDecodeFrame(double* pts) {
  if (!audio_pkt_) audio_pkt_ = NewPacket();
  if (!audio_frame_) audio_frame_ = NewFrame();
  const int bytes_per_sec = audio_out_rate_ * 2 * audio_out_channels_;
  for (;;) {
    const int ret = ff::avcodec_receive_frame(audio_dec_.get(), audio_frame_.get());
    if (ret >= 0) {
      if (audio_frame_->pts != AV_NOPTS_VALUE) {
        audio_clock_ = audio_frame_->pts * av_q2d(audio_st_->time_base);
      }
      const int size = ConvertAudio(audio_frame_.get());
      ff::av_frame_unref(audio_frame_.get());
      if (size <= 0) continue;
      *pts = audio_clock_;
      audio_clock_ = audio_clock_ + static_cast<double>(size) / bytes_per_sec;
      return size;
    }
    if (paused_ || audioq_.Aborted() || WaitingForFirstPicture()) return -1;
    TPacketKind kind;
    if (audioq_.Get(audio_pkt_.get(), &kind, false) <= 0) return -1;
    if (kind == TPacketKind::pkFlush) {
      ff::avcodec_flush_buffers(audio_dec_.get());
      continue;
    }
    if (kind != TPacketKind::pkData) continue;
    if (ff::avcodec_send_packet(audio_dec_.get(), audio_pkt_.get()) < 0) {
      Log(llInfo, "avcodec_decode_audio2() failed");
    }
    ff::av_packet_unref(audio_pkt_.get());
  }
}

int TPlayback::ConvertAudio(AVFrame* frame) {
  const int out_rate = audio_out_rate_, out_channels = audio_out_channels_;
  AVChannelLayout in_layout{};
  if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
    ff::av_channel_layout_default(&in_layout, frame->ch_layout.nb_channels);
  } else {
    ff::av_channel_layout_copy(&in_layout, &frame->ch_layout);
  }
  if (!swr_ || frame->format != swr_in_fmt_ || frame->sample_rate != swr_in_rate_ ||
      ff::av_channel_layout_compare(&in_layout, &swr_in_layout_) != 0) {
    swr_.reset();
    AVChannelLayout out_layout{};
    ff::av_channel_layout_default(&out_layout, out_channels);
    SwrContext* swr = nullptr;
    int err = ff::swr_alloc_set_opts2(&swr, &out_layout, AV_SAMPLE_FMT_S16, out_rate, &in_layout,
                                      static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0,
                                      nullptr);
    SwrPtr owned(swr);
    if (err >= 0) err = ff::swr_init(swr);
    ff::av_channel_layout_uninit(&out_layout);
    if (err < 0) {
      const char* name = ff::av_get_sample_fmt_name(static_cast<AVSampleFormat>(frame->format));
      Logf(llError, "Cannot convert %s sample format to %s sample format", name ? name : "?",
           ff::av_get_sample_fmt_name(AV_SAMPLE_FMT_S16));
      ff::av_channel_layout_uninit(&in_layout);
      return -1;
    }
    swr_ = std::move(owned);
    swr_in_fmt_ = frame->format;
    swr_in_rate_ = frame->sample_rate;
    ff::av_channel_layout_uninit(&swr_in_layout_);
    ff::av_channel_layout_copy(&swr_in_layout_, &in_layout);
  }
  ff::av_channel_layout_uninit(&in_layout);
  const int out_count = static_cast<int>(
      ff::av_rescale_rnd(ff::swr_get_delay(swr_.get(), frame->sample_rate) + frame->nb_samples, out_rate,
                         frame->sample_rate, AV_ROUND_UP) + 256);
  // Room for the samples and for lengthening the chunk by a tenth.
  const size_t need = static_cast<size_t>(out_count) * out_channels * 2 * 11 / 10 + 64;
  if (audio_buf1_.size() < need) audio_buf1_.resize(need);
  uint8_t* out = audio_buf1_.data();
  const int n = ff::swr_convert(swr_.get(), &out, out_count,
                                const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
  if (n < 0) {
    Log(llError, "av_audio_convert() failed");
    return -1;
  }
  return n * out_channels * 2;
}

// Stretches or shortens a chunk towards the master clock when the sound is
// not the master. Returns the new size in bytes.
int TPlayback::SynchronizeAudio(int size) {
  const bool audio_is_master =
      opts_.av_sync_type == AV_SYNC_AUDIO_MASTER ||
      (opts_.av_sync_type == AV_SYNC_VIDEO_MASTER && !HasVideo());
  if (audio_is_master) return size;
  const double diff = AudioClock() - MasterClock();
  if (std::fabs(diff) >= kNoSyncThreshold) {
    audio_diff_avg_count_ = 0;
    audio_diff_cum_ = 0;
    return size;
  }
  audio_diff_cum_ = diff + audio_diff_avg_coef_ * audio_diff_cum_;
  if (audio_diff_avg_count_ < 20) {
    ++audio_diff_avg_count_;
    return size;
  }
  const double avg = audio_diff_cum_ * (1 - audio_diff_avg_coef_);
  if (std::fabs(avg) < audio_diff_threshold_) return size;
  const int frame = 2 * audio_out_channels_;
  const int samples = size / frame;
  int wanted = size + static_cast<int>(std::lrint(diff * audio_out_rate_)) * frame;
  wanted = std::clamp(wanted, samples * 90 / 100 * frame, samples * 110 / 100 * frame);
  wanted = std::min(wanted, static_cast<int>(audio_buf1_.size()) / frame * frame);
  if (wanted > size) {
    // The added samples repeat the chunk's last sample frame.
    uint8_t* buf = audio_buf1_.data();
    for (int at = size; at < wanted; at += frame) std::memcpy(buf + at, buf + size - frame, frame);
  }
  return wanted;
}

void TPlayback::UpdateSampleArray(const uint8_t* samples, int size) {
  const auto* s = reinterpret_cast<const int16_t*>(samples);
  int count = size / 2;
  std::lock_guard lock(sample_mu_);
  if (sample_array_.empty()) sample_array_.assign(kSampleArraySize, 0);
  while (count > 0) {
    const int len = std::min(count, kSampleArraySize - sample_array_index_);
    std::memcpy(&sample_array_[sample_array_index_], s, static_cast<size_t>(len) * 2);
    s += len;
    count -= len;
    sample_array_index_ += len;
    if (sample_array_index_ >= kSampleArraySize) sample_array_index_ = 0;
  }
}

// --- audio displays (play thread) --------------------------------------------

namespace {

int Wrap(int i) {
  i %= kSampleArraySize;
  return i < 0 ? i + kSampleArraySize : i;
}

}  // namespace

// Under sample_mu_: where the display starts in the sample ring.
int TPlayback::AudioDisplayStart(int channels, int data_used) {
  if (paused_) return last_i_start_;
  int delay = (audio_buf_size_ - audio_buf_index_) / (2 * channels);
  const int64_t callback_time = audio_callback_time_;
  if (callback_time) {
    delay -= static_cast<int>((ff::av_gettime_relative() - callback_time) * audio_out_rate_ / 1000000);
  }
  delay += 2 * data_used;
  delay = std::max(delay, data_used);
  int start = Wrap(sample_array_index_ - delay * channels);
  if (show_audio_ == saWave) {
    int best = -32768 * 2 - 1;
    for (int i = 0; i < 1000; i += channels) {
      const int idx = Wrap(start - i);
      const int a = sample_array_[idx];
      const int b = sample_array_[Wrap(idx + 4 * channels)];
      const int c = sample_array_[Wrap(idx + 5 * channels)];
      const int d = sample_array_[Wrap(idx + 9 * channels)];
      const int score = a - d;
      if (score > best && b * c < 0) {
        best = score;
        start = idx;
      }
    }
  }
  last_i_start_ = start;
  return start;
}

void TPlayback::AudioDisplay() {
  const int channels = std::max(1, audio_out_channels_.load());
  if (width_ <= 0 || height_ <= 0) return;
  int rdft_bits = 1;
  while ((1 << rdft_bits) < 2 * height_) ++rdft_bits;
  const int nb_freq = 1 << (rdft_bits - 1);
  std::vector<int16_t> samples;
  int start;
  {
    std::lock_guard lock(sample_mu_);
    if (sample_array_.empty()) sample_array_.assign(kSampleArraySize, 0);
    start = AudioDisplayStart(channels, show_audio_ == saWave ? width_ : 2 * nb_freq);
    samples = sample_array_;
  }
  std::lock_guard lock(SDLCallLock());
  if (show_audio_ == saWave) {
    sdl_.SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
    sdl_.SDL_RenderClear(renderer_);
    sdl_.SDL_SetRenderDrawColor(renderer_, 255, 255, 255, 255);
    const int h = height_ / channels;
    const int h2 = h * 9 / 20;
    for (int ch = 0; ch < channels; ++ch) {
      int i = Wrap(start + ch);
      const int y1 = ytop_ + ch * h + h / 2;
      for (int x = 0; x < width_; ++x) {
        const int v = (samples[i] * h2) >> 15;
        sdl_.SDL_RenderDrawLine(renderer_, xleft_ + x, y1, xleft_ + x, y1 + v);
        i = Wrap(i + channels);
      }
    }
    for (int ch = 1; ch < channels; ++ch) {
      const int y = ytop_ + ch * h;
      sdl_.SDL_RenderDrawLine(renderer_, xleft_, y, xleft_ + width_ - 1, y);
    }
    sdl_.SDL_RenderPresent(renderer_);
    return;
  }
  // Spectrum: one new column per display, scrolling across the area.
  const int shown_channels = std::min(channels, 2);
  if (rdft_bits != rdft_bits_) {
    if (rdft_) ff::av_tx_uninit(reinterpret_cast<AVTXContext**>(&rdft_));
    const float scale = 1.0f;
    AVTXContext* tx = nullptr;
    ff::av_tx_init(&tx, &rdft_fn_, AV_TX_FLOAT_RDFT, 0, 2 * nb_freq, &scale, AV_TX_UNALIGNED);
    rdft_ = tx;
    rdft_bits_ = rdft_bits;
    rdft_in_.assign(static_cast<size_t>(2 * nb_freq) * 2, 0.f);
    rdft_out_.assign(static_cast<size_t>(nb_freq + 1) * 2 * 2, AVComplexFloat{0, 0});
  }
  if (!rdft_) return;
  for (int ch = 0; ch < shown_channels; ++ch) {
    float* in = &rdft_in_[static_cast<size_t>(2 * nb_freq) * ch];
    AVComplexFloat* out = &rdft_out_[static_cast<size_t>(nb_freq + 1) * ch];
    int i = Wrap(start + ch);
    for (int x = 0; x < 2 * nb_freq; ++x) {
      const double w = static_cast<double>(x - nb_freq) / nb_freq;
      in[x] = static_cast<float>(samples[i] * (1.0 - w * w));
      i = Wrap(i + channels);
    }
    rdft_fn_(reinterpret_cast<AVTXContext*>(rdft_), out, in, sizeof(float));
  }
  if (!spectrum_ || spectrum_w_ != width_ || spectrum_h_ != height_) {
    if (spectrum_) sdl_.SDL_DestroyTexture(spectrum_);
    spectrum_ = sdl_.SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING,
                                       width_, height_);
    spectrum_w_ = width_;
    spectrum_h_ = height_;
    xpos_ = 0;
  }
  if (!spectrum_) return;
  std::vector<uint32_t> column(static_cast<size_t>(height_));
  const double s = 1.0 / std::sqrt(nb_freq);
  auto magnitude = [&](int ch, int y) {
    const AVComplexFloat c = rdft_out_[static_cast<size_t>(nb_freq + 1) * ch + y];
    const double m = std::sqrt(s * std::sqrt(double(c.re) * c.re + double(c.im) * c.im));
    return std::min(255, static_cast<int>(std::lrint(m)));
  };
  for (int y = 0; y < height_; ++y) {
    const int a = magnitude(0, y);
    const int b = shown_channels > 1 ? magnitude(1, y) : a;
    column[static_cast<size_t>(height_ - 1 - y)] =
        0xff000000u | (uint32_t(a) << 16) | (uint32_t(b) << 8) | uint32_t((a + b) / 2);
  }
  const SDL_Rect col{xpos_, 0, 1, height_};
  sdl_.SDL_UpdateTexture(spectrum_, &col, column.data(), 4);
  sdl_.SDL_RenderCopy(renderer_, spectrum_, nullptr, nullptr);
  sdl_.SDL_RenderPresent(renderer_);
  if (++xpos_ >= width_) xpos_ = 0;
}

}  // namespace vidmill::player
