#include "frame_rate_sync.h"

#include <cmath>

namespace vidmill {

TFrameCount CountFrames(int vsync, bool variable_rate_muxer, double sync_time, int64_t* next_pts) {
  TFrameCount result;
  if (vsync == vsPassThrough) {
    *next_pts = std::llround(sync_time);
    return result;
  }
  const double delta = sync_time - static_cast<double>(*next_pts);
  if (delta < -1.1) {
    result.count = 0;
  } else if (vsync == vsVariable || (vsync == vsAuto && variable_rate_muxer)) {
    if (delta <= -0.6) {
      result.count = 0;
    } else if (delta > 0.6) {
      *next_pts = std::llround(sync_time);
    }
  } else if (delta > 1.1) {
    result.count = static_cast<int>(std::llround(delta));
  }
  result.dropped = result.count == 0;
  result.duplicates = result.count > 1 ? result.count - 1 : 0;
  return result;
}

}  // namespace vidmill
