// Still pictures of a source, through the engine's frame decoder: a
// thumbnail for the conversion list or any place that shows one picture.
//
// Thread rules: any one thread at a time per call (each call opens its own
// decoder); the media libraries must be loaded.
#pragma once

#include <cstdint>

#include <QImage>
#include <QSize>
#include <QString>

namespace vidmill {

class TFrameDecoder;

// Seeks the decoder's open file to time t (microseconds) and decodes up to
// the picture shown then (the first one at t = 0). False when there is none.
bool DecodePictureAt(TFrameDecoder& decoder, int64_t t);
// The picture the decoder holds, as an image; null when it holds none.
QImage HeldPicture(TFrameDecoder& decoder);

// The picture shown at time t (microseconds) of the source's first video
// stream, scaled to fit `fit` (keeping its shape; an empty size keeps the
// picture's own). A null image when the source cannot be read or has no
// picture.
QImage PictureOfSource(const QString& source, int64_t t = 0, const QSize& fit = QSize());

}  // namespace vidmill
