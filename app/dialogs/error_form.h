// TErrorForm: the error window ("Error!") of the error report.
//
// Shows the failure's message and lets the user add a name, an e-mail
// address and details before choosing "Send" or "Cancel". The edits keep
// their contents from one report to the next for the life of the program.
#pragma once

#include <optional>

#include <QDialog>

#include "report/report_message.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace vidmill {

class TErrorReporter;

class TErrorForm : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kClientWidth = 375;
  static constexpr int kClientHeight = 255;

  explicit TErrorForm(QWidget* parent = nullptr);

  // Shows the window modally with message; the remarks when closed with
  // "Send", nothing otherwise.
  std::optional<TUserRemarks> Ask(const QString& message);

  QLabel* lblErrorText = nullptr;
  QLineEdit* edName = nullptr;
  QLineEdit* edEmail = nullptr;
  QPlainTextEdit* memDetails = nullptr;
  QPushButton* btnSend = nullptr;
  QPushButton* btnCancel = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
};

// Lets reporter ask through form, and tell the user (a message box over
// parent, with the report copied to the clipboard) when no mail program
// opened. form and parent must outlive reporter's use of them.
void AttachErrorWindow(TErrorReporter& reporter, TErrorForm& form, QWidget* parent);

// The notice shown when neither mail nor a mail program carried the report.
QString NoMailProgramText(const QString& recipient);

}  // namespace vidmill
