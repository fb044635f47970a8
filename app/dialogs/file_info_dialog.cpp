#include "dialogs/file_info_dialog.h"

#include <cmath>
#include <stdexcept>

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>

#include "core/engine_error.h"
#include "probe/ff_decode.h"
#include "report/error_marks.h"
#include "report/report_sink.h"

namespace vidmill {

QString MediaLengthText(int64_t microseconds) {
  const int64_t t = microseconds / 1000000;
  return QString::asprintf("%.2lld:%.2lld:%.2lld", static_cast<long long>(t / 3600),
                           static_cast<long long>((t / 60) % 60), static_cast<long long>(t % 60));
}

QString KiloBitsText(int64_t bits_per_second) {
  if (bits_per_second <= 0) return QStringLiteral("is not preseted");
  return QStringLiteral("%1 Kb").arg(bits_per_second / 1000);
}

QString FramesPerSecondText(int num, int den) {
  if (den == 0) throw std::domain_error("frame rate with a zero denominator");
  return QStringLiteral("%1 fps").arg(static_cast<long long>(std::nearbyint(static_cast<double>(num) / den)));
}

TFileInfoDialog::TFileInfoDialog(TReportSink& sink, QWidget* parent) : QDialog(parent), sink_(sink) {
  setWindowTitle(QStringLiteral("File Information"));
  setModal(true);
  for (auto& label : values_) {
    label = new QLabel(this);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  }
  values_[vFileName]->setWordWrap(true);

  auto* top = new QFormLayout;
  top->addRow(QStringLiteral("File name:"), values_[vFileName]);
  top->addRow(QStringLiteral("Media Length:"), values_[vMediaLength]);
  auto* video = new QGroupBox(QStringLiteral("Video"), this);
  auto* video_form = new QFormLayout(video);
  video_form->addRow(QStringLiteral("Resolution:"), values_[vResolution]);
  video_form->addRow(QStringLiteral("Bit Rate:"), values_[vVideoBitRate]);
  video_form->addRow(QStringLiteral("Frame Rate:"), values_[vFrameRate]);
  auto* audio = new QGroupBox(QStringLiteral("Audio"), this);
  auto* audio_form = new QFormLayout(audio);
  audio_form->addRow(QStringLiteral("Sample Rate:"), values_[vSampleRate]);
  audio_form->addRow(QStringLiteral("Channels:"), values_[vChannels]);
  audio_form->addRow(QStringLiteral("Bit Rate:"), values_[vAudioBitRate]);
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(video);
  layout->addWidget(audio);
  layout->addStretch();
  layout->addWidget(buttons);
  resize(338, 370);
}

QString TFileInfoDialog::Value(TValue v) const { return values_[v]->text(); }

void TFileInfoDialog::FillVideo(const TVideoStreamInfo& info) {
  values_[vFrameRate]->setText(FramesPerSecondText(info.FrameRate.num, info.FrameRate.den));
  values_[vVideoBitRate]->setText(KiloBitsText(info.BitRate));
  values_[vResolution]->setText(QStringLiteral("%1x%2").arg(info.Width).arg(info.Height));
}

void TFileInfoDialog::FillAudio(const TAudioStreamInfo& info) {
  values_[vChannels]->setText(QStringLiteral("%1 channel").arg(info.Channels));
  values_[vSampleRate]->setText(QStringLiteral("%1 Hz").arg(info.SampleRate));
  values_[vAudioBitRate]->setText(KiloBitsText(info.BitRate));
}

bool TFileInfoDialog::Load(TCustomDecoder& decoder, const QString& source) {
  bool loaded = false;
  try {
    loaded = decoder.LoadFile(source.toStdString());
  } catch (const EEngineError&) {  // the media libraries are missing: LastErrMsg says nothing
    loaded = false;
  }
  if (!loaded) {
    const QString reason = QString::fromStdString(decoder.LastErrMsg());
    if (AddLogLine) AddLogLine(QString());
    sink_.LogEvent(QStringLiteral("File load error: ") + reason);
    if (AddLogLine) AddLogLine(QString());
    sink_.ErrorReport(QString::fromLatin1(clm::kProbeLoadFileMsg) + reason, QString::fromLatin1(clm::kProbeLoadFile));
    return false;
  }
  values_[vFileName]->setText(QFileInfo(source).fileName());
  values_[vMediaLength]->setText(MediaLengthText(decoder.FileStreamInfo().Duration));
  try {
    for (int i = 0; i < decoder.StreamCount(); ++i) {
      if (decoder.IsVideoStream(i)) {
        FillVideo(decoder.VideoStreamInfos(i));
      } else if (decoder.IsAudioStream(i)) {
        FillAudio(decoder.AudioStreamInfos(i));
      }
    }
  } catch (const std::exception&) {
    sink_.ErrorReport(QString::fromLatin1(clm::kWriteFileInfoMsg), QString::fromLatin1(clm::kWriteFileInfo));
  }
  return true;
}

bool TFileInfoDialog::ShowFor(TCustomDecoder& decoder, const QString& source) {
  if (!Load(decoder, source)) return false;
  exec();
  return true;
}

}  // namespace vidmill
