// The scaler of an encoded video stream without a filter chain: pictures
// brought to the encoder's size and pixel format, in slices on several
// threads.
#pragma once

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace vidmill {

// A scaler from one geometry to another with the scaler flags `flags` and
// `threads` slice threads (0: as many as the machine has). Null when the
// scaling library refuses the formats or sizes. Freed with sws_freeContext.
SwsContext* MakePictureScaler(int src_width, int src_height, AVPixelFormat src_format, int dst_width, int dst_height,
                              AVPixelFormat dst_format, int flags, int threads);

}  // namespace vidmill
