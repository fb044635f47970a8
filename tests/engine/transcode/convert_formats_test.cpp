// End to end: files converted through the encoder component, decoded again
// and compared with what went in.
//
// PSNR threshold: the luma of a re-encoded picture against the same picture
// of its source must reach 30 dB. The encoders at these rates give 35 to
// 50 dB on the test pattern; a neighbouring picture of the moving pattern
// (a frame lost or doubled) or a shifted or damaged picture gives less than
// 25 dB, so 30 dB tells a faithful conversion from a wrong one.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "core/entry_points.h"
#include "encoder_harness.h"
#include "filters/adjust_filters.h"
#include "filters/filter_chain.h"
#include "media_check.h"

namespace vidmill {
namespace {

using namespace vidmill::testing;

constexpr double kPsnrFloor = 30.0;
constexpr double kOneFrame = 1.0 / 25 + 1e-6;  // the clips run at 25 pictures per second

class ConvertTest : public ::testing::Test {
 protected:
  void SetUp() override { LoadEncoderLibraries(); }
  TTempFolder folder_;
};

// Converts one input; the task must finish.
TMediaFacts ConvertOne(const std::string& input, const std::string& output, const std::string& lines,
                       const std::string& input_lines = "") {
  TEncoderHarness h;
  const int task = h.AddTask(input, output, lines, input_lines);
  if (task < 0) return {};
  h.Run(1);
  const TTerminateInfo t = h.TerminateOf(task);
  EXPECT_TRUE(t.Finished) << t.ExceptionMsg;
  EXPECT_FALSE(t.Exception) << t.ExceptionMsg;
  TMediaFacts facts = DecodeFacts(output);
  EXPECT_TRUE(facts.ok) << facts.error;
  return facts;
}

struct FormatCase {
  const char* name;
  Clip source;
  const char* output;  // file name in the test folder
  const char* lines;   // output option lines
  const char* video_codec;  // expected decoder name; "" = no video
  const char* audio_codec;  // "" = no audio
  int sample_rate;          // expected; 0 = as the source
  int frame_size;           // audio encoder frame size (sample count tolerance)
  int priming = 0;          // encoder delay the container cannot mark as such (decoded as extra samples)
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }

class ConvertFormats : public ConvertTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(ConvertFormats, OutputMatchesTheSource) {
  const FormatCase& c = GetParam();
  const std::string source = MediaPath(c.source);
  const std::string output = folder_.File(c.output);
  const TMediaFacts in = DecodeFacts(source);
  ASSERT_TRUE(in.ok) << in.error;
  const TMediaFacts out = ConvertOne(source, output, c.lines);
  ASSERT_TRUE(out.ok);
  const TStreamFacts* vin = in.First(AVMEDIA_TYPE_VIDEO);
  const TStreamFacts* vout = out.First(AVMEDIA_TYPE_VIDEO);
  if (*c.video_codec) {
    ASSERT_TRUE(vin && vout);
    EXPECT_EQ(vout->codec, c.video_codec);
    EXPECT_EQ(vout->width, vin->width);
    EXPECT_EQ(vout->height, vin->height);
    EXPECT_NEAR(static_cast<double>(vout->frames), static_cast<double>(vin->frames), 1);
    EXPECT_NEAR(vout->Duration(), vin->Duration(), kOneFrame);
    for (int n : {0, static_cast<int>(vin->frames / 2), static_cast<int>(vin->frames - 1)}) {
      EXPECT_GT(Psnr(LumaOfPicture(output, n, vin->width, vin->height),
                     LumaOfPicture(source, n, vin->width, vin->height)),
                kPsnrFloor)
          << "picture " << n;
    }
  } else {
    EXPECT_EQ(vout, nullptr);
  }
  const TStreamFacts* ain = in.First(AVMEDIA_TYPE_AUDIO);
  const TStreamFacts* aout = out.First(AVMEDIA_TYPE_AUDIO);
  if (*c.audio_codec) {
    ASSERT_TRUE(ain && aout);
    EXPECT_EQ(aout->codec, c.audio_codec);
    const int rate = c.sample_rate ? c.sample_rate : ain->sample_rate;
    EXPECT_EQ(aout->sample_rate, rate);
    EXPECT_EQ(aout->channels, ain->channels);
    // As many samples as went in (at the output rate), within one encoder frame.
    const double expected = static_cast<double>(ain->samples) * rate / ain->sample_rate + c.priming;
    EXPECT_NEAR(static_cast<double>(aout->samples), expected, c.frame_size) << "samples";
  } else {
    EXPECT_EQ(aout, nullptr);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Containers, ConvertFormats,
    ::testing::Values(
        FormatCase{"Mp4H264Aac", Clip::Mp4H264Aac, "out.mp4", "vcodec=libx264\nb=1000k\nacodec=aac\nab=128k", "h264",
                   "aac", 0, 1024},
        FormatCase{"AviMpeg4Mp3", Clip::Mp4H264Aac, "out.avi", "vcodec=mpeg4\nqscale=3\nacodec=libmp3lame\nab=128k",
                   "mpeg4", "mp3", 0, 1152, 1105},
        FormatCase{"MkvH264Vorbis", Clip::AviMpeg4Mp3, "out.mkv", "vcodec=libx264\nacodec=libvorbis", "h264",
                   "vorbis", 0, 1024},
        FormatCase{"WebmVp8Vorbis", Clip::Mp4H264Aac, "out.webm",
                   "vcodec=libvpx\nb=1000k\ndeadline=realtime\ncpu-used=8\nacodec=libvorbis\nab=128k", "vp8", "vorbis", 0, 1024},
        FormatCase{"WebmVp9Opus", Clip::Mp4H264Aac, "out.webm",
                   "vcodec=libvpx-vp9\nb=1000k\ndeadline=realtime\ncpu-used=8\nacodec=libopus\nab=128k\nar=48000", "vp9",
                   "opus", 48000, 960},
        FormatCase{"Mp3FromWav", Clip::WavPcm, "out.mp3", "acodec=libmp3lame\nab=192k", "", "mp3", 0, 1152},
        FormatCase{"WavFromMp3", Clip::Mp3Audio, "out.wav", "acodec=pcm_s16le", "", "pcm_s16le", 0, 1}),
    [](const ::testing::TestParamInfo<FormatCase>& info) { return std::string(info.param.name); });

TEST_F(ConvertTest, StreamCopyKeepsEveryPacket) {
  const std::string source = MediaPath(Clip::Mp4H264Aac);
  const std::string output = folder_.File("copy.mkv");
  const TMediaFacts in = DecodeFacts(source);
  const TMediaFacts out = ConvertOne(source, output, "vcodec=copy\nacodec=copy");
  ASSERT_TRUE(out.ok);
  const TStreamFacts* vin = in.First(AVMEDIA_TYPE_VIDEO);
  const TStreamFacts* vout = out.First(AVMEDIA_TYPE_VIDEO);
  ASSERT_TRUE(vin && vout);
  EXPECT_EQ(vout->frames, vin->frames);
  EXPECT_EQ(vout->packets, vin->packets);
  // Audio packets too (the containers mark the encoder delay differently,
  // so the decoded sample counts may differ by it).
  EXPECT_EQ(out.First(AVMEDIA_TYPE_AUDIO)->packets, in.First(AVMEDIA_TYPE_AUDIO)->packets);
  // The same coded pictures: decoded, they are identical.
  for (int n : {0, 20, static_cast<int>(vin->frames - 1)})
    EXPECT_EQ(LumaOfPicture(output, n, 0, 0), LumaOfPicture(source, n, 0, 0)) << "picture " << n;
}

TEST_F(ConvertTest, ThreeClipsOfDifferentSizesJoinIntoOne) {
  ClipSpec specs[3];
  const int sizes[3][2] = {{320, 240}, {176, 144}, {352, 288}};
  const int tones[3] = {440, 660, 880};
  std::vector<std::string> inputs;
  double total_s = 0;
  for (int i = 0; i < 3; ++i) {
    specs[i].name = "join" + std::to_string(i) + ".mp4";
    specs[i].width = sizes[i][0];
    specs[i].height = sizes[i][1];
    specs[i].seconds = 1.0 + 0.2 * i;
    specs[i].tone_hz = tones[i];
    specs[i].codec_args = {"-c:v", "libx264", "-c:a", "aac"};
    inputs.push_back(MakeClip(specs[i]));
    total_s += specs[i].seconds;
  }
  TEncoderHarness h;
  const int task = h.encoder.AddTask(inputs[0], "");
  ASSERT_GE(task, 0) << h.encoder.LastErrMsg();
  for (int i = 1; i < 3; ++i) ASSERT_TRUE(h.encoder.AddInputFile(task, inputs[i], "")) << h.encoder.LastErrMsg();
  const std::string output = folder_.File("joined.mp4");
  ASSERT_TRUE(h.encoder.SetOutputFile(task, output, "Join=1\nvcodec=libx264\ns=320x240\nacodec=aac")) << h.encoder.LastErrMsg();
  h.Run(1);
  const TTerminateInfo t = h.TerminateOf(task);
  ASSERT_TRUE(t.Finished) << t.ExceptionMsg;
  const TMediaFacts out = DecodeFacts(output);
  ASSERT_TRUE(out.ok) << out.error;
  const TStreamFacts* v = out.First(AVMEDIA_TYPE_VIDEO);
  const TStreamFacts* a = out.First(AVMEDIA_TYPE_AUDIO);
  ASSERT_TRUE(v && a);
  // One picture size, the first input's; every picture of every input.
  EXPECT_EQ(v->width, 320);
  EXPECT_EQ(v->height, 240);
  EXPECT_NEAR(static_cast<double>(v->frames), total_s * 25, 2);
  // The joins may add a few frames of start-up delay per fresh encoder.
  EXPECT_NEAR(v->Duration(), total_s, 0.2);
  EXPECT_NEAR(static_cast<double>(a->samples) / a->sample_rate, total_s, 0.1);
  // The second part is the second clip: its first picture, scaled.
  const int second_first = static_cast<int>(std::lround(specs[0].seconds * 25));
  double best = 0;
  for (int n = second_first - 1; n <= second_first + 1; ++n)
    best = std::max(best, Psnr(LumaOfPicture(output, n, 176, 144), LumaOfPicture(inputs[1], 0, 176, 144)));
  EXPECT_GT(best, 25.0);  // compared after two scalings
}

TEST_F(ConvertTest, TrimByStartTimeAndDuration) {
  const std::string source = MediaPath(Clip::Mp4H264Aac);
  const std::string output = folder_.File("trim.mp4");
  const TMediaFacts out =
      ConvertOne(source, output, "vcodec=libx264\nacodec=aac\nt=1", "TimeStart=500000");
  ASSERT_TRUE(out.ok);
  const TStreamFacts* v = out.First(AVMEDIA_TYPE_VIDEO);
  ASSERT_TRUE(v);
  EXPECT_NEAR(static_cast<double>(v->frames), 25, 1);
  EXPECT_NEAR(v->Duration(), 1.0, kOneFrame);
  EXPECT_NEAR(v->first_s, 0.0, kOneFrame);
  const TStreamFacts* a = out.First(AVMEDIA_TYPE_AUDIO);
  ASSERT_TRUE(a);
  EXPECT_NEAR(static_cast<double>(a->samples) / a->sample_rate, 1.0, 1024.0 / 44100 + 0.001);
  // The first picture is the source's picture at 0.5 s (0.48 or 0.52).
  const std::vector<uint8_t> first = LumaOfPicture(output, 0, 320, 240);
  EXPECT_GT(std::max(Psnr(first, LumaOfPicture(source, 12, 320, 240)), Psnr(first, LumaOfPicture(source, 13, 320, 240))),
            kPsnrFloor);
}

TEST_F(ConvertTest, FilterChainOfOwnAndLibraryFiltersIsApplied) {
  const char* chain = "nativeeq=20:10,nativehue=0:30,crop=240:180:40:30,pad=260:200:10:10,scale=320:240";
  const std::string source = MediaPath(Clip::Mp4H264Aac);
  const std::string output = folder_.File("chain.mp4");
  const TMediaFacts out =
      ConvertOne(source, output, std::string("vcodec=libx264\nqscale=1\nacodec=aac\nvf=") + chain);
  ASSERT_TRUE(out.ok);
  const TStreamFacts* v = out.First(AVMEDIA_TYPE_VIDEO);
  ASSERT_TRUE(v);
  EXPECT_EQ(v->width, 320);
  EXPECT_EQ(v->height, 240);
  // The reference: the source picture through the same chain, here.
  RegisterEqFilter();
  RegisterHueFilter();
  for (int n : {0, 25}) {
    auto picture = DecodedPicture(source, n);
    ASSERT_TRUE(picture);
    TVideoFormat format;
    format.width = picture->width;
    format.height = picture->height;
    format.pix_fmt = static_cast<AVPixelFormat>(picture->format);
    format.sample_aspect_ratio = {1, 1};
    std::string error;
    auto reference_chain = TFilterChain::Create(chain, format, AV_PIX_FMT_YUV420P, &error);
    ASSERT_TRUE(reference_chain) << error;
    ASSERT_EQ(reference_chain->SendFrame(picture.get()), 0);
    ASSERT_EQ(reference_chain->SendFrame(nullptr), 0);
    std::unique_ptr<AVFrame, TFrameRelease> expected(ff::av_frame_alloc());
    ASSERT_EQ(reference_chain->ReceiveFrame(expected.get()), 0);
    const std::vector<uint8_t> got = LumaOfPicture(output, n, 320, 240);
    EXPECT_GT(Psnr(got, LumaOf(expected.get())), kPsnrFloor) << "picture " << n;
    EXPECT_LT(Psnr(got, LumaOfPicture(source, n, 320, 240)), 20.0) << "the chain changed nothing";
  }
}

}  // namespace
}  // namespace vidmill

namespace vidmill {
namespace {

TEST_F(ConvertTest, TwoPassesShareTheStatisticsFileTheyAreGiven) {
  const std::string source = MediaPath(Clip::Mp4H264Aac);
  const std::string prefix = folder_.File("stats");
  const std::string lines = "vcodec=libx264\nb=300k\nan=1\npasslogfile=" + prefix;
  const std::string cwd_stats = "x264_2pass.log";
  std::error_code ec;
  std::filesystem::remove(cwd_stats, ec);
  ConvertOne(source, folder_.File("pass1.mp4"), lines + "\npass=1");
  ASSERT_TRUE(std::filesystem::exists(prefix + "-0.log"));
  EXPECT_GT(std::filesystem::file_size(prefix + "-0.log"), 0u);
  EXPECT_FALSE(std::filesystem::exists(cwd_stats));  // not the encoder's own default name
  const TMediaFacts out = ConvertOne(source, folder_.File("pass2.mp4"), lines + "\npass=2");
  ASSERT_TRUE(out.ok);
  EXPECT_EQ(out.First(AVMEDIA_TYPE_VIDEO)->frames, 50);
}

}  // namespace
}  // namespace vidmill

namespace vidmill {
namespace {

TEST_F(ConvertTest, FrameAndSizeLimitsEndTheOutputEarly) {
  const std::string source = MediaPath(Clip::Mp4H264Aac);
  const TMediaFacts frames = ConvertOne(source, folder_.File("frames.mkv"), "vcodec=libx264\nan=1\nvframes=10");
  ASSERT_TRUE(frames.ok);
  EXPECT_EQ(frames.First(AVMEDIA_TYPE_VIDEO)->frames, 10);
  // An encoder without delay, so the file grows while the input is read.
  const std::string sized = folder_.File("sized.avi");
  const TMediaFacts size =
      ConvertOne(source, sized, "vcodec=mpeg4\nb=2000k\nacodec=libmp3lame\nab=128k\nfs=100000");
  ASSERT_TRUE(size.ok);
  // The limit is checked between packets: the file ends soon after it, well short of the whole clip.
  EXPECT_LT(std::filesystem::file_size(sized), 200000u);
  EXPECT_LT(size.First(AVMEDIA_TYPE_VIDEO)->Duration(), 1.5);
}

}  // namespace
}  // namespace vidmill
