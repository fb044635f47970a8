#include "editing/sound_companion.h"

#include <algorithm>
#include <thread>

namespace vidmill {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A seek has reached the sound when the heard time lies this close to its
// target (the sound starts at the packet holding the target, a little before).
constexpr int64_t kArrivedBeforeUs = 250000;
constexpr int64_t kArrivedAfterUs = 1000000;
// Playing time after which the clock is trusted again even when a seek
// seems not to have arrived (a target past the end, a seek that failed).
constexpr auto kSeekPatience = milliseconds(1000);
constexpr auto kStallLimit = milliseconds(1500);
constexpr auto kSeekWaitLimit = milliseconds(300);

}  // namespace

TSoundCompanion::~TSoundCompanion() { Close(); }

bool TSoundCompanion::Open(const std::string& file, const std::string& sdl_path, bool paused) {
  Close();
  if (!player_.SDLLibLoaded() && !player_.LoadSDLLib(sdl_path)) return false;
  TPlayOptions& options = player_.Options();
  options.display_disable = true;  // sound only: no window, no video decoding
  options.audio_disable = false;
  if (!player_.Open(file, 0, paused)) return false;
  active_ = true;
  playing_ = !paused;
  kept_seek_.reset();
  awaited_target_.reset();
  last_heard_ = -1;
  heard_since_ = Clock::now();
  return true;
}

void TSoundCompanion::Close() {
  if (!active_) return;
  active_ = false;
  playing_ = false;
  player_.Stop(true);
}

void TSoundCompanion::Pause() {
  if (!active_) return;
  player_.Pause();
  playing_ = false;
}

void TSoundCompanion::Resume() {
  if (!active_) return;
  if (kept_seek_) {
    const auto limit = Clock::now() + kSeekWaitLimit;
    while (player_.Seeking() && Clock::now() < limit) std::this_thread::sleep_for(milliseconds(2));
    SendKeptSeek();
  }
  player_.Resume();
  playing_ = true;
  awaiting_since_ = Clock::now();
  heard_since_ = Clock::now();
}

void TSoundCompanion::Seek(int64_t t) {
  if (!active_) return;
  kept_seek_ = std::max<int64_t>(t, 0);
  SendKeptSeek();
}

void TSoundCompanion::SendKeptSeek() {
  if (!kept_seek_ || player_.Seeking()) return;
  player_.Seek(*kept_seek_, sfAny, false);
  awaited_target_ = kept_seek_;
  awaiting_since_ = Clock::now();
  kept_seek_.reset();
}

std::optional<int64_t> TSoundCompanion::HeardPosition() {
  if (!active_) return std::nullopt;
  SendKeptSeek();
  if (kept_seek_) return std::nullopt;
  const int64_t heard = player_.CurrentPTS();
  if (heard < 0) return std::nullopt;
  if (heard != last_heard_) {
    last_heard_ = heard;
    heard_since_ = Clock::now();
  }
  if (awaited_target_) {
    const int64_t target = *awaited_target_;
    const bool arrived = heard >= target - kArrivedBeforeUs && heard <= target + kArrivedAfterUs;
    const bool waited_enough = !player_.Seeking() && Clock::now() - awaiting_since_ > kSeekPatience;
    if (!arrived && !waited_enough) return std::nullopt;
    awaited_target_.reset();
  }
  return heard;
}

bool TSoundCompanion::Stalled() const {
  if (!active_) return false;
  if (!player_.Playing()) return true;  // the playback closed itself (a read error)
  return playing_ && !Ended() && Clock::now() - heard_since_ > kStallLimit;
}

void TSoundCompanion::SetVolume(int volume) {
  player_.SetAudioVolume(static_cast<TAudioVolume>(std::clamp(volume, 0, int{kMaxAudioVolume})));
}

}  // namespace vidmill
