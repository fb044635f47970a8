// TFrameDecoder: random-access decoding of one file on top of the probe;
// TFFDecoder is the published decoder.
//
// Decodes the next video picture of a stream into a picture buffer of its
// own, steps to the next or previous key frame or to the previous picture,
// seeks by time or by byte, copies the held picture into a bitmap (through
// TFormatConverter), and decodes audio into blocks of a chosen channel
// count and sample rate (signed 16-bit samples). Nothing here plays: it is
// for thumbnails, stills and tools, outside any playback.
//
// Times are microseconds from the stream's start (AV_NOPTS_VALUE when a
// picture carries none). Failures return false (or -1 / null), keep the
// reason in LastErrMsg and log it with the decoder as sender; a context
// attached through SetFileHandle belongs to someone else and cannot be
// decoded: that misuse throws EEngineError.
//
// Thread rules: one thread at a time uses a decoder.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

extern "C" {
#include <libavutil/avutil.h>
#include <libavutil/pixfmt.h>
#include <libavutil/samplefmt.h>
}

#include "core/bitmap.h"
#include "core/format_converter.h"
#include "core/picture.h"
#include "probe/ff_decode.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwrContext;

namespace vidmill {

// Seek flags as the libraries take them: 1 backward (key frame at or before
// the target), 2 byte position, 4 any frame, 8 frame number. The player's
// TSeekFlag names these bits (sfBackward ...).
using TSeekFlags = uint8_t;

// The library's picture type numbers.
enum TPictureType : uint8_t {
  ptUnknown,  // 0: not known (or a number outside 0..7)
  ptI,        // 1: intra
  ptP,        // 2: predicted
  ptB,        // 3: bi-directionally predicted
  ptS,        // 4: S(GMC)-VOP
  ptSI,       // 5: switching intra
  ptSP,       // 6: switching predicted
  ptBI,       // 7: BI type
};

// The picture held after a successful Decode.
struct TFrameInfo {
  AVPixelFormat PixFmt = AV_PIX_FMT_NONE;  // format of Picture
  int Width = 0;
  int Height = 0;
  bool IsKeyFrame = false;
  TPictureType PictureType = ptUnknown;
  int64_t PTS = AV_NOPTS_VALUE;          // microseconds from the stream's start
  int64_t OriginalDTS = AV_NOPTS_VALUE;  // the packet's dts and the frame's pts, as read
  int64_t OriginalPTS = AV_NOPTS_VALUE;
  int StreamIndex = -1;
  int64_t Position = -1;  // file position before the reading that gave the picture; -1 without I/O
  bool Ready = false;     // a picture is held
  TPicture Picture;       // laid over Buffer
  uint8_t* Buffer = nullptr;  // owned by the decoder; valid until the next decode, seek or close
  int Size = 0;               // bytes of Buffer
};

// The audio block held after a successful DecodeAudio.
struct TWaveInfo {
  int Channels = 0;
  int SampleRate = 0;
  AVSampleFormat SampleFormat = AV_SAMPLE_FMT_S16;
  int BytesPerSample = 0;
  int BytesPerSecond = 0;
  int64_t PTS = AV_NOPTS_VALUE;  // microseconds from the stream's start
  int64_t OriginalDTS = AV_NOPTS_VALUE;
  int64_t OriginalPTS = AV_NOPTS_VALUE;
  int StreamIndex = -1;
  bool Ready = false;
  uint8_t* Buffer = nullptr;  // owned by the decoder; valid until the next audio decode
  int Size = 0;               // bytes
  int64_t Duration = 0;       // microseconds
};

class TFrameDecoder : public TCustomDecoder {
 public:
  TFrameDecoder();
  ~TFrameDecoder() override;

  // Decodes the next picture of a video stream (negative: the stream being
  // decoded, else the first video stream). False at the end of the stream
  // ("stream eof reached.", IsEOF() then true) or on a failure. A still image
  // ("image2") that already gave its picture is not decoded again.
  bool Decode(int AStreamIndex = -1);
  // Seeks past the held picture and decodes the key frame found there.
  bool DecodeNextKeyFrame(int AStreamIndex = -1);
  // Decodes the key frame before the held picture. False with LastErrMsg
  // "Could not seek to the previous key-frame. ..." when none is found.
  bool DecodePreviousKeyFrame(int AStreamIndex = -1);
  // Decodes the picture before the held one.
  bool DecodePreviousFrame(int AStreamIndex = -1);
  // Seeks to APTS microseconds from the start (a byte position with flag 2).
  // Drops the held picture and audio block and clears EOF. Negative times
  // seek to the start.
  bool Seek(int64_t APTS, TSeekFlags ASeekFlags = 0);

  // Copies the held picture into ABitmap in the converter's bitmap format.
  // False with "picture not ready, please decode first" without a picture;
  // on a conversion failure ABitmap is the picture's size, black.
  bool CopyToBitmap(TBitmap& ABitmap);
  // Converts the held picture and returns the converter's description of it
  // (owned by the decoder, valid until the next call), or null.
  const TDIB* GetBitmapPtr();

