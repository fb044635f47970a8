// The catalogue we ship (generated from data/catalogue at build time): it
// reads without a report, covers what people convert for today, and every
// format names encoders and containers that the system's libraries have and
// that open with the format's own settings.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include <QSet>

#include "catalogue/catalogue.h"
#include "catalogue/list_syntax.h"
#include "catalogue_fixture.h"
#include "core/entry_points.h"
#include "core/ff_load.h"

using namespace vidmill;
using vidmill::testing::TRecordingSink;

namespace {

class ShippedCatalogue : public ::testing::Test {
 protected:
  void SetUp() override { catalogue_.Load(QStringLiteral(VIDMILL_PROFILES_DIR)); }
  const TProfile& All() const { return catalogue_.Categories().last(); }
  TRecordingSink sink_;
  TCatalogue catalogue_{sink_};
};

struct CodecContextFree {
  void operator()(AVCodecContext* c) const { ff::avcodec_free_context(&c); }
};

using CodecContext = std::unique_ptr<AVCodecContext, CodecContextFree>;

struct FrameFree {
  void operator()(AVFrame* f) const { ff::av_frame_free(&f); }
};

// Encodes one blank frame, ends the stream and drains the encoder; false
// when the encoder refuses. (An SVT-AV1 encoder closed without ever having
// had a frame waits for ever in its close.)
bool EncodeOneFrame(AVCodecContext* c, AVFrame* frame) {
  if (ff::av_frame_get_buffer(frame, 0) < 0) return false;
  if (c->codec_type == AVMEDIA_TYPE_AUDIO) {
    ff::av_samples_set_silence(frame->extended_data, 0, frame->nb_samples, frame->ch_layout.nb_channels,
                               static_cast<AVSampleFormat>(frame->format));
  } else {
    for (int plane = 0; plane < AV_NUM_DATA_POINTERS && frame->buf[plane]; ++plane) {
      std::memset(frame->buf[plane]->data, 0x80, frame->buf[plane]->size);
    }
  }
  frame->pts = 0;
  bool ok = ff::avcodec_send_frame(c, frame) >= 0 && ff::avcodec_send_frame(c, nullptr) >= 0;
  AVPacket* packet = ff::av_packet_alloc();
  int got = 0;
  while (ff::avcodec_receive_packet(c, packet) >= 0) {
    ++got;
    ff::av_packet_unref(packet);
  }
  ff::av_packet_free(&packet);
  return ok && got > 0;
}

bool LoadLibraries() {
  TFFLoader& loader = TFFLoader::Instance();
  loader.SetLibraryPath("");
  return loader.Load(kEncoderLibraries);
}

QString Describe(const TFormat& f) { return f.Title + " (" + f.Category + ")"; }

QStringList CodecNamesOf(const TFormat& f) {
  QStringList names = ValuesOf(f.VideoCodecs) + ValuesOf(f.AudioCodecs);
  if (!f.VideoCodecName.isEmpty()) names.append(f.VideoCodecName);
  if (!f.AudioCodecName.isEmpty()) names.append(f.AudioCodecName);
  names.removeDuplicates();
  return names;
}

// The muxer the format's output would get: a forced "f=" option or the extension.
const AVOutputFormat* MuxerOf(const TFormat& f) {
  for (const QString& line : f.ExtraParam.split("<CRLF>")) {
    if (line.startsWith("f=")) return ff::av_guess_format(line.mid(2).toUtf8().constData(), nullptr, nullptr);
  }
  return ff::av_guess_format(nullptr, ("out" + f.FormatExt).toUtf8().constData(), nullptr);
}

std::string OpenVideoEncoder(const TFormat& f) {
  const AVCodec* codec = ff::avcodec_find_encoder_by_name(f.VideoCodecName.toUtf8().constData());
  if (!codec) return "no encoder";
  CodecContext ctx(ff::avcodec_alloc_context3(codec));
  ctx->width = f.Width.toInt();
  ctx->height = f.Height.toInt();
  const TFrameRate rate = FrameRateFraction(f.FrameRate);
  ctx->framerate = AVRational{rate.Num, rate.Den};
  ctx->time_base = AVRational{rate.Den, rate.Num};
  ctx->bit_rate = f.VideoBitRate.toLongLong();
  ctx->pix_fmt = codec->pix_fmts ? codec->pix_fmts[0] : AV_PIX_FMT_YUV420P;
  for (const AVPixelFormat* p = codec->pix_fmts; p && *p != AV_PIX_FMT_NONE; ++p) {
    if (*p == AV_PIX_FMT_YUV420P) ctx->pix_fmt = *p;
  }
  const int rc = ff::avcodec_open2(ctx.get(), codec, nullptr);
  if (rc >= 0) {
    std::unique_ptr<AVFrame, FrameFree> frame(ff::av_frame_alloc());
    frame->width = ctx->width;
    frame->height = ctx->height;
    frame->format = ctx->pix_fmt;
    return EncodeOneFrame(ctx.get(), frame.get()) ? "" : "encoding a frame failed";
  }
  char text[128] = {};
  ff::av_strerror(rc, text, sizeof text);
  return text;
}

std::string OpenAudioEncoder(const TFormat& f) {
  const AVCodec* codec = ff::avcodec_find_encoder_by_name(f.AudioCodecName.toUtf8().constData());
  if (!codec) return "no encoder";
  CodecContext ctx(ff::avcodec_alloc_context3(codec));
  ctx->sample_rate = f.SampleRate.toInt();
  ctx->time_base = AVRational{1, ctx->sample_rate};
  ctx->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
  ff::av_channel_layout_default(&ctx->ch_layout, f.Channel.toInt());
  ctx->bit_rate = f.AudioBitRate.toLongLong();
  const int rc = ff::avcodec_open2(ctx.get(), codec, nullptr);
  if (rc >= 0) {
    std::unique_ptr<AVFrame, FrameFree> frame(ff::av_frame_alloc());
    frame->nb_samples = ctx->frame_size > 0 ? ctx->frame_size : 1024;
    frame->format = ctx->sample_fmt;
    frame->sample_rate = ctx->sample_rate;
    ff::av_channel_layout_copy(&frame->ch_layout, &ctx->ch_layout);
    return EncodeOneFrame(ctx.get(), frame.get()) ? "" : "encoding a frame failed";
  }
  char text[128] = {};
  ff::av_strerror(rc, text, sizeof text);
  return text;
}

}  // namespace

