// TShutdownCountdown: the last chance to keep the computer running after a
// run asked to shut it down. Counts down once a second; accepted at zero,
// rejected by "Cancel" (or Escape).
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class QTimer;

namespace vidmill {

class TShutdownCountdown : public QDialog {
  Q_OBJECT
 public:
  TShutdownCountdown(int seconds, QWidget* parent = nullptr);
  int SecondsLeft() const { return left_; }

  QLabel* lblCountdown = nullptr;
  QPushButton* btnCancel = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void Tick();
  void ShowLeft();

  int left_;
  QTimer* timer_ = nullptr;
};

}  // namespace vidmill
