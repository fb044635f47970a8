// The main window's conversion list: adding files (dialog and drag and
// drop), selecting, renaming, removing, moving, clearing, applying the
// chosen format to all, and opening the entry dialogs.
#include <QCheckBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableView>

#include "conversion_list.h"
#include "core/engine_error.h"
#include "filters/adjust_filters.h"
#include "main_form.h"
#include "messenger.h"
#include "open_filter.h"
#include "player/player.h"
#include "probe/ff_decode.h"
#include "probe_entry.h"
#include "report/error_marks.h"
#include "report/events_log.h"

namespace vidmill {

// ---- Adding files ------------------------------------------------------------------

bool TMainForm::EnsureEngine() {
  if (!converter_) {
    ErrorReport(QStringLiteral("This program was built without its encoder."), QString::fromLatin1(clm::kFFLoadAVLib2));
    return false;
  }
  if (!player_->AVLibLoaded() || !converter_->AVLibLoaded()) {
    if (!converter_->LoadAVLib(folders_.LibAV().toStdString())) {
      const QString msg = QString::fromStdString(converter_->LastErrMsg());
      ErrorReport(msg, QString::fromLatin1(clm::kFFLoadAVLib2));
      LogEvent(msg);
      return false;
    }
  }
  RegisterEqFilter();
  RegisterHueFilter();
  return true;
}

bool TMainForm::PrepareAdd() {
  if (!EnsureEngine()) return false;
  if (!player_->SDLLibLoaded() && !player_->LoadSDLLib(folders_.LibAV().toStdString())) {
    events_log_->AddLine(QString::fromStdString(player_->LastErrMsg()));
    ErrorReport(QString::fromLatin1(clm::kSDlLibLoadMsg), QString::fromLatin1(clm::kSDlLibLoad));
    return false;
  }
  if (catalogue_.IsEmpty()) {
    messenger_->Warning(this, QStringLiteral("The profile catalogue holds no formats, so nothing can be converted."));
    return false;
  }
  return true;
}

void TMainForm::AddVideo() {
  if (running_ || !PrepareAdd()) return;
  const QStringList filters = OpenDialogFilters();
  QString selected = filters.front();
  const QStringList files = QFileDialog::getOpenFileNames(this, QStringLiteral("Open file"), open_dialog_folder_,
                                                          filters.join(QStringLiteral(";;")), &selected);
  if (files.isEmpty()) return;
  open_dialog_used_ = QFileInfo(files.front()).absolutePath();
  open_dialog_folder_ = *open_dialog_used_;
  AddFiles(files);
}

void TMainForm::AddFiles(const QStringList& files) {
  if (files.isEmpty() || running_) return;
  if (!player_->SDLLibLoaded() || !converter_ || !converter_->AVLibLoaded()) {
    if (!PrepareAdd()) return;
  }
  list_stack_->setCurrentWidget(sgList);
  SetListCommandsEnabled(true, true);
  for (const QString& file : files) AddOneFile(file);
  if (SelectedEntry() < 0 && !list_->IsEmpty()) SelectEntry(0);
}

void TMainForm::AddOneFile(const QString& file) {
  QString error;
  std::optional<TVideoFile> entry;
  try {
    const TFormatIndex format = catalogue_.Current();
    entry = ProbeVideoFile(file, converter_->Decoder(), format.Category, format.Position, &error);
  } catch (const EEngineError& e) {
    error = QString::fromUtf8(e.what());
  }
  if (!entry) {
    events_log_->AddLine(QString());
    LogEvent(QStringLiteral("File load error: ") + error);
    events_log_->AddLine(QString());
    messenger_->Information(this, QStringLiteral("File ") + QFileInfo(file).fileName() +
                                      QStringLiteral(" is not a valid media file or its format is not supported."));
    return;
  }
  const int row = list_->Append(*entry);
  LogEvent(QStringLiteral("File added: ") + list_->Entry(row)->Source);
}

void TMainForm::dragEnterEvent(QDragEnterEvent* event) {
  if (!running_ && event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent* event) {
  QStringList files;
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isFile()) files << url.toLocalFile();
  }
  if (files.isEmpty()) return;
  event->acceptProposedAction();
  AddFiles(files);
}

// ---- Selection -----------------------------------------------------------------------

int TMainForm::SelectedEntry() const {
  const QModelIndex current = sgList->currentIndex();
  return current.isValid() && current.row() < list_->Count() ? current.row() : -1;
}

