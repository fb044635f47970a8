// TCustomPlayer / TFFPlayer: plays a media file into a window of the
// application (or a window of its own), with sound.
//
// Calling order: LoadAVLib (which also loads SDL), set properties, Open,
// then the control methods; Stop before the host window goes away. Options
// of the "per playback" group (start_time, PlayTime, RepeatType,
// VerticalFlip, the wanted streams, seek_by_bytes) go back to their defaults
// after every playback, so they are set between Stop and Open.
//
// Thread rules: every method and setter is called from the application's
// main thread. Open and a waiting Stop keep running the engine's
// main-thread calls (main_thread.h) while they wait, so handlers that run
// on the main thread cannot dead-lock them. OnPosition and OnState come
// from the player's event thread, carried to the main thread when
// TriggerEventInMainThread is set (the default); OnFileOpen comes on the
// main thread inside Open; OnVideoHook runs in the video decode thread,
// OnAudioHook in SDL's audio thread and OnBeforeFindStreamInfo in the read
// thread, whatever TriggerEventInMainThread says.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/base_component.h"
#include "core/format_converter.h"
#include "player_types.h"
#include "probe/ff_decode.h"
#include "sdl_loader.h"

struct AVFormatContext;

namespace vidmill {

namespace player {
class TPlayback;
class TPlayEventQueue;
class TSyncEvent;
}  // namespace player

using TFileOpenEvent = std::function<void(TFFBaseComponent* Sender, int64_t ADuration,
                                          int AFrameWidth, int AFrameHeight, int& AScreenWidth,
                                          int& AScreenHeight)>;
using TPositionEvent = std::function<void(TFFBaseComponent* Sender, int64_t APTS)>;
using TPlayStateEvent = std::function<void(TFFBaseComponent* Sender, TPlayState APlayState)>;
// ABitmap: the picture in the hook converter's bitmap format
// (VideoHookBitsPixel); the handler may draw on it and leave AUpdate set to
// have the drawing shown.
using TVideoHookEvent = std::function<void(TFFBaseComponent* Sender, TBitmap& ABitmap,
                                           int64_t APTS, bool& AUpdate)>;
using TAudioHookEvent = std::function<void(TFFBaseComponent* Sender, int64_t APTS, uint8_t* ASample,
                                           int ASize, int ASampleRate, int AChannels)>;
using TBeforeFindStreamInfoEvent =
    std::function<void(TFFBaseComponent* Sender, AVFormatContext* AFormatContext)>;

// Options a playback copies when it starts (changes reach the next Open).
struct TPlayOptions {
  int sws_flags = 4;               // scaler flags of the video graph (bicubic)
  std::string file_iformat;        // forced input format name ("" detects it)
  int screen_width = 0;            // video area; 0: the host window's size
  int screen_height = 0;
  int frame_width = 0;             // size hint for raw inputs
  int frame_height = 0;
  int frame_pix_fmt = -1;          // pixel format hint for raw inputs
  bool audio_disable = false;
  bool video_disable = false;
  bool display_disable = false;
  std::array<int, 7> wanted_stream{-1, -1, -1, -1, -1, -1, -1};  // by media type + 1
  int seek_by_bytes = -1;          // -1 automatic, 0 no, 1 yes
  Tav_sync_type av_sync_type = AV_SYNC_AUDIO_MASTER;
  int64_t start_time = INT64_MIN;  // microseconds; INT64_MIN: from the start
  int debug = 0;
  int debug_mv = 0;
  int workaround_bugs = 1;
  bool fast = false;
  bool genpts = false;
  int lowres = 0;
  int idct_algo = 0;
  int skip_frame = 0;
  int skip_idct = 0;
  int skip_loop_filter = 0;
  int error_recognition = 1;
  int error_concealment = 3;
  int decoder_threads = 1;         // video decoding threads (0: as many as cores)
  int decoder_reorder_pts = -1;    // -1 corrected, 1 reordered pts, 0 packet dts
  int framedrop = 0;               // drop late pictures
  int rdftspeed = 20;              // refresh period (ms) of an audio display
  std::string vfilters;            // video filter chain
  bool is_full_screen = false;
  bool deinterlace = false;        // taken from SetDeinterlace at Open
  bool auto_adjust_frame_rate = true;
  std::string force_frame_rate;    // "" or a rate such as "25" or "30000/1001"
  bool check_io_eof = true;
  bool check_io_err = true;
  int read_timeout_ms = 10000;     // open time-out; 0: none
  int64_t play_time = INT64_MIN;   // play-time limit in microseconds; INT64_MIN: none
  TRepeatType repeat_type = rtStop;
  TShowAudio show_audio = saWave;
  TAudioDriver audio_driver = adDefault;
  TVideoDriver video_driver = vdDefault;
};

// Figures of the current (or last) playback, for tests and benchmarks.
struct TPlayStats {
  int64_t pictures_decoded = 0;
  int64_t pictures_shown = 0;
  int64_t pictures_dropped = 0;     // late pictures dropped by the display
  int64_t pictures_skipped = 0;     // skipped by the decoder to catch up
  int64_t pictures_late = 0;        // shown more than one picture duration after their time
  double max_lateness = 0;          // seconds
  int64_t subtitles_decoded = 0;
  int64_t subtitles_shown = 0;      // pictures shown with a subtitle blended in
  // Seconds between a picture's time and the audio clock when it was shown,
  // measured while the display keeps time: pictures shown late (the
  // machine too busy to run the play thread in time) and those shown in the
  // 0.2 s after one, while the pictures catch up, count in pictures_late
  // instead.
  double max_av_diff = 0;
  double max_av_diff_at = -1;       // time of the picture with that gap
  int64_t av_diff_samples = 0;      // pictures measured for max_av_diff
  double last_shown_pts = -1;       // seconds, stream time of the picture on screen
  int audio_rate = 0;               // the audio device's granted rate, channels
  int audio_channels = 0;
};

class TCustomPlayer : public TFFBaseComponent {
 public:
  TCustomPlayer();
  ~TCustomPlayer() override;  // Stop(true), then frees everything
  TCustomPlayer(const TCustomPlayer&) = delete;
  TCustomPlayer& operator=(const TCustomPlayer&) = delete;

