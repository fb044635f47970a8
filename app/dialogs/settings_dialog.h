// TSettingsDialog ("Profile Settings"): edits the main encoding values of
// the current format of the catalogue: resolution, video encoder, frame
// rate, video bit rate, sample rate, audio encoder, channels, audio bit rate.
//
// "OK" checks the resolution (only while its box is enabled: audio formats
// have none), then writes every enabled box into the in-memory format of
// the current selection (that copy only) all or nothing, makes it the
// last-edited format (persisted by the settings writer at close) and calls
// AfterConfirm (size estimates, list repaint). "Default" reloads the boxes
// from the format's current values; "Cancel" changes nothing.
//
// Thread rules: main thread only.
#pragma once

#include <array>
#include <functional>

#include <QDialog>

#include "catalogue/catalogue.h"
#include "dialogs/settings_values.h"

class QComboBox;
class QLineEdit;

namespace vidmill {

class TReportSink;

class TSettingsDialog : public QDialog {
  Q_OBJECT
 public:
  // catalogue and sink must outlive the dialog.
  TSettingsDialog(TCatalogue& catalogue, TReportSink& sink, QWidget* parent = nullptr);

  // Called after a confirmed "OK": recompute every entry's size and repaint.
  std::function<void()> AfterConfirm;
  // Shows the warning about an invalid resolution (a message box by default;
  // tests replace it).
  std::function<void(const QString&)> Warn;

  // Fills the boxes from the current format (as showing does).
  void Reload(bool enable_boxes);

  QComboBox* ResolutionBox() const { return resolution_; }
  QComboBox* Box(TSettingsBox b) const { return boxes_[b]; }
  QLineEdit* ProfileEdit() const { return profile_; }

 public slots:
  void Confirm();   // "OK"
  void Defaults();  // "Default"

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  TCatalogue& catalogue_;
  TReportSink& sink_;
  QLineEdit* profile_ = nullptr;
  QComboBox* resolution_ = nullptr;
  std::array<QComboBox*, kSettingsBoxCount> boxes_{};
};

}  // namespace vidmill
