// The main window driven as a user drives it, with a scripted encoder where
// a test needs to decide when tasks end: start-up and settings, adding
// files, the list's commands, runs and what follows them, the preview and
// its snapshots.
#include <gtest/gtest.h>

#include <cstdlib>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QDragEnterEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSlider>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "core/bitmap.h"
#include "main/app_settings.h"
#include "main/conv_form.h"
#include "main/conversion_list.h"
#include "main/shutdown_countdown.h"
#include "main/size_estimate.h"
#include "player/player.h"
#include "report/events_log.h"
#include "test_media.h"
#include "window_fixture.h"

using namespace vidmill;
using namespace vidmill::testing;

namespace {

QString AudioFirstClip() {
  ClipSpec s;
  s.name = "audio_first.mkv";
  s.seconds = 1.0;
  s.codec_args = {"-map", "1:a", "-map", "0:v", "-c:v", "libx264", "-c:a", "aac"};
  return QString::fromStdString(MakeClip(s));
}

bool EndsWith(const QStringList& lines, const QString& text) { return !lines.isEmpty() && lines.last().endsWith(text); }

bool AnyEndsWith(const QStringList& lines, const QString& text) {
  for (const QString& l : lines)
    if (l.endsWith(text)) return true;
  return false;
}

class MainWindow : public TWindowFixture {
 protected:
  // A window with a scripted encoder, two good clips added, output to out_.
  std::unique_ptr<TMainForm> WindowWithClips(TScriptedConverter** encoder, int clips = 2) {
    auto scripted = std::make_unique<TScriptedConverter>();
    *encoder = scripted.get();
    auto w = MakeWindow(std::move(scripted));
    QStringList files = {QString::fromStdString(MediaPath(Clip::Mp4H264Aac)),
                         QString::fromStdString(MediaPath(Clip::AviMpeg4Mp3)),
                         QString::fromStdString(MediaPath(Clip::WavPcm))};
    w->AddFiles(files.mid(0, clips));
    w->SetOutputFolder(out_.path());
    return w;
  }
  QTemporaryDir out_;
};

}  // namespace

TEST_F(MainWindow, StartsOnAFreshAccountWithItsOwnFolders) {
  auto w = MakeWindow(std::make_unique<TScriptedConverter>());
  const QString own = QDir(home_.path()).filePath("Documents/Tarnwick/Tarnwick Vidmill");
  EXPECT_EQ(w->OutputFolder(), own + "/Output");
  EXPECT_TRUE(QFileInfo(own + "/Output").isDir());
  EXPECT_EQ(w->SnapshotFolder(), own + "/ScreenShots");
  EXPECT_TRUE(QFileInfo(own + "/ScreenShots").isDir());
  EXPECT_EQ(w->OpenDialogFolder(), home_.filePath("Videos"));
  EXPECT_EQ(w->windowTitle(), "Tarnwick Vidmill");
  EXPECT_EQ(w->Catalogue().Current(), (TFormatIndex{0, 0}));
  EXPECT_EQ(w->lblProfile->text(), w->Catalogue().FormatAt({0, 0})->Title);
  EXPECT_EQ(w->ToolsMenuItem->title(), "Tools");
  EXPECT_EQ(w->EventsLogMenuItem->text(), "Events Log");
  const int widths[] = {132, 92, 87, 88, 48};
  for (int c = 0; c < 5; ++c) EXPECT_EQ(w->sgList->columnWidth(c), widths[c]);
  EXPECT_FALSE(w->btnEdit->isEnabled());
  EXPECT_FALSE(w->btnTrim->isEnabled());
  EXPECT_FALSE(w->btnSettings->isEnabled());
  EXPECT_TRUE(w->btnStart->isEnabled());
  EXPECT_TRUE(w->chApplyToAll->isChecked());
  EXPECT_FALSE(w->chMerge->isChecked());
  EXPECT_TRUE(w->ProgressWindow().cbOpenOutput->isChecked());
  EXPECT_FALSE(w->ProgressWindow().cbShutdownPC->isChecked());
  EXPECT_TRUE(reports_.isEmpty());

  auto companion = MakeWindow(std::make_unique<TScriptedConverter>(), {"companion"});
  EXPECT_EQ(companion->ToolsMenuItem->title(), "Suite");
  EXPECT_EQ(companion->EventsLogMenuItem->text(), "Switch Converter");
}

