// The editing previews with sound: the trim dialog's pictures follow the
// time being heard, pause, seek and the end work on that clock, sources
// without sound or without pictures still play, and what is heard is the
// source at the chosen volume (SDL's "disk" driver writes it to a file).
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <unistd.h>

#include "catalogue_fixture.h"
#include "core/ff_load.h"
#include "editing/crop_dialog.h"
#include "editing/trim_dialog.h"
#include "player/player.h"
#include "test_media.h"

using namespace vidmill;
using vidmill::testing::Clip;
using vidmill::testing::ClipSpec;
using vidmill::testing::MakeClip;
using vidmill::testing::MediaDir;
using vidmill::testing::MediaPath;
using vidmill::testing::TRecordingSink;

namespace {

constexpr int64_t kFrameUs = 40000;  // 25 fps clips

QString PathOf(Clip clip) { return QString::fromStdString(MediaPath(clip)); }

class TrimSound : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(TFFLoader::Instance().Load(kPlayerLibraries)); }
  TFramePlayer& Player() { return dialog.Player(); }
  int64_t Heard() { return Player().SoundPlayer().CurrentPTS(); }
  // Lets the dialog run for ms, reading the position and the time heard
  // every 20 ms. The wall time that took, in microseconds, goes to
  // watched_us: on a loaded machine it can be well above ms, and the
  // sound goes on in real time meanwhile.
  struct Sample {
    int64_t shown, heard;
  };
  std::vector<Sample> Watch(int ms) {
    std::vector<Sample> samples;
    QElapsedTimer clock;
    for (int waited = 0; waited < ms; waited += 20) {
      QTest::qWait(20);
      if (samples.empty()) clock.start();
      const int64_t shown = Player().CurrentPTS();
      samples.push_back({shown, Heard()});
    }
    watched_us = clock.nsecsElapsed() / 1000;
    return samples;
  }
  int64_t watched_us = 0;  // from the first sample to the last
  TRecordingSink sink;
  TTrimDialog dialog{sink};
};

TEST_F(TrimSound, PicturesFollowTheTimeBeingHeard) {
  dialog.Begin(PathOf(Clip::Mp4H264Aac), {0, 2000000, 2000000});
  ASSERT_TRUE(Player().SoundActive());
  ASSERT_EQ(Player().State(), TFrameState::Play);
  const std::vector<Sample> samples = Watch(800);
  int close = 0;
  for (const Sample& s : samples) {
    EXPECT_LE(s.shown, s.heard + 1000) << "a picture shown before its sound";
    close += s.heard - s.shown < 2 * kFrameUs + 20000;
  }
  // The dialog's clock runs on the main thread: a busy machine may hold a
  // few of its ticks back, never most of them.
  EXPECT_GE(close * 10, static_cast<int>(samples.size()) * 6) << "pictures lag behind the sound";
  const int64_t moved = samples.back().shown - samples.front().shown;
  EXPECT_GT(moved, watched_us / 2);
  EXPECT_LT(moved, watched_us + 2 * kFrameUs + 100000);
  EXPECT_TRUE(sink.reports.isEmpty());
}

TEST_F(TrimSound, PauseHoldsPictureAndSound) {
  dialog.Begin(PathOf(Clip::Mp4H264Aac), {0, 2000000, 2000000});
  ASSERT_TRUE(Player().SoundActive());
  Watch(300);
  dialog.PauseToggle();
  ASSERT_EQ(Player().State(), TFrameState::Pause);
  QTest::qWait(50);
  const int64_t shown = Player().CurrentPTS();
  const int64_t heard = Heard();
  const QString text = dialog.PlayTimeText();
  EXPECT_GT(shown, 100000);
  QTest::qWait(400);
  EXPECT_EQ(Player().CurrentPTS(), shown);
  EXPECT_NEAR(static_cast<double>(Heard()), static_cast<double>(heard), 30000);
  EXPECT_EQ(dialog.PlayTimeText(), text);
  // Resuming goes on from there.
  dialog.PauseToggle();
  const std::vector<Sample> samples = Watch(300);
  EXPECT_GE(samples.front().shown, shown);
  EXPECT_GT(samples.back().shown, shown + 150000);
}

