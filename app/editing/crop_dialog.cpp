#include "editing/crop_dialog.h"

#include <algorithm>
#include <cmath>

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include "report/error_marks.h"
#include "report/report_sink.h"

namespace vidmill {
namespace {

constexpr int kPanelW = 319;
constexpr int kPanelH = 222;

// Where a picture of frame_w x frame_h sits inside a panel, at its own shape.
QRectF PictureRect(int frame_w, int frame_h, const QSize& panel) {
  if (frame_w <= 0 || frame_h <= 0) return {};
  const double s = std::min(panel.width() / double(frame_w), panel.height() / double(frame_h));
  const double w = frame_w * s, h = frame_h * s;
  return QRectF((panel.width() - w) / 2, (panel.height() - h) / 2, w, h);
}

}  // namespace

// "Original Preview": the source with the selection and its eight handles.
class TCropView : public QWidget {
 public:
  explicit TCropView(TCropDialog& dialog, QWidget* parent) : QWidget(parent), dialog_(dialog) {
    setFixedSize(kPanelW, kPanelH);
    setMouseTracking(true);
  }
  QRectF Picture() const { return PictureRect(dialog_.frame_w_, dialog_.frame_h_, size()); }
  QPointF ToPanel(QPointF frame) const {
    const QRectF r = Picture();
    return {r.left() + frame.x() * r.width() / dialog_.frame_w_, r.top() + frame.y() * r.height() / dialog_.frame_h_};
  }
  QPoint ToFrame(QPointF panel) const {
    const QRectF r = Picture();
    return {static_cast<int>(std::lround((panel.x() - r.left()) * dialog_.frame_w_ / r.width())),
            static_cast<int>(std::lround((panel.y() - r.top()) * dialog_.frame_h_ / r.height()))};
  }
  QPointF HandleCentre(int h) const {
    const QRect s = dialog_.selection_;
    const double xs[3] = {double(s.left()), s.left() + s.width() / 2.0, double(s.left() + s.width())};
    const double ys[3] = {double(s.top()), s.top() + s.height() / 2.0, double(s.top() + s.height())};
    static constexpr int kCol[kCropHandleCount] = {0, 1, 2, 2, 2, 1, 0, 0};
    static constexpr int kRow[kCropHandleCount] = {0, 0, 0, 1, 2, 2, 2, 1};
    return ToPanel({xs[kCol[h]], ys[kRow[h]]});
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    const QImage& picture = dialog_.player1_.Picture();
    if (picture.isNull() || dialog_.frame_w_ <= 0) return;
    p.drawImage(Picture(), picture);
    p.setPen(QPen(Qt::white, 1));
    const QRectF sel(ToPanel(dialog_.selection_.topLeft()),
                     ToPanel(dialog_.selection_.topLeft() + QPoint(dialog_.selection_.width(), dialog_.selection_.height())));
    p.drawRect(sel);
    for (int h = 0; h < kCropHandleCount; ++h) {
      const QPointF c = HandleCentre(h);
      p.fillRect(QRectF(c.x() - 4, c.y() - 4.5, 8, 9), Qt::white);
    }
  }
  void mousePressEvent(QMouseEvent* e) override {
    grabbed_ = -1;
    double best = 8.0;
    for (int h = 0; h < kCropHandleCount; ++h) {
      const QPointF d = HandleCentre(h) - e->position();
      const double dist = std::hypot(d.x(), d.y());
      if (dist <= best) {
        best = dist;
        grabbed_ = h;
      }
    }
  }
  void mouseMoveEvent(QMouseEvent* e) override {
    if (grabbed_ >= 0 && (e->buttons() & Qt::LeftButton)) {
      dialog_.DragHandle(static_cast<TCropHandle>(grabbed_), ToFrame(e->position()));
    }
  }
  void mouseReleaseEvent(QMouseEvent*) override { grabbed_ = -1; }

 private:
  TCropDialog& dialog_;
  int grabbed_ = -1;
};

// "Output Preview": the selection of the adjusted picture at the chosen aspect.
class TOutputView : public QWidget {
 public:
  explicit TOutputView(TCropDialog& dialog, QWidget* parent) : QWidget(parent), dialog_(dialog) {
    setFixedSize(kPanelW, kPanelH);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    const QImage picture = dialog_.OutputPicture();
    if (!picture.isNull()) p.drawImage(dialog_.OutputBox().topLeft(), picture);
  }

