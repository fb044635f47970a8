#include "probe_entry.h"

#include <QFileInfo>

#include "probe/ff_decode.h"

namespace vidmill {

std::optional<TVideoFile> ProbeVideoFile(const QString& path, TCustomDecoder& decoder, int profile_ind,
                                         int format_ind, QString* error) {
  if (!decoder.LoadFile(path.toStdString(), "")) {
    if (error) *error = QString::fromStdString(decoder.LastErrMsg());
    return std::nullopt;
  }
  TVideoFile e;
  const QFileInfo info(path);
  e.Source = info.absoluteFilePath();
  e.SourceTitleExt = info.fileName();
  e.DestinationTitle = info.completeBaseName();
  e.Status = QStringLiteral("-");
  e.TrimmedLength = decoder.FileStreamInfo().Duration;
  e.VideoStreamIndex = decoder.FirstVideoStreamIndex();
  e.isSourceAudioFormat = e.VideoStreamIndex < 0;
  if (!e.isSourceAudioFormat) {
    const TVideoStreamInfo v = decoder.VideoStreamInfos(e.VideoStreamIndex);
    e.SourceWidth = v.Width;
    e.SourceHeight = v.Height;
    if (v.AspectRatio > 0 && v.Width > 0 && v.Height > 0)
      e.SourcePixelAspect = static_cast<double>(v.AspectRatio) * v.Height / v.Width;
  }
  e.TimeStart = 0;
  e.TimeEnd = e.TrimmedLength;
  e.ProfileInd = profile_ind;
  e.FormatInd = format_ind;
  decoder.CloseFile();
  return e;
}

}  // namespace vidmill
