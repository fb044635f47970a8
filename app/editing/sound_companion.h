// TSoundCompanion: the sound of a source played by the engine's player with
// no picture and no window, beside a TFramePlayer that shows the pictures.
//
// The frame player asks HeardPosition() on every tick and shows the picture
// due at that time, so the sound is the clock the pictures follow. Seeks go
// out with the "any frame" flag (the player decodes no video, so it need not
// start at a key frame and the sound starts next to the target); a seek
// asked for while the player still carries out the previous one is kept and
// sent as soon as that one is done, so the last target always wins.
//
// Thread rules: main thread only. Holds no Qt object.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "player/player.h"

namespace vidmill {

class TSoundCompanion {
 public:
  TSoundCompanion() = default;
  ~TSoundCompanion();  // Close
  TSoundCompanion(const TSoundCompanion&) = delete;
  TSoundCompanion& operator=(const TSoundCompanion&) = delete;

  // Loads SDL (from sdl_path, the system's when it is "" or does not hold
  // it) and opens file's sound, paused or playing. False with LastErrMsg set
  // when SDL, the sound device or the file's sound cannot be opened; the
  // caller then goes on without sound.
  bool Open(const std::string& file, const std::string& sdl_path, bool paused);
  void Close();  // waits until the player has stopped
  bool Active() const { return active_; }

  void Pause();
  // Sends a kept seek first, so the sound goes on from the last target.
  void Resume();
  // t: microseconds from the start.
  void Seek(int64_t t);
  // The time of the sample being heard, microseconds from the start; none
  // while a seek has not reached the sound yet (the old clock would lie).
  std::optional<int64_t> HeardPosition();
  // The sound has been played to its end.
  bool Ended() const { return active_ && player_.PlayState() == psEnd; }
  // Playing, but the heard position has not moved for a while: the sound
  // device takes no samples, and the pictures had better not wait for it.
  bool Stalled() const;

  void SetVolume(int volume);  // 0 silent .. 128 unchanged; live
  std::string LastErrMsg() const { return player_.LastErrMsg(); }
  // The engine's player, for its options (the audio driver) before Open.
  TFFPlayer& Player() { return player_; }

 private:
  void SendKeptSeek();

  TFFPlayer player_;
  bool active_ = false;
  std::optional<int64_t> kept_seek_;      // waiting for the running seek to end
  std::optional<int64_t> awaited_target_; // sent, not yet heard
  std::chrono::steady_clock::time_point awaiting_since_{};
  bool playing_ = false;
  int64_t last_heard_ = -1;
  std::chrono::steady_clock::time_point heard_since_{};  // when last_heard_ was last new
};

}  // namespace vidmill
