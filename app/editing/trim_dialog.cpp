#include "editing/trim_dialog.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScopeGuard>
#include <QSlider>
#include <QVBoxLayout>

#include "core/entry_points.h"
#include "editing/thumbnail.h"
#include "probe/frame_decoder.h"
#include "report/error_marks.h"
#include "report/report_sink.h"

namespace vidmill {

// The two trim handles and the line between them, under the position track.
class TTrimTrack : public QWidget {
 public:
  explicit TTrimTrack(TTrimDialog& dialog, QWidget* parent) : QWidget(parent), dialog_(dialog) {
    setFixedSize(kTrimTrackWidth + 24, 16);
  }
  int left = 10;
  int right = kTrimTrackWidth + 10;
  bool shown = false;

 protected:
  void paintEvent(QPaintEvent*) override {
    if (!shown) return;
    QPainter p(this);
    p.setPen(QPen(QColor(0x3C, 0x88, 0xBF), 1));  // the trimmed part
    p.drawLine(left + kHandle / 2, 6, right + kHandle / 2, 6);
    for (int x : {left, right}) {
      p.setBrush(QColor(0x3C, 0x88, 0xBF));
      p.setPen(Qt::darkGray);
      QPolygon handle({QPoint(x, 12), QPoint(x + kHandle / 2, 0), QPoint(x + kHandle, 12)});
      p.drawPolygon(handle);
    }
  }
  void mousePressEvent(QMouseEvent* e) override {
    const int x = e->position().toPoint().x();
    grabbed_ = 0;
    if (x >= right && x < right + kHandle) grabbed_ = 2;
    if (x >= left && x < left + kHandle) grabbed_ = 1;
    grab_x_ = x - (grabbed_ == 1 ? left : right);
  }
  void mouseMoveEvent(QMouseEvent* e) override {
    const int new_left = e->position().toPoint().x() - grab_x_;
    if (grabbed_ == 1) dialog_.DragLeftHandle(new_left);
    if (grabbed_ == 2) dialog_.DragRightHandle(new_left);
  }
  void mouseReleaseEvent(QMouseEvent*) override { grabbed_ = 0; }

