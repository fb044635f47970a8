// TPlayback: one playback of one opened file (the player's video state).
//
// Threads of a playback, and what each owns:
//   read thread      opens the input, picks the streams, fills the packet
//                    queues, seeks, switches streams, closes the decoders;
//   video decoder    videoq -> decoder -> filter chain -> picture queue;
//   subtitle decoder subtitleq -> decoder -> subtitle queue;
//   refresh thread   wakes the play thread every few milliseconds;
//   play thread      (the player's) runs the event loop: every SDL video
//                    call, the clocks' display side, the position routine;
//   SDL audio thread the audio callback: audioq -> decoder -> resampler ->
//                    device, and the audio clock.
// Files: read_thread.cpp, video_decoder.cpp (with the subtitle decoder),
// display.cpp (clocks, picture queue, event loop), audio_out.cpp (callback,
// audio displays).
//
// Every field says who writes it and what guards it. Flags that other
// threads poll are atomics; nothing holds two of the queue locks at once.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/tx.h>
}

#include "av_handles.h"
#include "core/ff_utils.h"
#include "filters/filter_chain.h"
#include "packet_queue.h"
#include "player.h"

namespace vidmill::player {

inline constexpr int kPictureQueueSize = 2;
inline constexpr int kSubtitleQueueSize = 4;
inline constexpr int kSampleArraySize = 131072;
inline constexpr int64_t kMaxQueueBytes = 15 * 1024 * 1024;
inline constexpr int kMinAudioQueueBytes = 327680;
inline constexpr int kMinFrames = 5;
inline constexpr double kNoSyncThreshold = 10.0;  // seconds: larger gaps are jumps, not drift

// Events of the play thread's loop (the playback's own queue: SDL2 has one
// event queue per process, which several players would steal from).
enum class TPlayEventKind {
  evQuit,     // the player stops, or the read thread failed: close the playback
  evResize,   // the window changed size
  evExpose,   // the window needs repainting
  evRefresh,  // show the next picture when due
  evAspect,   // the aspect ratio changed: rebuild the display and redraw
  evPausedOpen,  // a playback opened paused has shown its first pictures
};

// A decoded picture waiting for display (producer: video decoder; consumer:
// play thread; entries are handed over through pictq_mu).
struct TVideoPicture {
  double pts = 0;          // presentation time, seconds of the stream
  double target_time = 0;  // wall-clock seconds it is due at
  int64_t pos = -1;        // byte position of its packet
  FramePtr frame;          // planar YUV 4:2:0, even width and height
  AVRational sar{0, 1};
};

// A decoded subtitle (producer: subtitle decoder; consumer: play thread).
struct TSubtitleEntry {
  double pts = 0;  // seconds
  AVSubtitle sub{};
  bool used = false;
  void Free();
};

class TPlayback {
 public:
  TPlayback(TCustomPlayer& owner, const TPlayOptions& opts, const TSDLFunctions& sdl,
            SDL_Window* host_window, int fs_width, int fs_height);
  ~TPlayback();
  TPlayback(const TPlayback&) = delete;
  TPlayback& operator=(const TPlayback&) = delete;

  // Main thread. Starts the read thread and waits (running main-thread
  // calls) until the input is open; false with the owner's LastErrMsg set.
  bool Start(const std::string& filename, bool paused);
  // Play thread (or the owner when the play thread never ran): aborts every
  // thread, waits for them and frees the decoders. Idempotent.
  void Close();
  // Play thread: the event loop; returns when the playback is to be closed.
  void EventLoop();
  void PushEvent(TPlayEventKind kind);

  // Requests (main thread).
  void TogglePause();
  void RequestSeek(int64_t pos, int64_t rel, int flags);
  // A seek to a position from the start (microseconds; bytes with sfByte),
  // kept within the duration.
  void SeekTo(int64_t pts, int flags);
  // Any thread: cuts the open (and every blocking read) short.
  void RequestAbort() { abort_request_ = true; }
  // Switches a stream inside the read thread; waits for its result.
  bool RequestStreamSwitch(int media_type, int index);
  void SetShowAudio(int v);
  // The host window has a new size (0 x 0: as SDL knows it); redraws.
  void RequestResize(int width, int height);

