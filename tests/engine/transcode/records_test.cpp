// Option lines and records: the line syntax, which keys each step applies,
// and the fixed order in which records reach the option state, relative to
// opening inputs and outputs.
#include <gtest/gtest.h>

#include "core/entry_points.h"
#include "transcode/ffmpeg_exception.h"
#include "transcode/ffmpeg_task.h"
#include "transcode/option_lines.h"
#include "transcode_test_util.h"

namespace vidmill {
namespace {

using testing::MediaPath;
using testing::TTempFolder;
using testing::Clip;

TEST(OptionLines, SplitIntoKeysAndValues) {
  struct Case {
    const char* text;
    std::vector<TOptionLine> lines;
  };
  const Case cases[] = {
      {"", {}},
      {"  \r\n ", {}},
      {"a=1\r\nb=2", {{"a", "1"}, {"b", "2"}}},
      {"a=1\rb=2\nc=3", {{"a", "1"}, {"b", "2"}, {"c", "3"}}},
      {"vcodec=libx264<CRLF>vpre=libx264-ipod320", {{"vcodec", "libx264"}, {"vpre", "libx264-ipod320"}}},
      {"k=v=w", {{"k", "v=w"}}},
      {"newaudio", {{"newaudio", ""}}},
      {" a = 1 ", {{"a ", " 1"}}},
      {"a=1\r\n\r\nb=2", {{"a", "1"}, {"", ""}, {"b", "2"}}},
  };
  for (const Case& c : cases) {
    const std::vector<TOptionLine> got = SplitOptionLines(c.text);
    ASSERT_EQ(got.size(), c.lines.size()) << c.text;
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].key, c.lines[i].key) << c.text;
      EXPECT_EQ(got[i].value, c.lines[i].value) << c.text;
    }
  }
}

class Records : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::LoadEncoderLibraries(); }
  TTempFolder dir;
};

TEST_F(Records, ExtOptionsKeysAreLowerCasedAndStreamKeysWait) {
  TFFmpeg task(20);
  task.ApplyExtOptions("Vcodec=libx264\r\nVF=scale=10:10\r\nvpre=fast\r\nNewVideo=\r\nG=25", true);
  EXPECT_EQ(task.OptionState().video_codec_name, "libx264");
  EXPECT_TRUE(task.OptionState().vfilters.empty());
  EXPECT_EQ(task.OptionStore().CodecInt(AVMEDIA_TYPE_VIDEO, "g", -1), 25);
  TFFmpeg other(20);
  other.ApplyExtOptions("acodec=aac\r\ns=640x480\r\nr=10", false);
  EXPECT_TRUE(other.OptionState().audio_codec_name.empty());
  EXPECT_EQ(other.OptionState().frame_width, 0);
  EXPECT_EQ(other.OptionState().frame_rate.num, 10);
}

TEST_F(Records, InputRecordGetsTheFileNameOfTheCall) {
  TFFmpeg task(20);
  TInputOptions in;
  const std::string clip = MediaPath(Clip::Mp4H264Aac);
  ASSERT_TRUE(task.AddInput(clip, &in)) << task.LastErrMsg();
  EXPECT_EQ(in.FileName, clip);
  ASSERT_NE(task.InputOptions(0), nullptr);
  EXPECT_EQ(task.InputOptions(0)->FileName, clip);
  EXPECT_EQ(task.Decoders(0)->VideoStreamCount(), 1);
}

