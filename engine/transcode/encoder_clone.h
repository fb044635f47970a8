// A new encoder context with the settings of another: used for the fresh
// encoder each further input of a joined output gets, which must write the
// same header as the first.
#pragma once

#include "transcode_types.h"

namespace vidmill {

// A new, unopened context for `codec` with the generic and private options
// of `src` and the fields that are no options (sizes, formats, time base,
// rates, layout, flags, matrices). Null when memory runs out. `src` should
// not have been opened: an opened encoder writes some settings back.
TCodecContextPtr CloneEncoderSettings(const AVCodecContext* src, const AVCodec* codec);

}  // namespace vidmill