  // Queries (any thread).
  bool IsPaused() const { return paused_.load(); }
  bool SeekPending() const { return seek_req_.load(); }
  bool Aborted() const { return abort_request_.load(); }
  int StreamIndex(int media_type) const;
  bool HasVideo() const { return video_stream_.load() >= 0; }
  bool HasAudio() const { return audio_stream_.load() >= 0; }
  bool HasSubtitles() const { return subtitle_stream_.load() >= 0; }
  const TPlayOptions& Options() const { return opts_; }
  int64_t Duration() const { return duration_; }
  int64_t StartTime() const { return start_time_; }
  bool IsImage2() const { return is_image2_; }
  int64_t ByteOffset() const;
  int64_t BitRate() const;
  double MasterClock();
  int ShowAudioMode() const { return show_audio_.load(); }
  // The picture on screen (with the subtitles drawn over it): a reference to
  // it and its time (seconds).
  FramePtr ShownPicture(double* pts);
  int VideoWidth() const;
  int VideoHeight() const;
  AVFormatContext* FormatContext() const { return ic_; }
  TPlayStats Stats();

 private:
  // --- playback.cpp ---
  void AbortQueues();
  // A decoder stops waiting: its packet queue or the whole playback is aborted.
  bool VideoAborted() const { return videoq_.Aborted() || abort_request_.load(); }
  bool SubtitleAborted() const { return subtitleq_.Aborted() || abort_request_.load(); }

  // --- read_thread.cpp ---
  void ReadThread();
  int OpenInput();
  void ReadLoop();
  void EndPhase(int result);
  void DoSeek(int64_t target, int64_t rel, int flags);
  void DoStreamSwitch();
  bool SwitchPending();
  int StreamComponentOpen(int index);
  void StreamComponentClose(int index);
  bool QueuesFull() const;
  bool InterruptRequested();
  void Log(int level, const std::string& msg) const;
  void Logf(int level, const char* fmt, ...) const __attribute__((format(printf, 3, 4)));

  // --- video_decoder.cpp ---
  void VideoThread();
  int GetVideoFrame(AVFrame* frame, int64_t* pts, int64_t* pos);
  bool FilterAndQueue(AVFrame* decoded, int64_t pts, int64_t pos);
  bool EnsureFilterChain(const AVFrame* frame);
  int OutputPicture(AVFrame* frame, double pts, int64_t pos);
  void HandleVideoFlush();
  void SubtitleThread();
  void ConvertSubtitlePalette(AVSubtitle* sub);
  void ApplyVideoHook(AVFrame* frame, double pts);

  // --- display.cpp ---
  double AudioClock();
  double VideoClock();
  double ExternalClock();
  double ComputeTargetTime(double frame_current_pts);
  int QueuePicture(AVFrame* frame, double pts, int64_t pos);
  void RefreshThread();
  void VideoRefresh(bool dequeue);
  bool OpenVideoMode(bool force);
  void VideoDisplay();
  void DrawPicture(const AVFrame* frame, AVRational sar, double pts);
  bool BlendSubtitles(AVFrame* frame, double pts);
  void DropExpiredSubtitles();
  void PositionRoutine();
  void HandleWindowEvents();
  void DestroyDisplay();
  void ResetRenderer();
  void UpdateScreenSize();
  void AdvanceReadSlot();

  // --- audio_out.cpp ---
  static void SDLCALL AudioCallbackThunk(void* opaque, Uint8* stream, int len);
  void AudioCallback(uint8_t* stream, int len);
  int AudioDecodeFrame(double* pts);
  int ConvertAudio(AVFrame* frame);
  int SynchronizeAudio(int size);
  void UpdateSampleArray(const uint8_t* samples, int size);
  void AudioDisplay();
  void DrawWave(int channels, int start);
  void DrawSpectrum(int channels, int start);
  int AudioDisplayStart(int channels, int data_used);
  int OpenAudioDevice(AVCodecContext* ctx);
  bool WaitingForFirstPicture();

  TCustomPlayer& owner_;
  const TPlayOptions opts_;  // copied at Open
  const TSDLFunctions sdl_;
  std::string filename_;