void TMainForm::SelectEntry(int entry) {
  if (!list_->Entry(entry)) return;
  sgList->setCurrentIndex(list_->index(entry, 0));
  sgList->selectRow(entry);
}

void TMainForm::OnCurrentRowChanged() {
  const TVideoFile* e = list_->Entry(SelectedEntry());
  if (!e) return;
  if (catalogue_.SetCurrent({e->ProfileInd, e->FormatInd})) ShowCurrentFormat();
}

bool TMainForm::ApplyToAll() const { return chApplyToAll->isChecked(); }
bool TMainForm::MergeToOneFile() const { return chMerge->isChecked(); }
bool TMainForm::ReplaceExisting() const { return chReplace->isChecked(); }

void TMainForm::OnApplyToAllToggled(bool checked) {
  if (checked) list_->ApplyFormatToAll(catalogue_.Current());
}

// ---- Rename --------------------------------------------------------------------------

void TMainForm::BeginRename(int entry) {
  const TVideoFile* e = list_->Entry(entry);
  if (!e || running_) return;
  const QModelIndex cell = list_->index(entry, lcDestination);
  rename_index_ = QPersistentModelIndex(cell);
  const QRect rect = sgList->visualRect(cell);
  edDestinationTitle->setGeometry(rect.left(), rect.top() - 1, sgList->columnWidth(lcDestination),
                                  rect.height() + 2);
  edDestinationTitle->setText(e->DestinationTitle);
  edDestinationTitle->show();
  edDestinationTitle->setFocus();
  edDestinationTitle->selectAll();
}

void TMainForm::CommitRename() {
  if (committing_rename_ || !edDestinationTitle->isVisible()) return;
  committing_rename_ = true;
  edDestinationTitle->hide();
  // The entry that was being renamed, wherever it has moved meanwhile.
  const int row = rename_index_.isValid() ? rename_index_.row() : -1;
  rename_index_ = QPersistentModelIndex();
  QString reason;
  if (row >= 0 && !list_->Rename(row, edDestinationTitle->text(), &reason)) messenger_->Warning(this, reason);
  committing_rename_ = false;
  sgList->setFocus();
}

// ---- Remove, move, clear -------------------------------------------------------------------

void TMainForm::RemoveSelected() {
  if (running_ || list_->IsEmpty()) return;
  const int entry = SelectedEntry();
  if (entry < 0) return;
  if (list_->Count() == 1) {
    ClearAll();
    return;
  }
  list_->Remove(entry);
  SelectEntry(entry < list_->Count() ? entry : list_->Count() - 1);
}

void TMainForm::ClearAll() {
  if (running_) return;
  list_->Clear();
  actSnapshot_->setEnabled(true);
  SetListCommandsEnabled(false, false);
}

void TMainForm::MoveUp() {
  const int entry = SelectedEntry();
  if (!running_ && list_->MoveUp(entry)) SelectEntry(entry - 1);
}

void TMainForm::MoveDown() {
  const int entry = SelectedEntry();
  if (!running_ && list_->MoveDown(entry)) SelectEntry(entry + 1);
}

// ---- Entry dialogs ---------------------------------------------------------------------

void TMainForm::EditSelected() {
  const int entry = SelectedEntry();
  const TVideoFile* e = list_->Entry(entry);
  if (!e || running_) return;
  if (e->isSourceAudioFormat) {
    messenger_->Warning(this, QStringLiteral("Can't edit audio formats. You can click \"Trim\" button."));
    return;
  }
  if (last_state_ == psPlay || last_state_ == psPause) StopPreview();
  if (dialogs_.CropEntry) {
    dialogs_.CropEntry(entry);
    list_->UpdateSize(entry);
  }
}

void TMainForm::TrimSelected() {
  const int entry = SelectedEntry();
  if (!list_->Entry(entry) || running_) return;
  if (last_state_ == psPlay || last_state_ == psPause) StopPreview();
  if (dialogs_.TrimEntry) {
    dialogs_.TrimEntry(entry);
    list_->UpdateSize(entry);
  }
}

void TMainForm::ShowFileInformation() {
  const int entry = SelectedEntry();
  if (list_->Entry(entry) && dialogs_.FileInformation) dialogs_.FileInformation(entry);
}

void TMainForm::ShowContextMenu(const QPoint& pos) {
  const QModelIndex at = sgList->indexAt(pos);
  if (at.isValid()) SelectEntry(at.row());
  ListMenu->popup(sgList->viewport()->mapToGlobal(pos));
}

}  // namespace vidmill
