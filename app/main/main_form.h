// TMainForm: the converter's main window.
//
// Owns the encoder (Mediora, behind TConverter), the preview player
// (FFPlayer), the application's logger (FFLogger), the profile catalogue,
// the conversion list, the events log, the history list and the error
// report routine, and the windows it shows: the progress window, the about
// window, the events-log window and the error window. Creating it runs the
// start-up sequence; closing it stops the preview (and a run) and writes
// the settings.
//
// The dialogs another part of the program provides (profile chooser,
// settings, crop and adjust, trim, file information) are attached through
// SetDialogs; without them their commands do nothing (the profile field then
// offers a plain menu of the catalogue's formats).
//
// Thread rules: main thread only. Engine events reach it on the main thread
// (OnProgress, the player's events) or are carried over (OnTerminate).
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <QMainWindow>
#include <QPersistentModelIndex>
#include <QStringList>
#include <QUrl>

#include "app_folders.h"
#include "catalogue/catalogue.h"
#include "converter.h"
#include "job_assembly.h"
#include "player/player_types.h"
#include "report/report_sink.h"
#include "run_progress.h"

class QAction;
class QActionGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSettings;
class QSlider;
class QStackedWidget;
class QTableView;
class QToolButton;

namespace vidmill {

class TAboutForm;
class TConvForm;
class TConversionList;
class TErrorForm;
class TErrorReporter;
class TEventsLog;
class TFFLogger;
class TFFPlayer;
class THistoryList;
class TLogForm;
class TMessenger;
class TPowerOff;
struct TStoredSettings;

struct TMainFormOptions {
  TAppFolders Folders = SystemFolders();
  // Command-line arguments after the program's name; the first names the
  // companion program of "Switch Converter".
  QStringList Arguments;
  // The settings store (the user's own by default).
  std::function<std::unique_ptr<QSettings>()> OpenSettings;
  // The encoder (the engine's by default).
  std::unique_ptr<TConverter> Converter;
  // Error reports ask through the error window; false leaves them unasked
  // (nothing is sent), for tests.
  bool ErrorWindow = true;
};

// Dialogs provided by another part of the program; each may be empty.
struct TMainFormDialogs {
  std::function<void()> ChooseProfile;             // the "Profile:" field
  std::function<void()> EditSettings;              // "Settings..."
  std::function<void(int entry)> CropEntry;        // "Edit", "Crop Video..."
  std::function<void(int entry)> TrimEntry;        // "Trim", "Clip Video..."
  std::function<void(int entry)> FileInformation;  // "File Information"
};

enum TSnapshotFormat { sfJPEG, sfBMP };

class TMainForm : public QMainWindow, public TReportSink {
  Q_OBJECT
 public:
  explicit TMainForm(TMainFormOptions options = {}, QWidget* parent = nullptr);
  ~TMainForm() override;

  // ---- Layers tests and other parts replace ---------------------------------
  void SetDialogs(TMainFormDialogs dialogs) { dialogs_ = std::move(dialogs); }
  void SetMessenger(std::unique_ptr<TMessenger> messenger);
  void SetPowerOff(std::unique_ptr<TPowerOff> power_off);
  // Opens a folder, file or web page ("open" through the desktop by default).
  void SetOpener(std::function<bool(const QUrl&)> opener) { opener_ = std::move(opener); }
  // Seconds of the countdown before a shutdown (60 by default).
  void SetShutdownCountdown(int seconds) { shutdown_countdown_s_ = seconds; }

