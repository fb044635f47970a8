// Types shared by the player component and its playback engine.
#pragma once

#include <cstdint>

namespace vidmill {

// The player's state as OnState reports it.
enum TPlayState : uint8_t {
  psPlay,    // 0: the play thread started: the file plays
  psPause,   // 1: paused by Pause/TogglePause, or a paused open showed its first picture
  psResume,  // 2: playing again after a pause
  psStep,    // 3: stepping picture by picture
  psStop,    // 4: the play thread ended: the playback is closed
  psEnd,     // 5: the input has been played to its end (repeated for audio-only files)
};

// Seek flags, as the media library's seek takes them (bits 1, 2, 4, 8).
enum TSeekFlag : uint8_t {
  sfBackward = 1,  // seek to the key frame at or before the target
  sfByte = 2,      // the target is a byte position
  sfAny = 4,       // any frame, not only key frames
  sfFrame = 8,     // the target is a frame number
};
using TSeekFlags = uint8_t;  // an or-ed set of TSeekFlag

// SDL audio drivers a player may ask for; SDL's choice by default.
enum TAudioDriver : uint8_t {
  adDefault,     // "": SDL's choice (or SDL_AUDIODRIVER of the environment)
  adPulseAudio,  // "pulseaudio"
  adAlsa,        // "alsa"
  adDummy,       // "dummy": plays nothing, at the device's pace
  adDisk,        // "disk": writes the samples to SDL_DISKAUDIOFILE
};

// SDL video drivers a player may ask for; SDL's choice by default.
enum TVideoDriver : uint8_t {
  vdDefault,  // "": SDL's choice (or SDL_VIDEODRIVER of the environment)
  vdX11,      // "x11": the only driver that can play into a host window
  vdDummy,    // "dummy": draws into memory only
};

// The SDL name of a driver ("" for the default).
const char* AudioDriverName(TAudioDriver d);
const char* VideoDriverName(TVideoDriver d);

// Volume of the played samples: 0 silent .. 128 unchanged.
using TAudioVolume = uint8_t;
inline constexpr TAudioVolume kMaxAudioVolume = 128;

// What stands in for the picture of an audio stream.
enum TShowAudio : uint8_t {
  saNone,  // 0: nothing
  saWave,  // 1: the wave of the recent samples
  saRDFT,  // 2: a scrolling spectrum
};

// What happens when PlayTime is reached.
enum TRepeatType : uint8_t {
  rtNone,  // nothing
  rtStop,  // the player stops
  rtLoop,  // the playback seeks back to its start
};

// Which clock the others follow.
enum Tav_sync_type : uint8_t {
  AV_SYNC_AUDIO_MASTER,    // pictures follow the sound (the default)
  AV_SYNC_VIDEO_MASTER,    // the sound is stretched or shortened to follow the pictures
  AV_SYNC_EXTERNAL_CLOCK,  // both follow the wall clock
};

}  // namespace vidmill
