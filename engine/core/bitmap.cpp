#include "core/bitmap.h"

#include <algorithm>

namespace vidmill {

int BitsPixelOf(TBMPPixelFormat format) {
  switch (format) {
    case pf8bit: return 8;
    case pf15bit:
    case pf16bit: return 16;
    case pf24bit: return 24;
    case pf32bit: return 32;
  }
  return 24;
}

AVPixelFormat AVPixFmtOf(TBMPPixelFormat format) {
  switch (format) {
    case pf8bit: return AV_PIX_FMT_BGR8;
    case pf15bit: return AV_PIX_FMT_BGR555LE;
    case pf16bit: return AV_PIX_FMT_BGR565LE;
    case pf24bit: return AV_PIX_FMT_BGR24;
    case pf32bit: return AV_PIX_FMT_BGRA;
  }
  return AV_PIX_FMT_BGR24;
}

int BitmapRowBytes(int width, int bits_pixel) { return ((width * bits_pixel + 31) / 32) * 4; }

void TBitmap::SetSize(int width, int height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  if (width == width_ && height == height_) return;
  width_ = width;
  height_ = height;
  Reallocate();
}

void TBitmap::SetPixelFormat(TBMPPixelFormat format) {
  if (format == format_) return;
  format_ = format;
  Reallocate();
}

void TBitmap::Reallocate() {
  stride_ = BitmapRowBytes(width_, BitsPixel());
  pixels_.assign(static_cast<size_t>(stride_) * height_, 0);
}

uint8_t* TBitmap::ScanLine(int row) {
  if (row < 0 || row >= height_) return nullptr;
  return pixels_.data() + static_cast<size_t>(row) * stride_;
}

const uint8_t* TBitmap::ScanLine(int row) const {
  return const_cast<TBitmap*>(this)->ScanLine(row);
}

}  // namespace vidmill
