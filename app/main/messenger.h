// Message boxes of the main window, behind a layer that tests replace.
// Every box has one "OK" button.
#pragma once

#include <QString>

class QWidget;

namespace vidmill {

class TMessenger {
 public:
  virtual ~TMessenger() = default;
  virtual void Information(QWidget* parent, const QString& text) = 0;
  virtual void Warning(QWidget* parent, const QString& text) = 0;
  virtual void Error(QWidget* parent, const QString& title, const QString& text) = 0;
};

// QMessageBox with the program's title.
class TMessageBoxes : public TMessenger {
 public:
  void Information(QWidget* parent, const QString& text) override;
  void Warning(QWidget* parent, const QString& text) override;
  void Error(QWidget* parent, const QString& title, const QString& text) override;
};

}  // namespace vidmill
