// The frame decoder: pictures in order with their times, key-frame steps,
// seeks, bitmap copies, audio blocks and broken input.
#include "probe/frame_decoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "core/engine_error.h"
#include "core/entry_points.h"
#include "core/ff_log.h"
#include "test_media.h"

using namespace vidmill;
using vidmill::testing::Clip;
using vidmill::testing::ClipSpec;
using vidmill::testing::MakeClip;
using vidmill::testing::MediaPath;

namespace {

constexpr int64_t kFrame = 40000;  // one picture at 25 per second

// A 25 fps test pattern with a key frame every `gop` pictures and B-frames,
// so that pictures leave the decoder out of packet order.
std::string GopClip(int gop, const std::string& ext = "mp4") {
  ClipSpec s;
  s.name = "gop" + std::to_string(gop) + "." + ext;
  s.seconds = 2.0;
  s.sample_rate = 0;
  s.codec_args = {"-c:v", "libx264", "-g", std::to_string(gop), "-keyint_min", std::to_string(gop),
                  "-sc_threshold", "0", "-bf", "2"};
  return MakeClip(s);
}

// The picture times the ffmpeg tool's prober reads from a file, in
// microseconds from the file's zero, in presentation order: an oracle
// independent of our code.
std::vector<int64_t> ProbedPictureTimes(const std::string& path) {
  const std::string cmd = "ffprobe -v error -select_streams v:0 -show_entries frame=best_effort_timestamp_time "
                          "-of csv=p=0 '" + path + "'";
  std::vector<int64_t> times;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return times;
  char line[256];
  double seconds = 0;
  while (fgets(line, sizeof line, p)) {
    if (sscanf(line, "%lf", &seconds) == 1) times.push_back(std::llround(seconds * 1e6));
  }
  pclose(p);
  return times;
}

class FrameDecoder : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(decoder.LoadAVLib("")) << decoder.LastErrMsg(); }
  void TearDown() override { decoder.CloseFile(); }
  void Load(const std::string& path) { ASSERT_TRUE(decoder.LoadFile(path)) << decoder.LastErrMsg(); }
  std::vector<int64_t> DecodeAll() {
    std::vector<int64_t> times;
    while (decoder.Decode()) times.push_back(decoder.FrameInfo().PTS);
    return times;
  }
  TFrameDecoder decoder;
};

struct OrderCase {
  const char* name;
  std::string (*path)();
  int pictures;  // what the generator made: 2 s at 25 per second
};

class EveryPicture : public FrameDecoder, public ::testing::WithParamInterface<OrderCase> {};

TEST_P(EveryPicture, ComesOutInOrderWithItsTimeAndTheLastOnesAreNotLost) {
  const std::string path = GetParam().path();
  Load(path);
  const std::vector<int64_t> times = DecodeAll();
  ASSERT_EQ(static_cast<int>(times.size()), GetParam().pictures);
  const std::vector<int64_t> probed = ProbedPictureTimes(path);
  ASSERT_EQ(probed.size(), times.size());
  EXPECT_EQ(times[0], 0);  // times count from the stream's start
  for (size_t i = 0; i < times.size(); ++i) {
    EXPECT_NEAR(times[i], probed[i] - probed[0], 1000) << "picture " << i;
    if (i > 0) {
      EXPECT_GT(times[i], times[i - 1]) << "picture " << i;
    }
  }
  EXPECT_NEAR(times.back(), (GetParam().pictures - 1) * kFrame, kFrame + 1000);
  EXPECT_TRUE(decoder.IsEOF());
  EXPECT_EQ(decoder.LastErrMsg(), "stream eof reached.");
  const TFrameInfo& f = decoder.FrameInfo();
  EXPECT_EQ(f.Width, 320);
  EXPECT_EQ(f.Height, 240);
  EXPECT_EQ(f.StreamIndex, decoder.FirstVideoStreamIndex());
}

