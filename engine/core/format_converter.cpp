#include "core/format_converter.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "core/engine_error.h"
#include "core/entry_points.h"

namespace vidmill {
namespace {

constexpr int kScalerFlags = SWS_BICUBIC;
constexpr int kRowAlign = 64;

bool FormatOfBits(int bits, TBMPPixelFormat* format) {
  switch (bits) {
    case 8: *format = pf8bit; return true;
    case 15: *format = pf15bit; return true;
    case 16: *format = pf16bit; return true;
    case 24: *format = pf24bit; return true;
    case 32: *format = pf32bit; return true;
    default: return false;
  }
}

// The scaler aborts the process on a format it does not know, so ask first.
SwsContext* CachedScaler(SwsContext* ctx, int width, int height, AVPixelFormat from,
                         AVPixelFormat to) {
  if (width <= 0 || height <= 0 || !ff::sws_isSupportedInput(from) ||
      !ff::sws_isSupportedOutput(to)) {
    ff::sws_freeContext(ctx);
    return nullptr;
  }
  return ff::sws_getCachedContext(ctx, width, height, from, width, height, to, kScalerFlags,
                                  nullptr, nullptr, nullptr);
}

}  // namespace

TFormatConverter::TFormatConverter() { Reset(); }

TFormatConverter::~TFormatConverter() {
  if (ff::sws_freeContext) {
    ff::sws_freeContext(to_rgb_);
    ff::sws_freeContext(from_rgb_);
  }
  if (ff::av_free) ff::av_free(rgb_buffer_);
}

// Compared by format, not by bits: 15 and 16 both read back as 16, and
// writing 16 to a 15-bit converter must still select the 16-bit format.
void TFormatConverter::SetBitsPixel(int bits) {
  TBMPPixelFormat format;
  if (!FormatOfBits(bits, &format)) {
    throw EEngineError("Invalid BitsPixel " + std::to_string(bits));
  }
  SetBMPPixFmt(format);
}

void TFormatConverter::SetBMPPixFmt(TBMPPixelFormat format) {
  if (format == bmp_pix_fmt_) return;
  bmp_pix_fmt_ = format;
  Reset();
}

void TFormatConverter::Reset() {
  dib_ = TDIB{};
  rgb_picture_ = TPicture{};
  rgb_ref_ = TPicture{};
  has_ref_ = false;
  bits_pixel_ = BitsPixelOf(bmp_pix_fmt_);
  av_pix_fmt_ = AVPixFmtOf(bmp_pix_fmt_);
  bitmap_.SetPixelFormat(bmp_pix_fmt_);
}

bool TFormatConverter::EnsureRGBBuffer(int width, int height) {
  // Rows aligned for the scaler's vector code, which writes whole blocks and
  // so may pass the last pixel of a row, but never the row's line size.
  const int size = ff::av_image_get_buffer_size(av_pix_fmt_, width, height, kRowAlign);
  if (size < 0) return false;
  if (!rgb_buffer_ || rgb_buf_size_ < size) {
    ff::av_free(rgb_buffer_);
    rgb_buf_size_ = 0;
    rgb_buffer_ = static_cast<uint8_t*>(ff::av_malloc(size + kRowAlign));
    if (!rgb_buffer_) return false;
    rgb_buf_size_ = size;
  }
  return ff::av_image_fill_arrays(rgb_picture_.data, rgb_picture_.linesize, rgb_buffer_,
                                  av_pix_fmt_, width, height, kRowAlign) >= 0;
}

bool TFormatConverter::PictureToRGB(const TPicture& picture, AVPixelFormat pix_fmt,
                                    bool fill_bitmap, int height, int width) {
  bitmap_.SetSize(width, height);
  const bool direct = pix_fmt == av_pix_fmt_ && width % 2 == 0 && height % 2 == 0 &&
                      picture.linesize[0] == BitmapRowBytes(width, bits_pixel_);
  if (direct) {
    SetRef(picture, width, height);
  } else {
    if (width <= 0 || height <= 0 || !EnsureRGBBuffer(width, height)) {
      has_ref_ = false;
      last_err_msg_ = "Cannot initialize the toRGB conversion context";
      return false;
    }
    to_rgb_ = CachedScaler(to_rgb_, width, height, pix_fmt, av_pix_fmt_);
    if (!to_rgb_) {
      has_ref_ = false;
      last_err_msg_ = "Cannot initialize the toRGB conversion context";
      return false;
    }
    ff::sws_scale(to_rgb_, picture.data, picture.linesize, 0, height, rgb_picture_.data,
                  rgb_picture_.linesize);
    SetRef(rgb_picture_, width, height);
  }
  if (fill_bitmap) RGBToBitmap();
  return true;
}

void TFormatConverter::SetRef(const TPicture& picture, int width, int height) {
  rgb_ref_ = picture;
  has_ref_ = true;
  dib_.type = 0;
  dib_.width = width;
  dib_.height = height;
  dib_.bytes_per_row = picture.linesize[0];
  dib_.planes = 1;
  dib_.bits_pixel = bits_pixel_;
  dib_.pixels = picture.data[0];
}

void TFormatConverter::CopyRows(bool to_bitmap) {
  assert(has_ref_ && "no RGB picture to copy");
  if (!has_ref_) return;
  const int rows = std::min(dib_.height, bitmap_.Height());
  const int bytes = std::min(std::abs(rgb_ref_.linesize[0]), bitmap_.Stride());
  for (int row = 0; row < rows; ++row) {
    uint8_t* picture_row = rgb_ref_.data[0] + static_cast<ptrdiff_t>(row) * rgb_ref_.linesize[0];
    uint8_t* bitmap_row = bitmap_.ScanLine(row);
    if (to_bitmap) {
      std::memcpy(bitmap_row, picture_row, bytes);
    } else {
      std::memcpy(picture_row, bitmap_row, bytes);
    }
  }
}

// The scaler takes the colour of an odd-width picture's last column from a
// pair of pixels, the second one past the edge: repeat the edge pixel there,
// whatever a hook or a bitmap copy left in the padding.
void TFormatConverter::ExtendRightEdge(int width, int height) {
  const int bytes = BitsPixelOf(bmp_pix_fmt_) / 8;
  if (width % 2 == 0 || (width + 1) * bytes > rgb_picture_.linesize[0]) return;
  for (int row = 0; row < height; ++row) {
    uint8_t* last = rgb_picture_.data[0] + static_cast<ptrdiff_t>(row) * rgb_picture_.linesize[0] +
                    (width - 1) * bytes;
    std::memcpy(last + bytes, last, bytes);
  }
}

void TFormatConverter::RGBToBitmap() { CopyRows(true); }

void TFormatConverter::BitmapToRGB() { CopyRows(false); }

bool TFormatConverter::RGBToPicture(TPicture& picture, AVPixelFormat pix_fmt, int height,
                                    int width) {
  assert(has_ref_ && "no RGB picture to convert");
  if (!has_ref_) return false;
  // The RGB picture holds dib_.width x dib_.height pixels; a larger size
  // would make the scaler read past its rows.
  const bool fits = width <= dib_.width && height <= dib_.height;
  if (fits && rgb_ref_.data[0] == rgb_picture_.data[0]) ExtendRightEdge(width, height);
  from_rgb_ = fits ? CachedScaler(from_rgb_, width, height, av_pix_fmt_, pix_fmt) : from_rgb_;
  if (!fits || !from_rgb_) {
    last_err_msg_ = "Cannot initialize the fromRGB conversion context";
    return false;
  }
  ff::sws_scale(from_rgb_, rgb_ref_.data, rgb_ref_.linesize, 0, height, picture.data,
                picture.linesize);
  return true;
}

}  // namespace vidmill
