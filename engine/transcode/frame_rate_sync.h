// Frame-rate synchronisation of an encoded video stream: how many times a
// picture is encoded (0: dropped, more than 1: duplicated) so that the
// output keeps its frame rate, or follows the input's times where the
// muxer takes variable frame rates.
#pragma once

#include <cstdint>

namespace vidmill {

// The "vsync" option's modes.
enum TVideoSync : int {
  vsAuto = -1,         // variable where the muxer allows it, else constant
  vsPassThrough = 0,   // every picture once, timed by the input
  vsConstant = 1,      // duplicate and drop to keep the rate
  vsVariable = 2,      // drop pictures that come too early, never duplicate
};

struct TFrameCount {
  int count = 1;         // times the picture is encoded
  int duplicates = 0;    // count - 1 when above 1
  bool dropped = false;  // count is 0
};

// `sync_time`: the picture's time in the encoder's time base (as a
// fraction); `next_pts`: the stream's next frame time (encoder time base),
// moved when the mode re-times the stream. `variable_rate_muxer`: the muxer
// accepts variable frame rates.
TFrameCount CountFrames(int vsync, bool variable_rate_muxer, double sync_time, int64_t* next_pts);

}  // namespace vidmill
