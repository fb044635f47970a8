#include "probe/ff_decode.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <mutex>
#include <thread>

#include "core/engine_error.h"
#include "core/entry_points.h"
#include "core/ff_log.h"
#include "core/ff_utils.h"
#include "test_media.h"

using namespace vidmill;
using vidmill::testing::Clip;
using vidmill::testing::MediaPath;
using vidmill::testing::SpecOf;
namespace fs = std::filesystem;

namespace {

struct Logged {
  const TFFBaseComponent* sender;
  TLogLevel level;
  std::string text;
};

class Probe : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(decoder.LoadAVLib("")) << decoder.LastErrMsg();
    logger_ = TFFLogger::Create();
    logger_->SetLogLevel(llInfo);
    logger_->SetOnLog([this](const TFFBaseComponent* s, uint32_t, TLogLevel l, const std::string& m) {
      if (s == logger_.get()) return;  // the libraries' own lines
      std::lock_guard lock(mu_);
      logged_.push_back({s, l, m});
    });
  }
  void TearDown() override {
    decoder.CloseFile();
    logger_.reset();
  }
  std::vector<Logged> Logs() {
    std::lock_guard lock(mu_);
    return std::exchange(logged_, {});
  }
  TFFDecoder decoder;
  std::unique_ptr<TFFLogger> logger_;
  std::mutex mu_;
  std::vector<Logged> logged_;
};

// What the generator put into each clip, and what the probe must find.
struct ClipCase {
  Clip clip;
  const char* format;
  int video, audio, subtitle;
  const char* video_codec;  // decoder name, "" for none
  const char* audio_codec;
  int chapters;
  const char* title;  // "" for none
  float aspect;       // 0: the container gives no sample aspect ratio
};

const ClipCase kClips[] = {
    {Clip::Mp4H264Aac, "mov,mp4,m4a,3gp,3g2,mj2", 1, 1, 0, "h264", "aac", 0, "Vidmill test clip", 4.0f / 3},
    {Clip::AviMpeg4Mp3, "avi", 1, 1, 0, "mpeg4", "mp3float", 0, "", 4.0f / 3},
    {Clip::MkvSubsChapters, "matroska,webm", 1, 1, 1, "h264", "vorbis", 3, "Chaptered clip", 4.0f / 3},
    {Clip::WebmVp9Opus, "matroska,webm", 1, 1, 0, "vp9", "opus", 0, "", 0},
    {Clip::WavPcm, "wav", 0, 1, 0, "", "pcm_s16le", 0, "", 0},
    {Clip::Mp3Audio, "mp3", 0, 1, 0, "", "mp3float", 0, "", 0},
    {Clip::Mp4TwoAudio, "mov,mp4,m4a,3gp,3g2,mj2", 1, 2, 0, "h264", "aac", 0, "", 4.0f / 3},
};

bool StartsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

