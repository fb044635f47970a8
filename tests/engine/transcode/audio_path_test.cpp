// The audio path against real encoders: what leaves it is what the encoder
// accepts, carries as many samples as went in (rescaled), and keeps the
// sample values when nothing needs converting.
#include "transcode/audio_path.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numeric>
#include <vector>

#include "core/entry_points.h"
#include "core/ff_load.h"
#include "transcode/ffmpeg_exception.h"

namespace vidmill {
namespace {

struct FrameFree {
  void operator()(AVFrame* f) const { ff::av_frame_free(&f); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
struct CodecFree {
  void operator()(AVCodecContext* c) const { ff::avcodec_free_context(&c); }
};
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFree>;

void Load() { ASSERT_TRUE(TFFLoader::Instance().Load(kEncoderLibraries)) << TFFLoader::Instance().LastErrMsg(); }

// An opened encoder; null when the library lacks it.
CodecPtr OpenEncoder(const char* name, AVSampleFormat fmt, int rate, int channels) {
  const AVCodec* codec = ff::avcodec_find_encoder_by_name(name);
  if (!codec) return nullptr;
  CodecPtr c(ff::avcodec_alloc_context3(codec));
  c->sample_fmt = fmt;
  c->sample_rate = rate;
  ff::av_channel_layout_default(&c->ch_layout, channels);
  c->time_base = AVRational{1, rate};
  c->bit_rate = 128000;
  if (ff::avcodec_open2(c.get(), codec, nullptr) < 0) return nullptr;
  return c;
}

// A frame of `samples` samples; sample i of channel ch holds value(i, ch).
FramePtr MakeFrame(AVSampleFormat fmt, int rate, int channels, int samples,
                   const std::function<double(int64_t, int)>& value, int64_t first = 0) {
  FramePtr f(ff::av_frame_alloc());
  f->format = fmt;
  f->sample_rate = rate;
  f->nb_samples = samples;
  ff::av_channel_layout_default(&f->ch_layout, channels);
  EXPECT_EQ(ff::av_frame_get_buffer(f.get(), 0), 0);
  const bool planar = ff::av_sample_fmt_is_planar(fmt);
  for (int i = 0; i < samples; ++i) {
    for (int ch = 0; ch < channels; ++ch) {
      const double v = value(first + i, ch);
      const int index = planar ? i : i * channels + ch;
      uint8_t* plane = f->extended_data[planar ? ch : 0];
      switch (ff::av_get_packed_sample_fmt(fmt)) {
        case AV_SAMPLE_FMT_U8: plane[index] = static_cast<uint8_t>(std::lround(v * 127) + 128); break;
        case AV_SAMPLE_FMT_S16: reinterpret_cast<int16_t*>(plane)[index] = static_cast<int16_t>(std::lround(v * 32767)); break;
        case AV_SAMPLE_FMT_S32: reinterpret_cast<int32_t*>(plane)[index] = static_cast<int32_t>(std::lround(v * 2147483647.0)); break;
        case AV_SAMPLE_FMT_FLT: reinterpret_cast<float*>(plane)[index] = static_cast<float>(v); break;
        case AV_SAMPLE_FMT_DBL: reinterpret_cast<double*>(plane)[index] = v; break;
        default: ADD_FAILURE() << "format not covered";
      }
    }
  }
  return f;
}

double SampleAt(const AVFrame* f, int i, int ch) {
  const auto fmt = static_cast<AVSampleFormat>(f->format);
  const bool planar = ff::av_sample_fmt_is_planar(fmt);
  const int channels = f->ch_layout.nb_channels;
  const int index = planar ? i : i * channels + ch;
  const uint8_t* plane = f->extended_data[planar ? ch : 0];
  switch (ff::av_get_packed_sample_fmt(fmt)) {
    case AV_SAMPLE_FMT_U8: return (plane[index] - 128) / 127.0;
    case AV_SAMPLE_FMT_S16: return reinterpret_cast<const int16_t*>(plane)[index] / 32767.0;
    case AV_SAMPLE_FMT_S32: return reinterpret_cast<const int32_t*>(plane)[index] / 2147483647.0;
    case AV_SAMPLE_FMT_FLT: return reinterpret_cast<const float*>(plane)[index];
    case AV_SAMPLE_FMT_DBL: return reinterpret_cast<const double*>(plane)[index];
    default: return NAN;
  }
}

double Sine(int64_t i, int ch, int rate) { return 0.5 * std::sin(2 * M_PI * (440.0 * (ch + 1)) * i / rate); }

// What a path handed out.
struct Collected {
  std::vector<int> sizes;
  std::vector<int64_t> pts;
  std::vector<FramePtr> frames;
  int64_t Total() const { return std::accumulate(sizes.begin(), sizes.end(), int64_t{0}); }
};

TAudioFrameSink CollectInto(Collected* c, const AVCodecContext* enc) {
  return [c, enc](AVFrame* f) {
    EXPECT_EQ(f->format, enc->sample_fmt);
    EXPECT_EQ(f->sample_rate, enc->sample_rate);
    EXPECT_EQ(f->ch_layout.nb_channels, enc->ch_layout.nb_channels);
    c->sizes.push_back(f->nb_samples);
    c->pts.push_back(f->pts);
    c->frames.emplace_back(ff::av_frame_clone(f));
  };
}

std::vector<std::string>* LogLines() {
  static std::vector<std::string> lines;
  return &lines;
}
TAudioLog Logger() {
  return [](TLogLevel, const std::string& s) { LogLines()->push_back(s); };
}

// Pushes `seconds` of input in frames of 1000 samples with times from the
// input clock starting at `start_us`.
void Feed(TAudioPath* path, AVSampleFormat fmt, int rate, int channels, double seconds, const TAudioFrameSink& sink,
          int64_t start_us = 0) {
  const int64_t total = static_cast<int64_t>(seconds * rate);
  bool at_start = true;
  for (int64_t first = 0; first < total; first += 1000) {
    const int n = static_cast<int>(std::min<int64_t>(1000, total - first));
    FramePtr f = MakeFrame(fmt, rate, channels, n, [rate](int64_t i, int ch) { return Sine(i, ch, rate); }, first);
    path->Push(f.get(), start_us + first * 1000000 / rate, &at_start, sink);
  }
}

struct ConversionCase {
  const char* encoder;
  AVSampleFormat enc_fmt;
  int enc_rate, enc_channels;
  AVSampleFormat in_fmt;
  int in_rate, in_channels;
  int sync_method;
  bool expect_resampler;
};

class AudioPathConversion : public ::testing::TestWithParam<ConversionCase> {
 protected:
  void SetUp() override { Load(); }
};

TEST_P(AudioPathConversion, HandsOutEncoderFramesWithAllSamples) {
  const ConversionCase& c = GetParam();
  CodecPtr enc = OpenEncoder(c.encoder, c.enc_fmt, c.enc_rate, c.enc_channels);
  if (!enc) GTEST_SKIP() << c.encoder << " not available";
  TAudioSyncSettings settings;
  settings.sync_method = c.sync_method;
  TAudioPath path(enc.get(), nullptr, settings, Logger());
  Collected got;
  Feed(&path, c.in_fmt, c.in_rate, c.in_channels, 1.0, CollectInto(&got, enc.get()));
  EXPECT_EQ(path.Resampling(), c.expect_resampler);
  path.Flush(CollectInto(&got, enc.get()));
  // Every frame but the last has the encoder's frame size.
  if (enc->frame_size > 1) {
    for (size_t i = 0; i + 1 < got.sizes.size(); ++i) EXPECT_EQ(got.sizes[i], enc->frame_size) << i;
  }
  // All samples arrive, rescaled to the output rate (within one frame).
  const double expected = 1.0 * c.enc_rate;
  EXPECT_NEAR(static_cast<double>(got.Total()), expected, std::max(enc->frame_size, 1) + 32);
  // Times count samples without gaps.
  for (size_t i = 1; i < got.pts.size(); ++i) EXPECT_EQ(got.pts[i], got.pts[i - 1] + got.sizes[i - 1]);
  // The tone survives: compare the middle of the output with the source
  // (conversion filters shift phase a little; a tolerance covers it).
  if (c.in_rate == c.enc_rate && !c.expect_resampler) {
    int64_t n = 0;
    for (const FramePtr& f : got.frames) {
      for (int i = 0; i < f->nb_samples; ++i, ++n) {
        for (int ch = 0; ch < c.enc_channels; ++ch)
          ASSERT_NEAR(SampleAt(f.get(), i, ch), Sine(n, ch, c.in_rate), 1.0 / 16384) << n;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, AudioPathConversion,
    ::testing::Values(
        // 48 kHz stereo into a 44.1 kHz encoder: resampled.
        ConversionCase{"aac", AV_SAMPLE_FMT_FLTP, 44100, 2, AV_SAMPLE_FMT_S16, 48000, 2, 0, true},
        // Mono into stereo at the same rate: the channel count differs.
        ConversionCase{"pcm_s16le", AV_SAMPLE_FMT_S16, 44100, 2, AV_SAMPLE_FMT_S16, 44100, 1, 0, true},
        // Everything the same, sync 0: straight into the FIFO.
        ConversionCase{"aac", AV_SAMPLE_FMT_FLTP, 44100, 2, AV_SAMPLE_FMT_FLTP, 44100, 2, 0, false},
        // Everything the same, sync 2: a resampler all the same (soft correction).
        ConversionCase{"aac", AV_SAMPLE_FMT_FLTP, 44100, 2, AV_SAMPLE_FMT_FLTP, 44100, 2, 2, true},
        // Only the sample format differs.
        ConversionCase{"libmp3lame", AV_SAMPLE_FMT_S16P, 44100, 2, AV_SAMPLE_FMT_FLTP, 44100, 2, 0, true},
        ConversionCase{"mp2", AV_SAMPLE_FMT_S16, 44100, 2, AV_SAMPLE_FMT_S32, 22050, 2, 0, true},
        ConversionCase{"libvorbis", AV_SAMPLE_FMT_FLTP, 48000, 2, AV_SAMPLE_FMT_S16, 44100, 2, 0, true},
        ConversionCase{"libopus", AV_SAMPLE_FMT_FLT, 48000, 2, AV_SAMPLE_FMT_FLTP, 48000, 2, 0, true}));

class AudioPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Load();
    LogLines()->clear();
  }
};

TEST_F(AudioPathTest, LateInputGetsSilenceAtTheStartWithHardCorrection) {
  CodecPtr enc = OpenEncoder("aac", AV_SAMPLE_FMT_FLTP, 44100, 2);
  ASSERT_TRUE(enc);
  TAudioSyncSettings settings;
  settings.sync_method = 1;
  settings.verbose = 3;
  TAudioPath path(enc.get(), nullptr, settings, Logger());
  Collected got;
  Feed(&path, AV_SAMPLE_FMT_FLTP, 44100, 2, 0.5, CollectInto(&got, enc.get()), 500000);
  EXPECT_NEAR(static_cast<double>(path.InsertedSamples()), 22050, 2);
  ASSERT_FALSE(got.frames.empty());
  for (int i = 0; i < got.frames[0]->nb_samples; ++i) ASSERT_EQ(SampleAt(got.frames[0].get(), i, 0), 0.0);
  bool logged = false;
  for (const std::string& l : *LogLines()) logged |= l.rfind("adding 22050 audio samples of silence", 0) == 0;
  EXPECT_TRUE(logged);
}

TEST_F(AudioPathTest, InputRunningBackwardsIsDroppedWithHardCorrection) {
  CodecPtr enc = OpenEncoder("pcm_s16le", AV_SAMPLE_FMT_S16, 44100, 2);
  ASSERT_TRUE(enc);
  TAudioSyncSettings settings;
  settings.sync_method = 1;
  TAudioPath path(enc.get(), nullptr, settings, Logger());
  Collected got;
  Feed(&path, AV_SAMPLE_FMT_S16, 44100, 2, 1.0, CollectInto(&got, enc.get()));
  // One more second claiming to start at 0.5 s: its first half second
  // overlaps what was written and is dropped, until the overlap is within
  // the drift threshold (0.1 s), which is left alone.
  Feed(&path, AV_SAMPLE_FMT_S16, 44100, 2, 1.0, CollectInto(&got, enc.get()), 500000);
  EXPECT_LE(path.DroppedSamples(), 22050);
  EXPECT_GE(path.DroppedSamples(), 22050 - 4410 - 1000);
  EXPECT_EQ(got.Total(), 2 * 44100 - path.DroppedSamples());
}

TEST_F(AudioPathTest, SyncZeroFollowsTheInputClockButNeverRunsBackwards) {
  CodecPtr enc = OpenEncoder("aac", AV_SAMPLE_FMT_FLTP, 44100, 2);
  ASSERT_TRUE(enc);
  TAudioPath path(enc.get(), nullptr, TAudioSyncSettings{}, Logger());
  Collected got;
  bool at_start = true;
  // Input clock with jitter: some frames claim to start a little early.
  for (int k = 0; k < 60; ++k) {
    FramePtr f = MakeFrame(AV_SAMPLE_FMT_FLTP, 44100, 2, 1000, [](int64_t, int) { return 0.1; });
    const int64_t jitter = (k % 3 == 1) ? -3000 : 0;
    path.Push(f.get(), k * 1000 * 1000000LL / 44100 + jitter, &at_start, CollectInto(&got, enc.get()));
  }
  ASSERT_GT(got.pts.size(), 10u);
  for (size_t i = 1; i < got.pts.size(); ++i) EXPECT_GE(got.pts[i], got.pts[i - 1] + got.sizes[i - 1]);
}

struct FlushCase {
  const char* encoder;
  AVSampleFormat format;
  bool short_last_frame;  // the encoder takes a shorter last frame
};

class AudioPathFlush : public ::testing::TestWithParam<FlushCase> {
 protected:
  void SetUp() override { Load(); }
};

TEST_P(AudioPathFlush, TheRestLeavesAsAShortFrameOnlyWhereTheEncoderAllowsIt) {
  const FlushCase& c = GetParam();
  CodecPtr enc = OpenEncoder(c.encoder, c.format, 44100, 2);
  ASSERT_TRUE(enc);
  ASSERT_EQ((enc->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME) != 0, c.short_last_frame);
  TAudioPath path(enc.get(), nullptr, TAudioSyncSettings{}, Logger());
  Collected got;
  bool at_start = true;
  FramePtr f = MakeFrame(c.format, 44100, 2, enc->frame_size + 100, [](int64_t, int) { return 0.25; });
  path.Push(f.get(), 0, &at_start, CollectInto(&got, enc.get()));
  path.Flush(CollectInto(&got, enc.get()));
  ASSERT_EQ(got.sizes.size(), 2u);
  EXPECT_EQ(got.sizes[1], c.short_last_frame ? 100 : enc->frame_size);
  EXPECT_NEAR(SampleAt(got.frames[1].get(), 99, 0), 0.25, 1e-4);
  if (!c.short_last_frame) {
    EXPECT_EQ(SampleAt(got.frames[1].get(), 100, 0), 0.0);  // padded with silence
  }
}

INSTANTIATE_TEST_SUITE_P(Encoders, AudioPathFlush,
                         ::testing::Values(FlushCase{"mp2", AV_SAMPLE_FMT_S16, false},
                                           FlushCase{"aac", AV_SAMPLE_FMT_FLTP, true}));

TEST_F(AudioPathTest, InputFormatChangeIsLoggedAndFollowed) {
  CodecPtr enc = OpenEncoder("pcm_s16le", AV_SAMPLE_FMT_S16, 44100, 2);
  ASSERT_TRUE(enc);
  TAudioSyncSettings settings;
  settings.file_index = 0;
  settings.stream_index = 1;
  TAudioPath path(enc.get(), nullptr, settings, Logger());
  Collected got;
  bool at_start = true;
  FramePtr a = MakeFrame(AV_SAMPLE_FMT_S16, 44100, 2, 4410, [](int64_t, int) { return 0.5; });
  FramePtr b = MakeFrame(AV_SAMPLE_FMT_FLTP, 22050, 1, 2205, [](int64_t, int) { return 0.5; });
  path.Push(a.get(), 0, &at_start, CollectInto(&got, enc.get()));
  EXPECT_FALSE(path.Resampling());
  path.Push(b.get(), 100000, &at_start, CollectInto(&got, enc.get()));
  path.Flush(CollectInto(&got, enc.get()));
  EXPECT_TRUE(path.Resampling());
  ASSERT_FALSE(LogLines()->empty());
  EXPECT_EQ(LogLines()->front(), "Input stream #0.1 frame changed from rate:44100 fmt:s16 ch:2 to rate:22050 fmt:fltp ch:1");
  EXPECT_NEAR(static_cast<double>(got.Total()), 8820, 40);
}

struct VolumeCase {
  AVSampleFormat fmt;
  int volume;
  double in, out;  // full scale 1.0
};

class AudioVolume : public ::testing::TestWithParam<VolumeCase> {
 protected:
  void SetUp() override { Load(); }
};

TEST_P(AudioVolume, ScalesEverySampleOfEveryChannelInItsFormat) {
  const VolumeCase& c = GetParam();
  FramePtr f = MakeFrame(c.fmt, 44100, 2, 300, [&](int64_t, int ch) { return ch ? -c.in : c.in; });
  ApplyVolume(f.get(), c.volume);
  const double tolerance = ff::av_get_bytes_per_sample(c.fmt) == 1 ? 2.0 / 127 : 1e-4;
  for (int i = 0; i < 300; ++i) {
    ASSERT_NEAR(SampleAt(f.get(), i, 0), c.out, tolerance) << i;
    ASSERT_NEAR(SampleAt(f.get(), i, 1), -c.out, tolerance) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, AudioVolume,
    ::testing::Values(VolumeCase{AV_SAMPLE_FMT_S16, 512, 0.25, 0.5},    // doubled
                      VolumeCase{AV_SAMPLE_FMT_S16, 512, 0.75, 1.0},    // clipped at full scale
                      VolumeCase{AV_SAMPLE_FMT_S16P, 128, 0.5, 0.25},   // planar: both planes
                      VolumeCase{AV_SAMPLE_FMT_U8, 512, 0.25, 0.5},     // offset samples
                      VolumeCase{AV_SAMPLE_FMT_S32, 512, 0.75, 1.0},
                      VolumeCase{AV_SAMPLE_FMT_FLTP, 512, 0.25, 0.5},   // float: not 16-bit noise
                      VolumeCase{AV_SAMPLE_FMT_FLT, 64, 0.8, 0.2},
                      VolumeCase{AV_SAMPLE_FMT_DBLP, 256, 0.3, 0.3}));  // unchanged

TEST_F(AudioPathTest, PackedSamplesOfAPlanarFrameAreInterleavedAndWrittenBack) {
  FramePtr f = MakeFrame(AV_SAMPLE_FMT_S16P, 44100, 2, 4, [](int64_t i, int ch) { return (ch ? -0.1 : 0.1) * (i + 1); });
  WithPackedSamples(f.get(), [](uint8_t* data, int size, AVSampleFormat fmt) {
    EXPECT_EQ(fmt, AV_SAMPLE_FMT_S16);
    EXPECT_EQ(size, 4 * 2 * 2);
    auto* s = reinterpret_cast<int16_t*>(data);
    EXPECT_GT(s[0], 0);
    EXPECT_LT(s[1], 0);  // the second channel follows the first
    for (int i = 0; i < 8; ++i) s[i] = static_cast<int16_t>(i);
  });
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(reinterpret_cast<int16_t*>(f->extended_data[0])[i], 2 * i);
    EXPECT_EQ(reinterpret_cast<int16_t*>(f->extended_data[1])[i], 2 * i + 1);
  }
}

}  // namespace
}  // namespace vidmill