TEST_F(MainWindow, SettingsWrittenAtCloseAreReadAtTheNextStart) {
  QTemporaryDir out, shots;
  {
    auto w = MakeWindow(std::make_unique<TScriptedConverter>());
    w->SetOutputFolder(out.path());
    w->SetSnapshotFolder(shots.path());
    w->ApplyChosenFormat({2, 1});
    w->close();
  }
  {
    const auto store = OpenAppSettings();
    EXPECT_EQ(store->value("OutputPath").toString(), out.path());
    EXPECT_EQ(store->value("ScreenShotsPath").toString(), shots.path());
    EXPECT_EQ(store->value("recentprofileind").toInt(), 2);
    EXPECT_EQ(store->value("recentformatind").toInt(), 1);
    EXPECT_FALSE(store->contains("OpenVideoDialogPath"));  // the open dialog returned nothing
    EXPECT_FALSE(store->contains("lasteditedformatind"));  // nothing was edited
    store->setValue("OpenVideoDialogPath", home_.filePath("gone"));
  }
  auto again = MakeWindow(std::make_unique<TScriptedConverter>());
  EXPECT_EQ(again->OutputFolder(), out.path());
  EXPECT_EQ(again->SnapshotFolder(), shots.path());
  EXPECT_EQ(again->Catalogue().Current(), (TFormatIndex{2, 1}));
  EXPECT_EQ(again->lblProfile->text(), again->Catalogue().FormatAt({2, 1})->Title);
  EXPECT_TRUE(again->OpenDialogFolder().isEmpty());  // a folder that no longer exists
}