 private:
  TCropDialog& dialog_;
};

TCropDialog::TCropDialog(TReportSink& sink, QWidget* parent) : QDialog(parent), sink_(sink) {
  setWindowTitle(QStringLiteral("Edit"));
  setModal(true);
  crop_view_ = new TCropView(*this, this);
  output_view_ = new TOutputView(*this, this);
  track_ = new QSlider(Qt::Horizontal, this);
  track_->setRange(0, 1000);
  aspect_ = new QComboBox(this);
  for (const char* item : kAspectItems) aspect_->addItem(QString::fromLatin1(item));
  left_ = new QSpinBox(this);
  top_ = new QSpinBox(this);
  width_ = new QSpinBox(this);
  height_ = new QSpinBox(this);
  for (QSpinBox* s : {left_, top_, width_, height_}) s->setRange(0, 5000);
  brightness_box_ = new QCheckBox(QStringLiteral("Brightness"), this);
  contrast_box_ = new QCheckBox(QStringLiteral("Contrast"), this);
  saturation_box_ = new QCheckBox(QStringLiteral("Saturation"), this);
  brightness_bar_ = new QSlider(Qt::Horizontal, this);
  contrast_bar_ = new QSlider(Qt::Horizontal, this);
  saturation_bar_ = new QSlider(Qt::Horizontal, this);
  for (QSlider* s : {brightness_bar_, contrast_bar_, saturation_bar_}) s->setRange(-100, 100);

  auto* play = new QPushButton(QStringLiteral("Play"), this);
  play->setToolTip(QStringLiteral("Play full video"));
  auto* pause = new QPushButton(QStringLiteral("Pause"), this);
  auto* stop = new QPushButton(QStringLiteral("Stop"), this);
  auto* reset = new QPushButton(QStringLiteral("Reset All"), this);
  auto* apply = new QPushButton(QStringLiteral("Apply"), this);
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);

