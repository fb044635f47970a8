// TFormatConverter: turns a library picture of any pixel format into an RGB
// bitmap of 8, 15, 16, 24 or 32 bits with the scaling library, and back.
//
// Used by the frame decoder's bitmap copy and by the transcoder's and the
// player's picture hooks: PictureToRGB(..., true) fills Bitmap(); a hook
// draws on it; BitmapToRGB() and, when RGBPictureRef() is the converter's
// own picture, RGBToPicture() write the result back into the frame.
//
// Failures on media return false with LastErrMsg() set; misuse (an invalid
// BitsPixel) throws EEngineError. swscale must be loaded.
//
// Thread rules: one thread at a time uses a converter (every decoder, player
// and transcoding task has its own).
#pragma once

#include <string>

#include "core/bitmap.h"
#include "core/picture.h"

struct SwsContext;

namespace vidmill {

// Description of the RGB picture the bitmap copies refer to.
struct TDIB {
  int type = 0;
  int width = 0;
  int height = 0;
  int bytes_per_row = 0;
  int planes = 1;
  int bits_pixel = 0;
  uint8_t* pixels = nullptr;  // not owned: RGBPictureRef()'s first plane
};

class TFormatConverter {
 public:
  TFormatConverter();  // 24-bit bitmaps
  ~TFormatConverter();
  TFormatConverter(const TFormatConverter&) = delete;
  TFormatConverter& operator=(const TFormatConverter&) = delete;

  // 8, 15, 16, 24 or 32 select the bitmap format (15 reads back as 16);
  // any other value throws EEngineError "Invalid BitsPixel %d". Selecting
  // the current format does nothing (16 after 15 selects the 16-bit one).
  int BitsPixel() const { return bits_pixel_; }
  void SetBitsPixel(int bits);
  // Any change resets the state: no RGB picture is referred to any more.
  TBMPPixelFormat BMPPixFmt() const { return bmp_pix_fmt_; }
  void SetBMPPixFmt(TBMPPixelFormat format);
  AVPixelFormat AVPixFmt() const { return av_pix_fmt_; }

  TBitmap& Bitmap() { return bitmap_; }
  const TDIB& DIB() const { return dib_; }
  // The converter's own RGB picture (planes null before the first use).
  const TPicture& RGBPicture() const { return rgb_picture_; }
  // The picture the bitmap copies refer to: the own RGB picture, the
  // caller's picture when it was used directly, or null.
  const TPicture* RGBPictureRef() const { return has_ref_ ? &rgb_ref_ : nullptr; }
  const std::string& LastErrMsg() const { return last_err_msg_; }

  // Converts `picture` (format `pix_fmt`, width x height) to the bitmap
  // format; fills Bitmap() when fill_bitmap. A picture already in the
  // bitmap format, of even size and with bitmap-sized rows is used directly
  // (not copied; it must stay valid while referred to). False with
  // LastErrMsg "Cannot initialize the toRGB conversion context" when the
  // scaler refuses the formats or sizes.
  bool PictureToRGB(const TPicture& picture, AVPixelFormat pix_fmt, bool fill_bitmap, int height,
                    int width);
  // Copy RGBPictureRef() into the bitmap, or the bitmap into it, row by row.
  // Calling them without an RGB picture is a programming error.
  void RGBToBitmap();
  void BitmapToRGB();
  // Converts RGBPictureRef() into `picture` (format `pix_fmt`, width x
  // height, at most the size of the RGB picture). False with LastErrMsg
  // "Cannot initialize the fromRGB conversion context" when the scaler
  // refuses or the size is larger than the RGB picture.
  bool RGBToPicture(TPicture& picture, AVPixelFormat pix_fmt, int height, int width);

 private:
  void Reset();
  bool EnsureRGBBuffer(int width, int height);
  void SetRef(const TPicture& picture, int width, int height);
  void CopyRows(bool to_bitmap);
  void ExtendRightEdge(int width, int height);

  int bits_pixel_ = 24;
  AVPixelFormat av_pix_fmt_ = AV_PIX_FMT_BGR24;
  TBMPPixelFormat bmp_pix_fmt_ = pf24bit;
  TBitmap bitmap_;
  TDIB dib_;
  uint8_t* rgb_buffer_ = nullptr;  // library allocator; owned
  int rgb_buf_size_ = 0;
  TPicture rgb_picture_;  // laid over rgb_buffer_
  TPicture rgb_ref_;
  bool has_ref_ = false;
  SwsContext* to_rgb_ = nullptr;    // owned
  SwsContext* from_rgb_ = nullptr;  // owned
  std::string last_err_msg_;
};

}  // namespace vidmill