TEST_F(MainWindow, AddingFilesProbesThemAndRejectsBrokenOnes) {
  auto w = MakeWindow(std::make_unique<TScriptedConverter>());
  const QString mp4 = QString::fromStdString(MediaPath(Clip::Mp4H264Aac));
  const QString broken = QString::fromStdString(MediaPath(Clip::RandomBytes));
  const QString wav = QString::fromStdString(MediaPath(Clip::WavPcm));
  const QString audio_first = AudioFirstClip();
  const QString dotted = home_.filePath("movie.final.mp4");
  ASSERT_TRUE(QFile::copy(mp4, dotted));

  w->AddFiles({mp4, broken, wav, audio_first, dotted});
  ASSERT_EQ(w->List().Count(), 4);
  EXPECT_EQ(messages_->information,
            QStringList{"File random_bytes.avi is not a valid media file or its format is not supported."});
  const QStringList log = w->EventsLog().Lines();
  const qsizetype error_line = log.indexOf(QRegularExpression(".*-> File load error: .+"));
  ASSERT_GT(error_line, 0);
  EXPECT_EQ(log[error_line - 1], "");
  EXPECT_EQ(log[error_line + 1], "");
  for (const QString& added : {mp4, wav, audio_first, dotted})
    EXPECT_TRUE(AnyEndsWith(log, "-> File added: " + added)) << added.toStdString();

  const TVideoFile& video = w->List().Entries()[0];
  EXPECT_EQ(video.SourceTitleExt, "h264_aac.mp4");
  EXPECT_EQ(video.DestinationTitle, "h264_aac");
  EXPECT_NEAR(video.TrimmedLength, 2'000'000, 100'000);
  EXPECT_EQ(video.TimeStart, 0);
  EXPECT_EQ(video.TimeEnd, video.TrimmedLength);
  EXPECT_EQ(video.SourceWidth, 320);
  EXPECT_EQ(video.SourceHeight, 240);
  EXPECT_FALSE(video.isSourceAudioFormat);
  EXPECT_EQ(video.Status, "-");
  EXPECT_DOUBLE_EQ(video.EstimatedSize, *EstimateSizeMB(video, *w->List().FormatOf(video)));
  EXPECT_GT(video.EstimatedSize, 0.0);

  const TVideoFile& tone = w->List().Entries()[1];
  EXPECT_TRUE(tone.isSourceAudioFormat);
  EXPECT_EQ(tone.SourceWidth, -1);
  const TVideoFile& first_audio = w->List().Entries()[2];  // its picture is the second stream
  EXPECT_FALSE(first_audio.isSourceAudioFormat);
  EXPECT_EQ(first_audio.VideoStreamIndex, 1);
  EXPECT_EQ(first_audio.SourceWidth, 320);
  EXPECT_EQ(w->List().Entries()[3].DestinationTitle, "movie.final");

  QAbstractItemModel* grid = w->sgList->model();
  EXPECT_EQ(grid->rowCount(), 4);
  EXPECT_EQ(grid->headerData(2, Qt::Horizontal).toString(), "Estimated Size");
  EXPECT_EQ(grid->index(0, 1).data().toString(), "00:00:02");
  EXPECT_TRUE(grid->index(0, 2).data().toString().endsWith(" MB"));
  EXPECT_EQ(grid->index(0, 4).data().toString(), w->List().FormatOf(video)->FormatExt);
  EXPECT_TRUE(w->btnEdit->isEnabled());
  EXPECT_TRUE(w->btnSettings->isEnabled());
  EXPECT_EQ(w->SelectedEntry(), 0);

  w->SelectEntry(1);
  w->EditSelected();
  EXPECT_EQ(messages_->warnings, QStringList{"Can't edit audio formats. You can click \"Trim\" button."});
}

TEST_F(MainWindow, ListCommandsMoveWholeEntriesAndRenameTheEntryBeingRenamed) {
  TScriptedConverter* encoder = nullptr;
  auto w = WindowWithClips(&encoder, 3);
  w->show();
  ASSERT_EQ(w->List().Count(), 3);
  w->chApplyToAll->setChecked(false);
  w->SelectEntry(1);
  w->ApplyChosenFormat({2, 0});  // only the selected entry
  EXPECT_EQ(w->List().Entries()[1].ProfileInd, 2);
  EXPECT_EQ(w->List().Entries()[0].ProfileInd, 0);

  w->MoveUp();
  EXPECT_EQ(w->SelectedEntry(), 0);
  EXPECT_EQ(w->List().Entries()[0].SourceTitleExt, "mpeg4_mp3.avi");
  EXPECT_EQ(w->List().Entries()[0].ProfileInd, 2);  // its format went with it
  w->MoveUp();                                       // the first row stays
  EXPECT_EQ(w->List().Entries()[0].SourceTitleExt, "mpeg4_mp3.avi");
  w->SelectEntry(2);
  w->MoveDown();                                     // the last row stays
  EXPECT_EQ(w->List().Entries()[2].SourceTitleExt, "tone.wav");

  // The title goes to the entry that was being renamed, wherever it moved.
  w->BeginRename(2);
  ASSERT_TRUE(w->edDestinationTitle->isVisible());
  EXPECT_EQ(w->edDestinationTitle->text(), "tone");
  w->MoveUp();
  w->SelectEntry(0);
  w->edDestinationTitle->setText("beep");
  QTest::keyClick(w->edDestinationTitle, Qt::Key_Return);
  EXPECT_EQ(w->List().Entries()[1].DestinationTitle, "beep");
  EXPECT_EQ(w->List().Entries()[0].DestinationTitle, "mpeg4_mp3");
  EXPECT_FALSE(w->edDestinationTitle->isVisible());

  w->BeginRename(1);
  w->edDestinationTitle->setText("../outside");
  QTest::keyClick(w->edDestinationTitle, Qt::Key_Return);
  EXPECT_EQ(w->List().Entries()[1].DestinationTitle, "beep");
  ASSERT_EQ(messages_->warnings.size(), 1);

  w->SelectEntry(1);
  w->RemoveSelected();
  ASSERT_EQ(w->List().Count(), 2);
  EXPECT_EQ(w->List().Entries()[0].SourceTitleExt, "mpeg4_mp3.avi");
  EXPECT_EQ(w->List().Entries()[1].SourceTitleExt, "h264_aac.mp4");

  w->ClearAll();
  EXPECT_EQ(w->List().Count(), 0);
  EXPECT_FALSE(w->btnEdit->isEnabled());
  EXPECT_FALSE(w->btnTrim->isEnabled());
  for (QAction* a : w->ListMenu->actions()) {
    if (a->text() == "Remove") {
      EXPECT_FALSE(a->isEnabled());
    }
  }
  w->RemoveSelected();  // nothing left: nothing happens
  w->BeginRename(0);
  EXPECT_FALSE(w->edDestinationTitle->isVisible());
}

TEST_F(MainWindow, StartStaysUnavailableUntilTheRunsFinalEvent) {
  TScriptedConverter* encoder = nullptr;
  auto w = WindowWithClips(&encoder);
  w->StartConversion();
  ASSERT_TRUE(w->Running());
  EXPECT_EQ(encoder->starts, 1);
  EXPECT_EQ(encoder->tasks.outputs,
            (QStringList{QDir(out_.path()).filePath("h264_aac.mp4"), QDir(out_.path()).filePath("mpeg4_mp3.mp4")}));
  EXPECT_TRUE(AnyEndsWith(w->EventsLog().Lines(), "-> Started Conversion"));
  EXPECT_FALSE(w->btnStart->isEnabled());
  EXPECT_TRUE(w->ProgressWindow().isVisible());

  encoder->Progress(0, 1'000'000, 2'000'000);
  EXPECT_EQ(w->ProgressWindow().ProgressCurrent->value(), 50);
  EXPECT_EQ(w->ProgressWindow().ProgressTotal->value(), 25);
  EXPECT_EQ(w->ProgressWindow().lblConvertingTitle->FullText(), "Converting \"h264_aac.mp4\" to \"h264_aac.mp4\"");
  encoder->Progress(1, 1'000'000, 2'000'000);
  EXPECT_EQ(w->ProgressWindow().ProgressTotal->value(), 75);

  w->StartConversion();  // a second "Start" while running does nothing
  EXPECT_EQ(encoder->starts, 1);
  encoder->End(0);
  encoder->End(1);
  SpinUntil([] { return false; }, 100);
  EXPECT_TRUE(w->Running());
  EXPECT_FALSE(w->btnStart->isEnabled());

  encoder->End(-1);
  ASSERT_TRUE(SpinUntil([&] { return !w->Running(); }));
  EXPECT_TRUE(w->btnStart->isEnabled());
  EXPECT_FALSE(w->ProgressWindow().isVisible());
  EXPECT_TRUE(EndsWith(w->EventsLog().Lines(), "-> Conversion successfully done."));
  ASSERT_EQ(opened_.size(), 1);
  EXPECT_EQ(opened_[0], QUrl::fromLocalFile(out_.path()));

  // A late event of the first run cannot end the second.
  const auto first_run = encoder->OnTerminate;
  w->StartConversion();
  ASSERT_TRUE(w->Running());
  EXPECT_EQ(encoder->starts, 2);
  TTaskEnd late;
  late.TaskIndex = -1;
  late.Finished = true;
  std::thread([&] { first_run(late); }).join();
  SpinUntil([] { return false; }, 100);
  EXPECT_TRUE(w->Running());
  encoder->End(0);
  encoder->End(1);
  encoder->End(-1);
  EXPECT_TRUE(SpinUntil([&] { return !w->Running(); }));
}

TEST_F(MainWindow, EachTasksOutcomeIsLoggedAndReported) {
  TScriptedConverter* encoder = nullptr;
  auto w = WindowWithClips(&encoder, 3);
  w->StartConversion();
  encoder->End(0);
  encoder->End(1, false, true, "Disk full");
  SpinUntil([&] { return !reports_.isEmpty(); });
  ASSERT_EQ(reports_.size(), 1);
  EXPECT_EQ(reports_[0].first, "Conversion terminated with error: Disk full");
  EXPECT_EQ(reports_[0].second, "CLM_Terminate");
  EXPECT_TRUE(EndsWith(w->EventsLog().Lines(), "-> Disk full"));
  EXPECT_TRUE(w->ProgressWindow().isVisible());  // the run goes on
  encoder->End(2, false, false);                 // ended early without an error
  encoder->End(-1);
  ASSERT_TRUE(SpinUntil([&] { return !w->Running(); }));
  const QStringList log = w->EventsLog().Lines();
  EXPECT_TRUE(AnyEndsWith(log, "-> Conversion to \"tone.mp4\" did not finish."));
  EXPECT_TRUE(EndsWith(log, "-> Conversion finished: 2 of 3 tasks failed."));
  EXPECT_FALSE(AnyEndsWith(log, "Conversion successfully done."));
}

TEST_F(MainWindow, CancelStopsTheRunAndNeverShutsDown) {
  TScriptedConverter* encoder = nullptr;
  auto w = WindowWithClips(&encoder);
  w->SetShutdownCountdown(0);
  w->ProgressWindow().cbShutdownPC->setChecked(true);
  w->StartConversion();
  TConvForm& progress = w->ProgressWindow();
  progress.PauseButton->click();
  EXPECT_EQ(progress.PauseButton->text(), "Resume");
  progress.PauseButton->click();
  EXPECT_EQ(progress.PauseButton->text(), "Pause");
  progress.PauseButton->click();
  EXPECT_EQ(progress.PauseButton->text(), "Resume");
  EXPECT_EQ(encoder->pauses, 2);
  EXPECT_EQ(encoder->resumes, 1);

  progress.CancelButton->click();
  EXPECT_EQ(encoder->stops, 1);
  EXPECT_FALSE(progress.CancelButton->isEnabled());
  EXPECT_TRUE(EndsWith(w->EventsLog().Lines(), "-> Conversion cancelled by user."));
  encoder->End(0, false);
  encoder->End(1, false);
  encoder->End(-1);
  ASSERT_TRUE(SpinUntil([&] { return !w->Running(); }));
  const QStringList log = w->EventsLog().Lines();
  EXPECT_TRUE(AnyEndsWith(log, "-> Conversion cancelled."));
  EXPECT_TRUE(EndsWith(log, "-> The computer was not shut down because the conversion did not complete."));
  EXPECT_EQ(power_requests_, 0);
  EXPECT_TRUE(reports_.isEmpty());
}

TEST_F(MainWindow, ACompletedRunShutsDownOnlyAfterTheCountdown) {
  TScriptedConverter* encoder = nullptr;
  auto w = WindowWithClips(&encoder, 1);
  w->ProgressWindow().cbShutdownPC->setChecked(true);

  // The user cancels the countdown.
  w->SetShutdownCountdown(30);
  QTimer press_cancel;
  QObject::connect(&press_cancel, &QTimer::timeout, [] {
    for (QWidget* top : QApplication::topLevelWidgets()) {
      if (auto* countdown = qobject_cast<TShutdownCountdown*>(top); countdown && countdown->isVisible())
        countdown->btnCancel->click();
    }
  });
  press_cancel.start(50);
  w->StartConversion();
  encoder->End(0);
  encoder->End(-1);
  ASSERT_TRUE(SpinUntil([&] { return !w->Running(); }));
  press_cancel.stop();
  EXPECT_EQ(power_requests_, 0);
  EXPECT_TRUE(EndsWith(w->EventsLog().Lines(), "-> Shutdown cancelled by user."));
  EXPECT_TRUE(opened_.isEmpty());  // not with a shutdown asked for
  EXPECT_EQ(OpenAppSettings()->value("OutputPath").toString(), out_.path());  // written before the countdown

  // The countdown runs out.
  w->SetShutdownCountdown(0);
  w->StartConversion();
  encoder->End(0);
  encoder->End(-1);
  ASSERT_TRUE(SpinUntil([&] { return !w->Running(); }));
  EXPECT_EQ(power_requests_, 1);
}

TEST_F(MainWindow, AMissingOutputFolderFallsBackToOurFolderInTheHome) {
  TScriptedConverter* encoder = nullptr;
  auto w = WindowWithClips(&encoder, 1);
  w->SetOutputFolder(home_.filePath("no/such/folder"));
  w->StartConversion();
  const QString fallback = home_.filePath("tarnwick_temp");
  ASSERT_EQ(messages_->warnings.size(), 1);
  EXPECT_EQ(messages_->warnings[0], "Output folder does not exit. Converting to \"" + fallback + "\".");
  EXPECT_TRUE(QFileInfo(fallback).isDir());
  EXPECT_EQ(encoder->tasks.outputs, QStringList{QDir(fallback).filePath("h264_aac.mp4")});
  EXPECT_EQ(w->OutputFolder(), home_.filePath("no/such/folder"));  // the edit keeps its text
  encoder->End(0);
  encoder->End(-1);
  ASSERT_TRUE(SpinUntil([&] { return !w->Running(); }));
  EXPECT_EQ(opened_.value(0), QUrl::fromLocalFile(fallback));
}

TEST_F(MainWindow, PreviewPlaysTheSelectedEntryAndTakesNumberedSnapshots) {
  ClipSpec six_seconds;  // long enough to be stopped by the user, not by its end
  six_seconds.name = "h264_aac_6s.mp4";
  six_seconds.seconds = 6.0;
  six_seconds.codec_args = {"-c:v", "libx264", "-c:a", "aac"};
  auto w = MakeWindow(std::make_unique<TScriptedConverter>());
  w->AddFiles({QString::fromStdString(MakeClip(six_seconds))});
  w->show();
  QTemporaryDir shots;
  w->SetSnapshotFolder(shots.path());
  QFile(QDir(shots.path()).filePath("h264_aac_6s_1.jpg")).open(QIODevice::WriteOnly);  // from an earlier session

  w->Play();
  ASSERT_TRUE(reports_.isEmpty()) << reports_.value(0).first.toStdString();
  ASSERT_TRUE(SpinUntil([&] { return w->FFPlayer().CurrentFrame().Width() > 0; }));
  EXPECT_EQ(w->cboVideo->count(), 1);
  EXPECT_FALSE(w->cboVideo->isEnabled());
  EXPECT_EQ(w->cboAudio->count(), 1);

  w->TakeSnapshot();
  const QImage jpeg(QDir(shots.path()).filePath("h264_aac_6s_2.jpg"));
  EXPECT_EQ(jpeg.size(), QSize(320, 240));
  w->SetSnapshotFormat(sfBMP);
  w->TakeSnapshot();
  const QImage bmp(QDir(shots.path()).filePath("h264_aac_6s_1.bmp"));
  EXPECT_EQ(bmp.size(), QSize(320, 240));
  w->SetSnapshotFormat(sfJPEG);
  w->TakeSnapshot();
  EXPECT_TRUE(QFileInfo::exists(QDir(shots.path()).filePath("h264_aac_6s_3.jpg")));
  EXPECT_TRUE(messages_->errors.isEmpty());

  w->SetSnapshotFolder(QString());
  w->TakeSnapshot();
  EXPECT_EQ(messages_->errors, QStringList{"|Cannot take snapshot.\r\nMake sure Snapshot Folder is available."});

  w->StopPreview();
  EXPECT_EQ(w->lblPlayTime->text(), "00:00:06 / 00:00:06");
  EXPECT_EQ(w->VideoTrackBar->value(), 0);
}

// The snapshot is the picture on screen: compared with the same picture
// decoded by Debian's ffmpeg, so swapped colours, a flipped or shifted
// picture would show.
TEST_F(MainWindow, ASnapshotHoldsThePictureOnScreen) {
  ClipSpec clip;
  clip.name = "h264_snapshot_4s.mp4";
  clip.seconds = 4.0;
  clip.sample_rate = 0;
  clip.codec_args = {"-c:v", "libx264", "-pix_fmt", "yuv420p"};
  const std::string source = MakeClip(clip);
  auto w = MakeWindow(std::make_unique<TScriptedConverter>());
  w->AddFiles({QString::fromStdString(source)});
  w->show();
  QTemporaryDir shots;
  w->SetSnapshotFolder(shots.path());
  w->SetSnapshotFormat(sfBMP);
  w->Play();
  // Past the first second, so a picture of another time would show too.
  ASSERT_TRUE(SpinUntil([&] {
    int64_t shown = -1;
    return w->FFPlayer().CurrentFrame(&shown).Width() > 0 && shown >= 1'000'000;
  }));
  w->PausePreview();
  ASSERT_TRUE(SpinUntil([&] { return w->LastPlayState() == psPause; }));
  // The picture on screen has settled once two looks 100 ms apart agree.
  int64_t pts = -1;
  ASSERT_TRUE(SpinUntil([&] {
    int64_t before = -1;
    w->FFPlayer().CurrentFrame(&before);
    QTest::qWait(100);
    w->FFPlayer().CurrentFrame(&pts);
    return pts >= 0 && pts == before;
  }));
  w->TakeSnapshot();
  w->StopPreview();
  const QImage snapshot = QImage(QDir(shots.path()).filePath("h264_snapshot_4s_1.bmp")).convertToFormat(QImage::Format_RGB888);
  ASSERT_EQ(snapshot.size(), QSize(320, 240));

  // The reference: the first picture at or after the shown time (less than
  // half a frame earlier, so rounding cannot pick the next one). The next
  // picture of this clip differs by about 4.7 per sample.
  const QString reference = QDir(shots.path()).filePath("reference.rgb");
  const std::string command = "ffmpeg -v error -y -ss " + std::to_string(pts / 1e6 - 0.01) + " -i '" + source +
                              "' -frames:v 1 -f rawvideo -pix_fmt rgb24 '" + reference.toStdString() + "'";
  ASSERT_EQ(RunCommand(command), 0) << command;
  QFile file(reference);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray expected = file.readAll();
  ASSERT_EQ(expected.size(), 320 * 240 * 3);
  double difference = 0;
  for (int y = 0; y < 240; ++y) {
    const uchar* row = snapshot.constScanLine(y);
    for (int x = 0; x < 320 * 3; ++x)
      difference += std::abs(int(row[x]) - int(uchar(expected[y * 320 * 3 + x])));
  }
  EXPECT_LT(difference / (320 * 240 * 3), 1.0) << "mean difference per sample at " << pts << " us";
}

TEST_F(MainWindow, StreamListsShowTheFilesStreamsAndSwitchThePreview) {
  auto w = MakeWindow(std::make_unique<TScriptedConverter>());
  w->show();
  w->AddFiles({QString::fromStdString(MediaPath(Clip::Mp4TwoAudio))});
  w->Play();
  ASSERT_TRUE(SpinUntil([&] { return w->cboAudio->count() == 2 && w->FFPlayer().AudioStreamIndex() >= 0; }));
  EXPECT_EQ(w->cboVideo->count(), 1);
  EXPECT_FALSE(w->cboVideo->isEnabled());
  EXPECT_TRUE(w->cboAudio->isEnabled());
  EXPECT_EQ(w->cboAudio->currentText(), QString("Audio#%1").arg(w->FFPlayer().AudioStreamIndex()));
  const int other = w->cboAudio->currentIndex() == 0 ? 1 : 0;
  const int wanted = w->cboAudio->itemText(other).mid(6).toInt();
  w->cboAudio->setCurrentIndex(other);
  emit w->cboAudio->activated(other);
  EXPECT_TRUE(SpinUntil([&] { return w->FFPlayer().AudioStreamIndex() == wanted; }));
  w->StopPreview();
}

TEST_F(MainWindow, APreviewPlayedToItsEndStopsByItself) {
  ClipSpec short_clip;
  short_clip.name = "h264_aac_1s.mp4";
  short_clip.seconds = 1.0;
  short_clip.codec_args = {"-c:v", "libx264", "-c:a", "aac"};
  auto w = MakeWindow(std::make_unique<TScriptedConverter>());
  w->AddFiles({QString::fromStdString(MakeClip(short_clip))});
  w->show();
  w->Play();
  ASSERT_TRUE(SpinUntil([&] { return w->LastPlayState() == psPlay; }));
  ASSERT_TRUE(SpinUntil([&] { return w->LastPlayState() == psStop; }));
  EXPECT_FALSE(w->FFPlayer().Playing());
  EXPECT_EQ(w->lblPlayTime->text(), "00:00:01 / 00:00:01");
  EXPECT_FALSE(w->btnPlay->isChecked());
}

TEST_F(MainWindow, FilesDroppedOntoTheWindowAreAdded) {
  auto w = MakeWindow(std::make_unique<TScriptedConverter>());
  w->show();
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(MediaPath(Clip::Mp4H264Aac))),
                QUrl::fromLocalFile(home_.path()),  // a folder is not a media file
                QUrl(QStringLiteral("https://example.invalid/clip.mp4"))});
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w.get(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w.get(), &drop);
  ASSERT_EQ(w->List().Count(), 1);
  EXPECT_EQ(w->List().Entries()[0].SourceTitleExt, "h264_aac.mp4");
}