TEST_F(TrimSound, SeekWhilePausedThenPlayGoesOnFromTheTarget) {
  dialog.Begin(PathOf(Clip::Mp4H264Aac), {0, 2000000, 2000000});
  ASSERT_TRUE(Player().SoundActive());
  dialog.PauseToggle();
  dialog.SeekTrack(250);  // 0.5 s: the picture goes there at once
  dialog.SeekTrack(600);  // 1.2 s, perhaps while the sound still seeks to 0.5 s
  EXPECT_NEAR(static_cast<double>(Player().CurrentPTS()), 1200000, kFrameUs);
  dialog.PlayFull();
  ASSERT_EQ(Player().State(), TFrameState::Play);
  const std::vector<Sample> samples = Watch(400);
  for (const Sample& s : samples) EXPECT_GE(s.shown, 1200000 - kFrameUs);
  EXPECT_GT(samples.back().shown, 1300000);
  EXPECT_LT(samples.back().shown, 1200000 + watched_us + 300000);
  EXPECT_NEAR(static_cast<double>(samples.back().heard), static_cast<double>(samples.back().shown),
              3.0 * kFrameUs + 40000);
}

TEST_F(TrimSound, SourceWithoutSoundPlaysOnItsOwnClock) {
  ClipSpec spec;
  spec.name = "pictures_only.mp4";
  spec.seconds = 1;
  spec.sample_rate = 0;
  spec.codec_args = {"-c:v", "libx264", "-g", "12"};
  dialog.Begin(QString::fromStdString(MakeClip(spec)), {0, 1000000, 1000000});
  EXPECT_TRUE(sink.reports.isEmpty());
  EXPECT_FALSE(Player().SoundActive());
  ASSERT_EQ(Player().State(), TFrameState::Play);
  QTest::qWait(400);
  EXPECT_GT(Player().CurrentPTS(), 150000);
  // It plays to its end, which stops the dialog's player.
  EXPECT_TRUE(QTest::qWaitFor([&] { return Player().State() == TFrameState::Stop; }, 3000));
}

TEST_F(TrimSound, SoundDeviceThatCannotOpenLeavesThePicturesOnTheirOwnClock) {
  Player().SoundPlayer().Options().audio_driver = adPulseAudio;  // no sound server in the test machines
  dialog.Begin(PathOf(Clip::Mp4H264Aac), {0, 2000000, 2000000});
  if (Player().SoundActive()) GTEST_SKIP() << "a sound server answers on this machine";
  EXPECT_TRUE(sink.reports.isEmpty());
  ASSERT_EQ(Player().State(), TFrameState::Play);
  QTest::qWait(300);
  EXPECT_GT(Player().CurrentPTS(), 100000);
  dialog.StopPlaying();
}

TEST_F(TrimSound, SoundWithoutPicturesMovesThePositionWithTheTimeHeard) {
  dialog.Begin(PathOf(Clip::WavPcm), {0, 2000000, 2000000});
  ASSERT_TRUE(Player().SoundActive());
  const std::vector<Sample> samples = Watch(500);
  for (size_t i = 2; i < samples.size(); ++i) {
    // The position is taken at the last tick, the time heard now.
    EXPECT_NEAR(static_cast<double>(samples[i].shown), static_cast<double>(samples[i].heard), 60000) << i;
  }
  EXPECT_GT(samples.back().shown, 250000);
  // Near the end: the end of the sound ends the playing.
  dialog.SeekTrack(850);  // 1.7 s
  EXPECT_TRUE(QTest::qWaitFor([&] { return Player().State() == TFrameState::Stop; }, 3000));
  EXPECT_EQ(dialog.PlayTimeText(), "00:00:02 / 00:00:02");
  dialog.SetStartFromPosition();
  EXPECT_GE(dialog.TrimStart(), 1700000);
}

