/* A frame-hook module for the loader tests with Process only: adds 1 to the
 * first luma sample, so the order and number of calls can be seen. */
#include <stdint.h>

#include "core/frame_hook_api.h"

__attribute__((visibility("default"))) void Process(void* ctx, VidmillHookPicture* picture,
                                                    int pix_fmt, int width, int height,
                                                    int64_t pts) {
  (void)ctx;
  (void)pix_fmt;
  (void)width;
  (void)height;
  (void)pts;
  picture->data[0][0] = (uint8_t)(picture->data[0][0] + 1);
}