  // ---- What the window holds ------------------------------------------------
  const TAppFolders& Folders() const { return folders_; }
  TCatalogue& Catalogue() { return catalogue_; }
  TConversionList& List() { return *list_; }
  TEventsLog& EventsLog() { return *events_log_; }
  THistoryList& History() { return *history_; }
  TErrorReporter& Reporter() { return *reporter_; }
  TConverter& Mediora() { return *converter_; }
  TFFPlayer& FFPlayer() { return *player_; }
  TConvForm& ProgressWindow() { return *conv_form_; }
  QString OutputFolder() const;
  void SetOutputFolder(const QString& folder);
  QString SnapshotFolder() const { return snapshot_folder_; }
  void SetSnapshotFolder(const QString& folder) { snapshot_folder_ = folder; }
  QString OpenDialogFolder() const { return open_dialog_folder_; }
  TSnapshotFormat SnapshotFormat() const { return snapshot_format_; }
  void SetSnapshotFormat(TSnapshotFormat format);
  // The selected entry, -1 when the list is empty or nothing is selected.
  int SelectedEntry() const;
  void SelectEntry(int entry);
  bool ApplyToAll() const;
  bool MergeToOneFile() const;
  bool ReplaceExisting() const;
  // A run is between "Start" and its final event.
  bool Running() const { return running_; }
  const TRunOutcome& LastOutcome() const { return outcome_; }
  // The output paths of the current (or last) run.
  QStringList RunOutputPaths() const { return run_outputs_; }
  TPlayState LastPlayState() const { return last_state_; }

  // ---- Commands ---------------------------------------------------------------
  // The format chosen in a chooser: current and recent selection; the
  // selected entry (every entry with "Apply to all") gets it.
  void ApplyChosenFormat(TFormatIndex format);
  // Shows the current selection's title and icon in the profile field.
  void ShowCurrentFormat();
  // Writes the settings now (as at close); false after reporting a failure.
  bool WriteSettingsNow();

  // TReportSink: error reports and events-log lines of the whole program.
  void ErrorReport(const QString& message, const QString& mark) override;
  void LogEvent(const QString& text) override;

  // Widgets other parts and tests reach by their names.
  QTableView* sgList = nullptr;
  QLineEdit* edDestinationTitle = nullptr;
  QLineEdit* edDestinationFolder = nullptr;
  QLabel* lblProfile = nullptr;
  QLabel* imgProfileIcon = nullptr;
  QCheckBox* chApplyToAll = nullptr;
  QCheckBox* chMerge = nullptr;
  QCheckBox* chReplace = nullptr;
  QPushButton* btnStart = nullptr;
  QPushButton* btnAdd = nullptr;
  QPushButton* btnEdit = nullptr;
  QPushButton* btnTrim = nullptr;
  QPushButton* btnSettings = nullptr;
  QPushButton* btnFindTarget = nullptr;
  QPushButton* btnBrowseOutput = nullptr;
  QWidget* GettingStartedPanel = nullptr;
  QLabel* GettingStartedImage = nullptr;
  QWidget* panPreview = nullptr;
  QWidget* panPlayerArea = nullptr;
  QLabel* imgPlayerArea = nullptr;
  QToolButton* btnPlay = nullptr;
  QToolButton* btnPause = nullptr;
  QToolButton* btnStop = nullptr;
  QToolButton* spSkinMenuButton1 = nullptr;  // snapshot button with its menu
  QSlider* VideoTrackBar = nullptr;
  QSlider* VolumeTrackBar = nullptr;
  QLabel* lblPlayTime = nullptr;
  QComboBox* cboVideo = nullptr;
  QComboBox* cboAudio = nullptr;
  QComboBox* cboSubtitle = nullptr;
  QMenu* ToolsMenuItem = nullptr;
  QAction* EventsLogMenuItem = nullptr;
  QMenu* ListMenu = nullptr;
  QMenu* SnapshotMenu = nullptr;

 public slots:
  // "Add video": loads the engine when needed, shows the "Open file" dialog
  // and adds what it returns.
  void AddVideo();
  // Adds files as the open dialog returns them (also drag and drop).
  void AddFiles(const QStringList& files);
  void StartConversion();
  void RemoveSelected();
  void ClearAll();
  void MoveUp();
  void MoveDown();
  // Opens the inline editor over the entry's destination title.
  void BeginRename(int entry);
  void EditSelected();
  void TrimSelected();
  void Play();
  void PausePreview();
  void StopPreview();
  void TakeSnapshot();

