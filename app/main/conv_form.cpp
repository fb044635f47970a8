#include "conv_form.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "run_progress.h"

namespace vidmill {

void TElidedLabel::SetFullText(const QString& text) {
  full_text_ = text;
  setToolTip(text);
  Elide();
}

void TElidedLabel::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  Elide();
}

void TElidedLabel::Elide() { setText(fontMetrics().elidedText(full_text_, Qt::ElideRight, width())); }

TConvForm::TConvForm(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Conversion"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setWindowModality(Qt::ApplicationModal);

  lblConvertingTitle = new TElidedLabel(this);
  lblConvertingTitle->setObjectName(QStringLiteral("lblConvertingTitle"));
  lblConvertingTitle->SetFullText(QStringLiteral("Converting ..."));
  lblConvertingTitle->setMinimumWidth(10);
  ProgressCurrent = new QProgressBar(this);
  ProgressCurrent->setObjectName(QStringLiteral("ProgressCurrent"));
  ProgressTotal = new QProgressBar(this);
  ProgressTotal->setObjectName(QStringLiteral("ProgressTotal"));
  for (QProgressBar* bar : {ProgressCurrent, ProgressTotal}) {
    bar->setRange(0, 100);
    bar->setValue(0);
  }
  lblElapsed = new QLabel(this);
  lblElapsed->setObjectName(QStringLiteral("lblElapsed"));
  lblRemaining = new QLabel(this);
  lblRemaining->setObjectName(QStringLiteral("lblRemaining"));
  cbOpenOutput = new QCheckBox(QStringLiteral("Open output folder when conversion completed"), this);
  cbOpenOutput->setObjectName(QStringLiteral("cbOpenOutput"));
  cbOpenOutput->setChecked(true);
  cbShutdownPC = new QCheckBox(QStringLiteral("Shut down computer when conversion completed"), this);
  cbShutdownPC->setObjectName(QStringLiteral("cbShutdownPC"));
  PauseButton = new QPushButton(QStringLiteral("Pause"), this);
  PauseButton->setObjectName(QStringLiteral("PauseButton"));
  CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
  CancelButton->setObjectName(QStringLiteral("CancelButton"));
  PauseButton->setAutoDefault(false);
  CancelButton->setAutoDefault(false);

  auto* times = new QHBoxLayout;
  times->addWidget(lblElapsed);
  times->addStretch();
  times->addWidget(lblRemaining);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(PauseButton);
  buttons->addWidget(CancelButton);
  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(QStringLiteral("Current file:"), this), 0, 0);
  grid->addWidget(ProgressCurrent, 0, 1);
  grid->addWidget(new QLabel(QStringLiteral("Total:"), this), 1, 0);
  grid->addWidget(ProgressTotal, 1, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(lblConvertingTitle);
  layout->addLayout(grid);
  layout->addLayout(times);
  layout->addWidget(cbOpenOutput);
  layout->addWidget(cbShutdownPC);
  layout->addLayout(buttons);
  setFixedSize(kClientWidth, kClientHeight);

  tick_ = new QTimer(this);
  tick_->setInterval(500);
  connect(tick_, &QTimer::timeout, this, &TConvForm::UpdateTimes);
  connect(PauseButton, &QPushButton::clicked, this, &TConvForm::OnPauseClicked);
  connect(CancelButton, &QPushButton::clicked, this, &TConvForm::CancelRequested);
  UpdateTimes();
}

void TConvForm::BeginRun() {
  ProgressCurrent->setValue(0);
  ProgressTotal->setValue(0);
  total_percent_ = 0;
  lblConvertingTitle->SetFullText(QStringLiteral("Converting..."));
  PauseButton->setText(QStringLiteral("Pause"));  // a new run is never paused
  clock_.start();
  tick_->start();
  SetButtonsEnabled(true);
  closable_ = false;
  UpdateTimes();
}

void TConvForm::ShowProgress(int current_percent, int total_percent, const QString& file_line) {
  ProgressCurrent->setValue(current_percent);
  ProgressTotal->setValue(total_percent);
  total_percent_ = total_percent;
  if (!file_line.isEmpty()) lblConvertingTitle->SetFullText(file_line);
  UpdateTimes();
}

void TConvForm::SetButtonsEnabled(bool enabled) {
  PauseButton->setEnabled(enabled);
  CancelButton->setEnabled(enabled);
  if (!enabled) tick_->stop();
}

void TConvForm::UpdateTimes() {
  const qint64 elapsed = ElapsedMs();
  lblElapsed->setText(QStringLiteral("Elapsed: ") + ClockText(elapsed));
  lblRemaining->setText(QStringLiteral("Remaining: ") + ClockText(RemainingMs(elapsed, total_percent_ / 100.0)));
}

void TConvForm::OnPauseClicked() {
  const bool pause = PauseButton->text() == QLatin1String("Pause");
  PauseButton->setText(pause ? QStringLiteral("Resume") : QStringLiteral("Pause"));
  emit PauseToggled(pause);
}

void TConvForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (parentWidget()) move(parentWidget()->geometry().center() - rect().center());
}

void TConvForm::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    event->ignore();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TConvForm::closeEvent(QCloseEvent* event) {
  if (!closable_) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

}  // namespace vidmill
