#include "events_log_form.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QVBoxLayout>

#include "report/events_log.h"

namespace vidmill {

void CentreOnScreen(QWidget& window) {
  QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  QRect frame = window.frameGeometry();
  frame.moveCenter(screen->availableGeometry().center());
  window.move(frame.topLeft());
}

TLogForm::TLogForm(const TEventsLog& log, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
  setObjectName(QStringLiteral("TLogForm"));
  setWindowTitle(QStringLiteral("Events Log"));
  setFixedSize(kClientWidth, kClientHeight);
  setStyleSheet(QStringLiteral(
      "QDialog#TLogForm { background: #f4f6f9; border: 1px solid #3f6f9f; }"
      "QLabel#lblCaption { background: #5692C6; color: white; font-weight: bold; padding: 4px 8px; }"));

  lblCaption = new QLabel(windowTitle(), this);
  lblCaption->setObjectName(QStringLiteral("lblCaption"));
  mmoLog = new QPlainTextEdit(this);
  mmoLog->setObjectName(QStringLiteral("mmoLog"));
  mmoLog->setReadOnly(true);
  mmoLog->setLineWrapMode(QPlainTextEdit::NoWrap);
  mmoLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  mmoLog->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  btnOK = new QPushButton(QStringLiteral("OK"), this);
  btnOK->setObjectName(QStringLiteral("btnOK"));
  btnOK->setDefault(true);
  connect(btnOK, &QPushButton::clicked, this, &QDialog::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(btnOK);
  auto* body = new QVBoxLayout;
  body->setContentsMargins(8, 8, 8, 8);
  body->addWidget(mmoLog);
  body->addLayout(buttons);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(1, 1, 1, 1);
  layout->setSpacing(0);
  layout->addWidget(lblCaption);
  layout->addLayout(body);

  for (const QString& line : log.Lines()) AppendLine(line);
  connect(&log, &TEventsLog::LineAdded, this, &TLogForm::AppendLine);
}

void TLogForm::AppendLine(const QString& line) {
  mmoLog->appendPlainText(line);
  mmoLog->verticalScrollBar()->setValue(mmoLog->verticalScrollBar()->maximum());
}

void TLogForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  CentreOnScreen(*this);
}

void TLogForm::mousePressEvent(QMouseEvent* event) {
  dragging_ = event->button() == Qt::LeftButton && lblCaption->geometry().contains(event->position().toPoint());
  drag_offset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
  QDialog::mousePressEvent(event);
}

void TLogForm::mouseMoveEvent(QMouseEvent* event) {
  if (dragging_ && (event->buttons() & Qt::LeftButton)) move(event->globalPosition().toPoint() - drag_offset_);
  QDialog::mouseMoveEvent(event);
}

}  // namespace vidmill
