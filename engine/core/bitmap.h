// TBitmap: an RGB picture of the engine in one of the bitmap formats of
// 8, 15, 16, 24 or 32 bits per pixel, as the picture hooks, the preview and
// the frame decoder's snapshot hand it out.
//
// Rows are stored top row first, each `Stride()` bytes long (a multiple of
// 4). Byte order per pixel follows the library format of its TBMPPixelFormat
// (BGR24 is blue, green, red in memory; BGRA is blue, green, red, alpha), so
// an application can lay its own image type over Pixels() without copying.
//
// Thread rules: a bitmap is used by one thread at a time.
#pragma once

#include <cstdint>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace vidmill {

enum TBMPPixelFormat : uint8_t {
  pf8bit,   // BGR8: 2 bits blue, 3 green, 3 red
  pf15bit,  // BGR555LE, 16 bits per pixel with one unused
  pf16bit,  // BGR565LE
  pf24bit,  // BGR24 (the default)
  pf32bit,  // BGRA
};

// Bits per pixel of a bitmap format as the bitmap stores it (16 for pf15bit).
int BitsPixelOf(TBMPPixelFormat format);
// The library pixel format with the same memory layout.
AVPixelFormat AVPixFmtOf(TBMPPixelFormat format);
// Bytes of one row of `width` pixels, padded to a multiple of 4.
int BitmapRowBytes(int width, int bits_pixel);

class TBitmap {
 public:
  TBitmap() = default;

  int Width() const { return width_; }
  int Height() const { return height_; }
  int Stride() const { return stride_; }
  TBMPPixelFormat PixelFormat() const { return format_; }
  int BitsPixel() const { return BitsPixelOf(format_); }

  // Resizes to width x height (contents undefined after a change). Sizes
  // below 0 are taken as 0.
  void SetSize(int width, int height);
  // Changes the pixel format, keeping the size (contents undefined).
  void SetPixelFormat(TBMPPixelFormat format);

  uint8_t* Pixels() { return pixels_.data(); }
  const uint8_t* Pixels() const { return pixels_.data(); }
  // Row `row` from the top; null when out of range.
  uint8_t* ScanLine(int row);
  const uint8_t* ScanLine(int row) const;

 private:
  void Reallocate();

  TBMPPixelFormat format_ = pf24bit;
  int width_ = 0;
  int height_ = 0;
  int stride_ = 0;
  std::vector<uint8_t> pixels_;
};

}  // namespace vidmill