TEST_F(ShippedCatalogue, ReadsWithoutReportsAndEveryFormatHasItsPlaces) {
  EXPECT_TRUE(sink_.reports.isEmpty());
  EXPECT_TRUE(sink_.events.isEmpty()) << sink_.events.join("\n").toStdString();
  ASSERT_GE(catalogue_.CategoryCount(), 2);
  EXPECT_EQ(All().Title, "All Profiles");
  EXPECT_EQ(catalogue_.ChooserHeight(), 470);
  EXPECT_EQ(All().Formats.size(), catalogue_.AllFormats().size());
  int in_file_categories = 0;
  for (int c = 0; c + 1 < catalogue_.CategoryCount(); ++c) {
    EXPECT_GT(catalogue_.FormatCount(c), 0) << catalogue_.Categories()[c].Title.toStdString();
    in_file_categories += catalogue_.FormatCount(c);
  }
  EXPECT_EQ(in_file_categories, All().Formats.size()) << "every format sits in exactly one file category";
  EXPECT_EQ(catalogue_.Current(), (TFormatIndex{0, 0}));
}

TEST_F(ShippedCatalogue, EveryIconExistsAsABitmap) {
  for (const TProfile& p : catalogue_.Categories()) {
    const int i = catalogue_.IconIndexExact(p.Icon);
    ASSERT_GE(i, 0);
    EXPECT_EQ(catalogue_.Icons()[i].ID, p.Icon) << "category icon " << p.Icon.toStdString();
    for (const TFormat& f : p.Formats) {
      const int fi = catalogue_.IconIndexOf(f.Icon);
      EXPECT_EQ(catalogue_.Icons()[fi].ID.toLower(), f.Icon.toLower()) << Describe(f).toStdString();
    }
  }
  for (const TProfileIcon& icon : catalogue_.Icons()) {
    EXPECT_FALSE(icon.Picture.isNull()) << icon.ID.toStdString();
    EXPECT_LE(icon.Picture.width(), 40) << "icons fit the chooser's cells";
  }
}

TEST_F(ShippedCatalogue, CoversWhatPeopleConvertForToday) {
  struct Want {
    const char* what;
    const char* ext;
    const char* video;
    const char* audio;
    int height;  // 0: any
    const char* title_part;
  };
  const Want wants[] = {
      {"phone MP4 480p", ".mp4", "libx264", "aac", 480, "Phone"},
      {"phone MP4 720p", ".mp4", "libx264", "aac", 720, "Phone"},
      {"phone MP4 1080p", ".mp4", "libx264", "aac", 1080, "Phone"},
      {"tablet MP4", ".mp4", "libx264", "aac", 0, "Tablet"},
      {"HEVC MP4", ".mp4", "libx265", "aac", 0, ""},
      {"web VP9 WebM", ".webm", "libvpx-vp9", "libopus", 0, ""},
      {"web H.264 MP4", ".mp4", "libx264", "aac", 0, "Web"},
      {"AV1", ".webm", "libsvtav1", "libopus", 0, ""},
      {"DivX AVI", ".avi", "mpeg4", "libmp3lame", 240, "DivX"},
      {"Xvid AVI", ".avi", "libxvid", "libmp3lame", 0, "Xvid"},
      {"DVD", ".mpg", "mpeg2video", "ac3", 576, ""},
      {"GIF", ".gif", "gif", "", 0, ""},
      {"MP3", ".mp3", "", "libmp3lame", 0, ""},
      {"AAC M4A", ".m4a", "", "aac", 0, ""},
      {"Opus", ".opus", "", "libopus", 0, ""},
      {"Vorbis", ".ogg", "", "libvorbis", 0, ""},
      {"FLAC", ".flac", "", "flac", 0, ""},
      {"WAV", ".wav", "", "pcm_s16le", 0, ""},
  };
  for (const Want& w : wants) {
    bool found = false;
    for (const TFormat& f : All().Formats) {
      found = found || (f.FormatExt == w.ext && f.VideoCodecName == w.video && f.AudioCodecName == w.audio &&
                        (w.height == 0 || f.Height.toInt() == w.height) && f.Title.contains(w.title_part) &&
                        (f.IsAudioFormat == "1") == (*w.video == '\0'));
    }
    EXPECT_TRUE(found) << w.what;
  }
}

