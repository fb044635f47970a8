#include "shutdown_countdown.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace vidmill {

TShutdownCountdown::TShutdownCountdown(int seconds, QWidget* parent) : QDialog(parent), left_(seconds) {
  setWindowTitle(QStringLiteral("Shut down"));
  lblCountdown = new QLabel(this);
  lblCountdown->setObjectName(QStringLiteral("lblCountdown"));
  btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));
  btnCancel->setDefault(true);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(btnCancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(lblCountdown);
  layout->addLayout(buttons);
  timer_ = new QTimer(this);
  timer_->setInterval(1000);
  connect(timer_, &QTimer::timeout, this, &TShutdownCountdown::Tick);
  ShowLeft();
}

void TShutdownCountdown::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (left_ <= 0) {
    QTimer::singleShot(0, this, &QDialog::accept);
    return;
  }
  timer_->start();
}

void TShutdownCountdown::Tick() {
  --left_;
  ShowLeft();
  if (left_ <= 0) {
    timer_->stop();
    accept();
  }
}

void TShutdownCountdown::ShowLeft() {
  lblCountdown->setText(
      QStringLiteral("The conversion has completed. The computer will shut down in %1 seconds.").arg(left_));
}

}  // namespace vidmill