  // Threads (started and joined by Start/Close on the main or play thread).
  std::thread read_tid_, video_tid_, subtitle_tid_, refresh_tid_;

  // Flags polled across threads.
  std::atomic<bool> abort_request_{false};
  std::atomic<bool> paused_{false};
  std::atomic<bool> seek_req_{false};     // release-published with seek_pos_/rel_/flags_
  int64_t seek_pos_ = 0;                  // written by the main thread before seek_req_
  int64_t seek_rel_ = 0;
  int seek_flags_ = 0;
  std::atomic<int> read_pause_return_{0};
  std::atomic<int64_t> read_pos_{-1};  // byte position of the last packet read
  std::atomic<bool> read_done_{false};  // the read thread has finished
  std::atomic<int> opened_{0};  // 0 opening, 1 open, -1 failed, -2 read thread done after failure
  std::atomic<bool> reach_eof_{false};
  std::atomic<bool> event_eof_{false};
  std::atomic<bool> reading_{false};
  std::atomic<int> open_paused_{0};
  std::atomic<bool> seek_paused_{false};
  std::atomic<bool> seek_done_{false};
  std::atomic<bool> seek_flushed_{false};
  std::atomic<bool> refresh_{false};
  std::atomic<int> show_audio_{0};

  // Stream switch request: the main thread writes under switch_mu_, the
  // read thread carries it out and answers.
  std::mutex switch_mu_;
  std::condition_variable switch_cv_;
  bool switch_req_ = false;  // guarded by switch_mu_
  int switch_type_ = -1, switch_index_ = -1;
  int switch_result_ = 0;    // 1 done, -1 refused

  // Input. ic_ and the stream fields are written by the read thread; other
  // threads read them after Start published opened_ = 1, or in their own
  // life span inside a stream component (opened before, closed after).
  mutable std::mutex ic_mu_;       // guards closing ic_ against the main thread's lookups
  AVFormatContext* ic_ = nullptr;  // closed by the read thread's end phase
  bool is_image2_ = false;
  bool is_device_ = false;
  int64_t start_time_ = 0;
  int64_t duration_ = -1;
  int64_t bit_rate_ = 0;
  std::atomic<int64_t> audio_duration_{-1};
  std::atomic<int> video_stream_{-1}, audio_stream_{-1}, subtitle_stream_{-1};
  AVStream* video_st_ = nullptr;
  AVStream* audio_st_ = nullptr;
  AVStream* subtitle_st_ = nullptr;
  CodecContextPtr video_dec_, audio_dec_, subtitle_dec_;
  std::atomic<int> video_width_{0}, video_height_{0};  // decoder's size at open
  AVRational video_rate_{0, 1}, video_sar_{0, 1};  // set before the video decoder starts
  std::atomic<double> frame_delay_{0.04};  // written at stream open, read by decoder and display

  TPacketQueue videoq_, audioq_, subtitleq_;

  // Audio (audio thread unless noted). The clock fields are read by other
  // threads through AudioClock(), hence atomic.
  SDL_AudioDeviceID audio_dev_ = 0;     // opened/closed by the read thread
  int audio_hw_buf_size_ = 0;
  std::atomic<int> audio_out_rate_{0}, audio_out_channels_{0};  // granted by the device
  std::atomic<double> audio_clock_{0};        // time at the end of the decoded samples
  std::atomic<double> audio_clock_heard_{0};  // time of the sample heard at the last callback
  std::atomic<double> audio_callback_span_{0};  // seconds of sound the last callback gave
  std::atomic<int> audio_buf_size_{0};
  std::atomic<int> audio_buf_index_{0};
  std::vector<uint8_t> audio_buf1_;  // resampled chunk
  const uint8_t* audio_buf_ = nullptr;
  uint8_t silence_[1024] = {};
  PacketPtr audio_pkt_;
  FramePtr audio_frame_;
  bool audio_need_packet_ = true;
  SwrPtr swr_;
  int swr_in_fmt_ = -1, swr_in_rate_ = 0;
  AVChannelLayout swr_in_layout_{};
  double audio_diff_cum_ = 0;
  double audio_diff_avg_coef_ = 0;
  double audio_diff_threshold_ = 0;
  int audio_diff_avg_count_ = 0;
  std::atomic<int64_t> audio_callback_time_{0};
  std::atomic<int64_t> audio_wait_start_{0};      // audio thread: when it began waiting for a picture
  std::atomic<bool> first_picture_ready_{false};  // video decoder: a picture is queued