  // Media libraries (every library but the device library).
  bool AVLibLoaded() const;
  // Loads the media libraries from APath ("" for the system's); with
  // AAutoLoadSDL also SDL from the same folder. False with LastErrMsg set.
  bool LoadAVLib(const std::string& APath, bool AAutoLoadSDL = true);
  void UnloadAVLib();
  bool SDLLibLoaded() const { return sdl_loader_.Loaded(); }
  bool LoadSDLLib(const std::string& APath, const std::string& AFile = kDefaultSDLFile);
  void UnloadSDLLib();

  // Opens AFileName and plays it into the window AScreenHandle (an X11
  // window id; 0: a window of the player's own), paused after its first
  // picture when APaused. A running playback is stopped first. False with
  // LastErrMsg set when the file or SDL cannot be opened.
  bool Open(const std::string& AFileName, uint64_t AScreenHandle = 0, bool APaused = false);
  // Ends the playback; with AWaitForStop returns once it has ended and
  // OnState(psStop) has been delivered, else at once.
  void Stop(bool AWaitForStop = true);
  void Pause();
  void Resume();
  void TogglePause();
  // Shows the next picture and pauses again.
  void StepToNextFrame();
  void ToggleAudioDisplay();
  // Absolute seek to APTS microseconds from the start (a byte position with
  // sfByte). With AWaitForSeekEnd returns once the new picture is queued.
  void Seek(int64_t APTS, TSeekFlags ASeekFlags = 0, bool AWaitForSeekEnd = false);
  // Relative seek by ADelta seconds (bytes estimated from the bit rate with sfByte).
  void SeekDelta(double ADelta, TSeekFlags ASeekFlags = 0, bool AWaitForSeekEnd = false);
  // The picture on screen in the snapshot converter's bitmap (owned by the
  // player: copy it), with its position in microseconds from the start. A
  // 0 x 0 bitmap and -1 without video or before the first picture.
  const TBitmap& CurrentFrame(int64_t* APTS = nullptr);
  // The host window changed size or place: redraw. SDL does not follow the
  // size of a window it did not create, so the application passes the host
  // window's new size (0 x 0: unchanged).
  void UpdateScreenPosition(int AWidth = 0, int AHeight = 0);

