// TCropDialog ("Edit"): the picture area of one source that the conversion
// keeps, the output aspect ratio, and brightness, contrast and saturation.
//
// "Original Preview" plays the source, with its sound, under a white
// selection of eight handles; "Output Preview" (silent) shows only the selection, at the chosen aspect
// ratio, with the adjustments applied live: its player's filters read the
// track bars' values through live-value handles, so a moved track bar
// changes the picture without rebuilding the filters. Apply or OK write the
// values back.
//
// The selection always lies inside the frame, at least kMinCropSize pixels
// on each side, with even values, whatever is dragged or typed.
//
// Thread rules: main thread only.
#pragma once

#include <memory>

#include <QDialog>
#include <QRect>

#include "editing/edit_values.h"
#include "editing/frame_player.h"
#include "filters/live_values.h"

class QCheckBox;
class QComboBox;
class QSlider;
class QSpinBox;

namespace vidmill {

class TReportSink;
class TCropView;
class TOutputView;

// The parts of the selection a handle moves.
enum TCropHandle : int { chLeftTop, chTopMiddle, chRightTop, chRightMiddle, chRightBottom, chBottomMiddle,
                         chLeftBottom, chLeftMiddle, kCropHandleCount };

class TCropDialog : public QDialog {
  Q_OBJECT
 public:
  explicit TCropDialog(TReportSink& sink, QWidget* parent = nullptr);
  ~TCropDialog() override;

  QString LibraryPath;  // where the media libraries load from when needed ("": the system's)
  // Volume of the source preview's sound (the main window's volume), taken
  // at every opening when 0..128; the output preview stays silent.
  int AudioVolume = 128;

  // Shows the dialog modally for a source; on OK (or Apply before Cancel)
  // writes the values and returns true.
  bool Edit(const QString& source, TCropValues& values);

  // What showing does: open the source in both players, take the values.
  void Begin(const QString& source, const TCropValues& values);
  // What the controls do.
  void TypeCrop(int left, int top, int width, int height);  // the four edits
  void ChooseAspect(int index);
  void SetBrightness(int v);
  void SetContrast(int v);
  void SetSaturation(int v);
  // A handle dragged to a point of the source frame.
  void DragHandle(TCropHandle handle, QPoint frame_point);
  void ResetAll();
  void Apply();  // writes into Values()
  void Play();
  void Pause();
  void StopPlaying();

  QRect Selection() const { return selection_; }
  const TCropValues& Values() const { return values_; }
  bool Applied() const { return applied_; }
  int FrameWidth() const { return frame_w_; }
  int FrameHeight() const { return frame_h_; }
  // The edits as they show.
  QRect EditedRect() const;
  // Aspect ratio of the output preview's box (width / height).
  double OutputAspect() const;
  TFramePlayer& SourcePlayer() { return player1_; }
  TFramePlayer& OutputPlayer() { return player2_; }
  // The output preview as the user sees it (the box of the output panel).
  QImage OutputPicture() const;
  // The filter text of the output player (handles, not addresses).
  const std::string& FilterText() const { return filter_text_; }

 protected:
  void done(int result) override;

 private:
  void OnFirstOpen();
  void ShowEntryAdjustments();  // the entry's adjustments and aspect in the controls
  void SelectionChanged(bool rewrite_edits);
  void AdjustmentChanged();
  QRect OutputBox() const;

  TReportSink& sink_;
  TFramePlayer player1_;
  TFramePlayer player2_;
  TLiveValueHandle brightness_;
  TLiveValueHandle contrast_;
  TLiveValueHandle hue_;
  TLiveValueHandle saturation_;
  std::string filter_text_;
  QString source_;
  TCropValues values_;
  bool applied_ = false;
  QRect selection_;
  int frame_w_ = 0;
  int frame_h_ = 0;
  bool updating_ = false;  // programmatic changes of the controls do not re-lay the selection

  TCropView* crop_view_ = nullptr;
  TOutputView* output_view_ = nullptr;
  QSlider* track_ = nullptr;
  QComboBox* aspect_ = nullptr;
  QSpinBox* left_ = nullptr;
  QSpinBox* top_ = nullptr;
  QSpinBox* width_ = nullptr;
  QSpinBox* height_ = nullptr;
  QCheckBox* brightness_box_ = nullptr;
  QCheckBox* contrast_box_ = nullptr;
  QCheckBox* saturation_box_ = nullptr;
  QSlider* brightness_bar_ = nullptr;
  QSlider* contrast_bar_ = nullptr;
  QSlider* saturation_bar_ = nullptr;

  friend class TCropView;
  friend class TOutputView;
};

}  // namespace vidmill