// Options given before an input apply to that input; the output takes the
// state as it is when the output is opened.
TEST_F(Records, OptionsApplyToTheInputOrOutputThatFollows) {
  const std::string clip = MediaPath(Clip::Mp4H264Aac);
  {
    TFFmpeg task(20);
    task.SetExtOption("s", "160x120");  // replaced by the input's size
    ASSERT_TRUE(task.AddInput(clip, nullptr)) << task.LastErrMsg();
    TOutputOptions out;
    out.VideoCodec = "mpeg4";
    ASSERT_TRUE(task.SetOutput(dir.File("a.mkv"), &out)) << task.LastErrMsg();
    EXPECT_EQ(task.OutputStreams(0)[0]->enc->width, 320);
  }
  {
    TFFmpeg task(20);
    ASSERT_TRUE(task.AddInput(clip, nullptr));
    task.SetExtOption("s", "160x120");
    ASSERT_TRUE(task.SetOutput(dir.File("b.mkv"), nullptr)) << task.LastErrMsg();
    EXPECT_EQ(task.OutputStreams(0)[0]->enc->width, 160);
  }
  {
    // A codec name before the input names its decoder, before the output its encoder.
    TFFmpeg task(20);
    TInputOptions in;
    in.ExtOptions = "vcodec=nosuchcodec";
    EXPECT_FALSE(task.AddInput(clip, &in));
    EXPECT_EQ(task.LastErrMsg(), "Unknown decoder 'nosuchcodec'");
    ASSERT_TRUE(task.AddInput(clip, nullptr));
    TOutputOptions out;
    out.ExtOptions = "vcodec=nosuchcodec";
    EXPECT_FALSE(task.SetOutput(dir.File("c.mkv"), &out));
    EXPECT_EQ(task.LastErrMsg(), "new_video_stream fail: Unknown encoder 'nosuchcodec'");
  }
  {
    // "f" before an input forces its format; the forced name is used up.
    TFFmpeg task(20);
    TInputOptions in;
    in.ForceFormat = "nosuchformat";
    EXPECT_FALSE(task.AddInput(clip, &in));
    EXPECT_EQ(task.LastErrMsg(), "Unknown input format: \"nosuchformat\"");
    in.ForceFormat = "mov";
    ASSERT_TRUE(task.AddInput(clip, &in)) << task.LastErrMsg();
    task.SetExtOption("f", "matroska");
    ASSERT_TRUE(task.SetOutput(dir.File("d.unknownext"), nullptr)) << task.LastErrMsg();
    EXPECT_STREQ(task.OutputContext(0)->oformat->name, "matroska");
  }
}

TEST_F(Records, PresetFromExtOptionsFollowsTheEncoderOfTheLines) {
  TFFmpeg task(20);
  ASSERT_TRUE(task.AddInput(MediaPath(Clip::Mp4H264Aac), nullptr));
  TOutputOptions out;
  out.ExtOptions = "vcodec=libx264<CRLF>vpre=libx264-ipod320";
  ASSERT_TRUE(task.SetOutput(dir.File("ipod.mp4"), &out)) << task.LastErrMsg();
  const TAVOutputStream& v = *task.OutputStreams(0)[0];
  ASSERT_NE(v.codec, nullptr);
  EXPECT_STREQ(v.codec->name, "libx264");
  EXPECT_EQ(v.enc->level, 13);
  EXPECT_EQ(v.enc->rc_max_rate, 768000);
  EXPECT_NE(ff::av_dict_get(v.encoder_options.get(), "8x8dct", nullptr, 0), nullptr);
}

TEST_F(Records, TargetBitRatesWinOverRecordBitRates) {
  TFFmpeg task(20);
  ASSERT_TRUE(task.AddInput(MediaPath(Clip::Mp4H264Aac), nullptr));
  TOutputOptions out;
  out.TargetType = ttVCD;
  out.AudioBitrate = 64000;
  out.VideoBitrate = 300000;
  ASSERT_TRUE(task.SetOutput(dir.File("vcd.mpg"), &out)) << task.LastErrMsg();
  ASSERT_EQ(task.OutputStreams(0).size(), 2u);
  const TAVOutputStream& v = *task.OutputStreams(0)[0];
  const TAVOutputStream& a = *task.OutputStreams(0)[1];
  EXPECT_EQ(a.enc->bit_rate, 224000);
  EXPECT_EQ(v.enc->bit_rate, 1150000);
  EXPECT_EQ(v.enc->width, 352);
  EXPECT_EQ(v.enc->height, 288);  // the 25 fps input makes it PAL
  EXPECT_STREQ(task.OutputContext(0)->oformat->name, "vcd");
}

TEST_F(Records, ExtraStreamsTakeTheRemainingLineEntries) {
  TFFmpeg task(20);
  ASSERT_TRUE(task.AddInput(MediaPath(Clip::Mp4H264Aac), nullptr));
  TOutputOptions out;
  out.AudioCodec = "ac3";
  out.VideoCodec = "mpeg4";
  out.ExtOptions = "acodec=aac\r\nnewaudio=\r\nacodec=mp2";
  ASSERT_TRUE(task.SetOutput(dir.File("two_audio.mkv"), &out)) << task.LastErrMsg();
  const auto& streams = task.OutputStreams(0);
  ASSERT_EQ(streams.size(), 3u);
  EXPECT_STREQ(streams[1]->codec->name, "ac3");
  EXPECT_STREQ(streams[2]->codec->name, "aac");
}

