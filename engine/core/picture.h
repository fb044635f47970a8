// TPicture: the planes of a picture as the media libraries lay them out,
// without ownership (the memory belongs to whoever made the picture).
#pragma once

#include <cstdint>

extern "C" {
#include <libavutil/frame.h>
}

namespace vidmill {

struct TPicture {
  uint8_t* data[4] = {};
  int linesize[4] = {};
};

// The first four planes of a frame (the frame keeps ownership).
inline TPicture PictureOf(const AVFrame& frame) {
  TPicture p;
  for (int i = 0; i < 4; ++i) {
    p.data[i] = frame.data[i];
    p.linesize[i] = frame.linesize[i];
  }
  return p;
}

}  // namespace vidmill
