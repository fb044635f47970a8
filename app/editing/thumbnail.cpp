#include "editing/thumbnail.h"

#include "core/entry_points.h"
#include "probe/frame_decoder.h"

namespace vidmill {

QImage PictureOfSource(const QString& source, int64_t t, const QSize& fit) {
  TFrameDecoder decoder;
  if (!decoder.LoadFile(source.toStdString()) || decoder.FirstVideoStreamIndex() < 0) return {};
  if (t > 0 && !decoder.Seek(t, AVSEEK_FLAG_BACKWARD)) return {};
  const int64_t frame = decoder.FrameDuration(decoder.FirstVideoStreamIndex());
  bool decoded = false;
  while (decoder.Decode()) {
    decoded = true;
    if (decoder.FrameInfo().PTS + frame > t) break;
  }
  TBitmap bitmap;
  if (!decoded || !decoder.CopyToBitmap(bitmap)) return {};
  QImage image =
      QImage(bitmap.Pixels(), bitmap.Width(), bitmap.Height(), bitmap.Stride(), QImage::Format_BGR888).copy();
  return fit.isEmpty() ? image : image.scaled(fit, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

}  // namespace vidmill