TEST_F(Records, RecordFrameSizeWinsOverTheLines) {
  struct Case {
    const char* frame_size;
    const char* lines;
    int width;
  };
  const Case cases[] = {{"", "s=160x120", 160}, {"176x144", "s=160x120", 176}, {"176x144", "", 176}};
  int n = 0;
  for (const Case& c : cases) {
    TFFmpeg task(20);
    ASSERT_TRUE(task.AddInput(MediaPath(Clip::Mp4H264Aac), nullptr));
    TOutputOptions out;
    out.VideoCodec = "mpeg4";
    out.FrameSize = c.frame_size;
    out.ExtOptions = c.lines;
    ASSERT_TRUE(task.SetOutput(dir.File("size" + std::to_string(n++) + ".mkv"), &out)) << task.LastErrMsg();
    EXPECT_EQ(task.OutputStreams(0)[0]->enc->width, c.width) << c.frame_size << " / " << c.lines;
  }
}

TEST_F(Records, RecordFieldsComeAfterTheLines) {
  TFFmpeg task(20);
  ASSERT_TRUE(task.AddInput(MediaPath(Clip::Mp4H264Aac), nullptr));
  TOutputOptions out;
  out.ExtOptions = "t=5\r\nvol=100\r\nr=10";
  out.TimeLength = 1000000;
  out.AudioVolume = 300;
  out.FrameRate = "15";
  out.VideoCodec = "mpeg4";
  ASSERT_TRUE(task.SetOutput(dir.File("order.mkv"), &out)) << task.LastErrMsg();
  EXPECT_EQ(task.TotalOutputDuration(), 1000000);
  EXPECT_EQ(task.OptionState().audio_volume, 300);
  EXPECT_EQ(task.OutputStreams(0)[0]->enc->time_base.den, 15);
}

TEST_F(Records, MetadataReachesTheOutputAsUtf8) {
  TFFmpeg task(20);
  ASSERT_TRUE(task.AddInput(MediaPath(Clip::Mp4H264Aac), nullptr));
  TOutputOptions out;
  out.Info.Title = "Caf\xe9";             // Latin-1 text
  out.Info.Author = "\xc3\x89tienne";     // UTF-8 already
  out.Info.Year = 2011;
  ASSERT_TRUE(task.SetOutput(dir.File("meta.mkv"), &out)) << task.LastErrMsg();
  AVDictionary* md = task.OutputContext(0)->metadata;
  EXPECT_STREQ(ff::av_dict_get(md, "title", nullptr, 0)->value, "Caf\xc3\xa9");
  EXPECT_STREQ(ff::av_dict_get(md, "author", nullptr, 0)->value, "\xc3\x89tienne");
  EXPECT_STREQ(ff::av_dict_get(md, "year", nullptr, 0)->value, "2011");
}

TEST_F(Records, OptionErrorsOfAnOutputRecordFailTheCall) {
  TFFmpeg task(20);
  ASSERT_TRUE(task.AddInput(MediaPath(Clip::Mp4H264Aac), nullptr));
  TOutputOptions out;
  out.ExtOptions = "croptop=10";
  EXPECT_FALSE(task.SetOutput(dir.File("crop.mkv"), &out));
  EXPECT_EQ(task.LastErrMsg(), "Removed, use the crop filter instead");
  EXPECT_EQ(task.nb_output_files(), 0);
  EXPECT_TRUE(dir.Entries().empty());
}

TEST(FFmpegList, TaskIndexesOutOfRangeAreRefused) {
  testing::LoadEncoderLibraries();  // a task's option store asks the libraries
  TFFmpegList list;
  list.Add(std::make_unique<TFFmpeg>(20));
  std::string error;
  EXPECT_FALSE(list.Delete(1, &error));
  EXPECT_EQ(error, "Task index 1 out of range (1 tasks)");
  EXPECT_FALSE(list.Exchange(0, -1, &error));
  EXPECT_EQ(error, "Task index -1 out of range (1 tasks)");
  EXPECT_EQ(list.Items(5), nullptr);
  EXPECT_TRUE(list.Exchange(0, 0, &error));
  EXPECT_TRUE(list.Delete(0, &error));
  EXPECT_EQ(list.Count(), 0);
}

}  // namespace
}  // namespace vidmill