 private:
  static constexpr int kHandle = 12;
  TTrimDialog& dialog_;
  int grabbed_ = 0;  // 1 left, 2 right
  int grab_x_ = 0;
};

TTrimDialog::TTrimDialog(TReportSink& sink, QWidget* parent)
    : QDialog(parent), sink_(sink), stills_(std::make_unique<TFrameDecoder>()) {
  setWindowTitle(QStringLiteral("Trim"));
  setModal(true);
  Warn = [this](const QString& text) { QMessageBox::warning(this, windowTitle(), text, QMessageBox::Ok); };

  preview_ = new QLabel(this);
  preview_->setFixedSize(461, 271);
  preview_->setAlignment(Qt::AlignCenter);
  preview_->setStyleSheet(QStringLiteral("background-color: black;"));
  track_ = new QSlider(Qt::Horizontal, this);
  track_->setRange(0, 1000);
  track_->setFixedWidth(kTrimTrackWidth);
  handles_ = new TTrimTrack(*this, this);
  play_time_ = new QLabel(QStringLiteral("00:00:00 / 00:00:00"), this);
  play_time_->setAlignment(Qt::AlignCenter);

  time_start_ = new QLineEdit(this);
  time_end_ = new QLineEdit(this);
  for (QLineEdit* e : {time_start_, time_end_}) {
    e->setInputMask(QStringLiteral("99:99:99"));
    e->setText(QStringLiteral("00:00:00"));
    e->setFixedWidth(80);
  }
  auto* start_ok = new QPushButton(QStringLiteral("OK"), this);
  auto* end_ok = new QPushButton(QStringLiteral("OK"), this);
  start_thumb_ = new QLabel(this);
  end_thumb_ = new QLabel(this);
  for (QLabel* l : {start_thumb_, end_thumb_}) {
    l->setFixedSize(96, 72);
    l->setAlignment(Qt::AlignCenter);
    l->setStyleSheet(QStringLiteral("background-color: black;"));
  }

  play_ = new QPushButton(QStringLiteral("Play"), this);
  play_->setToolTip(QStringLiteral("Play full video"));
  pause_ = new QPushButton(QStringLiteral("Pause"), this);
  pause_->setToolTip(QStringLiteral("Pause"));
  auto* stop = new QPushButton(QStringLiteral("Stop"), this);
  stop->setToolTip(QStringLiteral("Stop"));
  auto* set_start = new QPushButton(QStringLiteral("Set start"), this);
  auto* set_end = new QPushButton(QStringLiteral("Set end"), this);
  play_trimmed_button_ = new QPushButton(QStringLiteral("Play trimmed video"), this);
  for (QPushButton* b : {play_, pause_, play_trimmed_button_}) b->setCheckable(true);
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  auto* reset = new QPushButton(QStringLiteral("Reset"), this);
  ok->setDefault(true);

  auto* transport = new QHBoxLayout;
  for (QWidget* w : std::initializer_list<QWidget*>{play_, pause_, stop, set_start, set_end, play_trimmed_button_}) {
    transport->addWidget(w);
  }
  transport->addStretch();
  auto* times = new QGridLayout;
  times->addWidget(new QLabel(QStringLiteral("Set start time:"), this), 0, 0);
  times->addWidget(time_start_, 0, 1);
  times->addWidget(start_ok, 0, 2);
  times->addWidget(start_thumb_, 1, 0, 1, 3, Qt::AlignLeft);
  times->addWidget(new QLabel(QStringLiteral("Set end time:"), this), 0, 3);
  times->addWidget(time_end_, 0, 4);
  times->addWidget(end_ok, 0, 5);
  times->addWidget(end_thumb_, 1, 3, 1, 3, Qt::AlignLeft);
  auto* play_row = new QHBoxLayout;
  play_row->addWidget(new QLabel(QStringLiteral("Play time:"), this));
  play_row->addWidget(play_time_);
  play_row->addStretch();
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  buttons->addWidget(reset);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(preview_, 0, Qt::AlignHCenter);
  layout->addWidget(track_, 0, Qt::AlignHCenter);
  layout->addWidget(handles_, 0, Qt::AlignHCenter);
  layout->addLayout(play_row);
  layout->addLayout(transport);
  layout->addLayout(times);
  layout->addLayout(buttons);

  connect(&player_, &TFramePlayer::FileOpened, this, [this](int64_t d, int, int) { OnFileOpened(d); });
  connect(&player_, &TFramePlayer::PositionChanged, this, &TTrimDialog::OnPosition);
  connect(&player_, &TFramePlayer::PictureChanged, this, &TTrimDialog::ShowPicture);
  connect(&player_, &TFramePlayer::StateChanged, this, [this](TFrameState s) {
    last_state_ = s;
    if (s == TFrameState::End) StopPlaying();
  });
  connect(track_, &QSlider::sliderPressed, this, [this] {
    play_trimmed_ = false;
    track_dragging_ = true;
  });
  connect(track_, &QSlider::sliderReleased, this, [this] { SeekTrack(track_->value()); });
  connect(start_ok, &QPushButton::clicked, this, [this] { TypeStart(time_start_->text()); });
  connect(end_ok, &QPushButton::clicked, this, [this] { TypeEnd(time_end_->text()); });
  connect(play_, &QPushButton::clicked, this, &TTrimDialog::PlayFull);
  connect(pause_, &QPushButton::clicked, this, &TTrimDialog::PauseToggle);
  connect(stop, &QPushButton::clicked, this, &TTrimDialog::StopPlaying);
  connect(set_start, &QPushButton::clicked, this, &TTrimDialog::SetStartFromPosition);
  connect(set_end, &QPushButton::clicked, this, &TTrimDialog::SetEndFromPosition);
  connect(play_trimmed_button_, &QPushButton::clicked, this, &TTrimDialog::PlayTrimmed);
  connect(ok, &QPushButton::clicked, this, &TTrimDialog::Confirm);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(reset, &QPushButton::clicked, this, &TTrimDialog::Reset);
}

TTrimDialog::~TTrimDialog() = default;

bool TTrimDialog::Edit(const QString& source, TTrimValues& values) {
  Begin(source, values);
  if (exec() != QDialog::Accepted) return false;
  values.TimeStart = trim_start_;
  values.TimeEnd = trim_end_;
  values.TrimmedLength = trim_end_ - trim_start_;
  return true;
}

void TTrimDialog::Begin(const QString& source, const TTrimValues& values) {
  source_ = source;
  play_trimmed_ = false;
  duration_ = 0;  // a source that does not open keeps no earlier file's duration
  current_pos_ = 0;
  trim_start_ = std::max<int64_t>(values.TimeStart, 0);
  trim_end_ = values.TimeEnd;
  time_start_->setText(TrimTimeText(trim_start_));
  time_end_->setText(TrimTimeText(trim_end_));
  preview_->clear();
  OpenSource();
  if (trim_end_ < 0 && duration_ > 0) trim_end_ = duration_;  // the source's end
  time_end_->setText(TrimTimeText(trim_end_));
  PlaceHandles();
  UpdateThumbnails();
}

void TTrimDialog::OpenSource() {
  if (!TFramePlayer::AVLibLoaded() && !player_.LoadAVLib(LibraryPath)) {
    sink_.ErrorReport(QStringLiteral("Error Loading AV Lib: ") + player_.LastErrMsg(),
                      QString::fromLatin1(clm::kFFPlayer2LoadAVLib));
    sink_.LogEvent(player_.LastErrMsg());
    return;
  }
  player_.SetSound(true, LibraryPath);  // the user trims on what they hear
  if (!player_.Open(source_, false)) {
    sink_.ErrorReport(QStringLiteral("Error open file: ") + player_.LastErrMsg(),
                      QString::fromLatin1(clm::kFFPlayer2Open));
    sink_.LogEvent(player_.LastErrMsg());
    stills_->CloseFile();  // no pictures of an earlier source at the marks
    return;
  }
  if (!stills_->FileHandle() || QString::fromStdString(stills_->FileName()) != source_) {
    stills_->LoadFile(source_.toStdString());
  }
}

void TTrimDialog::OnFileOpened(int64_t duration) { duration_ = duration > 0 ? duration : 0; }

void TTrimDialog::OnPosition(int64_t pts) {
  if (in_position_report_) return;  // the loop's seek reports its landing from inside this handler
  in_position_report_ = true;
  const auto done = qScopeGuard([this] { in_position_report_ = false; });
  if (pts >= 0 && duration_ > 0 && !track_dragging_) {
    const QSignalBlocker block(track_);
    track_->setValue(static_cast<int>(pts * 1000 / duration_));
  }
  if (pts > 0) current_pos_ = pts;
  play_time_->setText(TrimTimeText(current_pos_) + QStringLiteral(" / ") + TrimTimeText(duration_));
  // Without an end after the start (a source without a duration) there is
  // nothing to loop inside.
  if (play_trimmed_ && trim_end_ > trim_start_ && current_pos_ >= trim_end_) player_.Seek(trim_start_);
}

void TTrimDialog::ShowPicture() {
  const QImage& picture = player_.Picture();
  if (picture.isNull()) return;
  preview_->setPixmap(QPixmap::fromImage(picture.scaled(preview_->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

bool TTrimDialog::HandlesShown() const { return handles_->shown; }
int TTrimDialog::LeftHandleX() const { return handles_->left; }
int TTrimDialog::RightHandleX() const { return handles_->right; }
QString TTrimDialog::StartText() const { return time_start_->text(); }
QString TTrimDialog::EndText() const { return time_end_->text(); }
QString TTrimDialog::PlayTimeText() const { return play_time_->text(); }

void TTrimDialog::PlaceHandles() {
  handles_->shown = duration_ > 0;
  if (handles_->shown) {
    int left = HandleX(trim_start_, duration_, kTrimTrackWidth);
    int right = HandleX(trim_end_, duration_, kTrimTrackWidth);
    if (trim_start_ >= trim_end_) {
      right = left;
      left = right - 11;
      if (left < 0) {
        left = 0;
        right = 11;
      }
    }
    handles_->left = left;
    handles_->right = right;
  }
  handles_->update();
}

void TTrimDialog::SetTrimStart(int64_t t) {
  trim_start_ = ClampToDuration(t, duration_);
  time_start_->setText(TrimTimeText(trim_start_));
}

void TTrimDialog::SetTrimEnd(int64_t t) {
  trim_end_ = ClampToDuration(t, duration_);
  time_end_->setText(TrimTimeText(trim_end_));
}

void TTrimDialog::SetStartFromPosition() {
  SetTrimStart(current_pos_);
  if (trim_start_ >= trim_end_) SetTrimEnd(trim_start_);
  PlaceHandles();
  UpdateThumbnails();
}

void TTrimDialog::SetEndFromPosition() {
  SetTrimEnd(current_pos_);
  if (trim_end_ <= trim_start_) SetTrimStart(trim_end_);
  PlaceHandles();
  UpdateThumbnails();
}

bool TTrimDialog::TypeStart(const QString& text) { return TypeTime(text, true); }

bool TTrimDialog::TypeEnd(const QString& text) { return TypeTime(text, false); }

bool TTrimDialog::TypeTime(const QString& text, bool start) {
  const std::optional<int64_t> t = ParseTrimTime(text);
  if (!t) {
    Warn(QStringLiteral("Please type the time as hours:minutes:seconds, for example 00:01:30."));
    time_start_->setText(TrimTimeText(trim_start_));
    time_end_->setText(TrimTimeText(trim_end_));
    return false;
  }
  if (start) {
    SetTrimStart(*t);
    if (trim_start_ >= trim_end_) SetTrimEnd(trim_start_);
  } else {
    SetTrimEnd(*t);
    if (trim_start_ >= trim_end_) SetTrimStart(trim_end_);
  }
  PlaceHandles();
  UpdateThumbnails();
  return true;
}

void TTrimDialog::DragLeftHandle(int new_left) {
  if (!handles_->shown) return;
  play_trimmed_ = false;
  player_.Pause();
  if (new_left >= handles_->right || new_left < 11 || new_left >= kTrimTrackWidth + 10) return;
  handles_->left = new_left;
  handles_->update();
  SetTrimStart(TimeAtHandleX(new_left, duration_, kTrimTrackWidth));
  player_.Seek(trim_start_);
  UpdateThumbnails();
}

void TTrimDialog::DragRightHandle(int new_left) {
  if (!handles_->shown) return;
  play_trimmed_ = false;
  player_.Pause();
  if (new_left <= handles_->left || new_left < 11 || new_left > kTrimTrackWidth + 10) return;
  handles_->right = new_left;
  handles_->update();
  SetTrimEnd(TimeAtHandleX(new_left, duration_, kTrimTrackWidth));
  player_.Seek(trim_end_);
  UpdateThumbnails();
}

void TTrimDialog::PlayFull() {
  play_trimmed_ = false;
  if (last_state_ == TFrameState::Pause) {
    player_.Resume();
  } else {
    OpenSource();
  }
  play_->setChecked(true);
  pause_->setChecked(false);
  play_trimmed_button_->setChecked(false);
}

void TTrimDialog::PauseToggle() {
  play_trimmed_ = false;
  player_.TogglePause();
}

void TTrimDialog::StopPlaying() {
  play_trimmed_ = false;
  for (QPushButton* b : {play_, pause_, play_trimmed_button_}) b->setChecked(false);
  player_.Stop();
  const QSignalBlocker block(track_);
  track_->setValue(1000);
  play_time_->setText(TrimTimeText(duration_) + QStringLiteral(" / ") + TrimTimeText(duration_));
}

void TTrimDialog::PlayTrimmed() {
  play_trimmed_ = true;
  switch (last_state_) {
    case TFrameState::Pause:
      player_.Resume();
      break;
    case TFrameState::Play:
      player_.Seek(trim_start_);
      break;
    case TFrameState::Stop:
    case TFrameState::End:
      OpenSource();
      player_.Seek(trim_start_);
      break;
  }
  play_trimmed_ = true;
}

void TTrimDialog::SeekTrack(int value) {
  if (duration_ > 0) player_.Seek(value * duration_ / 1000);
  track_dragging_ = false;
}

void TTrimDialog::Reset() {
  trim_start_ = 0;
  SetTrimEnd(duration_);
  time_start_->setText(TrimTimeText(0));
  const QSignalBlocker block(track_);
  track_->setValue(0);
  PlaceHandles();
  UpdateThumbnails();
}

bool TTrimDialog::Confirm() {
  if (trim_end_ >= 0 && trim_start_ >= trim_end_) {
    Warn(QStringLiteral("The end of the trimmed part must come after its start."));
    return false;
  }
  accept();
  return true;
}

QImage TTrimDialog::PictureAt(int64_t t) {
  if (!stills_->FileHandle() || !DecodePictureAt(*stills_, t)) return {};
  return HeldPicture(*stills_);
}

void TTrimDialog::UpdateThumbnails() {
  start_picture_ = PictureAt(trim_start_);
  end_picture_ = trim_end_ >= 0 ? PictureAt(std::max<int64_t>(trim_end_ - 1, 0)) : QImage();
  const auto show = [](QLabel* label, const QImage& image) {
    if (image.isNull()) {
      label->clear();
    } else {
      label->setPixmap(QPixmap::fromImage(image.scaled(label->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    }
  };
  show(start_thumb_, start_picture_);
  show(end_thumb_, end_picture_);
}

void TTrimDialog::closeEvent(QCloseEvent* event) {
  StopPlaying();
  QDialog::closeEvent(event);
}

void TTrimDialog::done(int result) {
  StopPlaying();
  QDialog::done(result);
}

}  // namespace vidmill
