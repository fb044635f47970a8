/* The interface of a frame-hook module: a shared library that the
 * transcoder loads (video hook option) to work on every decoded picture.
 *
 * A module exports plain C functions by these names:
 *   int  Configure(void** ctx, int argc, char* argv[]);  optional
 *        argv[0] is the module's path, the rest the user's arguments;
 *        store the module's own state in *ctx; return 0 for success.
 *   void Process(void* ctx, VidmillHookPicture* picture, int pix_fmt,
 *                int width, int height, int64_t pts);     required
 *        pix_fmt is a library pixel format (AV_PIX_FMT_*), pts is in
 *        microseconds; change the picture in place.
 *   void Release(void* ctx);                              optional
 *
 * The functions of one module instance are called from one thread at a
 * time (the conversion's worker thread). */
#ifndef VIDMILL_FRAME_HOOK_API_H
#define VIDMILL_FRAME_HOOK_API_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct VidmillHookPicture {
  uint8_t* data[4];
  int linesize[4];
} VidmillHookPicture;

typedef int (*VidmillHookConfigure)(void** ctx, int argc, char* argv[]);
typedef void (*VidmillHookProcess)(void* ctx, VidmillHookPicture* picture, int pix_fmt, int width,
                                   int height, int64_t pts);
typedef void (*VidmillHookRelease)(void* ctx);

#ifdef __cplusplus
}
#endif

#endif /* VIDMILL_FRAME_HOOK_API_H */
