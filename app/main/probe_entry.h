// Making a conversion-list entry from a media file.
#pragma once

#include <optional>

#include <QString>

#include "video_file.h"

namespace vidmill {

class TCustomDecoder;

// Probes path with decoder (LoadFile, then CloseFile) and fills a new entry:
// source names, the whole file as trimmed length (-1 when none is stated),
// the picture size of the first video stream wherever it is (an entry
// without one is audio-only), no crop or adjustment, and format. Nothing,
// with the decoder's LastErrMsg in *error, when the probe cannot open it.
// The estimated size is left at 0 for the caller to compute.
// Throws EEngineError when the probe's libraries are not loaded.
std::optional<TVideoFile> ProbeVideoFile(const QString& path, TCustomDecoder& decoder, int profile_ind,
                                         int format_ind, QString* error);

}  // namespace vidmill
