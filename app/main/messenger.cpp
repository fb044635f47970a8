#include "messenger.h"

#include <QMessageBox>

namespace vidmill {

namespace {
const QString kTitle = QStringLiteral("Tarnwick Vidmill");
}

void TMessageBoxes::Information(QWidget* parent, const QString& text) {
  QMessageBox::information(parent, kTitle, text, QMessageBox::Ok);
}

void TMessageBoxes::Warning(QWidget* parent, const QString& text) {
  QMessageBox::warning(parent, kTitle, text, QMessageBox::Ok);
}

void TMessageBoxes::Error(QWidget* parent, const QString& title, const QString& text) {
  QMessageBox::critical(parent, title.isEmpty() ? kTitle : title, text, QMessageBox::Ok);
}

}  // namespace vidmill
