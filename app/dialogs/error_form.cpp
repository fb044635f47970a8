#include "error_form.h"

#include <QApplication>
#include <QClipboard>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QStyle>
#include <QVBoxLayout>

#include "events_log_form.h"
#include "report/error_reporter.h"

namespace vidmill {
namespace {

QLabel* Text(const QString& text, QWidget* parent, bool wrap = true) {
  auto* label = new QLabel(text, parent);
  label->setWordWrap(wrap);
  return label;
}

// The fixed texts are one line each, in one face: it shrinks (down to 6
// points) until the longest line fits the window's width.
void FitOnOneLine(std::initializer_list<QLabel*> labels, int width) {
  QFont font = (*labels.begin())->font();
  auto too_wide = [&] {
    for (const QLabel* label : labels) {
      if (QFontMetrics(font).horizontalAdvance(label->text()) > width) return true;
    }
    return false;
  };
  while (font.pointSizeF() > 6.0 && too_wide()) font.setPointSizeF(font.pointSizeF() - 0.25);
  for (QLabel* label : labels) label->setFont(font);
}

}  // namespace

TErrorForm::TErrorForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("TErrorForm"));
  setWindowTitle(QStringLiteral("Error!"));
  setFixedSize(kClientWidth, kClientHeight);

  auto* picture = new QLabel(this);
  picture->setObjectName(QStringLiteral("imgError"));
  picture->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxCritical).pixmap(32, 32));
  picture->setAlignment(Qt::AlignTop);

  auto* heading = Text(QStringLiteral("The following error occured:"), this, false);
  QFont bold = heading->font();
  bold.setBold(true);
  heading->setFont(bold);

  lblErrorText = Text(QString(), this);
  lblErrorText->setObjectName(QStringLiteral("lblErrorText"));
  lblErrorText->setTextInteractionFlags(Qt::TextSelectableByMouse);
  lblErrorText->setAlignment(Qt::AlignTop | Qt::AlignLeft);
  auto* message_area = new QScrollArea(this);
  message_area->setWidget(lblErrorText);
  message_area->setWidgetResizable(true);
  message_area->setFrameShape(QFrame::NoFrame);
  message_area->setFixedHeight(34);
  message_area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

  auto* generated = Text(QStringLiteral("Error report is generated. Please send it to developers to fix the problem."), this, false);
  auto* notify1 = Text(QStringLiteral("If you want to be notified when the problem is fixed,  you can leave"), this, false);
  auto* notify2 = Text(QStringLiteral("your contact information. You can also provide details of the problem. "), this, false);

  edName = new QLineEdit(this);
  edName->setObjectName(QStringLiteral("edName"));
  edEmail = new QLineEdit(this);
  edEmail->setObjectName(QStringLiteral("edEmail"));
  memDetails = new QPlainTextEdit(this);
  memDetails->setObjectName(QStringLiteral("memDetails"));
  memDetails->setLineWrapMode(QPlainTextEdit::NoWrap);
  memDetails->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memDetails->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  btnSend = new QPushButton(QStringLiteral("Send"), this);
  btnSend->setObjectName(QStringLiteral("btnSend"));
  btnSend->setDefault(true);
  btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));
  connect(btnSend, &QPushButton::clicked, this, &QDialog::accept);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* top = new QGridLayout;
  top->setHorizontalSpacing(8);
  top->setVerticalSpacing(2);
  top->addWidget(picture, 0, 0, 2, 1);
  top->addWidget(heading, 0, 1);
  top->addWidget(message_area, 1, 1);
  top->setColumnStretch(1, 1);

  auto* fields = new QGridLayout;
  fields->setVerticalSpacing(3);
  fields->addWidget(new QLabel(QStringLiteral("Your Name:"), this), 0, 0);
  fields->addWidget(edName, 0, 1);
  fields->addWidget(new QLabel(QStringLiteral("Your E-Mail:"), this), 1, 0);
  fields->addWidget(edEmail, 1, 1);
  auto* details_label = new QLabel(QStringLiteral("Details:"), this);
  details_label->setAlignment(Qt::AlignTop | Qt::AlignLeft);
  fields->addWidget(details_label, 2, 0);
  fields->addWidget(memDetails, 2, 1);
  fields->setRowStretch(2, 1);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(btnSend);
  buttons->addWidget(btnCancel);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 6, 8, 6);
  layout->setSpacing(3);
  layout->addLayout(top);
  layout->addWidget(generated);
  layout->addWidget(notify1);
  layout->addWidget(notify2);
  layout->addLayout(fields, 1);
  layout->addLayout(buttons);

  // The window is small: a smaller face keeps the fixed texts on their lines.
  QFont compact = font();
  compact.setPointSizeF(compact.pointSizeF() * 0.9);
  setFont(compact);
  heading->setFont([&] { QFont f = compact; f.setBold(true); return f; }());
  const int text_width = kClientWidth - layout->contentsMargins().left() - layout->contentsMargins().right();
  FitOnOneLine({generated, notify1, notify2}, text_width);
}

std::optional<TUserRemarks> TErrorForm::Ask(const QString& message) {
  lblErrorText->setText(message);
  lblErrorText->setToolTip(message);
  if (exec() != QDialog::Accepted) return std::nullopt;
  return TUserRemarks{edName->text(), edEmail->text(), memDetails->toPlainText()};
}

void TErrorForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  setFixedSize(kClientWidth, kClientHeight);
  CentreOnScreen(*this);
  btnSend->setFocus();
}

QString NoMailProgramText(const QString& recipient) {
  return QStringLiteral(
             "The error report could not be sent, and no mail program could be opened.\n"
             "The report has been copied to the clipboard: please paste it into a mail to %1.")
      .arg(recipient);
}

void AttachErrorWindow(TErrorReporter& reporter, TErrorForm& form, QWidget* parent) {
  reporter.SetAskUser([&form](const QString& message) { return form.Ask(message); });
  reporter.SetNoMailProgram([parent](const QString& recipient, const QString& body) {
    if (QClipboard* clipboard = QApplication::clipboard()) clipboard->setText(body);
    QMessageBox::warning(parent, QStringLiteral("Error report"), NoMailProgramText(recipient), QMessageBox::Ok);
  });
}

}  // namespace vidmill