  // Decodes the next block of an audio stream (negative: the stream being
  // decoded, else the first audio stream) into DesireAudioChannels x
  // DesireAudioSampleRate signed 16-bit samples.
  bool DecodeAudio(int AStreamIndex = -1);
  // Copies up to ACount bytes of decoded audio into ABuffer, decoding a new
  // block when the held one is used up. With a null ABuffer nothing is
  // consumed. The count delivered, or -1 when no block could be decoded.
  int ReadAudio(uint8_t* ABuffer, int ACount, int AStreamIndex = -1);

  int BitmapBitsPixel() const { return converter_.BitsPixel(); }
  void SetBitmapBitsPixel(int bits) { converter_.SetBitsPixel(bits); }  // throws on a bad value
  bool Deinterlace() const { return deinterlace_; }
  void SetDeinterlace(bool v) { deinterlace_ = v; }
  bool IsEOF() const { return eof_; }  // the end of the stream was reached
  const TFrameInfo& FrameInfo() const { return picture_; }
  const TWaveInfo& WaveInfo() const { return wave_; }
  // The I/O context's byte position; -1 ("file not loaded." / "cannot get
  // position") when there is no file or no I/O context.
  int64_t Position();
  int DesireAudioChannels() const { return desire_channels_; }
  void SetDesireAudioChannels(int channels);
  int DesireAudioSampleRate() const { return desire_rate_; }
  void SetDesireAudioSampleRate(int rate);
  // Picture duration of a stream in microseconds: from its average frame
  // rate, else its real frame rate, else 40000 (25 per second).
  int64_t FrameDuration(int AStreamIndex);
  // Streams in use: time seeks (first video, else first audio, -1), the
  // video stream being decoded and the audio stream being decoded.
  int SeekIndex() const { return seek_index_; }
  int DecodeIndex() const { return decode_index_; }
  int DesireAudioIndex() const { return audio_index_; }

  void CloseFile() override;

 protected:
  void UpdateFileInfo() override;

 private:
  struct CodecDeleter {
    void operator()(AVCodecContext* c) const;
  };
  struct FrameDeleter {
    void operator()(AVFrame* f) const;
  };
  struct PacketDeleter {
    void operator()(AVPacket* p) const;
  };
  struct SwrDeleter {
    void operator()(SwrContext* s) const;
  };
  struct AvFree {
    void operator()(uint8_t* p) const;
  };
  using TCodecPtr = std::unique_ptr<AVCodecContext, CodecDeleter>;
  using TBytes = std::unique_ptr<uint8_t, AvFree>;

  // Stream selection: the index to use, or -1 with the failure reported.
  int SelectVideo(int index);
  int SelectAudio(int index);
  int SelectStream(int index, int media_type, int& current, int first, const char* kind);
  void CheckOwnFile();
  bool OpenCodec(TCodecPtr& codec, int& codec_stream, int index, bool video);
  // Reads the next packet of `index` into packet_. 1 read, 0 end of the
  // stream (EOF set), -1 a failure (reported).
  int ReadPacketOf(int index);
  bool ReceivePicture(int index);
  void StorePicture(int index);
  bool DeinterlaceInto(const AVFrame& frame);
  void DropPicture();
  void DropWave();
  bool StoreAudio(int index);
  bool EnsureResampler(const AVFrame& frame);
  int64_t ToMicroseconds(int64_t ts, int index) const;
  int64_t IoPosition() const;
  bool IsImage2() const;
  void ReportEOF();

  TFormatConverter converter_;
  int seek_index_ = -1;
  int64_t start_time_ = 0;  // of the seek stream, in its time base
  int decode_index_ = -1;
  bool deinterlace_ = false;
  bool eof_ = false;
  bool draining_ = false;    // the end was reached and the video decoder is being emptied
  TFrameInfo picture_;
  TBytes picture_buf_;
  int picture_buf_size_ = 0;
  TBytes deint_buf_;
  int deint_size_ = 0;
  int64_t last_pts_ = AV_NOPTS_VALUE;
  int64_t last_pos_ = -1;
  TCodecPtr video_codec_;
  int video_codec_stream_ = -1;
  std::unique_ptr<AVFrame, FrameDeleter> frame_;
  std::unique_ptr<AVPacket, PacketDeleter> packet_;

  TWaveInfo wave_;
  int desire_channels_ = 2;
  int desire_rate_ = 44100;
  int audio_index_ = -1;
  TCodecPtr audio_codec_;
  int audio_codec_stream_ = -1;
  std::unique_ptr<SwrContext, SwrDeleter> resampler_;
  int resampler_in_rate_ = 0;
  int resampler_in_format_ = -1;
  int resampler_in_channels_ = 0;
  TBytes audio_buf_;
  int audio_buf_size_ = 0;
  int remains_audio_ = 0;
};

// The published decoder: the probe that the encoder owns and the
// application uses for every added file, with frame decoding.
class TFFDecoder : public TFrameDecoder {
 public:
  TFFDecoder() = default;
};

}  // namespace vidmill
