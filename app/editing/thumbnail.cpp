#include "editing/thumbnail.h"

#include <algorithm>

#include "core/entry_points.h"
#include "probe/frame_decoder.h"

namespace vidmill {

bool DecodePictureAt(TFrameDecoder& decoder, int64_t t) {
  if (decoder.FirstVideoStreamIndex() < 0) return false;
  // A still image cannot seek; it keeps giving its one picture.
  if (!decoder.Seek(std::max<int64_t>(t, 0), AVSEEK_FLAG_BACKWARD) && decoder.FormatName() != "image2") return false;
  const int64_t frame = decoder.FrameDuration(decoder.FirstVideoStreamIndex());
  bool decoded = false;
  while (decoder.Decode()) {
    decoded = true;
    if (decoder.FrameInfo().PTS + frame > t) break;
  }
  return decoded && decoder.FrameInfo().Ready;
}

QImage HeldPicture(TFrameDecoder& decoder) {
  TBitmap bitmap;
  if (!decoder.CopyToBitmap(bitmap)) return {};
  return QImage(bitmap.Pixels(), bitmap.Width(), bitmap.Height(), bitmap.Stride(), QImage::Format_BGR888).copy();
}

QImage PictureOfSource(const QString& source, int64_t t, const QSize& fit) {
  TFrameDecoder decoder;
  if (!decoder.LoadFile(source.toStdString()) || !DecodePictureAt(decoder, t)) return {};
  const QImage image = HeldPicture(decoder);
  return fit.isEmpty() || image.isNull() ? image : image.scaled(fit, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

}  // namespace vidmill