TEST_F(Probe, EveryGeneratedClipMatchesWhatWentIn) {
  for (const ClipCase& c : kClips) {
    const auto& spec = SpecOf(c.clip);
    const std::string path = MediaPath(c.clip);
    SCOPED_TRACE(spec.name);
    ASSERT_TRUE(decoder.LoadFile(path)) << decoder.LastErrMsg();
    EXPECT_EQ(decoder.FileName(), path);
    EXPECT_EQ(decoder.FormatName(), c.format);
    EXPECT_EQ(decoder.FileSize(), static_cast<int64_t>(fs::file_size(path)));
    EXPECT_EQ(decoder.StreamCount(), c.video + c.audio + c.subtitle);
    EXPECT_EQ(decoder.VideoStreamCount(), c.video);
    EXPECT_EQ(decoder.AudioStreamCount(), c.audio);
    EXPECT_EQ(decoder.SubtitleStreamCount(), c.subtitle);

    const TFileStreamInfo file = decoder.FileStreamInfo();
    const int64_t seconds_us = static_cast<int64_t>(spec.seconds * 1e6);
    EXPECT_NEAR(file.Duration, seconds_us, 60000);
    EXPECT_GT(file.BitRate, 0);
    EXPECT_EQ(file.Title, c.title);

    if (c.video) {
      const TVideoStreamInfo v = decoder.FirstVideoStreamInfo();
      EXPECT_EQ(v.Width, spec.width);
      EXPECT_EQ(v.Height, spec.height);
      EXPECT_EQ(av_q2d(v.FrameRate), std::stod(spec.rate));
      EXPECT_FLOAT_EQ(v.AspectRatio, c.aspect);
      EXPECT_EQ(v.PixFmt, AV_PIX_FMT_YUV420P);
      EXPECT_TRUE(StartsWith(v.CodecName, std::string(c.video_codec) + "(")) << v.CodecName;
      EXPECT_EQ(decoder.FirstVideoStreamIndex(), 0);
      EXPECT_TRUE(decoder.IsVideoStream(0));
    } else {
      EXPECT_EQ(decoder.FirstVideoStreamIndex(), -1);
    }
    const TAudioStreamInfo a = decoder.FirstAudioStreamInfo();
    EXPECT_EQ(a.SampleRate, spec.sample_rate);
    EXPECT_EQ(a.Channels, spec.channels);
    EXPECT_TRUE(StartsWith(a.CodecName, std::string(c.audio_codec) + "(")) << a.CodecName;
    EXPECT_TRUE(decoder.IsAudioStream(decoder.FirstAudioStreamIndex()));
    if (a.DurationScaled >= 0) {
      EXPECT_NEAR(a.DurationScaled, seconds_us, 60000);
    }

    const std::string text = decoder.FileInfoText();
    EXPECT_TRUE(StartsWith(text, "File Name: " + path + "\r\nFormat Name: " + c.format + "\r\n")) << text;
    EXPECT_NE(text.find("File Size: " + SizeText(decoder.FileSize()) + "\r\n"), std::string::npos);
    EXPECT_NE(text.find("Duration: " + TimeText(file.Duration) + "\r\n"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    for (int i = 0; i < decoder.StreamCount(); ++i) {
      EXPECT_NE(text.find("Stream #" + std::to_string(i)), std::string::npos) << text;
    }
    if (*c.title) {
      EXPECT_NE(text.find("  title           : " + std::string(c.title) + "\r\n"), std::string::npos);
    }
    if (c.video) {
      EXPECT_NE(text.find(", 25 fps, 25 tbr"), std::string::npos) << text;
    }
    int chapter_lines = 0;
    for (size_t at = text.find("Chapter #"); at != std::string::npos; at = text.find("Chapter #", at + 1)) ++chapter_lines;
    EXPECT_EQ(chapter_lines, c.chapters);
    EXPECT_TRUE(Logs().empty());
  }
}

TEST_F(Probe, ChaptersSubtitlesAndLanguagesOfTheMatroskaClip) {
  ASSERT_TRUE(decoder.LoadFile(MediaPath(Clip::MkvSubsChapters)));
  const std::string text = decoder.FileInfoText();
  const char* chapters =
      "Chapter #0: start 0.00, end 1.00\r\n  Metadata:\r\n    title           : One\r\n"
      "Chapter #1: start 1.00, end 2.00\r\n  Metadata:\r\n    title           : Two\r\n"
      "Chapter #2: start 2.00, end 3.00\r\n  Metadata:\r\n    title           : Three\r\n";
  EXPECT_NE(text.find(chapters), std::string::npos) << text;
  EXPECT_NE(text.find("Stream #2(eng), 1/1000: Subtitle: subrip"), std::string::npos) << text;
  const TSubtitleStreamInfo s = decoder.FirstSubtitleStreamInfo();
  EXPECT_EQ(s.Language, "eng");
  EXPECT_NE(s.CodecName.find("(SubRip subtitle)"), std::string::npos) << s.CodecName;
  EXPECT_EQ(decoder.FirstSubtitleStreamIndex(), 2);
  EXPECT_TRUE(decoder.IsSubtitleStream(2));
}

TEST_F(Probe, SecondAudioStreamIsReachedByIndex) {
  ASSERT_TRUE(decoder.LoadFile(MediaPath(Clip::Mp4TwoAudio)));
  EXPECT_EQ(decoder.FirstAudioStreamIndex(), 1);
  EXPECT_EQ(decoder.AudioStreamInfos(2).SampleRate, 44100);
  EXPECT_EQ(decoder.AudioStreamInfos(2).Channels, 2);
}

TEST_F(Probe, BrokenFilesAreRejectedWithTheirReason) {
  const std::pair<Clip, const char*> cases[] = {
      {Clip::ZeroBytes, "Invalid data found when processing input"},
      {Clip::Truncated, "Invalid data found when processing input"},
      {Clip::RandomBytes, "Invalid data found when processing input"},
  };
  for (const auto& [clip, reason] : cases) {
    const std::string path = MediaPath(clip);
    EXPECT_FALSE(decoder.LoadFile(path)) << path;
    EXPECT_EQ(decoder.LastErrMsg(), path + ": " + reason);
    EXPECT_EQ(decoder.FileHandle(), nullptr);
    EXPECT_EQ(decoder.StreamCount(), -1);
    const auto logs = Logs();
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(logs[0].sender, &decoder);
    EXPECT_EQ(logs[0].level, llError);
    EXPECT_EQ(logs[0].text, decoder.LastErrMsg());
  }
  const std::string missing = (fs::temp_directory_path() / "vidmill-no-such-file.mp4").string();
  EXPECT_FALSE(decoder.LoadFile(missing));
  EXPECT_EQ(decoder.LastErrMsg(), missing + ": No such file or directory");
}

TEST_F(Probe, ContentWinsOverAWrongExtension) {
  ASSERT_TRUE(decoder.LoadFile(MediaPath(Clip::WrongExtension))) << decoder.LastErrMsg();
  EXPECT_EQ(decoder.FormatName(), "mp3");
  EXPECT_EQ(decoder.VideoStreamCount(), 0);
}

TEST_F(Probe, UnknownFormatNameFailsQuietly) {
  ASSERT_TRUE(decoder.LoadFile(MediaPath(Clip::WavPcm)));
  EXPECT_FALSE(decoder.LoadFile(MediaPath(Clip::WavPcm), "no_such_format"));
  EXPECT_EQ(decoder.LastErrMsg(), "Unknown input format: no_such_format");
  EXPECT_EQ(decoder.FileHandle(), nullptr);
  EXPECT_TRUE(Logs().empty());
  ASSERT_TRUE(decoder.LoadFile(MediaPath(Clip::WavPcm), "wav"));
  EXPECT_EQ(decoder.ForceFormat(), "wav");
  decoder.CloseFile();
  EXPECT_EQ(decoder.ForceFormat(), "");
}

TEST_F(Probe, QueriesWithoutAFileOrTheRightStream) {
  EXPECT_EQ(decoder.FileStreamInfo().Duration, -1);
  EXPECT_EQ(decoder.LastErrMsg(), "file not loaded.");
  EXPECT_EQ(decoder.FileInfoText(), "");
  EXPECT_FALSE(decoder.IsAudioStream(0));
  auto logs = Logs();
  ASSERT_EQ(logs.size(), 3u);
  EXPECT_EQ(logs[0].level, llWarning);

  ASSERT_TRUE(decoder.LoadFile(MediaPath(Clip::WavPcm)));
  struct Case {
    std::function<int()> query;
    const char* message;
  };
  const Case cases[] = {
      {[&] { return decoder.VideoStreamInfos(-1).Width; }, "no video stream."},
      {[&] { return decoder.SubtitleStreamInfos(-1).CodecName.empty() ? -1 : 0; }, "no subtitle stream."},
      {[&] { return decoder.AudioStreamInfos(1).SampleRate; }, "stream index #1 is invalid."},
      {[&] { return decoder.VideoStreamInfos(0).Height; }, "stream #0 is not video stream."},
      {[&] { return decoder.IsAudioStream(-2) ? 0 : -1; }, "stream index #-2 is invalid."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.query(), -1) << c.message;
    EXPECT_EQ(decoder.LastErrMsg(), c.message);
    logs = Logs();
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(logs[0].level, llError);
  }
  const TVideoStreamInfo none = decoder.VideoStreamInfos(-1);
  EXPECT_EQ(none.FrameRate.num, -1);
  EXPECT_EQ(none.AspectRatio, -1.0f);
  EXPECT_EQ(none.DurationScaled, -1);
  EXPECT_FALSE(decoder.IsVideoStream(0));  // a real answer: no message
}

TEST_F(Probe, OpensNamesWithGreekCjkSpacesQuotesAndColons) {
  const fs::path dir = fs::path(vidmill::testing::MediaDir()) / "names";
  fs::create_directories(dir);
  const fs::path old_cwd = fs::current_path();
  fs::current_path(dir);
  for (const std::string name : {"Ταινία 電影 \"q\" 'a b'.mp4", "take:2 ταινία.mp4"}) {
    fs::copy_file(MediaPath(Clip::Mp4H264Aac), dir / name, fs::copy_options::overwrite_existing);
    ASSERT_TRUE(decoder.LoadFile(name)) << decoder.LastErrMsg();
    EXPECT_EQ(decoder.FileName(), name);
    EXPECT_EQ(decoder.FileSize(), static_cast<int64_t>(fs::file_size(dir / name)));
    EXPECT_TRUE(StartsWith(decoder.FileInfoText(), "File Name: " + name + "\r\n"));
    EXPECT_EQ(decoder.FileStreamInfo().Title, "Vidmill test clip");
  }
  fs::current_path(old_cwd);
}

TEST_F(Probe, TimeOutAndAbortCutABlockedLoadShort) {
  const fs::path fifo = fs::temp_directory_path() / ("vidmill-probe-" + std::to_string(getpid()) + ".fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  decoder.SetLoadTimeout(300);
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(decoder.LoadFile(fifo.string()));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_EQ(decoder.LastErrMsg(), fifo.string() + ": Timed out");

  decoder.SetLoadTimeout(0);
  start = std::chrono::steady_clock::now();
  std::thread aborter([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    decoder.Abort();
  });
  EXPECT_FALSE(decoder.LoadFile(fifo.string()));
  aborter.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_EQ(decoder.LastErrMsg(), fifo.string() + ": Immediate exit requested");
  fs::remove(fifo);
}

TEST_F(Probe, AttachedContextIsNotClosedByTheDecoder) {
  AVFormatContext* ctx = nullptr;
  ASSERT_TRUE(decoder.LoadFile(MediaPath(Clip::WavPcm)));
  ASSERT_EQ(ff::avformat_open_input(&ctx, MediaPath(Clip::Mp3Audio).c_str(), nullptr, nullptr), 0);
  decoder.SetFileHandle(ctx);
  EXPECT_EQ(decoder.FormatName(), "mp3");
  decoder.SetFileHandle(ctx);  // the same again: nothing happens
  EXPECT_EQ(decoder.FileHandle(), ctx);
  decoder.CloseFile();
  EXPECT_EQ(decoder.StreamCount(), -1);
  EXPECT_EQ(ctx->nb_streams, 1u);  // still open: ours to close
  ff::avformat_close_input(&ctx);
}

TEST(ProbeLibraries, MissingLibraryRaisesItsText) {
  TFFDecoder decoder;
  ASSERT_TRUE(decoder.LoadAVLib(""));
  TFFLoader::Instance().Unload(avFormat);
  EXPECT_FALSE(decoder.AVLibLoaded());
  try {
    decoder.LoadFile("whatever.mp4");
    FAIL() << "no error raised";
  } catch (const EEngineError& e) {
    EXPECT_STREQ(e.what(), "LibAVFormat not loaded.");
  }
  ASSERT_TRUE(decoder.LoadAVLib(""));
}

}  // namespace
