// TTrimDialog ("Trim"): chooses the part of one source that is converted.
//
// The dialog plays the source, with its sound, in a player of its own (the
// user trims on what they hear), shows a position track with two draggable
// trim handles joined by a line, two time edits, pictures of the frames at
// the start and end marks, and buttons to set the marks from the playing
// position, to play the whole file or only the trimmed part, and to reset. OK writes TimeStart, TimeEnd and
// TrimmedLength back; it is refused while the start is not before the end.
//
// Times are 64-bit microseconds, typed times are limited to the source's
// duration, and the handles are placed anew at every opening (none when the
// source states no duration).
//
// Thread rules: main thread only.
#pragma once

#include <functional>
#include <memory>

#include <QDialog>

#include "editing/edit_values.h"
#include "editing/frame_player.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;

namespace vidmill {

class TReportSink;
class TFrameDecoder;
class TTrimTrack;

inline constexpr int kTrimTrackWidth = 456;

class TTrimDialog : public QDialog {
  Q_OBJECT
 public:
  // sink must outlive the dialog.
  explicit TTrimDialog(TReportSink& sink, QWidget* parent = nullptr);
  ~TTrimDialog() override;

  // Folder the media libraries are loaded from when they are not yet ("":
  // the system's).
  QString LibraryPath;
  // Shows a warning (a message box by default; tests replace it).
  std::function<void(const QString&)> Warn;

  // Shows the dialog modally for a source; on OK writes the trim into
  // values and returns true.
  bool Edit(const QString& source, TTrimValues& values);

  // What showing does: take the values, open the source, place the handles.
  void Begin(const QString& source, const TTrimValues& values);
  // What the buttons and edits do.
  void SetStartFromPosition();  // "Set start"
  void SetEndFromPosition();    // "Set end"
  bool TypeStart(const QString& text);  // a time typed into "Set start time:" and its "OK"
  bool TypeEnd(const QString& text);
  void PlayFull();
  void PlayTrimmed();
  void PauseToggle();
  void StopPlaying();
  void Reset();
  void SeekTrack(int value);  // the position track let go at value 0..1000
  bool Confirm();             // "OK": false (dialog stays) when refused
  // Dragging a handle to a new left edge (track coordinates).
  void DragLeftHandle(int new_left);
  void DragRightHandle(int new_left);

  int64_t TrimStart() const { return trim_start_; }
  int64_t TrimEnd() const { return trim_end_; }
  int64_t Duration() const { return duration_; }
  bool HandlesShown() const;
  int LeftHandleX() const;
  int RightHandleX() const;
  bool PlayTrimmedMode() const { return play_trimmed_; }
  TFramePlayer& Player() { return player_; }
  QString StartText() const;
  QString EndText() const;
  QString PlayTimeText() const;
  const QImage& StartPicture() const { return start_picture_; }
  const QImage& EndPicture() const { return end_picture_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void done(int result) override;

 private:
  void OpenSource();
  void OnFileOpened(int64_t duration);
  void OnPosition(int64_t pts);
  void PlaceHandles();
  void SetTrimStart(int64_t t);
  void SetTrimEnd(int64_t t);
  bool TypeTime(const QString& text, bool start);
  void UpdateThumbnails();
  QImage PictureAt(int64_t t);
  void ShowPicture();

  TReportSink& sink_;
  TFramePlayer player_;
  std::unique_ptr<TFrameDecoder> stills_;  // the pictures at the marks
  QString source_;
  int64_t duration_ = 0;
  int64_t trim_start_ = 0;
  int64_t trim_end_ = 0;
  int64_t current_pos_ = 0;
  bool play_trimmed_ = false;
  bool track_dragging_ = false;
  bool in_position_report_ = false;  // reports that arrive while one is handled are ignored
  TFrameState last_state_ = TFrameState::Stop;
  QImage start_picture_;
  QImage end_picture_;

  QLabel* preview_ = nullptr;
  QSlider* track_ = nullptr;
  TTrimTrack* handles_ = nullptr;
  QLabel* play_time_ = nullptr;
  QLineEdit* time_start_ = nullptr;
  QLineEdit* time_end_ = nullptr;
  QLabel* start_thumb_ = nullptr;
  QLabel* end_thumb_ = nullptr;
  QPushButton* play_ = nullptr;
  QPushButton* pause_ = nullptr;
  QPushButton* play_trimmed_button_ = nullptr;
};

}  // namespace vidmill