  auto* previews = new QGridLayout;
  previews->addWidget(new QLabel(QStringLiteral("Original Preview"), this), 0, 0);
  previews->addWidget(new QLabel(QStringLiteral("Output Preview"), this), 0, 1);
  previews->addWidget(crop_view_, 1, 0);
  previews->addWidget(output_view_, 1, 1);
  auto* transport = new QHBoxLayout;
  for (QWidget* w : std::initializer_list<QWidget*>{play, pause, stop}) transport->addWidget(w);
  transport->addWidget(track_, 1);
  auto* crop = new QGroupBox(QStringLiteral("Crop"), this);
  auto* crop_form = new QFormLayout(crop);
  crop_form->addRow(QStringLiteral("Crop area left:"), left_);
  crop_form->addRow(QStringLiteral("Crop area top:"), top_);
  crop_form->addRow(QStringLiteral("Crop area width:"), width_);
  crop_form->addRow(QStringLiteral("Crop area height:"), height_);
  crop_form->addRow(QStringLiteral("Aspect ratio:"), aspect_);
  auto* adjust = new QGroupBox(QStringLiteral("Effects"), this);
  auto* adjust_grid = new QGridLayout(adjust);
  adjust_grid->addWidget(brightness_box_, 0, 0);
  adjust_grid->addWidget(brightness_bar_, 0, 1);
  adjust_grid->addWidget(contrast_box_, 1, 0);
  adjust_grid->addWidget(contrast_bar_, 1, 1);
  adjust_grid->addWidget(saturation_box_, 2, 0);
  adjust_grid->addWidget(saturation_bar_, 2, 1);
  auto* settings = new QHBoxLayout;
  settings->addWidget(crop);
  settings->addWidget(adjust, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(reset);
  buttons->addStretch();
  for (QWidget* w : std::initializer_list<QWidget*>{apply, ok, cancel}) buttons->addWidget(w);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(previews);
  layout->addLayout(transport);
  layout->addLayout(settings);
  layout->addLayout(buttons);

  connect(&player1_, &TFramePlayer::PictureChanged, crop_view_, qOverload<>(&QWidget::update));
  connect(&player2_, &TFramePlayer::PictureChanged, output_view_, qOverload<>(&QWidget::update));
  connect(&player1_, &TFramePlayer::PositionChanged, this, [this](int64_t pts) {
    const int64_t d = player1_.Duration();
    if (pts >= 0 && d > 0 && !track_->isSliderDown()) {
      const QSignalBlocker block(track_);
      track_->setValue(static_cast<int>(pts * 1000 / d));
    }
  });
  connect(&player1_, &TFramePlayer::StateChanged, this, [this](TFrameState s) {
    if (s == TFrameState::End) StopPlaying();
  });
  connect(track_, &QSlider::sliderReleased, this, [this] {
    const int64_t t = track_->value() * std::max<int64_t>(player1_.Duration(), 0) / 1000;
    player1_.Seek(t);
    player2_.Seek(t);
  });
  for (QSpinBox* s : {left_, top_, width_, height_}) {
    connect(s, &QSpinBox::valueChanged, this, [this] {
      if (!updating_) TypeCrop(left_->value(), top_->value(), width_->value(), height_->value());
    });
  }
  connect(aspect_, &QComboBox::currentIndexChanged, this, [this](int i) {
    if (!updating_) ChooseAspect(i);
  });
  const auto bind = [this](QCheckBox* box, QSlider* bar, void (TCropDialog::*set)(int)) {
    connect(bar, &QSlider::valueChanged, this, [this, set](int v) {
      if (!updating_) (this->*set)(v);
    });
    connect(bar, &QSlider::sliderPressed, box, [box] { box->setChecked(true); });
    connect(box, &QCheckBox::toggled, bar, [bar](bool on) {
      if (!on) bar->setValue(0);
    });
  };
  bind(brightness_box_, brightness_bar_, &TCropDialog::SetBrightness);
  bind(contrast_box_, contrast_bar_, &TCropDialog::SetContrast);
  bind(saturation_box_, saturation_bar_, &TCropDialog::SetSaturation);
  connect(play, &QPushButton::clicked, this, &TCropDialog::Play);
  connect(pause, &QPushButton::clicked, this, &TCropDialog::Pause);
  connect(stop, &QPushButton::clicked, this, &TCropDialog::StopPlaying);
  connect(reset, &QPushButton::clicked, this, &TCropDialog::ResetAll);
  connect(apply, &QPushButton::clicked, this, &TCropDialog::Apply);
  connect(ok, &QPushButton::clicked, this, [this] {
    Apply();
    accept();
  });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  // The output player reads the adjustments through the live values'
  // handles for every picture.
  filter_text_ = "nativeeq=0:0:" + std::to_string(brightness_.Handle()) + ":" + std::to_string(contrast_.Handle()) +
                 ",nativehue=0:0:" + std::to_string(hue_.Handle()) + ":" + std::to_string(saturation_.Handle());
  player2_.SetVideoFilters(filter_text_);
}

TCropDialog::~TCropDialog() = default;

bool TCropDialog::Edit(const QString& source, TCropValues& values) {
  Begin(source, values);
  exec();
  if (applied_) values = values_;
  return applied_;
}

void TCropDialog::Begin(const QString& source, const TCropValues& values) {
  source_ = source;
  values_ = values;
  applied_ = false;
  frame_w_ = frame_h_ = 0;
  selection_ = QRect();
  // Shown before opening: a source that fails to open must not keep the
  // previous entry's adjustments, which Apply would then write here.
  ShowEntryAdjustments();
  if (!TFramePlayer::AVLibLoaded() && !player1_.LoadAVLib(LibraryPath)) {
    sink_.ErrorReport(player1_.LastErrMsg(), QString::fromLatin1(clm::kFFPlayer1LoadAVLib));
    sink_.LogEvent(player1_.LastErrMsg());
    return;
  }
  player1_.SetSound(true, LibraryPath);
  if (AudioVolume >= 0 && AudioVolume <= 128) player1_.SetAudioVolume(AudioVolume);
  if (!player1_.Open(source, true)) {
    sink_.ErrorReport(player1_.LastErrMsg(), QString::fromLatin1(clm::kFFPlayer1Open));
    sink_.LogEvent(player1_.LastErrMsg());
    return;
  }
  if (player1_.FrameWidth() <= 0) {  // a sound alone has no picture to crop
    player1_.Stop();
    sink_.ErrorReport(QStringLiteral("no video stream."), QString::fromLatin1(clm::kFFPlayer1Open));
    return;
  }
  if (!player2_.Open(source, true)) {
    sink_.ErrorReport(player2_.LastErrMsg(), QString::fromLatin1(clm::kFFPlayer2Open));
    sink_.LogEvent(player2_.LastErrMsg());
  }
  OnFirstOpen();
  player1_.Resume();  // both pictures start together
  player2_.Resume();
}

void TCropDialog::OnFirstOpen() {
  frame_w_ = player1_.FrameWidth();
  frame_h_ = player1_.FrameHeight();
  updating_ = true;
  for (QSpinBox* s : {left_, width_}) s->setMaximum(frame_w_);
  for (QSpinBox* s : {top_, height_}) s->setMaximum(frame_h_);
  updating_ = false;
  selection_ = SelectionOf(values_, frame_w_, frame_h_);
  AdjustmentChanged();
  SelectionChanged(true);
}

void TCropDialog::ShowEntryAdjustments() {
  updating_ = true;
  const auto set_adjust = [](QCheckBox* box, QSlider* bar, int v) {
    v = ClampAdjustment(v);
    box->setChecked(v != 0);
    bar->setValue(v);
  };
  set_adjust(brightness_box_, brightness_bar_, values_.Brightness);
  set_adjust(contrast_box_, contrast_bar_, values_.Contrast);
  set_adjust(saturation_box_, saturation_bar_, values_.Saturation);
  aspect_->setCurrentIndex(std::clamp(values_.AspectRatio, 0, 3));
  updating_ = false;
}

QRect TCropDialog::EditedRect() const { return QRect(left_->value(), top_->value(), width_->value(), height_->value()); }

void TCropDialog::SelectionChanged(bool rewrite_edits) {
  if (rewrite_edits) {
    updating_ = true;
    left_->setValue(selection_.x());
    top_->setValue(selection_.y());
    width_->setValue(selection_.width());
    height_->setValue(selection_.height());
    updating_ = false;
  }
  crop_view_->update();
  output_view_->update();
}

void TCropDialog::TypeCrop(int left, int top, int width, int height) {
  if (frame_w_ <= 0) return;
  selection_ = ClampCropRect(QRect(left, top, width, height), frame_w_, frame_h_);
  SelectionChanged(selection_ != QRect(left, top, width, height));  // clamped values show as clamped
}

void TCropDialog::DragHandle(TCropHandle handle, QPoint p) {
  if (frame_w_ <= 0) return;
  int left = selection_.left(), top = selection_.top();
  int right = left + selection_.width(), bottom = top + selection_.height();
  const int min_w = std::min(kMinCropSize, frame_w_), min_h = std::min(kMinCropSize, frame_h_);
  const bool moves_left = handle == chLeftTop || handle == chLeftMiddle || handle == chLeftBottom;
  const bool moves_right = handle == chRightTop || handle == chRightMiddle || handle == chRightBottom;
  const bool moves_top = handle == chLeftTop || handle == chTopMiddle || handle == chRightTop;
  const bool moves_bottom = handle == chLeftBottom || handle == chBottomMiddle || handle == chRightBottom;
  if (moves_left) left = std::clamp(p.x(), 0, right - min_w);
  if (moves_right) right = std::clamp(p.x(), left + min_w, frame_w_);
  if (moves_top) top = std::clamp(p.y(), 0, bottom - min_h);
  if (moves_bottom) bottom = std::clamp(p.y(), top + min_h, frame_h_);
  QRect r(left, top, right - left, bottom - top);
  // Evens: a moved left or top edge rounds down, the opposite edge stays.
  if (moves_left && (r.x() & 1)) r.adjust(-1, 0, 0, 0);
  if (moves_top && (r.y() & 1)) r.adjust(0, -1, 0, 0);
  selection_ = ClampCropRect(r, frame_w_, frame_h_);
  SelectionChanged(true);
}

void TCropDialog::ChooseAspect(int index) {
  if (aspect_->currentIndex() != index) {
    updating_ = true;
    aspect_->setCurrentIndex(index);
    updating_ = false;
  }
  output_view_->update();  // the selection stays as it is
}

namespace {

// A value set by program or by the user: the track bar shows it, limited.
void ShowAdjustment(QSlider* bar, QCheckBox* box, int v) {
  bar->setValue(ClampAdjustment(v));
  if (v != 0) box->setChecked(true);
}

}  // namespace

void TCropDialog::SetBrightness(int v) {
  updating_ = true;
  ShowAdjustment(brightness_bar_, brightness_box_, v);
  updating_ = false;
  AdjustmentChanged();
}
void TCropDialog::SetContrast(int v) {
  updating_ = true;
  ShowAdjustment(contrast_bar_, contrast_box_, v);
  updating_ = false;
  AdjustmentChanged();
}
void TCropDialog::SetSaturation(int v) {
  updating_ = true;
  ShowAdjustment(saturation_bar_, saturation_box_, v);
  updating_ = false;
  AdjustmentChanged();
}

void TCropDialog::AdjustmentChanged() {
  brightness_.Set(brightness_bar_->value());
  contrast_.Set(contrast_bar_->value());
  saturation_.Set(saturation_bar_->value());
  if (player2_.State() != TFrameState::Play) player2_.Refresh();  // a playing picture follows by itself
}

void TCropDialog::ResetAll() {
  if (frame_w_ <= 0) return;
  updating_ = true;
  for (QSlider* s : {brightness_bar_, contrast_bar_, saturation_bar_}) s->setValue(0);
  for (QCheckBox* b : {brightness_box_, contrast_box_, saturation_box_}) b->setChecked(false);
  aspect_->setCurrentIndex(0);
  updating_ = false;
  selection_ = QRect(0, 0, frame_w_, frame_h_);
  AdjustmentChanged();
  SelectionChanged(true);
}

void TCropDialog::Apply() {
  if (frame_w_ > 0) {
    SetCropMargins(values_, selection_, frame_w_, frame_h_);
    if (selection_ == QRect(0, 0, frame_w_, frame_h_)) values_.CropLeft = values_.CropTop = values_.CropRight = values_.CropBottom = 0;
  }
  values_.AspectRatio = aspect_->currentIndex();
  values_.Brightness = ClampAdjustment(brightness_bar_->value());
  values_.Contrast = ClampAdjustment(contrast_bar_->value());
  values_.Saturation = ClampAdjustment(saturation_bar_->value());
  applied_ = true;
}

void TCropDialog::Play() {
  if (!player1_.IsOpen()) {
    Begin(source_, values_);
  }
  player1_.Resume();
  player2_.Resume();
}

void TCropDialog::Pause() {
  player1_.Pause();
  player2_.Pause();
}

void TCropDialog::StopPlaying() {
  player1_.Pause();
  player2_.Pause();
  const QSignalBlocker block(track_);
  track_->setValue(track_->maximum());
}

double TCropDialog::OutputAspect() const {
  switch (aspect_->currentIndex()) {
    case 1: return double(kPanelW) / kPanelH;
    case 2: return 4.0 / 3.0;
    case 3: return 16.0 / 9.0;
    default: return selection_.height() > 0 ? double(selection_.width()) / selection_.height() : 1.0;
  }
}

QRect TCropDialog::OutputBox() const {
  const double r = OutputAspect();
  if (double(kPanelW) / kPanelH >= r) {
    const int w = static_cast<int>(std::lround(kPanelH * r));
    return QRect((kPanelW - w) / 2, 0, w, kPanelH);
  }
  const int h = static_cast<int>(std::lround(kPanelW / r));
  return QRect(0, (kPanelH - h) / 2, kPanelW, h);
}

QImage TCropDialog::OutputPicture() const {
  const QImage& picture = player2_.Picture();
  if (picture.isNull() || selection_.isEmpty()) return {};
  return picture.copy(selection_).scaled(OutputBox().size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

void TCropDialog::done(int result) {
  player1_.Stop();
  player2_.Stop();
  QDialog::done(result);
}

}  // namespace vidmill
