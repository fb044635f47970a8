// The main window's preview of the selected entry and its snapshots.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>

#include "core/bitmap.h"
#include "list_texts.h"
#include "main_form.h"
#include "conversion_list.h"
#include "messenger.h"
#include "player/player.h"
#include "probe/ff_decode.h"
#include "report/error_marks.h"
#include "snapshot_names.h"

namespace vidmill {

namespace {

QStackedWidget* ScreenOf(QWidget* player_area) {
  return qobject_cast<QStackedWidget*>(player_area->property("screen").value<QObject*>());
}

bool PrimaryButtonDown() { return QGuiApplication::mouseButtons() & Qt::LeftButton; }

// A deep copy of the player's picture; null when there is none.
QImage SnapshotImage(const TBitmap& frame) {
  if (frame.Width() <= 0 || frame.Height() <= 0) return QImage();
  QImage::Format format = QImage::Format_Invalid;
  switch (frame.PixelFormat()) {
    case pf24bit: format = QImage::Format_BGR888; break;
    case pf32bit: format = QImage::Format_ARGB32; break;  // B, G, R, A bytes
    case pf16bit: format = QImage::Format_RGB16; break;
    case pf15bit: format = QImage::Format_RGB555; break;
    default: return QImage();
  }
  const QImage shared(frame.Pixels(), frame.Width(), frame.Height(), frame.Stride(), format);
  // Our 15- and 16-bit pictures keep blue in the high bits, Qt's red.
  if (format == QImage::Format_RGB16 || format == QImage::Format_RGB555) return shared.rgbSwapped();
  return shared.copy();
}

}  // namespace

void TMainForm::ConnectPlayer() {
  player_->OnFileOpen = [this](TFFBaseComponent*, int64_t duration, int, int, int& sw, int& sh) {
    OnFileOpen(duration, sw, sh);
  };
  player_->OnPosition = [this](TFFBaseComponent*, int64_t pts) { OnPosition(pts); };
  player_->OnState = [this](TFFBaseComponent*, TPlayState state) { OnState(state); };
  for (QComboBox* list : {cboVideo, cboAudio, cboSubtitle}) {
    connect(list, &QComboBox::activated, this, [this, list] { OnStreamChosen(list); });
  }
}

uint64_t TMainForm::PreviewWindowHandle() {
  // The player draws into the panel's own native window where the window
  // system has them (X11); elsewhere (offscreen) it keeps a window of its own.
  if (QGuiApplication::platformName() != QLatin1String("xcb")) return 0;
  panPreview->setAttribute(Qt::WA_NativeWindow);
  return static_cast<uint64_t>(panPreview->winId());
}

void TMainForm::Play() {
  const TVideoFile* e = list_->Entry(SelectedEntry());
  if (!e) {
    btnPlay->setChecked(false);
    return;
  }
  if (QStackedWidget* screen = ScreenOf(panPlayerArea)) screen->setCurrentWidget(panPreview);
  if (last_state_ == psPause) {
    player_->Resume();
    return;
  }
  if (!QFileInfo(e->Source).isFile()) return;
  if (!player_->AVLibLoaded() && !player_->LoadAVLib(folders_.LibAV().toStdString(), false)) {
    const QString msg = QString::fromStdString(player_->LastErrMsg());
    LogEvent(msg);
    ErrorReport(msg, QString::fromLatin1(clm::kLoadAVLib));
    return;
  }
  if (!player_->Open(e->Source.toStdString(), PreviewWindowHandle(), false)) {
    const QString msg = QString::fromStdString(player_->LastErrMsg());
    LogEvent(msg);
    ErrorReport(msg, QString::fromLatin1(clm::kFFPlayerOpen));
    StopPreview();
  }
}

void TMainForm::PausePreview() { player_->TogglePause(); }

void TMainForm::StopPreview() {
  for (QToolButton* b : {btnPlay, btnPause}) {
    b->setAutoExclusive(false);
    b->setChecked(false);
    b->setAutoExclusive(true);
  }
  player_->Stop(true);
  positioning_ = true;
  VideoTrackBar->setValue(0);
  positioning_ = false;
  panPreview->update();
  if (QStackedWidget* screen = ScreenOf(panPlayerArea)) {
    if (imgPlayerArea->pixmap().isNull()) {
      screen->setCurrentWidget(panPreview);
    } else {
      screen->setCurrentWidget(panPlayerArea);
    }
  }
  lblPlayTime->setText(DurationText(preview_duration_) + QStringLiteral(" / ") + DurationText(preview_duration_));
}

void TMainForm::OnFileOpen(int64_t duration, int& screen_width, int& screen_height) {
  screen_width = panPreview->width();
  screen_height = panPreview->height();
  preview_duration_ = duration;
  RebuildStreamLists();
}

void TMainForm::RebuildStreamLists() {
  const QSignalBlocker bv(cboVideo), ba(cboAudio), bs(cboSubtitle);
  cboVideo->clear();
  cboAudio->clear();
  cboSubtitle->clear();
  TFFDecoder* probe = player_->Decoder();
  const int count = probe ? probe->StreamCount() : 0;
  for (int i = 0; i < count; ++i) {
    if (probe->IsVideoStream(i)) {
      cboVideo->addItem(QStringLiteral("Video#%1").arg(i));
    } else if (probe->IsAudioStream(i)) {
      cboAudio->addItem(QStringLiteral("Audio#%1").arg(i));
    } else if (probe->IsSubtitleStream(i)) {
      cboSubtitle->addItem(QStringLiteral("Subtitle#%1").arg(i));
    }
  }
  const int video = player_->VideoStreamIndex(), audio = player_->AudioStreamIndex();
  cboVideo->setEnabled(cboVideo->count() >= 2 && video >= 0);
  cboVideo->setCurrentIndex(cboVideo->findText(QStringLiteral("Video#%1").arg(video)));
  cboAudio->setEnabled(cboAudio->count() >= 2 && audio >= 0);
  cboAudio->setCurrentIndex(cboAudio->findText(QStringLiteral("Audio#%1").arg(audio)));
  cboSubtitle->setEnabled(cboSubtitle->count() >= 1 && video >= 0);
  if (cboSubtitle->isEnabled()) {
    cboSubtitle->insertItem(0, QStringLiteral("Subtitle#-1"));
    cboSubtitle->setCurrentIndex(
        cboSubtitle->findText(QStringLiteral("Subtitle#%1").arg(player_->SubtitleStreamIndex())));
  }
}

void TMainForm::OnPosition(int64_t pts) {
  if (pts >= 0 && preview_duration_ > 0 && !PrimaryButtonDown() && !dragging_) {
    positioning_ = true;
    VideoTrackBar->setValue(static_cast<int>(pts * VideoTrackBar->maximum() / preview_duration_));
    positioning_ = false;
  }
  if (pts > 0)
    lblPlayTime->setText(DurationText(pts) + QStringLiteral(" / ") + DurationText(preview_duration_));
}

void TMainForm::OnState(TPlayState state) {
  last_state_ = state;
  // Stopping waits for the player's threads, one of which is waiting for
  // this handler: stop once it has returned.
  if (state == psEnd) QTimer::singleShot(0, this, &TMainForm::StopPreview);
}

void TMainForm::OnStreamChosen(QComboBox* list) {
  const QString text = list->currentText();
  const int index = text.mid(text.indexOf(u'#') + 1).toInt();
  bool ok = false;
  if (list == cboVideo) ok = player_->SetVideoStreamIndex(index);
  if (list == cboAudio) ok = player_->SetAudioStreamIndex(index);
  if (list == cboSubtitle) ok = player_->SetSubtitleStreamIndex(index);
  if (!ok) {
    LogEvent(QString::fromStdString(player_->LastErrMsg()));
    RebuildStreamLists();
  }
}

void TMainForm::SeekToSlider() {
  if (positioning_ || PrimaryButtonDown()) return;
  dragging_ = false;
  if (!player_->Playing() || preview_duration_ <= 0) return;
  player_->Seek(static_cast<int64_t>(VideoTrackBar->value()) * preview_duration_ / VideoTrackBar->maximum(), 0,
                false);
}

// ---- Snapshots -------------------------------------------------------------------------

void TMainForm::SetSnapshotFormat(TSnapshotFormat format) {
  snapshot_format_ = format;
  (format == sfJPEG ? actJpeg_ : actBmp_)->setChecked(true);
}

void TMainForm::TakeSnapshot() {
  const TVideoFile* e = list_->Entry(SelectedEntry());
  if (!e) return;
  const QImage image = SnapshotImage(player_->CurrentFrame());
  if (image.isNull()) return;
  const bool jpeg = snapshot_format_ == sfJPEG;
  int& counter = jpeg ? jpeg_counter_ : bmp_counter_;
  const std::optional<TSnapshotName> name =
      NextSnapshotName(snapshot_folder_, e->DestinationTitle, jpeg ? QStringLiteral(".jpg") : QStringLiteral(".bmp"),
                       counter);
  if (!name || !QFileInfo(snapshot_folder_).isDir() || !image.save(name->Path, jpeg ? "JPG" : "BMP")) {
    messenger_->Error(this, QString(),
                      QStringLiteral("Cannot take snapshot.\r\nMake sure Snapshot Folder is available."));
    return;
  }
  counter = name->Number + 1;
}

void TMainForm::ChangeSnapshotFolder() {
  const QString folder = QFileDialog::getExistingDirectory(this, QStringLiteral("Select folder"), snapshot_folder_);
  if (!folder.isEmpty()) snapshot_folder_ = folder;
}

}  // namespace vidmill
