// The estimated output size of a list entry.
#pragma once

#include <optional>

namespace vidmill {

struct TFormat;
struct TVideoFile;

// Megabytes (10^6 bytes) that the entry's trimmed length takes at the
// format's bit rates: video (left out for audio-only formats and sources
// without video) plus audio. A length of -1 (none stated) gives 0. Nothing
// when a bit rate is not a decimal integer.
std::optional<double> EstimateSizeMB(const TVideoFile& entry, const TFormat& format);

// Sets entry.EstimatedSize from EstimateSizeMB; keeps the old value and
// returns false when it cannot be computed.
bool UpdateEstimatedSize(TVideoFile& entry, const TFormat& format);

}  // namespace vidmill
