// TConvForm: the progress window ("Conversion") of a run.
//
// Shows the current file line, the current task's and the whole run's
// progress, the time spent and the time left, and offers "Pause"/"Resume",
// "Cancel" and the two after-conversion choices. It only shows and asks:
// the main window drives the run and listens to PauseToggled and
// CancelRequested. The check boxes keep their state from run to run.
//
// Thread rules: main thread only.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>

class QCheckBox;
class QProgressBar;
class QPushButton;
class QTimer;

namespace vidmill {

// A one-line label that cuts its text with an ellipsis at the end.
class TElidedLabel : public QLabel {
  Q_OBJECT
 public:
  using QLabel::QLabel;
  void SetFullText(const QString& text);
  const QString& FullText() const { return full_text_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Elide();
  QString full_text_;
};

class TConvForm : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kClientWidth = 390;
  static constexpr int kClientHeight = 213;

  explicit TConvForm(QWidget* parent = nullptr);

  // A new run: gauges at 0, title "Converting...", clock started, buttons enabled.
  void BeginRun();
  // The run's figures (percent 0..100) and the file line.
  void ShowProgress(int current_percent, int total_percent, const QString& file_line);
  // Whether the buttons act (false while the run is ending).
  void SetButtonsEnabled(bool enabled);
  // The window can be closed (by the main window, Escape or the window
  // manager) only once the run has ended.
  void SetClosable(bool closable) { closable_ = closable; }

  // Elapsed time of the run in milliseconds.
  qint64 ElapsedMs() const { return clock_.isValid() ? clock_.elapsed() : 0; }

  TElidedLabel* lblConvertingTitle = nullptr;
  QProgressBar* ProgressCurrent = nullptr;
  QProgressBar* ProgressTotal = nullptr;
  QLabel* lblElapsed = nullptr;
  QLabel* lblRemaining = nullptr;
  QCheckBox* cbOpenOutput = nullptr;
  QCheckBox* cbShutdownPC = nullptr;
  QPushButton* PauseButton = nullptr;
  QPushButton* CancelButton = nullptr;

 signals:
  // "Pause" (true) or "Resume" (false) was pressed; the caption has changed.
  void PauseToggled(bool pause);
  void CancelRequested();

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;  // Escape does not close a run
  void closeEvent(QCloseEvent* event) override;   // nor does the window manager

 private:
  void UpdateTimes();
  void OnPauseClicked();

  QElapsedTimer clock_;
  QTimer* tick_ = nullptr;
  int total_percent_ = 0;
  bool closable_ = true;
};

}  // namespace vidmill