INSTANTIATE_TEST_SUITE_P(Clips, EveryPicture,
                         ::testing::Values(OrderCase{"h264_bframes", [] { return GopClip(12); }, 50},
                                           OrderCase{"mpeg4_avi", [] { return MediaPath(Clip::AviMpeg4Mp3); }, 50},
                                           OrderCase{"vp9_webm", [] { return MediaPath(Clip::WebmVp9Opus); }, 50}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FrameDecoder, KeyFrameSteppingLandsOnKeyFrames) {
  Load(GopClip(10));
  ASSERT_TRUE(decoder.Decode());
  EXPECT_TRUE(decoder.FrameInfo().IsKeyFrame);
  EXPECT_EQ(decoder.FrameInfo().PictureType, ptI);
  for (int64_t expected : {10 * kFrame, 20 * kFrame, 30 * kFrame, 40 * kFrame}) {
    ASSERT_TRUE(decoder.DecodeNextKeyFrame()) << decoder.LastErrMsg();
    EXPECT_TRUE(decoder.FrameInfo().IsKeyFrame);
    EXPECT_NEAR(decoder.FrameInfo().PTS, expected, 1000);
  }
  for (int64_t expected : {30 * kFrame, 20 * kFrame, 10 * kFrame, int64_t{0}}) {
    ASSERT_TRUE(decoder.DecodePreviousKeyFrame()) << decoder.LastErrMsg();
    EXPECT_TRUE(decoder.FrameInfo().IsKeyFrame);
    EXPECT_NEAR(decoder.FrameInfo().PTS, expected, 1000);
  }
}

TEST_F(FrameDecoder, PreviousKeyFrameFromInsideAGroupIsTheGroupsOwn) {
  Load(GopClip(10));
  ASSERT_TRUE(decoder.Seek(25 * kFrame, AVSEEK_FLAG_BACKWARD));
  while (decoder.Decode() && decoder.FrameInfo().PTS < 25 * kFrame) {
  }
  ASSERT_NEAR(decoder.FrameInfo().PTS, 25 * kFrame, 1000);
  ASSERT_TRUE(decoder.DecodePreviousKeyFrame());
  EXPECT_NEAR(decoder.FrameInfo().PTS, 20 * kFrame, 1000);
}

TEST_F(FrameDecoder, SeekThenDecodeGivesThePictureAtTheTarget) {
  // All pictures are key frames, so a seek can land on any of them.
  Load(GopClip(1));
  for (int64_t target : std::vector<int64_t>{0, 3 * kFrame, 1000000, 1234567, 49 * kFrame, 17 * kFrame}) {
    ASSERT_TRUE(decoder.Seek(target, AVSEEK_FLAG_BACKWARD)) << target << ": " << decoder.LastErrMsg();
    ASSERT_TRUE(decoder.Decode()) << decoder.LastErrMsg();
    EXPECT_NEAR(decoder.FrameInfo().PTS, target, kFrame) << target;
    EXPECT_LE(decoder.FrameInfo().PTS, target) << target;
  }
}

TEST_F(FrameDecoder, SeekInAGroupThenDecodingForwardReachesTheTarget) {
  Load(GopClip(12));
  for (int64_t target : std::vector<int64_t>{1000000, 1500000, 333333}) {
    ASSERT_TRUE(decoder.Seek(target, AVSEEK_FLAG_BACKWARD)) << decoder.LastErrMsg();
    ASSERT_TRUE(decoder.Decode());
    EXPECT_TRUE(decoder.FrameInfo().IsKeyFrame);
    EXPECT_LE(decoder.FrameInfo().PTS, target);
    while (decoder.FrameInfo().PTS + kFrame <= target) ASSERT_TRUE(decoder.Decode());
    EXPECT_NEAR(decoder.FrameInfo().PTS, target, kFrame) << target;
  }
}

TEST_F(FrameDecoder, PreviousFrameIsOnePictureBack) {
  Load(GopClip(12));
  ASSERT_TRUE(decoder.Seek(1000000, AVSEEK_FLAG_BACKWARD));
  while (decoder.Decode() && decoder.FrameInfo().PTS < 1000000) {
  }
  ASSERT_NEAR(decoder.FrameInfo().PTS, 1000000, 1000);
  ASSERT_TRUE(decoder.DecodePreviousFrame()) << decoder.LastErrMsg();
  EXPECT_NEAR(decoder.FrameInfo().PTS, 960000, 1000);
  ASSERT_TRUE(decoder.DecodePreviousFrame()) << decoder.LastErrMsg();
  EXPECT_NEAR(decoder.FrameInfo().PTS, 920000, 1000);
}

TEST_F(FrameDecoder, NegativeSeekGoesToTheStartAndClearsTheEnd) {
  Load(GopClip(12));
  DecodeAll();
  ASSERT_TRUE(decoder.IsEOF());
  EXPECT_FALSE(decoder.Decode());
  ASSERT_TRUE(decoder.Seek(-5000000));
  EXPECT_FALSE(decoder.IsEOF());
  EXPECT_FALSE(decoder.FrameInfo().Ready);
  ASSERT_TRUE(decoder.Decode());
  EXPECT_EQ(decoder.FrameInfo().PTS, 0);
}

TEST_F(FrameDecoder, PictureCopiesToABitmapOfItsSize) {
  Load(GopClip(12));
  TBitmap bitmap;
  EXPECT_FALSE(decoder.CopyToBitmap(bitmap));
  EXPECT_EQ(decoder.LastErrMsg(), "picture not ready, please decode first");
  EXPECT_EQ(decoder.GetBitmapPtr(), nullptr);
  ASSERT_TRUE(decoder.Decode());
  ASSERT_TRUE(decoder.CopyToBitmap(bitmap)) << decoder.LastErrMsg();
  EXPECT_EQ(bitmap.Width(), 320);
  EXPECT_EQ(bitmap.Height(), 240);
  EXPECT_EQ(bitmap.BitsPixel(), 24);
  // The test pattern is not one flat colour.
  int64_t sum = 0, sum_sq = 0, n = 0;
  for (int y = 0; y < bitmap.Height(); y += 8) {
    const uint8_t* row = bitmap.ScanLine(y);
    for (int x = 0; x < bitmap.Width() * 3; x += 7, ++n) {
      sum += row[x];
      sum_sq += row[x] * row[x];
    }
  }
  const double mean = static_cast<double>(sum) / n;
  EXPECT_GT(static_cast<double>(sum_sq) / n - mean * mean, 100.0);

  decoder.SetBitmapBitsPixel(32);
  const TDIB* dib = decoder.GetBitmapPtr();
  ASSERT_NE(dib, nullptr);
  EXPECT_EQ(dib->width, 320);
  EXPECT_EQ(dib->height, 240);
  EXPECT_EQ(dib->bits_pixel, 32);
  EXPECT_THROW(decoder.SetBitmapBitsPixel(12), EEngineError);
}

TEST_F(FrameDecoder, DeinterlacedPictureKeepsItsSizeAndEvenRows) {
  Load(GopClip(12));
  decoder.SetDeinterlace(true);
  ASSERT_TRUE(decoder.Decode());
  EXPECT_TRUE(decoder.Deinterlace());
  const TFrameInfo& f = decoder.FrameInfo();
  ASSERT_EQ(f.PixFmt, AV_PIX_FMT_YUV420P);
  const uint8_t* y = f.Picture.data[0];
  const int ls = f.Picture.linesize[0];
  for (int x = 0; x < f.Width; x += 13) {
    EXPECT_EQ(y[ls + x], (y[x] + y[2 * ls + x] + 1) / 2) << x;
  }
}

TEST_F(FrameDecoder, AudioBlocksCoverTheWholeSoundAtTheWantedRate) {
  Load(MediaPath(Clip::WavPcm));
  struct RateCase {
    int channels, rate;
  };
  for (RateCase c : {RateCase{2, 44100}, RateCase{1, 22050}}) {
    ASSERT_TRUE(decoder.Seek(0));
    decoder.SetDesireAudioChannels(c.channels);
    decoder.SetDesireAudioSampleRate(c.rate);
    int64_t bytes = 0;
    int64_t duration = 0;
    while (decoder.DecodeAudio()) {
      const TWaveInfo& w = decoder.WaveInfo();
      EXPECT_EQ(w.Channels, c.channels);
      EXPECT_EQ(w.SampleRate, c.rate);
      EXPECT_EQ(w.BytesPerSecond, 2 * c.rate * c.channels);
      bytes += w.Size;
      duration += w.Duration;
    }
    EXPECT_TRUE(decoder.IsEOF());
    const double expected = 2.0 * c.rate * c.channels * 2;
    EXPECT_NEAR(static_cast<double>(bytes), expected, expected * 0.01) << c.rate;
    EXPECT_NEAR(duration, 2000000, 20000);
  }
}

TEST_F(FrameDecoder, ReadAudioHandsOutABlockInPieces) {
  Load(MediaPath(Clip::WavPcm));
  std::vector<uint8_t> buf(1 << 20);
  EXPECT_GT(decoder.ReadAudio(nullptr, 10), 0);  // decodes a block, consumes nothing
  const int block = decoder.WaveInfo().Size;
  ASSERT_GT(block, 100);
  EXPECT_EQ(decoder.ReadAudio(nullptr, 10), 10);
  EXPECT_EQ(decoder.ReadAudio(buf.data(), 100), 100);
  EXPECT_EQ(decoder.ReadAudio(buf.data(), 1 << 20), block - 100);  // the rest of the block
  EXPECT_GT(decoder.ReadAudio(buf.data(), 1 << 20), 0);            // a new block
}

TEST_F(FrameDecoder, WrongStreamsAndMissingFilesAreRefusedWithTheirReason) {
  EXPECT_FALSE(decoder.Decode());
  EXPECT_EQ(decoder.LastErrMsg(), "file not loaded.");
  EXPECT_FALSE(decoder.Seek(0));
  EXPECT_EQ(decoder.Position(), -1);

  Load(MediaPath(Clip::WavPcm));
  EXPECT_FALSE(decoder.Decode());
  EXPECT_EQ(decoder.LastErrMsg(), "no video stream.");
  EXPECT_FALSE(decoder.Decode(5));
  EXPECT_EQ(decoder.LastErrMsg(), "stream index #5 is invalid.");

  Load(MediaPath(Clip::Mp4H264Aac));
  const int audio = decoder.FirstAudioStreamIndex();
  EXPECT_FALSE(decoder.Decode(audio));
  EXPECT_EQ(decoder.LastErrMsg(), "stream #" + std::to_string(audio) + " is not video stream.");
  EXPECT_FALSE(decoder.DecodeAudio(decoder.FirstVideoStreamIndex()));
  EXPECT_EQ(decoder.LastErrMsg(), "stream #" + std::to_string(decoder.FirstVideoStreamIndex()) +
                                      " is not audio stream.");
  EXPECT_GE(decoder.Position(), 0);
}

TEST_F(FrameDecoder, BrokenFilesFailWithAReason) {
  for (Clip clip : {Clip::ZeroBytes, Clip::Truncated, Clip::RandomBytes}) {
    const std::string path = MediaPath(clip);
    if (decoder.LoadFile(path)) {
      // Opened after all: decoding must end with a reason, never hang.
      int pictures = 0;
      while (decoder.Decode() && pictures < 1000) ++pictures;
      EXPECT_LT(pictures, 1000);
    }
    EXPECT_FALSE(decoder.LastErrMsg().empty()) << path;
  }
}

TEST_F(FrameDecoder, AttachedContextsCannotBeDecoded) {
  TFrameDecoder owner;
  ASSERT_TRUE(owner.LoadFile(MediaPath(Clip::Mp4H264Aac)));
  decoder.SetFileHandle(owner.FileHandle());
  EXPECT_THROW(decoder.Decode(), EEngineError);
  EXPECT_THROW(decoder.Seek(0), EEngineError);
  EXPECT_EQ(decoder.LastErrMsg(), "file cannot be seeked, handle is readonly.");
  decoder.CloseFile();  // forgets the context without closing it
  EXPECT_TRUE(owner.Decode());
}

TEST_F(FrameDecoder, PreviousKeyFrameSearchIsBoundedWhenNoEarlierPictureExists) {
  Load(GopClip(12));
  ASSERT_TRUE(decoder.Decode());
  ASSERT_EQ(decoder.FrameInfo().PTS, 0);
  // At the first picture there is nothing before it; the search ends.
  EXPECT_TRUE(decoder.DecodePreviousKeyFrame());
  EXPECT_EQ(decoder.FrameInfo().PTS, 0);
}

// A stream that states 1.5 million pictures a second: a picture lasts less
// than a microsecond. Its duration still counts as one microsecond, since
// the steps and the backward search go by picture durations (0 would make
// the backward search's bound never trip).
TEST_F(FrameDecoder, PicturesShorterThanAMicrosecondLastOne) {
  const std::string path = vidmill::testing::MediaDir() + "/sub_microsecond_pictures.nut";
  ASSERT_EQ(vidmill::testing::RunCommand("ffmpeg -loglevel error -y -f lavfi -i testsrc2=s=64x48:r=25:d=0.2 "
                                         "-c:v rawvideo -pix_fmt yuv420p -enc_time_base 1/1500000 "
                                         "-vf settb=1/1500000,setpts=N*100 -r 1500000 -f nut '" + path + "'"),
            0);
  Load(path);
  EXPECT_EQ(decoder.FrameDuration(decoder.FirstVideoStreamIndex()), 1);
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(decoder.Decode()) << decoder.LastErrMsg();
  const int64_t reference = decoder.FrameInfo().PTS;
  ASSERT_GT(reference, 0);
  ASSERT_TRUE(decoder.DecodePreviousKeyFrame()) << decoder.LastErrMsg();
  EXPECT_LT(decoder.FrameInfo().PTS, reference);
}

TEST_F(FrameDecoder, StillImageGivesItsPictureAgain) {
  ClipSpec s;
  s.name = "still.png";
  s.seconds = 0.04;
  s.sample_rate = 0;
  s.codec_args = {"-frames:v", "1", "-f", "image2"};
  const std::string path = MakeClip(s);
  ASSERT_TRUE(decoder.LoadFile(path, "image2")) << decoder.LastErrMsg();
  ASSERT_TRUE(decoder.Decode()) << decoder.LastErrMsg();
  EXPECT_TRUE(decoder.Decode());
  EXPECT_FALSE(decoder.Seek(0));
  EXPECT_EQ(decoder.LastErrMsg(), "\"image2\" format cannot to be seeked.");
}

}  // namespace
