// TFramePlayer: the editing dialogs' own picture player, built on the
// engine's frame decoder. It shows a source picture by picture, seeks,
// pauses and steps, and passes every picture through a filter chain (the
// live picture adjustments of the crop dialog) before showing it.
//
// Pictures need no window system handle and no SDL, so the dialogs also work
// (and are tested) headless. With sound switched on, the engine's player
// plays the source's sound beside it (no picture, no window: see
// sound_companion.h) and the pictures follow the time being heard, dropping
// late ones; without sound (none asked for, no audio stream, SDL or the
// sound device unavailable) a timer at the frame rate moves them on.
// Positions and states come as Qt signals on the main thread.
//
// Thread rules: main thread only (decoding runs on the main thread's timer;
// edited sources are short pictures and the decoder is fast).
#pragma once

#include <memory>
#include <string>

#include <QImage>
#include <QObject>
#include <QTimer>

namespace vidmill {

class TFrameDecoder;
class TFilterChain;
class TFFPlayer;
class TSoundCompanion;

// The states the dialogs follow, as the preview player names them.
enum class TFrameState { Play, Pause, Stop, End };

class TFramePlayer : public QObject {
  Q_OBJECT
 public:
  explicit TFramePlayer(QObject* parent = nullptr);
  ~TFramePlayer() override;

  // The media libraries (with the filter library), from path ("" for the
  // system's). False with LastErrMsg set.
  static bool AVLibLoaded();
  bool LoadAVLib(const QString& path);

  // Opens a source and shows its first picture; plays unless paused. A
  // source without video opens too (no picture; its position moves with
  // the clock). False with LastErrMsg set when it cannot be opened.
  bool Open(const QString& file, bool paused);
  void Stop();
  void Pause();
  void Resume();
  void TogglePause();
  // Shows the picture at (or just after) time t, microseconds.
  void Seek(int64_t t);
  // Filters each picture passes through (e.g. the adjustment filters with
  // live values); an empty text shows them as decoded.
  void SetVideoFilters(const std::string& chain);
  // Runs the filters again over the picture on screen (live values changed).
  void Refresh();
  // Plays the source's sound too, from the next Open on, with SDL loaded
  // from sdl_path ("" or a folder without it: the system's).
  void SetSound(bool on, const QString& sdl_path = QString());
  void SetAudioVolume(int volume);  // 0 silent .. 128 unchanged; live
  // The open source's sound plays and its time moves the pictures.
  bool SoundActive() const;
  // The engine's player of the sound, for its options before Open.
  TFFPlayer& SoundPlayer();

  TFrameState State() const { return state_; }
  bool IsOpen() const;
  int64_t Duration() const { return duration_; }    // -1 when the source states none
  int64_t CurrentPTS() const { return current_pts_; }
  int FrameWidth() const { return frame_w_; }
  int FrameHeight() const { return frame_h_; }
  // The picture on screen, filtered; null before the first picture.
  const QImage& Picture() const { return picture_; }
  const QString& LastErrMsg() const { return last_err_msg_; }

 signals:
  void FileOpened(int64_t duration, int frame_width, int frame_height);
  void PositionChanged(int64_t pts);
  void StateChanged(vidmill::TFrameState state);
  void PictureChanged();

 private:
  void Tick();
  void TickWithSound();
  bool ShowPicturesUntil(int64_t heard);
  void FollowHeardPosition(int64_t heard);
  void StartSound(bool paused);
  void DropSound();
  int TickMs() const;
  bool ShowDecoded();
  void SetState(TFrameState s);
  bool Filter(QImage* out);

  std::unique_ptr<TFrameDecoder> decoder_;
  std::unique_ptr<TFilterChain> chain_;
  std::string chain_text_;
  std::string built_text_;
  int built_w_ = 0, built_h_ = 0, built_fmt_ = -1;
  QTimer timer_;
  TFrameState state_ = TFrameState::Stop;
  bool has_video_ = false;  // a source without pictures only moves its position
  bool held_shown_ = false;  // the decoder's picture is the one on screen
  bool pictures_done_ = false;  // the last picture has been shown (the sound may go on)
  unsigned seek_count_ = 0;  // tells a tick that a handler sought meanwhile
  std::unique_ptr<TSoundCompanion> sound_;
  bool sound_wanted_ = false;
  QString sdl_path_;
  int volume_ = 128;
  int64_t duration_ = -1;
  int64_t current_pts_ = -1;
  int frame_w_ = 0;
  int frame_h_ = 0;
  QImage picture_;
  QString file_;
  QString last_err_msg_;
};

}  // namespace vidmill
