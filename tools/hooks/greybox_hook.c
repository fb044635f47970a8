/* Example frame-hook module: turns the picture grey, or, given a box,
 * paints a watermark box of one grey level.
 *
 *   vhook "libvidmill_greybox.so"                     grey picture
 *   vhook "libvidmill_greybox.so X Y W H LEVEL"       box at X,Y of W x H
 *
 * Works on planar 8-bit YUV pictures (4:2:0, 4:2:2, 4:4:4); other formats
 * pass unchanged. */
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <libavutil/pixfmt.h>

#include "core/frame_hook_api.h"

#define HOOK_EXPORT __attribute__((visibility("default")))

typedef struct GreyBox {
  int box; /* 0: the whole picture turns grey */
  int x, y, w, h, level;
} GreyBox;

static int ParseInt(const char* text, int low, int high, int* out) {
  char* end = NULL;
  errno = 0;
  long v = strtol(text, &end, 10);
  if (errno || end == text || *end || v < low || v > high) return -1;
  *out = (int)v;
  return 0;
}

static int ChromaShifts(int pix_fmt, int* hs, int* vs) {
  switch (pix_fmt) {
    case AV_PIX_FMT_YUV420P: case AV_PIX_FMT_YUVJ420P: *hs = 1; *vs = 1; return 0;
    case AV_PIX_FMT_YUV422P: case AV_PIX_FMT_YUVJ422P: *hs = 1; *vs = 0; return 0;
    case AV_PIX_FMT_YUV444P: case AV_PIX_FMT_YUVJ444P: *hs = 0; *vs = 0; return 0;
    default: return -1;
  }
}

static void Fill(uint8_t* plane, int stride, int x0, int y0, int x1, int y1, uint8_t value) {
  for (int y = y0; y < y1; ++y) memset(plane + (size_t)y * stride + x0, value, (size_t)(x1 - x0));
}

static int Min(int a, int b) { return a < b ? a : b; }
static int Max(int a, int b) { return a > b ? a : b; }

HOOK_EXPORT int Configure(void** ctx, int argc, char* argv[]) {
  GreyBox* g = calloc(1, sizeof *g);
  if (!g) return -1;
  if (argc == 6) {
    g->box = 1;
    if (ParseInt(argv[1], 0, 1 << 16, &g->x) || ParseInt(argv[2], 0, 1 << 16, &g->y) ||
        ParseInt(argv[3], 0, 1 << 16, &g->w) || ParseInt(argv[4], 0, 1 << 16, &g->h) ||
        ParseInt(argv[5], 0, 255, &g->level)) {
      free(g);
      return -1;
    }
  } else if (argc != 1) {
    free(g);
    return -1;
  }
  *ctx = g;
  return 0;
}

HOOK_EXPORT void Process(void* ctx, VidmillHookPicture* picture, int pix_fmt, int width,
                         int height, int64_t pts) {
  (void)pts;
  const GreyBox* g = ctx;
  int hs, vs;
  if (!g || ChromaShifts(pix_fmt, &hs, &vs)) return;
  int x0 = 0, y0 = 0, x1 = width, y1 = height;
  if (g->box) {
    x0 = Min(g->x, width);
    y0 = Min(g->y, height);
    x1 = Min(g->x + g->w, width);
    y1 = Min(g->y + g->h, height);
    Fill(picture->data[0], picture->linesize[0], x0, y0, x1, y1, (uint8_t)g->level);
  }
  /* Chroma samples that the box covers, rounded outwards. */
  const int cx0 = x0 >> hs, cy0 = y0 >> vs;
  const int cx1 = Max(cx0, (x1 + (1 << hs) - 1) >> hs), cy1 = Max(cy0, (y1 + (1 << vs) - 1) >> vs);
  Fill(picture->data[1], picture->linesize[1], cx0, cy0, cx1, cy1, 128);
  Fill(picture->data[2], picture->linesize[2], cx0, cy0, cx1, cy1, 128);
}

HOOK_EXPORT void Release(void* ctx) { free(ctx); }