  // Stream choice of the running playback (-1 without one). Setting a new
  // index switches streams in the read thread; false with LastErrMsg set
  // when refused (subtitles accept -1: none).
  int AudioStreamIndex() const;
  int VideoStreamIndex() const;
  int SubtitleStreamIndex() const;
  bool SetAudioStreamIndex(int index);
  bool SetVideoStreamIndex(int index);
  bool SetSubtitleStreamIndex(int index);

  // Options copied by the next Open. The per-playback group (start_time,
  // play_time, repeat_type, wanted_stream, seek_by_bytes) goes back to its
  // defaults on the play thread as a playback ends: set them after Stop (or
  // psStop) and before Open, not while a playback is ending.
  TPlayOptions& Options() { return options_; }
  const TPlayOptions& Options() const { return options_; }
  // Looks the name up among the input formats: throws EEngineError
  // "Unknown input format: %s"; false with "libav not loaded." without libraries.
  bool SetForceFormat(const std::string& name);
  // Throws EEngineError "Incorrect frame rate" for a text that is not a rate.
  void SetForceFrameRate(const std::string& rate);

  // Live values, read by a running playback.
  float AspectRatio() const { return aspect_ratio_.load(); }
  void SetAspectRatio(float ratio);  // -1 fills the area, 0 the stream's own
  TAudioVolume AudioVolume() const { return audio_volume_.load(); }
  void SetAudioVolume(TAudioVolume v) { audio_volume_ = v > kMaxAudioVolume ? kMaxAudioVolume : v; }
  bool Mute() const { return mute_.load(); }
  void SetMute(bool v) { mute_ = v; }
  bool VerticalFlip() const { return vertical_flip_.load(); }
  void SetVerticalFlip(bool v) { vertical_flip_ = v; }
  bool Deinterlace() const { return deinterlace_.load(); }
  void SetDeinterlace(bool v) { deinterlace_ = v; }  // takes effect at the next Open
  TShowAudio ShowAudio() const { return options_.show_audio; }
  void SetShowAudio(TShowAudio v);
  bool VideoHook() const { return video_hook_.load(); }
  void SetVideoHook(bool v) { video_hook_ = v; }
  // Bits per pixel of the snapshot and hook bitmaps: 8, 15, 16, 24 (default)
  // or 32; any other value throws EEngineError. Not while a playback runs.
  int VideoHookBitsPixel() const { return rgb_converter_.BitsPixel(); }
  void SetVideoHookBitsPixel(int bits);
  bool AudioHook() const { return audio_hook_.load(); }
  void SetAudioHook(bool v) { audio_hook_ = v; }
  bool TriggerEventInMainThread() const { return trigger_in_main_.load(); }
  void SetTriggerEventInMainThread(bool v) { trigger_in_main_ = v; }

  // State.
  const std::string& FileName() const { return input_filename_; }
  std::string LastErrMsg() const;
  uint64_t ScreenHandle() const { return screen_handle_; }
  int64_t CurrentPTS() const { return current_pts_.load(); }
  bool Paused() const;
  TPlayState PlayState() const { return state_.load(); }
  bool Seeking() const { return seeking_.load(); }
  bool Playing() const;  // a playback is open
  TPlayStats Stats() const;
  // The probe describing the playing file (owned by the player; never null).
  // The read thread detaches it when the playback ends: hold LockDecoder()
  // around queries made while a playback may end.
  TFFDecoder* Decoder() const { return decoder_.get(); }
  std::unique_lock<std::mutex> LockDecoder();

  // Events (set before Open; see the thread rules above).
  TFileOpenEvent OnFileOpen;
  TPositionEvent OnPosition;
  TPlayStateEvent OnState;
  TVideoHookEvent OnVideoHook;
  TAudioHookEvent OnAudioHook;
  TBeforeFindStreamInfoEvent OnBeforeFindStreamInfo;

