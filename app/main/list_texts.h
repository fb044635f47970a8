// Texts the conversion list shows for an entry.
#pragma once

#include <cstdint>

#include <QString>

namespace vidmill {

// "%.2d:%.2d:%.2d" of whole seconds: hours are not wrapped at 24; a negative
// length (none stated) reads "00:00:00".
QString DurationText(int64_t microseconds);

// The estimated size as shown: two decimals, the locale's separator, " MB".
QString SizeText(double megabytes);

}  // namespace vidmill
