// Playing generated clips headless (SDL's dummy drivers): states, timing,
// pause, step, seeks and stream choice.
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "core/entry_points.h"
#include "player_fixture.h"

namespace vidmill::testing {
namespace {

using namespace std::chrono_literals;

// A 10 s clip with a key frame every 12 pictures (0.48 s at 25 fps).
constexpr double kGop = 12 / 25.0;
std::string LongClip(const std::string& name) {
  ClipSpec s;
  s.name = name;
  s.seconds = 10;
  s.codec_args = {"-c:v", "libx264", "-g", "12", "-keyint_min", "12", "-sc_threshold", "0",
                  "-c:a", "aac"};
  return MakeClip(s);
}

TEST_F(PlayerTest, PlaysToTheEndInItsLengthWithPicturesFollowingTheSound) {
  const std::string clip = MediaPath(Clip::Mp4H264Aac);  // 2 s
  const auto opened = std::chrono::steady_clock::now();
  ASSERT_TRUE(player_.Open(clip)) << player_.LastErrMsg();
  ASSERT_TRUE(WaitUntil([&] { return events_.Has(psEnd); }, 6s));
  const double played = std::chrono::duration<double>(events_.TimeOf(psEnd) - opened).count();
  // The end is reported once the packet queues are empty: up to two queued
  // pictures (80 ms) and the device's buffered sound (about 50 ms) early;
  // opening, the first picture and the first audio callback add up to 0.3 s
  // on a busy machine (0.1 s on an idle one).
  EXPECT_GT(played, 2.0 - 0.25);
  EXPECT_LT(played, 2.0 + 0.4);
  const TPlayStats stats = player_.Stats();
  // Pictures shown late (the first one, which waits for the display to
  // open, and any whose thread the machine did not run in time) are not
  // measured but counted: a broken clock would make most of them late.
  EXPECT_LT(stats.pictures_late, stats.pictures_shown / 5);
  EXPECT_GT(stats.av_diff_samples, 30);
  EXPECT_LT(stats.max_av_diff, 0.100) << "at the picture of " << stats.max_av_diff_at << " s";
  EXPECT_EQ(stats.pictures_dropped, 0);
  const int64_t duration = player_.Decoder()->FileStreamInfo().Duration;
  EXPECT_TRUE(WaitUntil([&] { return events_.LastPosition() == duration; }, 1s))
      << events_.LastPosition() << " vs " << duration;
  player_.Stop(true);
  EXPECT_EQ(events_.States(), (std::vector<TPlayState>{psPlay, psEnd, psStop}));
  EXPECT_EQ(player_.PlayState(), psStop);
}

TEST_F(PlayerTest, OpenPausedShowsTheFirstPictureThenPauses) {
  ASSERT_TRUE(player_.Open(MediaPath(Clip::Mp4H264Aac), 0, true)) << player_.LastErrMsg();
  ASSERT_TRUE(WaitUntil([&] { return events_.Has(psPause); }, 3s));
  const double shown = WaitForStillPicture();
  EXPECT_GE(shown, 0.0);
  EXPECT_LT(shown, 0.1);
  EXPECT_TRUE(player_.Paused());
  player_.Stop(true);
  // psPause follows psPlay at once; when the event thread has not taken
  // psPlay yet, the newer state replaces it (only the latest state waits).
  std::vector<TPlayState> states = events_.States();
  if (!states.empty() && states.front() == psPlay) states.erase(states.begin());
  EXPECT_EQ(states, (std::vector<TPlayState>{psPause, psStop}));
}

TEST_F(PlayerTest, PauseHoldsThePositionAndStepShowsExactlyOnePicture) {
  ASSERT_TRUE(player_.Open(MediaPath(Clip::Mp4H264Aac))) << player_.LastErrMsg();
  ASSERT_TRUE(WaitUntil([&] { return ShownPts() > 0.3; }, 3s));
  player_.Pause();
  const double held = WaitForStillPicture();
  const int64_t position = player_.CurrentPTS();
  std::this_thread::sleep_for(400ms);
  EXPECT_EQ(ShownPts(), held);
  EXPECT_EQ(player_.CurrentPTS(), position);

  for (int i = 1; i <= 3; ++i) {
    player_.StepToNextFrame();
    const double stepped = WaitForStillPicture();
    EXPECT_NEAR(stepped - held, i * 0.04, 0.001) << "step " << i;
    EXPECT_TRUE(player_.Paused());
  }
  player_.Resume();
  EXPECT_TRUE(WaitUntil([&] { return ShownPts() > held + 0.3; }, 3s));
  player_.Stop(true);
  const auto states = events_.States();
  EXPECT_EQ(states.front(), psPlay);
  EXPECT_NE(std::find(states.begin(), states.end(), psStep), states.end());
  EXPECT_EQ(states.back(), psStop);
}

TEST_F(PlayerTest, PlayTimeStopsOrLoopsThePlayback) {
  player_.Options().play_time = 600000;
  player_.Options().repeat_type = rtStop;
  ASSERT_TRUE(player_.Open(MediaPath(Clip::Mp4H264Aac))) << player_.LastErrMsg();
  ASSERT_TRUE(WaitUntil([&] { return events_.Has(psStop); }, 3s));
  EXPECT_NEAR(events_.LastPosition(), 600000, 60000);
  EXPECT_EQ(player_.Options().play_time, INT64_MIN) << "back at its default after the playback";

  player_.Options().play_time = 600000;
  player_.Options().repeat_type = rtLoop;
  ASSERT_TRUE(player_.Open(MediaPath(Clip::Mp4H264Aac))) << player_.LastErrMsg();
  bool looped = false;
  double highest = 0;
  const auto end = std::chrono::steady_clock::now() + 3s;
  while (!looped && std::chrono::steady_clock::now() < end) {
    const double shown = ShownPts();
    highest = std::max(highest, shown);
    looped = highest >= 0.6 && shown >= 0 && shown < 0.3;
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_TRUE(looped) << "highest picture " << highest;
  EXPECT_LT(highest, 0.8);
  player_.Stop(true);
}

struct SeekCase {
  const char* name;
  double from, to;
  TSeekFlags flags;
};

class SeekTest : public PlayerTest, public ::testing::WithParamInterface<SeekCase> {};

TEST_P(SeekTest, LandsWithinOneKeyFrameInterval) {
  const SeekCase c = GetParam();
  ASSERT_TRUE(player_.Open(LongClip("seek_10s.mp4"), 0, true)) << player_.LastErrMsg();
  ASSERT_TRUE(WaitUntil([&] { return events_.Has(psPause); }, 3s));
  if (c.from > 0) {
    player_.Seek(static_cast<int64_t>(c.from * 1e6), 0, true);
    WaitForStillPicture();
  }
  player_.Seek(static_cast<int64_t>(c.to * 1e6), c.flags, true);
  const double landed = WaitForStillPicture();
  if (c.flags & sfBackward) {
    EXPECT_LE(landed, c.to + 0.001);
    EXPECT_GT(landed, c.to - kGop - 0.001);
  } else {
    EXPECT_NEAR(landed, c.to, kGop + 0.001);
  }
  EXPECT_TRUE(player_.Paused()) << "a seek while paused stays paused";
  player_.Stop(true);
}

INSTANTIATE_TEST_SUITE_P(Player, SeekTest,
                         ::testing::Values(SeekCase{"Forward", 1.0, 6.3, 0},
                                           SeekCase{"Backward", 7.0, 2.2, sfBackward},
                                           SeekCase{"ToStart", 5.0, 0.0, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

// The picture time of the first video key frame stored at or after a byte position.
double KeyFrameTimeAt(const std::string& path, int64_t byte_pos) {
  AVFormatContext* ic = nullptr;
  if (ff::avformat_open_input(&ic, path.c_str(), nullptr, nullptr) < 0) return -1;
  ff::avformat_find_stream_info(ic, nullptr);
  double t = -1;
  AVPacket* pkt = ff::av_packet_alloc();
  while (ff::av_read_frame(ic, pkt) >= 0) {
    const AVStream* st = ic->streams[pkt->stream_index];
    const bool key = pkt->flags & AV_PKT_FLAG_KEY;
    if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && key && pkt->pos >= byte_pos) {
      t = (pkt->pts - (st->start_time != AV_NOPTS_VALUE ? st->start_time : 0)) * av_q2d(st->time_base);
      ff::av_packet_unref(pkt);
      break;
    }
    ff::av_packet_unref(pkt);
  }
  ff::av_packet_free(&pkt);
  ff::avformat_close_input(&ic);
  return t;
}

TEST_F(PlayerTest, SeekByBytesLandsAtTheKeyFrameStoredThere) {
  ClipSpec s;
  s.name = "seek_10s.ts";
  s.seconds = 10;
  s.codec_args = {"-c:v", "libx264", "-g", "12", "-keyint_min", "12", "-sc_threshold", "0",
                  "-c:a", "aac", "-f", "mpegts"};
  const std::string clip = MakeClip(s);
  ASSERT_TRUE(player_.Open(clip, 0, true)) << player_.LastErrMsg();
  ASSERT_TRUE(WaitUntil([&] { return events_.Has(psPause); }, 3s));
  const int64_t target = std::filesystem::file_size(clip) / 2;
  const double expected = KeyFrameTimeAt(clip, target);
  ASSERT_GT(expected, 0);
  player_.Seek(target, sfByte, true);
  const double landed = WaitForStillPicture() - player_.Decoder()->FileStreamInfo().StartTime / 1e6;
  EXPECT_NEAR(landed, expected, kGop + 0.001);
  player_.Stop(true);
}

// Zero crossings per second of one channel of interleaved 16-bit samples.
double ToneOf(const int16_t* s, size_t frames, int channels, int rate) {
  int crossings = 0;
  for (size_t i = 1; i < frames; ++i) {
    if ((s[(i - 1) * channels] < 0) != (s[i * channels] < 0)) ++crossings;
  }
  return crossings / 2.0 / (static_cast<double>(frames) / rate);
}

TEST_F(PlayerTest, ChoosingAnotherAudioStreamChangesTheSound) {
  std::mutex mu;
  std::vector<int16_t> heard;
  int rate = 0, channels = 0;
  player_.SetAudioHook(true);
  player_.OnAudioHook = [&](TFFBaseComponent*, int64_t, uint8_t* sample, int size, int r, int ch) {
    std::lock_guard lock(mu);
    const auto* s = reinterpret_cast<const int16_t*>(sample);
    heard.insert(heard.end(), s, s + size / 2);
    rate = r;
    channels = ch;
  };
  ASSERT_TRUE(player_.Open(MediaPath(Clip::Mp4TwoAudio))) << player_.LastErrMsg();
  EXPECT_EQ(player_.AudioStreamIndex(), 1);
  ASSERT_TRUE(WaitUntil([&] { std::lock_guard l(mu); return heard.size() > 20000; }, 3s));
  double before;
  {
    std::lock_guard lock(mu);
    before = ToneOf(heard.data() + 4096, heard.size() / channels - 4096 / channels, channels, rate);
    heard.clear();
  }
  EXPECT_NEAR(before, 440, 15);
  ASSERT_TRUE(player_.SetAudioStreamIndex(2)) << player_.LastErrMsg();
  EXPECT_EQ(player_.AudioStreamIndex(), 2);
  ASSERT_TRUE(WaitUntil([&] { std::lock_guard l(mu); return heard.size() > 20000; }, 3s));
  {
    std::lock_guard lock(mu);
    const double after = ToneOf(heard.data() + 4096, heard.size() / channels - 4096 / channels, channels, rate);
    EXPECT_NEAR(after, 880, 25);
  }
  EXPECT_FALSE(player_.SetAudioStreamIndex(0));  // the video stream
  EXPECT_EQ(player_.LastErrMsg(), "the stream type is not matched.");
  EXPECT_FALSE(player_.SetAudioStreamIndex(7));
  EXPECT_EQ(player_.LastErrMsg(), "the stream index is not valid.");
  player_.Stop(true);
}

TEST_F(PlayerTest, SubtitlesCanBeTurnedOffAndOn) {
  ASSERT_TRUE(player_.Open(MediaPath(Clip::MkvSubsChapters))) << player_.LastErrMsg();
  EXPECT_EQ(player_.SubtitleStreamIndex(), 2);
  ASSERT_TRUE(player_.SetSubtitleStreamIndex(-1));
  EXPECT_EQ(player_.SubtitleStreamIndex(), -1);
  player_.Seek(0, 0, true);
  const int64_t decoded_off = player_.Stats().subtitles_decoded;
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(player_.Stats().subtitles_decoded, decoded_off);
  ASSERT_TRUE(player_.SetSubtitleStreamIndex(2));
  EXPECT_EQ(player_.SubtitleStreamIndex(), 2);
  player_.Seek(0, 0, true);
  EXPECT_TRUE(WaitUntil([&] { return player_.Stats().subtitles_decoded > decoded_off; }, 3s));
  player_.Stop(true);
}

TEST_F(PlayerTest, AudioOnlyFileReportsTheEndRepeatedlyUntilStopped) {
  player_.Options().show_audio = saRDFT;
  ASSERT_TRUE(player_.Open(MediaPath(Clip::WavPcm))) << player_.LastErrMsg();
  EXPECT_EQ(player_.VideoStreamIndex(), -1);
  ASSERT_TRUE(WaitUntil([&] { return events_.Has(psEnd); }, 5s));
  player_.Stop(true);
  const auto states = events_.States();
  EXPECT_EQ(states.front(), psPlay);
  EXPECT_EQ(states.back(), psStop);
  EXPECT_NEAR(events_.LastPosition(), 2000000, 30000);
}

// The 16-bit samples of a WAV file's "data" chunk.
std::vector<int16_t> WavSamples(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t at = 12;
  while (at + 8 <= bytes.size()) {
    uint32_t len;
    std::memcpy(&len, &bytes[at + 4], 4);
    if (bytes.compare(at, 4, "data") == 0) {
      std::vector<int16_t> s(std::min<size_t>(len, bytes.size() - at - 8) / 2);
      std::memcpy(s.data(), &bytes[at + 8], s.size() * 2);
      return s;
    }
    at += 8 + len + (len & 1);
  }
  return {};
}

class DiskAudioTest : public PlayerTest {
 protected:
  // Plays the 1 kHz WAV with SDL's "disk" driver at `volume`; fills the
  // captured samples from the first non-silent one, and the source's.
  void Capture(TAudioVolume volume) {
    const std::string capture = MediaDir() + "/capture_" + std::to_string(getpid()) + ".raw";
    setenv("SDL_DISKAUDIOFILE", capture.c_str(), 1);  // where SDL's "disk" driver writes
    player_.Options().audio_driver = adDisk;
    player_.SetAudioVolume(volume);
    const std::string wav = MediaPath(Clip::WavPcm);  // 2 s, 1 kHz, 44.1 kHz stereo
    ASSERT_TRUE(player_.Open(wav)) << player_.LastErrMsg();
    ASSERT_TRUE(WaitUntil([&] { return events_.Has(psEnd); }, 5s));
    std::this_thread::sleep_for(200ms);  // the device plays out its buffer
    player_.Stop(true);
    unsetenv("SDL_DISKAUDIOFILE");
    const TPlayStats stats = player_.Stats();
    ASSERT_EQ(stats.audio_rate, 44100);
    ASSERT_EQ(stats.audio_channels, 2);
    std::ifstream in(capture, std::ios::binary);
    std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove(capture);
    std::vector<int16_t> all(raw.size() / 2);
    std::memcpy(all.data(), raw.data(), all.size() * 2);
    source_ = WavSamples(wav);
    ASSERT_GT(source_.size(), 100000u);
    const auto first_heard = std::find_if(all.begin(), all.end(), [](int16_t v) { return v != 0; });
    ASSERT_NE(first_heard, all.end());
    heard_.assign(all.begin() + (first_heard - all.begin()) / 2 * 2, all.end());
    const auto first_source = std::find_if(source_.begin(), source_.end(), [](int16_t v) { return v != 0; });
    source_.erase(source_.begin(), source_.begin() + (first_source - source_.begin()) / 2 * 2);
    ASSERT_GE(heard_.size(), source_.size());
  }
  std::vector<int16_t> heard_, source_;
};

TEST_F(DiskAudioTest, FullVolumePlaysTheSourceSampleForSample) {
  Capture(kMaxAudioVolume);
  size_t differing = 0;
  for (size_t i = 0; i < source_.size(); ++i) differing += heard_[i] != source_[i];
  EXPECT_EQ(differing, 0u);
  EXPECT_NEAR(ToneOf(heard_.data(), source_.size() / 2, 2, 44100), 1000, 5);
}

TEST_F(DiskAudioTest, HalfVolumeHalvesEverySample) {
  Capture(kMaxAudioVolume / 2);
  size_t off = 0;
  for (size_t i = 0; i < source_.size(); ++i) off += std::abs(heard_[i] - source_[i] / 2) > 1;
  EXPECT_EQ(off, 0u);
}

TEST_F(PlayerTest, VideoHookDrawingShowsInTheSnapshotOfThePictureOnScreen) {
  std::atomic<int> hooked{0};
  player_.SetVideoHook(true);
  player_.OnVideoHook = [&](TFFBaseComponent*, TBitmap& bmp, int64_t, bool& update) {
    for (int y = 0; y < 32; ++y) std::memset(bmp.ScanLine(y), 255, 32 * 3);  // white corner
    update = true;
    ++hooked;
  };
  ASSERT_TRUE(player_.Open(MediaPath(Clip::Mp4H264Aac), 0, true)) << player_.LastErrMsg();
  ASSERT_TRUE(WaitUntil([&] { return events_.Has(psPause); }, 3s));
  WaitForStillPicture();
  int64_t pts = -2;
  const TBitmap& shot = player_.CurrentFrame(&pts);
  ASSERT_EQ(shot.Width(), 320);
  ASSERT_EQ(shot.Height(), 240);
  EXPECT_GE(hooked.load(), 1);
  EXPECT_GE(pts, 0);
  EXPECT_LE(pts, 40000) << "one of the two pictures decoded before the pause";
  const uint8_t* corner = shot.ScanLine(10) + 10 * 3;
  for (int c = 0; c < 3; ++c) EXPECT_GT(corner[c], 235) << "channel " << c;
  int white_elsewhere = 0;
  for (int x = 100; x < 300; ++x) {
    const uint8_t* p = shot.ScanLine(150) + x * 3;
    white_elsewhere += p[0] > 235 && p[1] > 235 && p[2] > 235;
  }
  EXPECT_LT(white_elsewhere, 150) << "the test pattern is still there";
  player_.Stop(true);
  EXPECT_EQ(player_.CurrentFrame(&pts).Width(), 0);
  EXPECT_EQ(pts, -1);
}

}  // namespace
}  // namespace vidmill::testing