// What SDL's "disk" driver wrote while the dialogs played, as 16-bit samples.
class HeardSound : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(TFFLoader::Instance().Load(kPlayerLibraries));
    capture_ = MediaDir() + "/editing_capture_" + std::to_string(getpid()) + ".raw";
    setenv("SDL_DISKAUDIOFILE", capture_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("SDL_DISKAUDIOFILE");
    std::filesystem::remove(capture_);
  }
  std::vector<int16_t> Captured() {
    std::ifstream in(capture_, std::ios::binary);
    std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int16_t> s(raw.size() / 2);
    std::memcpy(s.data(), raw.data(), s.size() * 2);
    return s;
  }
  static int Peak(const std::vector<int16_t>& s) {
    int peak = 0;
    for (int16_t v : s) peak = std::max(peak, std::abs(static_cast<int>(v)));
    return peak;
  }
  // The frequency of the first channel of stereo samples, from the median
  // time between upward zero crossings: silence the device was given
  // meanwhile (before the start, after the stop, or when the machine was
  // too busy to decode in time) does not count.
  static double Tone(const std::vector<int16_t>& s, int rate) {
    std::vector<size_t> ups;
    for (size_t i = 2; i < s.size(); i += 2) {
      if (s[i - 2] < 0 && s[i] >= 0) ups.push_back(i / 2);
    }
    if (ups.size() < 3) return 0;
    std::vector<size_t> periods;
    for (size_t i = 1; i < ups.size(); ++i) periods.push_back(ups[i] - ups[i - 1]);
    std::nth_element(periods.begin(), periods.begin() + periods.size() / 2, periods.end());
    return static_cast<double>(rate) / static_cast<double>(periods[periods.size() / 2]);
  }
  // The samples after the first sound, a little way in (past the coder's start).
  static std::vector<int16_t> Sounding(const std::vector<int16_t>& all) {
    auto first = std::find_if(all.begin(), all.end(), [](int16_t v) { return std::abs(v) > 200; });
    const size_t from = std::min<size_t>((first - all.begin()) / 2 * 2 + 8192, all.size());
    return std::vector<int16_t>(all.begin() + from, all.end());
  }
  std::string capture_;
  TRecordingSink sink;
};

TEST_F(HeardSound, TrimPlaysTheSourcesToneAndCropPlaysItAtTheMainWindowsVolume) {
  const QString clip = PathOf(Clip::Mp4H264Aac);  // a 440 Hz sine, peaks near 2900 in each channel
  {
    TTrimDialog trim(sink);
    trim.Player().SoundPlayer().Options().audio_driver = adDisk;
    trim.Begin(clip, {0, 2000000, 2000000});
    ASSERT_TRUE(trim.Player().SoundActive()) << trim.Player().SoundPlayer().LastErrMsg();
    QTest::qWait(600);
    trim.StopPlaying();
  }
  const std::vector<int16_t> full = Sounding(Captured());
  ASSERT_GT(full.size(), 20000u) << "the trim dialog's sound reached the device";
  EXPECT_NEAR(Tone(full, 44100), 440, 15);
  EXPECT_NEAR(Peak(full), 2900, 300);
  std::filesystem::remove(capture_);

  TCropDialog crop(sink);
  crop.AudioVolume = 64;
  crop.SourcePlayer().SoundPlayer().Options().audio_driver = adDisk;
  crop.Begin(clip, TCropValues{});
  ASSERT_TRUE(crop.SourcePlayer().SoundActive());
  EXPECT_FALSE(crop.OutputPlayer().SoundActive());
  QTest::qWait(600);
  crop.SourcePlayer().Stop();
  const std::vector<int16_t> half = Sounding(Captured());
  ASSERT_GT(half.size(), 20000u) << "the source preview's sound reached the device";
  EXPECT_NEAR(Tone(half, 44100), 440, 15);
  EXPECT_NEAR(static_cast<double>(Peak(half)) / Peak(full), 0.5, 0.03) << "volume 64 of 128";
  EXPECT_TRUE(sink.reports.isEmpty());
}

}  // namespace
