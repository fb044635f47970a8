#include "core/ff_utils.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <filesystem>
#include <optional>

#include "core/entry_points.h"
#include "core/ff_load.h"

using namespace vidmill;

namespace {

TEST(EngineTexts, SizeText) {
  const std::pair<int64_t, const char*> cases[] = {
      {-1, "-1 Byte"},          {0, "0 Byte"},           {1024, "1024 Byte"},
      {1025, "1.00 KB"},        {1048576, "1024.00 KB"}, {1048577, "1.00 MB"},
      {1073741824, "1024.00 MB"}, {1073741825, "1.00 GB"}, {5LL << 40, "5120.00 GB"},
  };
  for (const auto& [bytes, text] : cases) EXPECT_EQ(SizeText(bytes), text) << bytes;
}

TEST(EngineTexts, TimeText) {
  const std::pair<int64_t, const char*> cases[] = {
      {AV_NOPTS_VALUE, "N/A"},
      {0, "00:00:00.000"},
      {((1 * 60 + 2) * 60 + 3) * 1000000LL + 4000, "01:02:03.004"},
      {100 * 3600 * 1000000LL, "100:00:00.000"},
      {999999, "00:00:00.999"},
      {-40000, "-00:00:00.040"},
      {-((1 * 60 + 2) * 60 + 3) * 1000000LL - 4000, "-01:02:03.004"},
  };
  for (const auto& [us, text] : cases) EXPECT_EQ(TimeText(us), text) << us;
}

class TimeZone : public ::testing::Test {
 protected:
  void TearDown() override {
    if (old_) setenv("TZ", old_->c_str(), 1); else unsetenv("TZ");
    tzset();
  }
  void Use(const char* tz) {
    if (!old_ && std::getenv("TZ")) old_ = std::string(std::getenv("TZ"));
    setenv("TZ", tz, 1);
  }
  std::optional<std::string> old_;
};

TEST_F(TimeZone, DateTextUsesTheStandardBiasOnly) {
  const int64_t summer_noon_utc = 1625140800;  // 2021-07-01 12:00:00 UTC
  Use("UTC0");
  EXPECT_EQ(DateText(summer_noon_utc, "yyyy-mm-dd hh:nn:ss"), "2021-07-01 12:00:00");
  EXPECT_EQ(DateText(0, "yyyy-mm-dd hh:nn:ss"), "1970-01-01 00:00:00");
  EXPECT_EQ(DateText(summer_noon_utc + 61, "d/m/yy h:n:s"), "1/7/21 12:1:1");
  Use("EST5EDT");  // daylight saving would give 08:00
  EXPECT_EQ(DateText(summer_noon_utc, "yyyy-mm-dd hh:nn:ss"), "2021-07-01 07:00:00");
}

TEST(EngineTexts, SplitTakesThePartBeforeTheSeparator) {
  struct Case {
    const char* text;
    bool consume;
    const char* head;
    const char* rest;
  };
  const Case cases[] = {
      {"a=b=c", true, "a", "b=c"}, {"a=b", false, "a", "a=b"},
      {"abc", true, "abc", ""},    {"=x", true, "", "x"},
      {"x=", true, "x", ""},       {"", true, "", ""},
  };
  for (const Case& c : cases) {
    std::string text = c.text;
    EXPECT_EQ(Split(text, "=", c.consume), c.head) << c.text;
    EXPECT_EQ(text, c.rest) << c.text;
  }
}

TEST(EngineTexts, StreamTypeNames) {
  EXPECT_EQ(StreamTypeName(AVMEDIA_TYPE_VIDEO), "Video");
  EXPECT_EQ(StreamTypeName(AVMEDIA_TYPE_AUDIO), "Audio");
  EXPECT_EQ(StreamTypeName(AVMEDIA_TYPE_DATA), "Data");
  EXPECT_EQ(StreamTypeName(AVMEDIA_TYPE_SUBTITLE), "Subtitle");
  EXPECT_EQ(StreamTypeName(AVMEDIA_TYPE_ATTACHMENT), "Attachment");
  EXPECT_EQ(StreamTypeName(AVMEDIA_TYPE_UNKNOWN), "Unknown");
  EXPECT_EQ(StreamTypeName(17), "Unknown");
}

TEST(EngineTexts, FileAndProgramPaths) {
  EXPECT_EQ(FileSizeOf("/nonexistent/vidmill"), -1);
  EXPECT_EQ(FileSizeOf("/"), -1);
  const std::string self = ProgramFileName();
  EXPECT_EQ(FileSizeOf(self), static_cast<int64_t>(std::filesystem::file_size(self)));
  EXPECT_EQ(ProgramFolder() + std::filesystem::path(self).filename().string(), self);
  EXPECT_EQ(ProgramFolder().back(), '/');
}

class LibraryTexts : public ::testing::Test {
 protected:
  void SetUp() override {
    TFFLoader::Instance().SetLibraryPath("");
    ASSERT_TRUE(TFFLoader::Instance().Load(kDecoderLibraries)) << TFFLoader::Instance().LastErrMsg();
  }
};

TEST_F(LibraryTexts, ErrorText) {
  const std::pair<int, const char*> cases[] = {
      {AVERROR_EOF, "End of file"},
      {AVERROR(EPIPE), "Broken pipe"},  // -32 is no longer the end of file
      {AVERROR(ENOENT), "No such file or directory"},
      {AVERROR(EINVAL), "Invalid argument / Invalid data found when processing input"},
      {AVERROR_INVALIDDATA, "Invalid data found when processing input"},
      {AVERROR_DECODER_NOT_FOUND, "Decoder not found"},
      {AVERROR_PATCHWELCOME, "Not yet implemented in FFmpeg"},
      {AVERROR_PROTOCOL_NOT_FOUND, "Protocol not found"},
      {AVERROR_MUXER_NOT_FOUND, "Muxer not found"},
      {AVERROR_EXIT, "Immediate exit requested"},
      {AVERROR(ETIMEDOUT), "Connection timed out"},
      {-98765432, "Error number -98765432 occurred"},
  };
  for (const auto& [code, text] : cases) {
    EXPECT_EQ(ErrorText("clip.mp4", code), std::string("clip.mp4: ") + text) << code;
  }
}

TEST_F(LibraryTexts, CodecDescription) {
  AVCodecParameters par{};
  par.codec_id = AV_CODEC_ID_H264;
  EXPECT_EQ(CodecDescription(&par), "h264(H.264 / AVC / MPEG-4 AVC / MPEG-4 part 10)");
  par.codec_id = AV_CODEC_ID_MPEG2TS;
  EXPECT_EQ(CodecDescription(&par), "mpeg2ts");
  par.codec_id = AV_CODEC_ID_NONE;
  par.codec_tag = MKTAG('a', 'b', 'c', 'd');
  EXPECT_EQ(CodecDescription(&par), "abcd / 0x64636261");
  par.codec_tag = 0x1f;
  EXPECT_EQ(CodecDescription(&par), "0x001F");
}

TEST(TimestampCorrection, PrefersPresentationTimesUntilTheyGoBackwardsMoreOften) {
  TTimestampCorrection c;
  EXPECT_EQ(c.Guess(AV_NOPTS_VALUE, AV_NOPTS_VALUE), AV_NOPTS_VALUE);
  EXPECT_EQ(c.Guess(10, AV_NOPTS_VALUE), 10);
  EXPECT_EQ(c.Guess(AV_NOPTS_VALUE, 20), 20);
  EXPECT_EQ(c.Guess(30, 30), 30);
  EXPECT_EQ(c.Guess(25, 40), 40);  // pts went back once, dts never: trust dts
  EXPECT_EQ(c.Guess(50, 35), 50);  // dts went back too: counts are equal again
  c.Reset();
  EXPECT_EQ(c.Guess(5, 1), 5);
}

}  // namespace
