// TAboutForm: the about window ("About"): the logo, "Version 1.6", the
// maker's pages and "OK".
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace vidmill {

class TAboutForm : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kClientHeight = 235;

  // data_folder: where "logo.bmp" lies.
  explicit TAboutForm(const QString& data_folder, QWidget* parent = nullptr);

  QLabel* LogoImage = nullptr;
  QLabel* lblVersion = nullptr;
  QPushButton* btnOK = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
};

}  // namespace vidmill
