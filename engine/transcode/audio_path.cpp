#include "audio_path.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "core/entry_points.h"
#include "core/ff_utils.h"
#include "ffmpeg_exception.h"

namespace vidmill {

namespace {

template <typename T>
void ScaleIntegers(T* p, size_t n, int volume, int64_t lo, int64_t hi, int64_t bias) {
  for (size_t i = 0; i < n; ++i) {
    const int64_t s = static_cast<int64_t>(p[i]) - bias;
    const int64_t v = (s * volume + 128) >> 8;
    p[i] = static_cast<T>(std::clamp(v, lo, hi) + bias);
  }
}

void ScaleS64(int64_t* p, size_t n, int volume) {
  for (size_t i = 0; i < n; ++i) {
    const __int128 v = (static_cast<__int128>(p[i]) * volume + 128) >> 8;
    p[i] = static_cast<int64_t>(std::clamp<__int128>(v, INT64_MIN, INT64_MAX));
  }
}

template <typename T>
void ScaleFloats(T* p, size_t n, int volume) {
  const T factor = static_cast<T>(volume) / static_cast<T>(256);
  for (size_t i = 0; i < n; ++i) p[i] *= factor;
}

void ScalePlane(uint8_t* data, size_t n, AVSampleFormat packed, int volume) {
  switch (packed) {
    case AV_SAMPLE_FMT_U8: ScaleIntegers(data, n, volume, -128, 127, 128); break;
    case AV_SAMPLE_FMT_S16: ScaleIntegers(reinterpret_cast<int16_t*>(data), n, volume, INT16_MIN, INT16_MAX, 0); break;
    case AV_SAMPLE_FMT_S32: ScaleIntegers(reinterpret_cast<int32_t*>(data), n, volume, INT32_MIN, INT32_MAX, 0); break;
    case AV_SAMPLE_FMT_S64: ScaleS64(reinterpret_cast<int64_t*>(data), n, volume); break;
    case AV_SAMPLE_FMT_FLT: ScaleFloats(reinterpret_cast<float*>(data), n, volume); break;
    case AV_SAMPLE_FMT_DBL: ScaleFloats(reinterpret_cast<double*>(data), n, volume); break;
    default: break;
  }
}

bool SameLayout(const AVChannelLayout& a, const AVChannelLayout& b) {
  return ff::av_channel_layout_compare(&a, &b) == 0;
}

// A layout the resampler understands: an unspecified order becomes the
// default layout of its channel count.
AVChannelLayout UsableLayout(const AVChannelLayout& layout) {
  AVChannelLayout out{};
  if (layout.order == AV_CHANNEL_ORDER_UNSPEC || layout.nb_channels == 0) {
    ff::av_channel_layout_default(&out, std::max(1, layout.nb_channels));
  } else {
    ff::av_channel_layout_copy(&out, &layout);
  }
  return out;
}

const char* SampleFormatName(AVSampleFormat f) {
  const char* name = ff::av_get_sample_fmt_name(f);
  return name ? name : "none";
}

}  // namespace

void ApplyVolume(AVFrame* frame, int volume) {
  if (volume == 256 || !frame || frame->nb_samples <= 0) return;
  const auto format = static_cast<AVSampleFormat>(frame->format);
  const AVSampleFormat packed = ff::av_get_packed_sample_fmt(format);
  const int channels = frame->ch_layout.nb_channels;
  const size_t samples = static_cast<size_t>(frame->nb_samples);
  if (ff::av_sample_fmt_is_planar(format)) {
    for (int ch = 0; ch < channels; ++ch) ScalePlane(frame->extended_data[ch], samples, packed, volume);
  } else {
    ScalePlane(frame->extended_data[0], samples * static_cast<size_t>(channels), packed, volume);
  }
}

void WithPackedSamples(AVFrame* frame,
                       const std::function<void(uint8_t* samples, int size, AVSampleFormat format)>& hook) {
  const auto format = static_cast<AVSampleFormat>(frame->format);
  const AVSampleFormat packed = ff::av_get_packed_sample_fmt(format);
  const int channels = frame->ch_layout.nb_channels;
  const int bps = ff::av_get_bytes_per_sample(format);
  const int size = frame->nb_samples * channels * bps;
  if (!ff::av_sample_fmt_is_planar(format) || channels == 1) {
    hook(frame->extended_data[0], size, packed);
    return;
  }
  std::vector<uint8_t> buffer(static_cast<size_t>(size));
  for (int i = 0; i < frame->nb_samples; ++i) {
    for (int ch = 0; ch < channels; ++ch)
      std::memcpy(&buffer[(static_cast<size_t>(i) * channels + ch) * bps], frame->extended_data[ch] + i * bps, bps);
  }
  hook(buffer.data(), size, packed);
  for (int i = 0; i < frame->nb_samples; ++i) {
    for (int ch = 0; ch < channels; ++ch)
      std::memcpy(frame->extended_data[ch] + i * bps, &buffer[(static_cast<size_t>(i) * channels + ch) * bps], bps);
  }
}

TAudioPath::TAudioPath(AVCodecContext* enc, AVAudioFifo* fifo, const TAudioSyncSettings& settings, TAudioLog log)
    : enc_(enc), fifo_(fifo), settings_(settings), log_(std::move(log)), want_resampler_(settings.sync_method > 1) {
  if (!fifo_) {
    own_fifo_ = ff::av_audio_fifo_alloc(enc->sample_fmt, enc->ch_layout.nb_channels, 1024);
    if (!own_fifo_) throw FFmpegException("av_fifo_alloc fail");
    fifo_ = own_fifo_;
  }
}

TAudioPath::~TAudioPath() {
  if (swr_) ff::swr_free(&swr_);
  if (!convert_buf_.empty()) ff::av_freep(&convert_buf_[0]);
  if (own_fifo_) ff::av_audio_fifo_free(own_fifo_);
  ff::av_channel_layout_uninit(&input_.layout);
}

int TAudioPath::Pending() const { return ff::av_audio_fifo_size(fifo_); }

int TAudioPath::FrameSize() const {
  const bool variable = enc_->codec && (enc_->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
  return enc_->frame_size > 1 && !variable ? enc_->frame_size : 0;
}

bool TAudioPath::SameAsEncoder(const TInputFormat& in) const {
  return in.format == enc_->sample_fmt && in.sample_rate == enc_->sample_rate && SameLayout(in.layout, enc_->ch_layout);
}

void TAudioPath::NoteInputFormat(const AVFrame* frame) {
  const auto format = static_cast<AVSampleFormat>(frame->format);
  const AVChannelLayout layout = UsableLayout(frame->ch_layout);
  const bool same = input_known_ && format == input_.format && frame->sample_rate == input_.sample_rate &&
                    SameLayout(layout, input_.layout);
  if (same) {
    AVChannelLayout tmp = layout;
    ff::av_channel_layout_uninit(&tmp);
    return;
  }
  if (input_known_) {
    log_(llInfo, FormatText("Input stream #%d.%d frame changed from rate:%d fmt:%s ch:%d to rate:%d fmt:%s ch:%d",
                            settings_.file_index, settings_.stream_index, input_.sample_rate,
                            SampleFormatName(input_.format), input_.layout.nb_channels, frame->sample_rate,
                            SampleFormatName(format), layout.nb_channels));
  }
  ff::av_channel_layout_uninit(&input_.layout);
  input_.format = format;
  input_.sample_rate = frame->sample_rate;
  input_.layout = layout;
  input_known_ = true;
  if (swr_) ff::swr_free(&swr_);
  if (want_resampler_ || !SameAsEncoder(input_)) BuildResampler();
}

void TAudioPath::BuildResampler() {
  SwrContext* swr = nullptr;
  int ret = ff::swr_alloc_set_opts2(&swr, &enc_->ch_layout, enc_->sample_fmt, enc_->sample_rate, &input_.layout,
                                    input_.format, input_.sample_rate, 0, nullptr);
  if (ret >= 0) {
    // The converter's filter: 16 taps, 2^10 phases, not interpolated, cut-off at 0.8 of the band.
    ff::av_opt_set_int(swr, "filter_size", 16, 0);
    ff::av_opt_set_int(swr, "phase_shift", 10, 0);
    ff::av_opt_set_int(swr, "linear_interp", 0, 0);
    ff::av_opt_set(swr, "cutoff", "0.8", 0);
    ret = ff::swr_init(swr);
  }
  if (ret < 0) {
    ff::swr_free(&swr);
    if (input_.sample_rate == enc_->sample_rate && input_.layout.nb_channels == enc_->ch_layout.nb_channels)
      throw FFmpegException(FormatText("Cannot convert %s sample format to %s sample format",
                                       SampleFormatName(input_.format), SampleFormatName(enc_->sample_fmt)));
    throw FFmpegException(FormatText("Can not resample %d channels @ %d Hz to %d channels @ %d Hz",
                                     input_.layout.nb_channels, input_.sample_rate, enc_->ch_layout.nb_channels,
                                     enc_->sample_rate));
  }
  swr_ = swr;
}

int64_t TAudioPath::Delay() const { return swr_ ? ff::swr_get_delay(swr_, enc_->sample_rate) : 0; }

void TAudioPath::Correct(const AVFrame* frame, int64_t input_time_us, bool* at_start, int* skip_in,
                         int64_t* silence) {
  const int rate = enc_->sample_rate;
  const double expected = static_cast<double>(rate) * static_cast<double>(input_time_us) / 1000000.0;
  const int64_t waiting = Pending() + Delay();
  if (settings_.sync_method == 0) {
    // The sample clock follows the input's clock; never backwards once
    // frames have left (the muxer needs rising times).
    const int64_t clock = std::llround(expected) - waiting;
    sync_opts_ = emitted_any_ ? std::max(clock, sync_opts_) : clock;
    return;
  }
  const double delta = expected - static_cast<double>(sync_opts_ + waiting);
  if (std::fabs(delta) <= 50) return;
  if (*at_start || std::fabs(delta) > settings_.drift_threshold * rate) {
    *at_start = false;
    if (delta < 0) {
      const int64_t in_samples = static_cast<int64_t>(-delta * frame->sample_rate / rate);
      *skip_in = static_cast<int>(std::min<int64_t>(in_samples, frame->nb_samples));
      dropped_ += *skip_in;
      if (settings_.verbose > 2) log_(llVerbose, FormatText("discarding %d audio samples", static_cast<int>(-delta)));
    } else {
      *silence = static_cast<int64_t>(delta);
      inserted_ += *silence;
      if (settings_.verbose > 2)
        log_(llVerbose, FormatText("adding %d audio samples of silence", static_cast<int>(delta)));
    }
    return;
  }
  if (settings_.sync_method > 1 && swr_) {
    const int comp = std::clamp(static_cast<int>(delta), -settings_.sync_method, settings_.sync_method);
    if (settings_.verbose > 2)
      log_(llVerbose, FormatText("compensating audio timestamp drift:%f compensation:%d in:%d", delta, comp, rate));
    ff::swr_set_compensation(swr_, comp, rate);
  }
}

void TAudioPath::WriteSilence(int64_t samples) {
  const int channels = enc_->ch_layout.nb_channels;
  while (samples > 0) {
    const int chunk = static_cast<int>(std::min<int64_t>(samples, 65536));
    std::vector<uint8_t*> planes(static_cast<size_t>(channels));
    if (ff::av_samples_alloc(planes.data(), nullptr, channels, chunk, enc_->sample_fmt, 0) < 0)
      throw FFmpegException("Out of memory in do_audio_out");
    ff::av_samples_set_silence(planes.data(), 0, chunk, channels, enc_->sample_fmt);
    const int written = ff::av_audio_fifo_write(fifo_, reinterpret_cast<void**>(planes.data()), chunk);
    ff::av_freep(&planes[0]);
    if (written < chunk) throw FFmpegException("av_fifo_realloc2() failed");
    samples -= chunk;
  }
}

void TAudioPath::Convert(const AVFrame* frame, int skip) {
  const auto format = static_cast<AVSampleFormat>(frame->format);
  const int bps = ff::av_get_bytes_per_sample(format);
  const int channels = frame->ch_layout.nb_channels;
  const bool planar = ff::av_sample_fmt_is_planar(format);
  const int count = frame->nb_samples - skip;
  if (count <= 0) return;
  std::vector<const uint8_t*> in(static_cast<size_t>(planar ? channels : 1));
  for (size_t p = 0; p < in.size(); ++p)
    in[p] = frame->extended_data[p] + static_cast<size_t>(skip) * bps * (planar ? 1 : channels);
  if (!swr_) {
    const int written =
        ff::av_audio_fifo_write(fifo_, reinterpret_cast<void**>(const_cast<uint8_t**>(in.data())), count);
    if (written < count) throw FFmpegException("av_fifo_realloc2() failed");
    return;
  }
  const int capacity = ff::swr_get_out_samples(swr_, count);
  if (capacity < 0) throw FFmpegException("Audio resampling failed");
  EnsureConvertBuffer(capacity);
  const int produced = ff::swr_convert(swr_, convert_buf_.data(), convert_capacity_, in.data(), count);
  if (produced < 0) throw FFmpegException("Audio resampling failed: " + ErrorCodeText(produced));
  if (produced > 0 && ff::av_audio_fifo_write(fifo_, reinterpret_cast<void**>(convert_buf_.data()), produced) < produced)
    throw FFmpegException("av_fifo_realloc2() failed");
}

void TAudioPath::EnsureConvertBuffer(int samples) {
  if (samples <= convert_capacity_) return;
  if (!convert_buf_.empty()) ff::av_freep(&convert_buf_[0]);
  convert_capacity_ = 0;
  const int capacity = std::max(samples, 4096);
  convert_buf_.assign(static_cast<size_t>(enc_->ch_layout.nb_channels), nullptr);
  if (ff::av_samples_alloc(convert_buf_.data(), nullptr, enc_->ch_layout.nb_channels, capacity, enc_->sample_fmt,
                           0) < 0) {
    convert_buf_.clear();
    throw FFmpegException("Out of memory in do_audio_out");
  }
  convert_capacity_ = capacity;
}

void TAudioPath::Emit(int samples, const TAudioFrameSink& sink) {
  AVFrame* frame = ff::av_frame_alloc();
  if (!frame) throw FFmpegException("Out of memory in do_audio_out");
  std::unique_ptr<AVFrame, void (*)(AVFrame*)> holder(frame, [](AVFrame* f) { ff::av_frame_free(&f); });
  frame->nb_samples = samples;
  frame->format = enc_->sample_fmt;
  frame->sample_rate = enc_->sample_rate;
  if (ff::av_channel_layout_copy(&frame->ch_layout, &enc_->ch_layout) < 0 || ff::av_frame_get_buffer(frame, 0) < 0)
    throw FFmpegException("Out of memory in do_audio_out");
  const int got = ff::av_audio_fifo_read(fifo_, reinterpret_cast<void**>(frame->extended_data), samples);
  if (got < samples) {
    // Fewer than announced: the rest stays silent rather than undefined.
    ff::av_samples_set_silence(frame->extended_data, std::max(got, 0), samples - std::max(got, 0),
                               enc_->ch_layout.nb_channels, enc_->sample_fmt);
  }
  frame->pts = sync_opts_;
  sync_opts_ += samples;
  emitted_any_ = true;
  sink(frame);
}

void TAudioPath::Push(const AVFrame* decoded, int64_t input_time_us, bool* at_start, const TAudioFrameSink& sink) {
  if (!decoded || decoded->nb_samples <= 0) return;
  NoteInputFormat(decoded);
  int skip = 0;
  int64_t silence = 0;
  Correct(decoded, input_time_us, at_start, &skip, &silence);
  if (silence > 0) WriteSilence(silence);
  if (skip < decoded->nb_samples) Convert(decoded, skip);
  const int frame_size = FrameSize();
  if (frame_size == 0) {
    if (Pending() > 0) Emit(Pending(), sink);
    return;
  }
  while (Pending() >= frame_size) Emit(frame_size, sink);
}

void TAudioPath::Flush(const TAudioFrameSink& sink) {
  if (swr_) {
    // What the resampler still holds.
    for (;;) {
      const int capacity = std::max(ff::swr_get_out_samples(swr_, 0), 0);
      if (capacity == 0) break;
      EnsureConvertBuffer(capacity);
      const int produced = ff::swr_convert(swr_, convert_buf_.data(), convert_capacity_, nullptr, 0);
      if (produced <= 0) break;
      if (ff::av_audio_fifo_write(fifo_, reinterpret_cast<void**>(convert_buf_.data()), produced) < produced)
        throw FFmpegException("av_fifo_realloc2() failed");
    }
  }
  const int frame_size = FrameSize();
  if (frame_size == 0) {
    if (Pending() > 0) Emit(Pending(), sink);
    return;
  }
  while (Pending() >= frame_size) Emit(frame_size, sink);
  const int rest = Pending();
  if (rest == 0) return;
  const bool short_ok = enc_->codec && (enc_->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME);
  if (short_ok) {
    Emit(rest, sink);
    return;
  }
  WriteSilence(frame_size - rest);
  Emit(frame_size, sink);
}

}  // namespace vidmill