  // Sample ring of the audio displays (writer: audio thread; reader: play thread).
  std::mutex sample_mu_;
  std::vector<int16_t> sample_array_;  // guarded by sample_mu_
  int sample_array_index_ = 0;         // guarded by sample_mu_
  int last_i_start_ = 0;               // play thread
  void* rdft_ = nullptr;               // play thread: AVTXContext of the spectrum
  av_tx_fn rdft_fn_ = nullptr;
  int rdft_bits_ = 0;
  std::vector<float> rdft_in_;
  std::vector<AVComplexFloat> rdft_out_;
  int xpos_ = 0;

  // Picture queue. pictq_mu_ guards the counters, the target times and the
  // timing fields below (the video decoder computes target times under it,
  // the pause toggle shifts frame_timer under it).
  std::mutex pictq_mu_;
  std::condition_variable pictq_cond_;
  std::array<TVideoPicture, kPictureQueueSize> pictq_;
  int pictq_size_ = 0, pictq_rindex_ = 0, pictq_windex_ = 0;
  double frame_timer_ = 0;
  double frame_last_pts_ = 0;
  bool frame_last_pts_valid_ = false;
  double frame_last_delay_ = 0;
  double video_clock_ = 0;
  float skip_frames_ = 1, skip_frames_index_ = 0;

  // The clock of the picture on screen (play thread, pause toggle).
  mutable std::mutex clock_mu_;
  double video_current_pts_ = 0;
  double video_current_pts_drift_ = 0;
  bool video_current_valid_ = false;  // a picture has been shown
  int64_t video_current_pos_ = -1;

  // Video decoder thread only.
  std::unique_ptr<TFilterChain> chain_;
  TVideoFormat chain_in_{};
  TTimestampCorrection pts_correction_;
  bool deinterlace_ = false;

  // Subtitle queue.
  std::mutex subpq_mu_;
  std::condition_variable subpq_cond_;
  std::array<TSubtitleEntry, kSubtitleQueueSize> subpq_;
  int subpq_size_ = 0, subpq_rindex_ = 0, subpq_windex_ = 0;
  bool subtitle_stream_changed_ = false;  // guarded by subpq_mu_

  // Display (play thread only, apart from the shown picture).
  SDL_Window* window_;                 // the host window (not owned) or our own
  const bool host_window_;
  bool own_window_ = false;            // window_ was created here
  const int fs_width_, fs_height_;     // desktop size found at open
  SDL_Renderer* renderer_ = nullptr;
  SDL_Texture* texture_ = nullptr;
  int texture_w_ = 0, texture_h_ = 0;
  SDL_Texture* spectrum_ = nullptr;
  int spectrum_w_ = 0, spectrum_h_ = 0;
  int width_ = 0, height_ = 0, xleft_ = 0, ytop_ = 0;
  std::atomic<int> host_width_{0}, host_height_{0};  // size told by the application
  uint32_t window_id_ = 0;
  bool watching_events_ = false;
  int64_t last_pump_ = 0;
  mutable std::mutex shown_mu_;
  FramePtr shown_;                     // guarded by shown_mu_: the picture on screen
  FramePtr displayed_;                 // guarded by shown_mu_: the same with subtitles, or null
  double shown_pts_ = 0;               // guarded by shown_mu_
  AVRational shown_sar_{0, 1};         // play thread

  // Play thread event queue.
  std::mutex ev_mu_;
  std::condition_variable ev_cond_;
  std::deque<TPlayEventKind> events_;  // guarded by ev_mu_

  // Figures.
  std::mutex stats_mu_;
  TPlayStats stats_;  // guarded by stats_mu_
  double last_late_time_ = -1;  // play thread: when a picture was last shown late

  std::mutex close_mu_;   // held through Close: a second Close waits for the first
  bool closed_ = false;   // guarded by close_mu_: every thread has been joined

  static int SDLCALL EventWatch(void* userdata, SDL_Event* event);
};

}  // namespace vidmill::player