 private:
  friend class player::TPlayback;

  // Called by the playback's threads.
  void SetLastErrMsg(const std::string& msg);
  void Fail(const std::string& msg);  // logs the error and keeps it in LastErrMsg
  void ReportState(TPlayState s);
  void ReportPosition(int64_t pts);
  bool StartSDL(uint64_t handle, const TPlayOptions& opts);
  void ShutSDL();
  void ResetPlaybackOptions();
  void NotifyFileOpen(player::TPlayback& pb);
  void RunPlayThread(std::shared_ptr<player::TPlayback> pb);
  void StartEventThread();
  void RunEventThread();
  void DeliverEvent(int kind, int64_t value);
  void StopEventThread();
  void WaitSeek(player::TPlayback& pb);
  bool SwitchStream(int media_type, int index);
  void WaitForStop();
  std::shared_ptr<player::TPlayback> CurrentPlayback() const;
  void AttachDecoder(player::TPlayback& pb);
  void DetachDecoder(const player::TPlayback* pb);

  TPlayOptions options_;                // main thread
  TSDLLoader sdl_loader_;
  TSDLFunctions sdl_{};                 // copy of the loader's table
  std::unique_ptr<TFFDecoder> decoder_;  // describes the playing file
  TFormatConverter rgb_converter_;      // snapshots (main thread)
  TFormatConverter hook_converter_;     // video hook (video decoder thread)
  std::mutex decoder_mu_;               // attaching, detaching and closing the input
  const player::TPlayback* attached_to_ = nullptr;  // guarded by decoder_mu_

  mutable std::mutex playback_mu_;
  std::shared_ptr<player::TPlayback> playback_;  // guarded by playback_mu_
  std::unique_ptr<player::TPlayEventQueue> events_;
  std::unique_ptr<player::TSyncEvent> seek_event_;  // set: no seek pending
  std::unique_ptr<player::TSyncEvent> pict_event_;  // set: the picture after a seek is queued
  std::unique_ptr<player::TSyncEvent> stop_event_;  // set: no play thread runs
  std::unique_ptr<std::thread> play_thread_;        // joined by the next Open/Stop
  std::unique_ptr<std::thread> event_thread_;       // main thread starts and joins it
  std::atomic<bool> event_thread_stop_{false};
  std::atomic<bool> event_thread_done_{true};
  std::atomic<bool> destroying_{false};

  std::string input_filename_;
  uint64_t screen_handle_ = 0;
  SDL_Window* window_ = nullptr;        // host window wrapped at Open (SDLCallLock)
  uint32_t sdl_subsystems_ = 0;         // SDL subsystems this player started

  mutable std::mutex err_mu_;
  std::string last_err_msg_;            // guarded by err_mu_
  mutable std::mutex stats_mu_;
  mutable TPlayStats last_stats_;       // guarded by stats_mu_

  std::atomic<float> aspect_ratio_{0};
  std::atomic<TAudioVolume> audio_volume_{kMaxAudioVolume};
  std::atomic<bool> mute_{false};
  std::atomic<bool> vertical_flip_{false};
  std::atomic<bool> deinterlace_{false};
  std::atomic<bool> video_hook_{false};
  std::atomic<bool> audio_hook_{false};
  std::atomic<bool> trigger_in_main_{true};
  std::atomic<bool> step_{false};
  std::atomic<bool> seeking_{false};
  std::atomic<bool> open_cancel_{false};
  std::atomic<int64_t> last_read_{INT64_MAX};  // start of the current blocking open step; 0 cancels
  std::atomic<int64_t> current_pts_{-1};
  std::atomic<int64_t> last_pts_{INT64_MIN};
  std::atomic<TPlayState> state_{psStop};
  std::atomic<player::TPlayback*> playback_cb_{nullptr};  // the playback still opening
};

// The published player: TCustomPlayer's properties with their defaults.
class TFFPlayer : public TCustomPlayer {
 public:
  TFFPlayer() = default;
};

}  // namespace vidmill
