#include "probe/file_info_text.h"

#include <gtest/gtest.h>

#include <memory>

#include "core/entry_points.h"
#include "core/ff_load.h"
#include "probe/ff_decode.h"

using namespace vidmill;

namespace {

class InfoText : public ::testing::Test {
 protected:
  void SetUp() override {
    TFFLoader::Instance().SetLibraryPath("");
    ASSERT_TRUE(TFFLoader::Instance().Load(kDecoderLibraries));
    ctx_ = ff::avformat_alloc_context();
  }
  void TearDown() override { ff::avformat_free_context(ctx_); }
  AVStream* AddStream(AVMediaType type, AVCodecID codec, AVRational tb) {
    AVStream* st = ff::avformat_new_stream(ctx_, nullptr);
    st->codecpar->codec_type = type;
    st->codecpar->codec_id = codec;
    st->time_base = tb;
    return st;
  }
  // A program that lists the given streams, allocated as the libraries free it.
  AVProgram* AddProgram(int id, std::initializer_list<unsigned> streams) {
    auto* prog = static_cast<AVProgram*>(ff::av_mallocz(sizeof(AVProgram)));
    prog->id = id;
    prog->stream_index = static_cast<unsigned*>(ff::av_mallocz(sizeof(unsigned) * streams.size()));
    for (unsigned s : streams) prog->stream_index[prog->nb_stream_indexes++] = s;
    auto** list = static_cast<AVProgram**>(ff::av_realloc(ctx_->programs, sizeof(AVProgram*) * (ctx_->nb_programs + 1)));
    list[ctx_->nb_programs++] = prog;
    ctx_->programs = list;
    return prog;
  }
  AVFormatContext* ctx_ = nullptr;
};

TEST_F(InfoText, MetadataBlockLeavesOutALoneLanguage) {
  AVDictionary* dict = nullptr;
  EXPECT_EQ(MetadataBlock(nullptr, ""), "");
  ff::av_dict_set(&dict, "language", "ger", 0);
  EXPECT_EQ(MetadataBlock(dict, "  "), "");
  ff::av_dict_set(&dict, "title", "Ünïcödé 標題", 0);
  ff::av_dict_set(&dict, "TPE1", "Someone", 0);
  ff::av_dict_set(&dict, "a_very_long_tag_name", "x", 0);
  EXPECT_EQ(MetadataBlock(dict, "  "),
            "  Metadata:\r\n"
            "    title           : Ünïcödé 標題\r\n"
            "    artist          : Someone\r\n"
            "    a_very_long_tag_name: x\r\n");
  ff::av_dict_free(&dict);
}

TEST_F(InfoText, DisplayKeys) {
  const std::pair<const char*, const char*> cases[] = {
      {"TPE1", "artist"}, {"Author", "artist"}, {"WM/TrackNumber", "track"}, {"TDRC", "date"},
      {"strn", "title"},  {"TSOT", "title-sort"}, {"WM/MediaStationName", "service_name"},
      {"tpe1", "tpe1"},   {"title", "title"}};
  for (const auto& [key, shown] : cases) EXPECT_EQ(DisplayMetadataKey(key), shown) << key;
}

TEST_F(InfoText, RateTexts) {
  EXPECT_EQ(RateText({30000, 1001}, "fps"), ", 29.97 fps");
  EXPECT_EQ(RateText({25, 1}, "fps"), ", 25 fps");
  EXPECT_EQ(RateText({90000, 1}, "tbn"), ", 90k tbn");
  EXPECT_EQ(RateText({1000, 1}, "tbn"), ", 1k tbn");
  EXPECT_EQ(RateText({0, 1}, "fps"), "");
  EXPECT_EQ(RateText({1, 0}, "fps"), "");
}

TEST_F(InfoText, InvalidTimeBasesAreNeverChangedAndScaleToMinusOne) {
  AVStream* zero = AddStream(AVMEDIA_TYPE_AUDIO, AV_CODEC_ID_PCM_S16LE, {0, 0});
  zero->start_time = 10;
  zero->duration = 100;
  AVStream* five = AddStream(AVMEDIA_TYPE_AUDIO, AV_CODEC_ID_PCM_S16LE, {5, 0});
  five->duration = 100;
  TFFDecoder decoder;
  decoder.SetFileHandle(ctx_);
  const TAudioStreamInfo a = decoder.AudioStreamInfos(0);
  EXPECT_EQ(a.StartTime, 10);
  EXPECT_EQ(a.StartTimeScaled, -1);
  EXPECT_EQ(a.DurationScaled, -1);
  EXPECT_EQ(decoder.AudioStreamInfos(1).DurationScaled, -1);
  const std::string text = decoder.FileInfoText();
  EXPECT_NE(text.find("Stream #0, 0/0: "), std::string::npos) << text;
  EXPECT_NE(text.find("Stream #1, 1/0: "), std::string::npos) << text;  // 5/0 reduced by gcd 5
  EXPECT_EQ(zero->time_base.num, 0);
  EXPECT_EQ(zero->time_base.den, 0);
  EXPECT_EQ(five->time_base.num, 5);
  EXPECT_EQ(five->time_base.den, 0);
  EXPECT_EQ(ScaledToMicroseconds(3, {1, 2}), 1500000);
  EXPECT_EQ(ScaledToMicroseconds(AV_NOPTS_VALUE, {1, 2}), -1);
  decoder.SetFileHandle(nullptr);
}

TEST_F(InfoText, ProgramStreamsComeFirstThenTheRestInOrder) {
  for (int i = 0; i < 3; ++i) AddStream(AVMEDIA_TYPE_DATA, AV_CODEC_ID_NONE, {1, 90000});
  AVProgram* prog = AddProgram(7, {1});
  ff::av_dict_set(&prog->metadata, "provider_name", "Vidmill", 0);
  AddProgram(8, {});
  TFFDecoder decoder;
  decoder.SetFileHandle(ctx_);
  const std::string text = decoder.FileInfoText();
  const size_t p7 = text.find("Program 7 Vidmill@N/A\r\n  Metadata:\r\n    provider_name   : Vidmill\r\n");
  const size_t p8 = text.find("Program 8 N/A@N/A\r\n");
  const size_t s0 = text.find("Stream #0,"), s1 = text.find("Stream #1,"), s2 = text.find("Stream #2,");
  ASSERT_NE(p7, std::string::npos) << text;
  ASSERT_NE(p8, std::string::npos) << text;
  EXPECT_LT(p7, s1);
  EXPECT_LT(s1, p8);
  EXPECT_LT(p8, s0);
  EXPECT_LT(s0, s2);
  EXPECT_EQ(text.find("Stream #1,", s1 + 1), std::string::npos);  // written once
  EXPECT_NE(text.find("File Size: -1 Byte\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Bit Rate: N/A\r\n"), std::string::npos) << text;
  decoder.SetFileHandle(nullptr);
}

TEST_F(InfoText, StreamLineDetails) {
  AVStream* v = AddStream(AVMEDIA_TYPE_VIDEO, AV_CODEC_ID_MPEG4, {1, 90000});
  v->codecpar->width = 720;
  v->codecpar->height = 576;
  v->codecpar->sample_aspect_ratio = {1, 1};
  v->sample_aspect_ratio = {16, 15};
  v->avg_frame_rate = {30000, 1001};
  v->r_frame_rate = {30000, 1001};
  v->start_time = 90000 + 45;
  v->duration = 90000LL * 3723;
  ff::av_dict_set(&v->metadata, "language", "fre", 0);
  EXPECT_EQ(StreamLine(ctx_, 0),
            "Stream #0(fre), 1/90000: Video: mpeg4, none, 720x576 [SAR 1:1 DAR 5:4], PAR 16:15 DAR 4:3, "
            "29.97 fps, 29.97 tbr, 90k tbn, StartTime: 1.000500, Duration: 01:02:03.000\r\n");
}

}  // namespace
