// The main window's construction, start-up sequence, menus, settings and
// closing. The list, the preview and the runs have files of their own.
#include "main_form.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QSplitter>
#include <QStackedWidget>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

#include "about_form.h"
#include "app_settings.h"
#include "conv_form.h"
#include "conversion_list.h"
#include "core/ff_log.h"
#include "core/main_thread.h"
#include "dialogs/error_form.h"
#include "dialogs/events_log_form.h"
#include "list_delegate.h"
#include "maker_pages.h"
#include "messenger.h"
#include "player/player.h"
#include "power_off.h"
#include "report/engine_bridge.h"
#include "report/error_marks.h"
#include "report/error_reporter.h"
#include "report/events_log.h"
#include "report/history_list.h"

namespace vidmill {

namespace {
constexpr int kColumnWidths[kListColumnCount] = {132, 92, 87, 88, 48};
constexpr int kHeaderHeight = 20;
constexpr int kRowHeight = 17;
}  // namespace

TMainForm::TMainForm(TMainFormOptions options, QWidget* parent)
    : QMainWindow(parent), options_(std::move(options)), folders_(options_.Folders), catalogue_(*this) {
  if (!main_thread::Installed()) InstallQtMainThreadPoster();
  messenger_ = std::make_unique<TMessageBoxes>();
  power_off_ = MakeLoginManagerPowerOff();
  opener_ = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
  if (!options_.OpenSettings) options_.OpenSettings = &OpenAppSettings;
  converter_ = options_.Converter ? std::move(options_.Converter) : MakeEncoderConverter();
  player_ = std::make_unique<TFFPlayer>();

  history_ = std::make_unique<THistoryList>();
  events_log_ = new TEventsLog(this);
  reporter_ = new TErrorReporter(*history_, *events_log_, this);
  error_form_ = new TErrorForm(this);
  if (options_.ErrorWindow) AttachErrorWindow(*reporter_, *error_form_, this);
  CreateLogger();

  list_ = new TConversionList(catalogue_, this);
  BuildWidgets();
  BuildMenus();
  setAcceptDrops(true);
  StartUp();

  conv_form_ = new TConvForm(this);
  connect(conv_form_, &TConvForm::PauseToggled, this, &TMainForm::PauseRun);
  connect(conv_form_, &TConvForm::CancelRequested, this, &TMainForm::CancelRun);
  about_form_ = new TAboutForm(folders_.DataFolder(), this);
  log_form_ = new TLogForm(*events_log_, this);
  ConnectPlayer();
}

TMainForm::~TMainForm() {
  // The encoder's and the player's threads call back into this window:
  // they end before anything they could reach goes away.
  if (converter_ && running_) converter_->Stop(true);
  converter_.reset();
  if (player_) player_->Stop(true);
  player_.reset();
  if (logger_) DisconnectLogger(*logger_);
}

void TMainForm::SetMessenger(std::unique_ptr<TMessenger> messenger) { messenger_ = std::move(messenger); }
void TMainForm::SetPowerOff(std::unique_ptr<TPowerOff> power_off) { power_off_ = std::move(power_off); }

void TMainForm::CreateLogger() {
  try {
    logger_ = TFFLogger::Create();
    ConnectLoggerToHistory(*logger_, *history_, this);
  } catch (const std::exception&) {
    // Another window of this process owns the application logger; this one
    // keeps its history without engine lines.
  }
}

// ---- Widgets -----------------------------------------------------------------

void TMainForm::BuildWidgets() {
  auto* central = new QWidget(this);
  setCentralWidget(central);

  // The list side: the getting-started picture until files are added.
  GettingStartedPanel = new QWidget(central);
  GettingStartedPanel->setObjectName(QStringLiteral("GettingStartedPanel"));
  GettingStartedImage = new QLabel(GettingStartedPanel);
  GettingStartedImage->setObjectName(QStringLiteral("GettingStartedImage"));
  GettingStartedImage->setAlignment(Qt::AlignCenter);
  auto* gs_layout = new QVBoxLayout(GettingStartedPanel);
  gs_layout->setContentsMargins(0, 0, 0, 0);
  gs_layout->addWidget(GettingStartedImage);

  sgList = new QTableView(central);
  sgList->setObjectName(QStringLiteral("sgList"));
  sgList->setModel(list_);
  sgList->setItemDelegate(new TListDelegate(sgList));
  sgList->setSelectionBehavior(QAbstractItemView::SelectRows);
  sgList->setSelectionMode(QAbstractItemView::SingleSelection);
  sgList->setEditTriggers(QAbstractItemView::NoEditTriggers);
  sgList->setContextMenuPolicy(Qt::CustomContextMenu);
  sgList->setWordWrap(false);
  sgList->setTextElideMode(Qt::ElideRight);
  sgList->verticalHeader()->hide();
  sgList->verticalHeader()->setDefaultSectionSize(kRowHeight);
  sgList->verticalHeader()->setMinimumSectionSize(kRowHeight);
  sgList->horizontalHeader()->setFixedHeight(kHeaderHeight);
  sgList->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  sgList->horizontalHeader()->setHighlightSections(false);
  QFont header_font = sgList->horizontalHeader()->font();
  header_font.setPointSizeF(header_font.pointSizeF() * 0.85);  // the captions fit the columns' widths
  sgList->horizontalHeader()->setFont(header_font);
  sgList->setStyleSheet(QStringLiteral("QTableView { gridline-color: #E6E6E6; background: white; }"));
  sgList->viewport()->installEventFilter(this);
  connect(sgList->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          &TMainForm::OnCurrentRowChanged);
  connect(sgList, &QWidget::customContextMenuRequested, this, &TMainForm::ShowContextMenu);

  edDestinationTitle = new QLineEdit(sgList->viewport());
  edDestinationTitle->setObjectName(QStringLiteral("edDestinationTitle"));
  edDestinationTitle->hide();
  connect(edDestinationTitle, &QLineEdit::editingFinished, this, &TMainForm::CommitRename);

  list_stack_ = new QStackedWidget(central);
  list_stack_->addWidget(GettingStartedPanel);
  list_stack_->addWidget(sgList);

  // The preview side.
  auto* preview_side = new QWidget(central);
  panPreview = new QWidget(preview_side);
  panPreview->setObjectName(QStringLiteral("panPreview"));
  panPreview->setAutoFillBackground(true);
  QPalette black = panPreview->palette();
  black.setColor(QPalette::Window, Qt::black);
  panPreview->setPalette(black);
  panPreview->setMinimumSize(320, 240);
  panPlayerArea = new QWidget(preview_side);
  panPlayerArea->setObjectName(QStringLiteral("panPlayerArea"));
  imgPlayerArea = new QLabel(panPlayerArea);
  imgPlayerArea->setObjectName(QStringLiteral("imgPlayerArea"));
  imgPlayerArea->setAlignment(Qt::AlignCenter);
  imgPlayerArea->setScaledContents(true);
  auto* area_layout = new QVBoxLayout(panPlayerArea);
  area_layout->setContentsMargins(0, 0, 0, 0);
  area_layout->addWidget(imgPlayerArea);
  auto* screen = new QStackedWidget(preview_side);
  screen->setObjectName(QStringLiteral("videoplayerarea"));
  screen->addWidget(panPlayerArea);
  screen->addWidget(panPreview);
  screen->setMinimumSize(320, 240);

  auto tool = [preview_side](const QString& text, const QString& name) {
    auto* b = new QToolButton(preview_side);
    b->setText(text);
    b->setObjectName(name);
    b->setToolButtonStyle(Qt::ToolButtonTextOnly);
    return b;
  };
  btnPlay = tool(QStringLiteral("Play"), QStringLiteral("btnPlay"));
  btnPause = tool(QStringLiteral("Pause"), QStringLiteral("btnPause"));
  btnStop = tool(QStringLiteral("Stop"), QStringLiteral("btnStop"));
  btnPlay->setCheckable(true);
  btnPause->setCheckable(true);
  btnPlay->setAutoExclusive(true);
  btnPause->setAutoExclusive(true);
  spSkinMenuButton1 = tool(QStringLiteral("Snapshot"), QStringLiteral("spSkinMenuButton1"));
  spSkinMenuButton1->setPopupMode(QToolButton::MenuButtonPopup);
  VideoTrackBar = new QSlider(Qt::Horizontal, preview_side);
  VideoTrackBar->setObjectName(QStringLiteral("VideoTrackBar"));
  VideoTrackBar->setRange(0, 1000);
  VolumeTrackBar = new QSlider(Qt::Horizontal, preview_side);
  VolumeTrackBar->setObjectName(QStringLiteral("VolumeTrackBar"));
  VolumeTrackBar->setRange(0, 128);
  VolumeTrackBar->setValue(128);
  VolumeTrackBar->setMaximumWidth(100);
  lblPlayTime = new QLabel(QStringLiteral("00:00:00 / 00:00:00"), preview_side);
  lblPlayTime->setObjectName(QStringLiteral("lblPlayTime"));
  cboVideo = new QComboBox(preview_side);
  cboVideo->setObjectName(QStringLiteral("cboVideo"));
  cboAudio = new QComboBox(preview_side);
  cboAudio->setObjectName(QStringLiteral("cboAudio"));
  cboSubtitle = new QComboBox(preview_side);
  cboSubtitle->setObjectName(QStringLiteral("cboSubtitle"));
  for (QComboBox* c : {cboVideo, cboAudio, cboSubtitle}) c->setEnabled(false);

  auto* controls = new QHBoxLayout;
  controls->addWidget(btnPlay);
  controls->addWidget(btnPause);
  controls->addWidget(btnStop);
  controls->addStretch();
  controls->addWidget(spSkinMenuButton1);
  auto* times = new QHBoxLayout;
  times->addWidget(lblPlayTime);
  times->addStretch();
  times->addWidget(new QLabel(QStringLiteral("Volume:"), preview_side));
  times->addWidget(VolumeTrackBar);
  auto* streams = new QHBoxLayout;
  streams->addWidget(cboVideo);
  streams->addWidget(cboAudio);
  streams->addWidget(cboSubtitle);
  auto* preview_layout = new QVBoxLayout(preview_side);
  preview_layout->setContentsMargins(0, 0, 0, 0);
  preview_layout->addWidget(screen, 1);
  preview_layout->addLayout(controls);
  preview_layout->addWidget(VideoTrackBar);
  preview_layout->addLayout(times);
  preview_layout->addLayout(streams);
  // Play shows the player's panel, Stop the picture.
  connect(btnPlay, &QToolButton::clicked, this, &TMainForm::Play);
  connect(btnPause, &QToolButton::clicked, this, &TMainForm::PausePreview);
  connect(btnStop, &QToolButton::clicked, this, &TMainForm::StopPreview);
  connect(spSkinMenuButton1, &QToolButton::clicked, this, &TMainForm::TakeSnapshot);
  panPlayerArea->setProperty("screen", QVariant::fromValue(static_cast<QObject*>(screen)));

  auto* split = new QSplitter(Qt::Horizontal, central);
  split->addWidget(list_stack_);
  split->addWidget(preview_side);
  split->setStretchFactor(0, 3);
  split->setStretchFactor(1, 2);

  // Buttons and the bottom panel.
  btnAdd = new QPushButton(QStringLiteral("Add video"), central);
  btnAdd->setObjectName(QStringLiteral("btnAdd"));
  btnEdit = new QPushButton(QStringLiteral("Edit"), central);
  btnEdit->setObjectName(QStringLiteral("btnEdit"));
  btnTrim = new QPushButton(QStringLiteral("Trim"), central);
  btnTrim->setObjectName(QStringLiteral("btnTrim"));
  btnStart = new QPushButton(QStringLiteral("Start"), central);
  btnStart->setObjectName(QStringLiteral("btnStart"));
  btnStart->setMinimumWidth(100);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(btnAdd);
  buttons->addWidget(btnEdit);
  buttons->addWidget(btnTrim);
  buttons->addStretch();
  buttons->addWidget(btnStart);

  imgProfileIcon = new QLabel(central);
  imgProfileIcon->setObjectName(QStringLiteral("imgProfileIcon"));
  imgProfileIcon->setFixedSize(32, 32);
  imgProfileIcon->setScaledContents(true);
  lblProfile = new QLabel(central);
  lblProfile->setObjectName(QStringLiteral("lblProfile"));
  lblProfile->setFrameShape(QFrame::StyledPanel);
  lblProfile->setCursor(Qt::PointingHandCursor);
  lblProfile->setMinimumWidth(240);
  lblProfile->installEventFilter(this);
  btnSettings = new QPushButton(QStringLiteral("Settings..."), central);
  btnSettings->setObjectName(QStringLiteral("btnSettings"));
  chApplyToAll = new QCheckBox(QStringLiteral("Apply to all"), central);
  chApplyToAll->setObjectName(QStringLiteral("chApplyToAll"));
  chApplyToAll->setChecked(true);
  chMerge = new QCheckBox(QStringLiteral("Merge to one file"), central);
  chMerge->setObjectName(QStringLiteral("chMerge"));
  chReplace = new QCheckBox(QStringLiteral("Replace existing files"), central);
  chReplace->setObjectName(QStringLiteral("chReplace"));
  chReplace->setToolTip(QStringLiteral("Replace files of the output's name. A source file is never replaced."));
  edDestinationFolder = new QLineEdit(central);
  edDestinationFolder->setObjectName(QStringLiteral("edDestinationFolder"));
  edDestinationFolder->setReadOnly(true);
  btnBrowseOutput = new QPushButton(QStringLiteral("..."), central);
  btnBrowseOutput->setObjectName(QStringLiteral("btnBrowseOutput"));
  btnBrowseOutput->setMaximumWidth(32);
  btnFindTarget = new QPushButton(QStringLiteral("Find target"), central);
  btnFindTarget->setObjectName(QStringLiteral("btnFindTarget"));

  auto* bottom = new QGridLayout;
  bottom->addWidget(new QLabel(QStringLiteral("Profile:"), central), 0, 0);
  auto* profile = new QHBoxLayout;
  profile->addWidget(imgProfileIcon);
  profile->addWidget(lblProfile, 1);
  profile->addWidget(btnSettings);
  bottom->addLayout(profile, 0, 1);
  auto* boxes = new QHBoxLayout;
  boxes->addWidget(chApplyToAll);
  boxes->addWidget(chMerge);
  boxes->addWidget(chReplace);
  boxes->addStretch();
  bottom->addLayout(boxes, 1, 1);
  bottom->addWidget(new QLabel(QStringLiteral("Output:"), central), 2, 0);
  auto* output = new QHBoxLayout;
  output->addWidget(edDestinationFolder, 1);
  output->addWidget(btnBrowseOutput);
  output->addWidget(btnFindTarget);
  bottom->addLayout(output, 2, 1);

  auto* layout = new QVBoxLayout(central);
  layout->addWidget(split, 1);
  layout->addLayout(buttons);
  layout->addLayout(bottom);

  connect(btnAdd, &QPushButton::clicked, this, &TMainForm::AddVideo);
  connect(btnEdit, &QPushButton::clicked, this, &TMainForm::EditSelected);
  connect(btnTrim, &QPushButton::clicked, this, &TMainForm::TrimSelected);
  connect(btnStart, &QPushButton::clicked, this, &TMainForm::StartConversion);
  connect(btnSettings, &QPushButton::clicked, this, [this] {
    if (dialogs_.EditSettings) dialogs_.EditSettings();
  });
  connect(chApplyToAll, &QCheckBox::toggled, this, &TMainForm::OnApplyToAllToggled);
  connect(btnBrowseOutput, &QPushButton::clicked, this, &TMainForm::BrowseOutputFolder);
  connect(btnFindTarget, &QPushButton::clicked, this, &TMainForm::FindTarget);
  connect(VolumeTrackBar, &QSlider::valueChanged, this,
          [this](int v) { player_->SetAudioVolume(static_cast<TAudioVolume>(v)); });
  connect(VideoTrackBar, &QSlider::sliderPressed, this, [this] { dragging_ = true; });
  connect(VideoTrackBar, &QSlider::sliderReleased, this, &TMainForm::SeekToSlider);
  connect(VideoTrackBar, &QSlider::valueChanged, this, [this] {
    if (!VideoTrackBar->isSliderDown()) SeekToSlider();
  });
  resize(900, 600);
}

void TMainForm::BuildMenus() {
  auto action = [this](QMenu* menu, const QString& text, auto slot) {
    QAction* a = menu->addAction(text);
    connect(a, &QAction::triggered, this, slot);
    return a;
  };
  QMenu* file = menuBar()->addMenu(QStringLiteral("File"));
  actAddFiles_ = action(file, QStringLiteral("Add video files"), &TMainForm::AddVideo);
  file->addSeparator();
  actFileInfo_ = action(file, QStringLiteral("File Information"), &TMainForm::ShowFileInformation);
  actStart_ = action(file, QStringLiteral("Start Conversion"), &TMainForm::StartConversion);
  file->addSeparator();
  action(file, QStringLiteral("Exit"), &QWidget::close);

  QMenu* edit = menuBar()->addMenu(QStringLiteral("Edit"));
  actRemove_ = action(edit, QStringLiteral("Remove"), &TMainForm::RemoveSelected);
  actClearAll_ = action(edit, QStringLiteral("Clear All"), &TMainForm::ClearAll);
  actRename_ = edit->addAction(QStringLiteral("Rename"));
  connect(actRename_, &QAction::triggered, this, [this] { BeginRename(SelectedEntry()); });
  edit->addSeparator();
  actMoveUp_ = action(edit, QStringLiteral("Move Up"), &TMainForm::MoveUp);
  actMoveDown_ = action(edit, QStringLiteral("Move Down"), &TMainForm::MoveDown);
  edit->addSeparator();
  actCrop_ = action(edit, QStringLiteral("Crop Video..."), &TMainForm::EditSelected);
  actClip_ = action(edit, QStringLiteral("Clip Video..."), &TMainForm::TrimSelected);

  ToolsMenuItem = menuBar()->addMenu(QStringLiteral("Suite"));
  ToolsMenuItem->setObjectName(QStringLiteral("ToolsMenuItem"));
  EventsLogMenuItem = ToolsMenuItem->addAction(QStringLiteral("Switch Converter"));
  EventsLogMenuItem->setObjectName(QStringLiteral("EventsLogMenuItem"));

  QMenu* help = menuBar()->addMenu(QStringLiteral("Help"));
  QAction* guide = help->addAction(QStringLiteral("Online Guide"));
  connect(guide, &QAction::triggered, this, [this] { OpenUrl(QUrl(QString::fromLatin1(kOnlineGuideUrl))); });
  help->addSeparator();
  QAction* support = help->addAction(QStringLiteral("Support"));
  connect(support, &QAction::triggered, this, [this] { OpenUrl(QUrl(QString::fromLatin1(kSupportPageUrl))); });
  help->addSeparator();
  action(help, QStringLiteral("About"), &TMainForm::ShowAbout);

  ListMenu = new QMenu(this);
  ListMenu->setObjectName(QStringLiteral("ListMenu"));
  action(ListMenu, QStringLiteral("Add Video Files..."), &TMainForm::AddVideo);
  ListMenu->addSeparator();
  list_menu_items_ << action(ListMenu, QStringLiteral("Remove"), &TMainForm::RemoveSelected)
                   << action(ListMenu, QStringLiteral("Clear All"), &TMainForm::ClearAll);
  QAction* rename = ListMenu->addAction(QStringLiteral("Rename"));
  connect(rename, &QAction::triggered, this, [this] { BeginRename(SelectedEntry()); });
  list_menu_items_ << rename;
  ListMenu->addSeparator();
  list_menu_items_ << action(ListMenu, QStringLiteral("Move Up"), &TMainForm::MoveUp)
                   << action(ListMenu, QStringLiteral("Move Down"), &TMainForm::MoveDown);
  ListMenu->addSeparator();
  list_menu_items_ << action(ListMenu, QStringLiteral("Crop Video..."), &TMainForm::EditSelected)
                   << action(ListMenu, QStringLiteral("Clip Video..."), &TMainForm::TrimSelected);
  ListMenu->addSeparator();
  list_menu_items_ << action(ListMenu, QStringLiteral("File Information"), &TMainForm::ShowFileInformation);

  SnapshotMenu = new QMenu(this);
  SnapshotMenu->setObjectName(QStringLiteral("SnapshotMenu"));
  actSnapshot_ = action(SnapshotMenu, QStringLiteral("Snapshot"), &TMainForm::TakeSnapshot);
  QAction* open_folder = SnapshotMenu->addAction(QStringLiteral("Open Snapshot Folder"));
  connect(open_folder, &QAction::triggered, this,
          [this] { OpenUrl(QUrl::fromLocalFile(snapshot_folder_)); });
  action(SnapshotMenu, QStringLiteral("Change Snapshot Folder"), &TMainForm::ChangeSnapshotFolder);
  QMenu* format = SnapshotMenu->addMenu(QStringLiteral("Change Snapshot Format"));
  auto* formats = new QActionGroup(this);
  actJpeg_ = format->addAction(QStringLiteral("JPEG"));
  actBmp_ = format->addAction(QStringLiteral("BMP"));
  for (QAction* a : {actJpeg_, actBmp_}) {
    a->setCheckable(true);
    formats->addAction(a);
  }
  actJpeg_->setChecked(true);
  connect(actJpeg_, &QAction::triggered, this, [this] { SetSnapshotFormat(sfJPEG); });
  connect(actBmp_, &QAction::triggered, this, [this] { SetSnapshotFormat(sfBMP); });
  spSkinMenuButton1->setMenu(SnapshotMenu);
}

// ---- Start-up ------------------------------------------------------------------

void TMainForm::StartUp() {
  // 1. Menus by command line.
  if (options_.Arguments.isEmpty()) {
    ToolsMenuItem->setTitle(QStringLiteral("Tools"));
    EventsLogMenuItem->setText(QStringLiteral("Events Log"));
    connect(EventsLogMenuItem, &QAction::triggered, this, &TMainForm::ShowEventsLog);
  } else {
    connect(EventsLogMenuItem, &QAction::triggered, this, &TMainForm::SwitchConverter);
  }
  // 2. to 6.: title, folders of the session, history, grid.
  setWindowTitle(QStringLiteral("Tarnwick Vidmill"));
  open_dialog_folder_ = folders_.Videos;
  for (int c = 0; c < kListColumnCount; ++c) sgList->setColumnWidth(c, kColumnWidths[c]);
  // 7. Pictures.
  LoadPictures();
  // 8. to 10.: icons, data files.
  catalogue_.LoadIcons(folders_.DataFolder());
  catalogue_.ReadDataFiles(folders_.DataFolder());
  // 11. Documents folders.
  CreateDocumentFolders(folders_);
  if (QFileInfo(folders_.ScreenShots()).isDir()) snapshot_folder_ = folders_.ScreenShots();
  if (QFileInfo(folders_.Output()).isDir()) edDestinationFolder->setText(folders_.Output());
  // 12. Settings.
  const std::unique_ptr<QSettings> settings = options_.OpenSettings();
  const TStoredSettings stored = settings ? ReadStoredSettings(*settings) : TStoredSettings();
  ApplyStoredFolders(stored);
  // 13. Formats into categories, stored selections.
  catalogue_.Distribute(stored.Selections);
  ShowCurrentFormat();
  // 14. Engine libraries.
  LoadEngineAtStart();

  btnEdit->setEnabled(false);
  btnTrim->setEnabled(false);
  btnSettings->setEnabled(false);
  SetListCommandsEnabled(false, true);
  for (QAction* a : list_menu_items_) a->setEnabled(true);
}

void TMainForm::LoadPictures() {
  const QPixmap gs(QDir(folders_.DataFolder()).filePath(QStringLiteral("gs.bmp")));
  if (gs.isNull()) {
    list_stack_->setCurrentWidget(sgList);
  } else {
    GettingStartedImage->setPixmap(gs);
    list_stack_->setCurrentWidget(GettingStartedPanel);
  }
  const QPixmap preview(QDir(folders_.CommonData()).filePath(QStringLiteral("preview.bmp")));
  if (!preview.isNull()) imgPlayerArea->setPixmap(preview);
  auto* screen = qobject_cast<QStackedWidget*>(panPlayerArea->property("screen").value<QObject*>());
  if (screen) screen->setCurrentWidget(preview.isNull() ? panPreview : panPlayerArea);
}

void TMainForm::ApplyStoredFolders(const TStoredSettings& stored) {
  if (stored.OutputPath) edDestinationFolder->setText(*stored.OutputPath);
  if (stored.OpenVideoDialogPath) {
    open_dialog_folder_ = QFileInfo(*stored.OpenVideoDialogPath).isDir() ? *stored.OpenVideoDialogPath : QString();
  }
  if (stored.ScreenShotsPath) snapshot_folder_ = *stored.ScreenShotsPath;
}

void TMainForm::LoadEngineAtStart() {
  if (!converter_) return;
  if (converter_->AVLibLoaded()) return;
  if (!converter_->LoadAVLib(folders_.LibAV().toStdString())) {
    const QString msg = QString::fromStdString(converter_->LastErrMsg());
    ErrorReport(msg, QString::fromLatin1(clm::kFFAVLibLoad));
    LogEvent(msg);
  }
}

void TMainForm::SetListCommandsEnabled(bool enabled, bool main_menu_too) {
  btnEdit->setEnabled(enabled);
  btnTrim->setEnabled(enabled);
  btnSettings->setEnabled(enabled);
  for (QAction* a : list_menu_items_) a->setEnabled(enabled);
  if (main_menu_too) {
    for (QAction* a : {actFileInfo_, actStart_, actRemove_, actClearAll_, actRename_, actMoveUp_, actMoveDown_,
                       actCrop_, actClip_, actSnapshot_})
      a->setEnabled(enabled);
  }
  if (running_) actStart_->setEnabled(false);
}

// ---- Reports -----------------------------------------------------------------

void TMainForm::ErrorReport(const QString& message, const QString& mark) {
  emit ErrorReported(message, mark);
  reporter_->ErrorReport(message, mark);
}

void TMainForm::LogEvent(const QString& text) { reporter_->LogEvent(text); }

// ---- Settings and closing ----------------------------------------------------------

QString TMainForm::OutputFolder() const { return edDestinationFolder->text(); }
void TMainForm::SetOutputFolder(const QString& folder) { edDestinationFolder->setText(folder); }

bool TMainForm::WriteSettingsNow() {
  TSettingsToWrite w;
  w.OutputPath = edDestinationFolder->text();
  w.OpenVideoDialogPath = open_dialog_used_;
  w.ScreenShotsPath = snapshot_folder_;
  w.Recent = catalogue_.Recent();
  w.LastEdited = catalogue_.LastEdited();
  if (const TFormat* f = catalogue_.FormatAt(w.LastEdited)) w.LastEditedFormat = *f;
  const std::unique_ptr<QSettings> settings = options_.OpenSettings();
  if (!settings || !WriteSettings(*settings, w)) {
    ErrorReport(QString::fromLatin1(clm::kRegDataWriteMsg), QString::fromLatin1(clm::kRegDataWrite));
    return false;
  }
  return true;
}

void TMainForm::closeEvent(QCloseEvent* event) {
  StopPreview();
  if (running_) {
    outcome_.SetCancelled();
    converter_->Stop(true);
  }
  WriteSettingsNow();
  event->accept();
}

// ---- Menu commands -------------------------------------------------------------

void TMainForm::SwitchConverter() {
  const QString program = QDir(folders_.Program).filePath(options_.Arguments.value(0));
  QProcess::startDetached(program, {});
  close();
}

void TMainForm::ShowEventsLog() { log_form_->exec(); }

void TMainForm::ShowAbout() { about_form_->exec(); }

void TMainForm::OpenUrl(const QUrl& url) {
  if (opener_) opener_(url);
}

void TMainForm::BrowseOutputFolder() {
  const QString folder =
      QFileDialog::getExistingDirectory(this, QStringLiteral("Select folder"), edDestinationFolder->text());
  if (!folder.isEmpty()) edDestinationFolder->setText(QDir::toNativeSeparators(folder));
}

void TMainForm::FindTarget() { OpenUrl(QUrl::fromLocalFile(edDestinationFolder->text())); }

// ---- Formats ---------------------------------------------------------------------

void TMainForm::ShowCurrentFormat() {
  const TFormatIndex at = catalogue_.Current();
  const TFormat* f = catalogue_.FormatAt(at);
  lblProfile->setText(f ? f->Title : QString());
  lblProfile->setToolTip(f ? f->Description : QString());
  const QImage* icon =
      f ? catalogue_.IconPicture(catalogue_.IconIndexOf(catalogue_.Categories()[at.Category].Icon)) : nullptr;
  imgProfileIcon->setPixmap(icon ? QPixmap::fromImage(*icon) : QPixmap());
  lblProfile->update();
}

void TMainForm::ApplyChosenFormat(TFormatIndex format) {
  if (!catalogue_.SetCurrent(format)) return;
  catalogue_.SetRecent(format);
  if (ApplyToAll()) {
    list_->ApplyFormatToAll(format);
  } else {
    list_->SetFormat(SelectedEntry(), format);
  }
  ShowCurrentFormat();
}

void TMainForm::ShowProfileMenu() {
  if (dialogs_.ChooseProfile) {
    dialogs_.ChooseProfile();
    return;
  }
  QMenu menu(this);
  const QVector<TProfile>& categories = catalogue_.Categories();
  for (int c = 0; c < categories.size(); ++c) {
    if (categories[c].Formats.isEmpty()) continue;
    QMenu* sub = menu.addMenu(categories[c].Title);
    for (int p = 0; p < categories[c].Formats.size(); ++p) {
      QAction* a = sub->addAction(categories[c].Formats[p].Title);
      connect(a, &QAction::triggered, this, [this, c, p] { ApplyChosenFormat({c, p}); });
    }
  }
  menu.exec(lblProfile->mapToGlobal(QPoint(0, lblProfile->height())));
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == lblProfile && event->type() == QEvent::MouseButtonRelease) {
    ShowProfileMenu();
    return true;
  }
  if (watched == sgList->viewport() && event->type() == QEvent::MouseButtonPress) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    const QModelIndex at = sgList->indexAt(mouse->position().toPoint());
    if (mouse->button() == Qt::LeftButton && at.isValid() && at.column() == lcDestination) {
      sgList->setCurrentIndex(at);
      BeginRename(at.row());
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace vidmill
