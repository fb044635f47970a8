// TFileInfoDialog ("File Information"): the file name, media length and the
// main properties of the video and audio streams of a list entry's source,
// built from the probe's stream records.
//
// The value labels keep their texts between uses: a file without a video
// (or audio) stream leaves those labels as an earlier file set them.
//
// Thread rules: main thread only.
#pragma once

#include <functional>

#include <QDialog>

class QLabel;

namespace vidmill {

class TCustomDecoder;
class TReportSink;
struct TAudioStreamInfo;
struct TVideoStreamInfo;

// Texts of the value labels.
QString MediaLengthText(int64_t microseconds);        // "%.2d:%.2d:%.2d", hours not wrapped
QString KiloBitsText(int64_t bits_per_second);        // "192 Kb", or "is not preseted" when <= 0
// "30 fps" from 30000/1001 (nearest, ties to even); throws std::domain_error
// for a zero denominator.
QString FramesPerSecondText(int num, int den);

class TFileInfoDialog : public QDialog {
  Q_OBJECT
 public:
  // sink must outlive the dialog.
  explicit TFileInfoDialog(TReportSink& sink, QWidget* parent = nullptr);

  // Adds a plain line (empty lines around a load error) to the events log.
  std::function<void(const QString&)> AddLogLine;

  // Probes source with decoder and fills the labels. False (the failure
  // reported as "The information for this media is unavailable." with the
  // probe's reason) when the file cannot be loaded. The file stays loaded in
  // the decoder until its next use.
  bool Load(TCustomDecoder& decoder, const QString& source);
  // Load, then show modally when it succeeded.
  bool ShowFor(TCustomDecoder& decoder, const QString& source);

  enum TValue { vFileName, vMediaLength, vResolution, vVideoBitRate, vFrameRate, vSampleRate, vChannels,
                vAudioBitRate, kValueCount };
  QString Value(TValue v) const;

 private:
  void FillVideo(const TVideoStreamInfo& info);
  void FillAudio(const TAudioStreamInfo& info);

  TReportSink& sink_;
  QLabel* values_[kValueCount] = {};
};

}  // namespace vidmill