TEST_F(ShippedCatalogue, NumbersAndListsAreConsistent) {
  for (const TFormat& f : All().Formats) {
    SCOPED_TRACE(Describe(f).toStdString());
    EXPECT_TRUE(f.FormatExt.startsWith('.'));
    if (f.IsAudioFormat != "1") {
      const int w = f.Width.toInt(), h = f.Height.toInt();
      // What the settings dialog accepts.
      EXPECT_TRUE(w >= 64 && w <= 1920 && h >= 64 && h <= 1280 && w % 2 == 0 && h % 2 == 0);
      EXPECT_TRUE(LabelsOf(f.Resolutions).contains(f.Width + "*" + f.Height));
      EXPECT_TRUE(ValuesOf(f.FrameRates).contains(f.FrameRate));
      EXPECT_TRUE(ValuesOf(f.VideoBitRates).contains(f.VideoBitRate));
      EXPECT_TRUE(ValuesOf(f.VideoCodecs).contains(f.VideoCodecName));
      for (const QString& r : LabelsOf(f.Resolutions)) {
        EXPECT_NE(ResolutionWidth(r), "-1") << r.toStdString();
        EXPECT_NE(ResolutionHeight(r), "-1") << r.toStdString();
      }
    }
    // Job assembly reads these as integers.
    for (const QString* n : {&f.SampleRate, &f.AudioBitRate, &f.Channel, &f.IsAudioFormat}) {
      EXPECT_TRUE(IsDecimalInteger(*n)) << n->toStdString();
    }
    if (!f.AudioCodecName.isEmpty()) {
      EXPECT_TRUE(ValuesOf(f.AudioCodecs).contains(f.AudioCodecName));
      EXPECT_TRUE(ValuesOf(f.SampleRates).contains(f.SampleRate));
      EXPECT_TRUE(ValuesOf(f.AudioBitRates).contains(f.AudioBitRate));
      EXPECT_TRUE(ValuesOf(f.Channels).contains(f.Channel));
    }
  }
}

TEST_F(ShippedCatalogue, EveryCodecAndContainerExistsInTheLibraries) {
  ASSERT_TRUE(LoadLibraries()) << TFFLoader::Instance().LastErrMsg();
  for (const TFormat& f : All().Formats) {
    SCOPED_TRACE(Describe(f).toStdString());
    const AVOutputFormat* muxer = MuxerOf(f);
    ASSERT_NE(muxer, nullptr) << "no muxer for " << f.FormatExt.toStdString();
    for (const QString& name : CodecNamesOf(f)) {
      const AVCodec* codec = ff::avcodec_find_encoder_by_name(name.toUtf8().constData());
      ASSERT_NE(codec, nullptr) << "encoder " << name.toStdString();
      EXPECT_NE(ff::avformat_query_codec(muxer, codec->id, FF_COMPLIANCE_NORMAL), 0)
          << name.toStdString() << " cannot go into " << muxer->name;
    }
    // Every offered sample rate suits every offered audio encoder.
    for (const QString& name : ValuesOf(f.AudioCodecs)) {
      const AVCodec* codec = ff::avcodec_find_encoder_by_name(name.toUtf8().constData());
      if (!codec || !codec->supported_samplerates) continue;
      for (const QString& rate : ValuesOf(f.SampleRates)) {
        bool supported = false;
        for (const int* r = codec->supported_samplerates; *r; ++r) supported = supported || *r == rate.toInt();
        EXPECT_TRUE(supported) << name.toStdString() << " at " << rate.toStdString() << " Hz";
      }
    }
  }
}

TEST_F(ShippedCatalogue, EveryFormatsEncodersOpenWithItsSettings) {
  ASSERT_TRUE(LoadLibraries()) << TFFLoader::Instance().LastErrMsg();
  for (const TFormat& f : catalogue_.AllFormats()) {
    SCOPED_TRACE(Describe(f).toStdString());
    if (f.IsAudioFormat != "1") {
      EXPECT_EQ(OpenVideoEncoder(f), "") << f.VideoCodecName.toStdString();
    }
    if (!f.AudioCodecName.isEmpty()) {
      EXPECT_EQ(OpenAudioEncoder(f), "") << f.AudioCodecName.toStdString();
    }
  }
}
