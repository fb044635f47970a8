// The main window's runs: "Start" (job assembly and the hand-over to the
// encoder), progress, task ends, cancel, pause, and what follows a run.
//
// Every run has a number; the encoder's events carry the number of the run
// they belong to, so a late event of one run can never touch the next.
// "Start" stays unavailable from the hand-over to the run's final event.
#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>

#include "conv_form.h"
#include "conversion_list.h"
#include "main_form.h"
#include "messenger.h"
#include "player/player.h"
#include "power_off.h"
#include "report/error_marks.h"
#include "shutdown_countdown.h"
#include "task_sink.h"

namespace vidmill {

std::optional<QString> TMainForm::RunOutputFolder() {
  const QString chosen = edDestinationFolder->text();
  if (!chosen.isEmpty() && QFileInfo(chosen).isDir()) return chosen;
  const QString fallback = folders_.FallbackOutput();
  messenger_->Warning(this, QStringLiteral("Output folder does not exit. Converting to \"%1\".").arg(fallback));
  if (QFileInfo(fallback).isDir() || QDir().mkdir(fallback)) return fallback;
  messenger_->Warning(this, QStringLiteral("Could not create temporary directory. Please choose another output folder."));
  return std::nullopt;
}

void TMainForm::StartConversion() {
  if (running_ || list_->IsEmpty()) return;
  if (!converter_ || !EnsureEngine()) return;
  const std::optional<QString> folder = RunOutputFolder();
  if (!folder) return;
  if (last_state_ == psPlay || last_state_ == psPause) StopPreview();

  TJobSettings settings;
  settings.OutputFolder = *folder;
  settings.MergeTicked = MergeToOneFile();
  settings.SelectedEntry = SelectedEntry();
  settings.ReplaceExisting = ReplaceExisting();
  TJobError error;
  TJobPlan plan;
  if (!BuildJobPlan(list_->Entries(), catalogue_, settings, &plan, &error) ||
      !SubmitJobPlan(plan, converter_->Tasks(), &error)) {
    if (error.Mark.isEmpty()) {
      messenger_->Warning(this, error.Message);
    } else {
      ErrorReport(error.Message, error.Mark);
    }
    return;
  }
  plan_ = std::move(plan);
  run_folder_ = *folder;
  run_outputs_ = plan_.OutputPaths;
  LogEvent(QStringLiteral("Started Conversion"));
  BeginRun(static_cast<int>(plan_.TaskEntries.size()));
  converter_->Start(1);
  conv_form_->open();
}

void TMainForm::BeginRun(int tasks) {
  running_ = true;
  const int run = ++run_id_;
  outcome_ = TRunOutcome(tasks);
  btnStart->setEnabled(false);
  actStart_->setEnabled(false);
  conv_form_->BeginRun();
  QPointer<TMainForm> self(this);
  converter_->OnProgress = [this, run](const TRunProgress& p) { HandleProgress(run, p); };
  converter_->OnTerminate = [self, run](const TTaskEnd& end) {
    // Raised on a delivery thread: the window's work runs on the main thread.
    if (!self) return;
    QMetaObject::invokeMethod(self.data(), [self, run, end] {
      if (self) self->HandleTaskEnd(run, end);
    }, Qt::QueuedConnection);
  };
}

QString TMainForm::FileLineOf(int task) const {
  if (task < 0 || task >= plan_.TaskEntries.size() || task >= run_outputs_.size()) return QString();
  const TVideoFile* e = list_->Entry(plan_.TaskEntries[task].value(0, -1));
  if (!e) return QString();
  return QStringLiteral("Converting \"%1\" to \"%2\"").arg(e->SourceTitleExt, QFileInfo(run_outputs_[task]).fileName());
}

void TMainForm::HandleProgress(int run, const TRunProgress& p) {
  if (run != run_id_ || !running_) return;
  const int tasks = outcome_.Tasks();
  conv_form_->ShowProgress(CurrentTaskPercent(p.CurrentDuration, p.TotalDuration),
                           TotalPercent(p.TaskIndex, tasks, p.CurrentDuration, p.TotalDuration),
                           FileLineOf(p.TaskIndex));
}

void TMainForm::HandleTaskEnd(int run, const TTaskEnd& end) {
  if (run != run_id_ || !running_) return;
  if (end.TaskIndex < 0) {
    EndRun();
    return;
  }
  outcome_.TaskEnded(end.TaskIndex, end.Finished, end.Exception);
  const QString message = QString::fromStdString(end.ExceptionMsg);
  if (end.Exception) {
    ErrorReport(QString::fromLatin1(clm::kTerminateMsg) + message, QString::fromLatin1(clm::kTerminate));
    LogEvent(message);
  } else if (!end.Finished && !outcome_.Cancelled()) {
    const QString output = end.TaskIndex < run_outputs_.size() ? run_outputs_[end.TaskIndex] : QString();
    LogEvent(QStringLiteral("Conversion to \"%1\" did not finish.").arg(QFileInfo(output).fileName()));
  }
}

void TMainForm::EndRun() {
  plan_ = TJobPlan();  // the option records are no longer needed
  running_ = false;
  conv_form_->SetButtonsEnabled(false);
  conv_form_->SetClosable(true);
  conv_form_->done(QDialog::Accepted);
  btnStart->setEnabled(true);
  actStart_->setEnabled(!list_->IsEmpty());
  LogEvent(outcome_.FinalText());

  const bool shut_down = conv_form_->cbShutdownPC->isChecked();
  if (shut_down && outcome_.Completed()) {
    ShutDownAfterRun();
  } else {
    if (shut_down)
      LogEvent(QStringLiteral("The computer was not shut down because the conversion did not complete."));
    if (conv_form_->cbOpenOutput->isChecked()) OpenUrl(QUrl::fromLocalFile(run_folder_));
  }
  emit RunFinished();
}

void TMainForm::CancelRun() {
  if (!running_ || outcome_.Cancelled()) return;
  outcome_.SetCancelled();
  conv_form_->SetButtonsEnabled(false);
  conv_form_->lblConvertingTitle->SetFullText(QStringLiteral("Cancelling..."));
  // Stopping delivers the run's last events, which end the run and log its
  // outcome: the cancel line goes first so the outcome stays the last line.
  LogEvent(QStringLiteral("Conversion cancelled by user."));
  converter_->Stop(true);
}

void TMainForm::PauseRun(bool pause) {
  if (!running_) return;
  if (pause) {
    converter_->Pause();
  } else {
    converter_->Resume();
  }
}

void TMainForm::ShutDownAfterRun() {
  WriteSettingsNow();
  TShutdownCountdown countdown(shutdown_countdown_s_, this);
  if (countdown.exec() != QDialog::Accepted) {
    LogEvent(QStringLiteral("Shutdown cancelled by user."));
    return;
  }
  QString error;
  try {
    if (!power_off_ || !power_off_->PowerOff(&error))
      messenger_->Error(this, QStringLiteral("PowerOff() Failed"), QStringLiteral("Exit Error\n") + error);
  } catch (const std::exception&) {
    ErrorReport(QString::fromLatin1(clm::kShutMsg), QString::fromLatin1(clm::kShut));
  }
}

}  // namespace vidmill
