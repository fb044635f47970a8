// TLogForm: the events-log window ("Events Log").
//
// A borderless window with its own caption bar (drag it to move the window),
// the read-only memo mmoLog showing every events-log line, and "OK", which
// closes it. Shown modally from the main menu's "Events Log".
#pragma once

#include <QDialog>
#include <QPoint>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace vidmill {

class TEventsLog;

class TLogForm : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kClientWidth = 412;
  static constexpr int kClientHeight = 358;

  // log must outlive the window; its lines are shown as they are added.
  explicit TLogForm(const TEventsLog& log, QWidget* parent = nullptr);

  QPlainTextEdit* mmoLog = nullptr;
  QPushButton* btnOK = nullptr;
  QLabel* lblCaption = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  void AppendLine(const QString& line);
  QPoint drag_offset_;
  bool dragging_ = false;
};

// Centres a top-level window on the screen it is on.
void CentreOnScreen(QWidget& window);

}  // namespace vidmill
