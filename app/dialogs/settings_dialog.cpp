#include "dialogs/settings_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "report/error_marks.h"
#include "report/report_sink.h"

namespace vidmill {

TSettingsDialog::TSettingsDialog(TCatalogue& catalogue, TReportSink& sink, QWidget* parent)
    : QDialog(parent), catalogue_(catalogue), sink_(sink) {
  setWindowTitle(QStringLiteral("Profile Settings"));
  setModal(true);
  resize(440, 323);
  Warn = [this](const QString& text) { QMessageBox::warning(this, windowTitle(), text, QMessageBox::Ok); };

  profile_ = new QLineEdit(this);
  profile_->setReadOnly(true);
  resolution_ = new QComboBox(this);
  resolution_->setEditable(true);
  for (auto& box : boxes_) box = new QComboBox(this);

  auto* video = new QGroupBox(QStringLiteral("Video"), this);
  auto* video_form = new QFormLayout(video);
  video_form->addRow(QStringLiteral("Resolution:"), resolution_);
  video_form->addRow(QStringLiteral("Encoder:"), boxes_[sbVideoEncoder]);
  video_form->addRow(QStringLiteral("Frame Rate:"), boxes_[sbFrameRate]);
  video_form->addRow(QStringLiteral("Bit Rate:"), boxes_[sbVideoBitRate]);
  auto* audio = new QGroupBox(QStringLiteral("Audio"), this);
  auto* audio_form = new QFormLayout(audio);
  audio_form->addRow(QStringLiteral("Sample Rate:"), boxes_[sbSampleRate]);
  audio_form->addRow(QStringLiteral("Encoder:"), boxes_[sbAudioEncoder]);
  audio_form->addRow(QStringLiteral("Cannels:"), boxes_[sbChannels]);
  audio_form->addRow(QStringLiteral("Bit Rate:"), boxes_[sbAudioBitRate]);

  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
  QPushButton* defaults = buttons->addButton(QStringLiteral("Default"), QDialogButtonBox::ResetRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &TSettingsDialog::Confirm);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(defaults, &QPushButton::clicked, this, &TSettingsDialog::Defaults);

  auto* top = new QFormLayout;
  top->addRow(QStringLiteral("Profile:"), profile_);
  auto* groups = new QHBoxLayout;
  groups->addWidget(video);
  groups->addWidget(audio);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addLayout(groups);
  layout->addStretch();
  layout->addWidget(buttons);
}

void TSettingsDialog::showEvent(QShowEvent* event) {
  Reload(true);
  QDialog::showEvent(event);
}

void TSettingsDialog::Reload(bool enable_boxes) {
  std::array<QComboBox*, kSettingsBoxCount + 1> all;
  std::copy(boxes_.begin(), boxes_.end(), all.begin());
  all.back() = resolution_;
  if (enable_boxes) {
    for (QComboBox* box : all) box->setEnabled(true);
  }
  for (QComboBox* box : all) box->clear();
  const TFormat* format = catalogue_.FormatAt(catalogue_.Current());
  const TSettingsView view = format ? SettingsViewOf(*format) : TSettingsView{};
  profile_->setText(view.Title);
  resolution_->addItems(view.Resolutions);
  resolution_->setCurrentIndex(-1);
  resolution_->setEditText(view.Resolution);
  for (int b = 0; b < kSettingsBoxCount; ++b) {
    boxes_[b]->addItems(view.Boxes[b].Labels);
    boxes_[b]->setCurrentIndex(view.Boxes[b].Selected);
  }
  if (enable_boxes) {
    for (QComboBox* box : all) box->setEnabled(!box->currentText().isEmpty());
  }
}

void TSettingsDialog::Defaults() { Reload(false); }

void TSettingsDialog::Confirm() {
  TSettingsChoice choice;
  if (resolution_->isEnabled()) {
    choice.Resolution = resolution_->currentText().trimmed();
    if (!IsValidResolution(*choice.Resolution)) {
      Warn(QString::fromLatin1(kInvalidResolutionText));
      return;
    }
  }
  for (int b = 0; b < kSettingsBoxCount; ++b) {
    if (boxes_[b]->isEnabled()) choice.Boxes[b] = boxes_[b]->currentIndex();
  }
  const TFormatIndex current = catalogue_.Current();
  TFormat* format = catalogue_.MutableFormatAt(current);
  if (format) catalogue_.SetLastEdited(current);
  if (!format || !ApplySettingsChoice(*format, choice)) {
    sink_.ErrorReport(QString::fromLatin1(clm::kSettingProfileMsg), QString::fromLatin1(clm::kSettingProfile));
  }
  if (AfterConfirm) AfterConfirm();
  accept();
}

}  // namespace vidmill