 signals:
  // Emitted for every error report (tests and logs listen).
  void ErrorReported(const QString& message, const QString& mark);
  // A run's final event has been handled.
  void RunFinished();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Start-up (main_form.cpp).
  void BuildWidgets();
  void BuildMenus();
  void StartUp();
  void CreateLogger();
  void LoadPictures();
  void ApplyStoredFolders(const TStoredSettings& stored);
  void LoadEngineAtStart();
  void SetListCommandsEnabled(bool enabled, bool main_menu_too);
  void SwitchConverter();
  void ShowEventsLog();
  void ShowAbout();
  void OpenUrl(const QUrl& url);
  void BrowseOutputFolder();
  void FindTarget();
  void ShowProfileMenu();

  // The list (main_form_list.cpp).
  bool PrepareAdd();
  bool EnsureEngine();
  void AddOneFile(const QString& file);
  void OnCurrentRowChanged();
  void CommitRename();
  void OnApplyToAllToggled(bool checked);
  void ShowFileInformation();
  void ShowContextMenu(const QPoint& pos);

  // Preview and snapshots (main_form_preview.cpp).
  void ConnectPlayer();
  void OnFileOpen(int64_t duration, int& screen_width, int& screen_height);
  void OnPosition(int64_t pts);
  void OnState(TPlayState state);
  // A stream chosen in one of the stream lists switches the preview to it.
  void OnStreamChosen(QComboBox* list);
  void SeekToSlider();
  void RebuildStreamLists();
  uint64_t PreviewWindowHandle();
  void ChangeSnapshotFolder();

  // Runs (main_form_run.cpp).
  std::optional<QString> RunOutputFolder();
  void BeginRun(int tasks);
  void HandleProgress(int run, const TRunProgress& progress);
  void HandleTaskEnd(int run, const TTaskEnd& end);
  void EndRun();
  void CancelRun();
  void PauseRun(bool pause);
  void ShutDownAfterRun();
  QString FileLineOf(int task) const;

  TMainFormOptions options_;
  TAppFolders folders_;
  TMainFormDialogs dialogs_;
  std::unique_ptr<TMessenger> messenger_;
  std::unique_ptr<TPowerOff> power_off_;
  std::function<bool(const QUrl&)> opener_;
  int shutdown_countdown_s_ = 60;

  std::unique_ptr<THistoryList> history_;
  TEventsLog* events_log_ = nullptr;       // child QObject
  TErrorReporter* reporter_ = nullptr;     // child QObject
  std::unique_ptr<TFFLogger> logger_;
  TCatalogue catalogue_;
  TConversionList* list_ = nullptr;        // child QObject (model of sgList)
  std::unique_ptr<TConverter> converter_;
  std::unique_ptr<TFFPlayer> player_;

  TConvForm* conv_form_ = nullptr;
  TAboutForm* about_form_ = nullptr;
  TLogForm* log_form_ = nullptr;
  TErrorForm* error_form_ = nullptr;
  QStackedWidget* list_stack_ = nullptr;

  QAction* actAddFiles_ = nullptr;  // main menu
  QAction* actFileInfo_ = nullptr;
  QAction* actStart_ = nullptr;
  QAction* actRemove_ = nullptr;
  QAction* actClearAll_ = nullptr;
  QAction* actRename_ = nullptr;
  QAction* actMoveUp_ = nullptr;
  QAction* actMoveDown_ = nullptr;
  QAction* actCrop_ = nullptr;
  QAction* actClip_ = nullptr;
  QList<QAction*> list_menu_items_;  // the grid's menu items but "Add Video Files..."
  QAction* actSnapshot_ = nullptr;
  QAction* actJpeg_ = nullptr;
  QAction* actBmp_ = nullptr;

  QString open_dialog_folder_;
  std::optional<QString> open_dialog_used_;  // folder of the first file chosen this run
  QString snapshot_folder_;
  TSnapshotFormat snapshot_format_ = sfJPEG;
  int jpeg_counter_ = 1;
  int bmp_counter_ = 1;

  QPersistentModelIndex rename_index_;  // the entry being renamed
  bool committing_rename_ = false;

  int64_t preview_duration_ = 0;
  TPlayState last_state_ = psStop;
  bool dragging_ = false;
  bool positioning_ = false;

  bool running_ = false;
  int run_id_ = 0;
  TJobPlan plan_;
  QStringList run_outputs_;
  QString run_folder_;
  TRunOutcome outcome_;
};

}  // namespace vidmill
