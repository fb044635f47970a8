#include "probe/frame_decoder.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <strings.h>

#include "core/engine_error.h"
#include "core/entry_points.h"
#include "core/ff_log.h"
#include "core/ff_utils.h"

namespace vidmill {
namespace {

constexpr int64_t kDefaultFrameDuration = 1000000 / 25;
constexpr char kEofText[] = "stream eof reached.";

bool HasValue(int64_t ts) { return ts != AV_NOPTS_VALUE; }

TPictureType PictureTypeOf(int pict_type) {
  return pict_type >= 0 && pict_type <= ptBI ? static_cast<TPictureType>(pict_type) : ptUnknown;
}

// Planar 8-bit formats whose odd rows can be blended from their neighbours.
bool CanBlendRows(AVPixelFormat fmt) {
  const AVPixFmtDescriptor* d = ff::av_pix_fmt_desc_get(fmt);
  if (!d || !(d->flags & AV_PIX_FMT_FLAG_PLANAR) || (d->flags & AV_PIX_FMT_FLAG_PAL)) return false;
  for (int i = 0; i < d->nb_components; ++i) {
    if (d->comp[i].depth != 8) return false;
  }
  return true;
}

// Replaces every odd row of a plane by the mean of the rows around it.
void BlendOddRows(uint8_t* plane, int linesize, int width, int height) {
  for (int y = 1; y < height; y += 2) {
    uint8_t* row = plane + static_cast<ptrdiff_t>(y) * linesize;
    const uint8_t* above = row - linesize;
    const uint8_t* below = y + 1 < height ? row + linesize : above;
    for (int x = 0; x < width; ++x) row[x] = static_cast<uint8_t>((above[x] + below[x] + 1) / 2);
  }
}

}  // namespace

void TFrameDecoder::CodecDeleter::operator()(AVCodecContext* c) const { ff::avcodec_free_context(&c); }
void TFrameDecoder::FrameDeleter::operator()(AVFrame* f) const { ff::av_frame_free(&f); }
void TFrameDecoder::PacketDeleter::operator()(AVPacket* p) const { ff::av_packet_free(&p); }
void TFrameDecoder::SwrDeleter::operator()(SwrContext* s) const { ff::swr_free(&s); }
void TFrameDecoder::AvFree::operator()(uint8_t* p) const { ff::av_free(p); }

TFrameDecoder::TFrameDecoder() { UpdateFileInfo(); }

TFrameDecoder::~TFrameDecoder() {
  // The codecs refer to the file's streams: free them before the file goes.
  video_codec_.reset();
  audio_codec_.reset();
  resampler_.reset();
}

// ---------------------------------------------------------------- state

void TFrameDecoder::UpdateFileInfo() {
  TCustomDecoder::UpdateFileInfo();
  seek_index_ = FirstVideoStreamIndex() >= 0 ? FirstVideoStreamIndex() : FirstAudioStreamIndex();
  start_time_ = 0;
  if (!file_handle_) return;
  const int64_t start =
      seek_index_ >= 0 ? file_handle_->streams[seek_index_]->start_time : file_handle_->start_time;
  start_time_ = HasValue(start) ? start : 0;
}

void TFrameDecoder::CloseFile() {
  video_codec_.reset();
  video_codec_stream_ = -1;
  audio_codec_.reset();
  audio_codec_stream_ = -1;
  resampler_.reset();
  decode_index_ = -1;
  audio_index_ = -1;
  eof_ = false;
  draining_ = false;
  picture_ = TFrameInfo{};
  last_pts_ = AV_NOPTS_VALUE;
  last_pos_ = -1;
  wave_ = TWaveInfo{};
  remains_audio_ = 0;
  TCustomDecoder::CloseFile();  // runs UpdateFileInfo: seek stream and start time
}

void TFrameDecoder::DropPicture() {
  if (HasValue(picture_.PTS)) last_pts_ = picture_.PTS;
  if (picture_.Position >= 0) last_pos_ = picture_.Position;
  picture_.Ready = false;
  picture_.PTS = AV_NOPTS_VALUE;
  picture_.Position = -1;
}

void TFrameDecoder::DropWave() {
  wave_.Ready = false;
  wave_.Size = 0;
  remains_audio_ = 0;
}

void TFrameDecoder::SetDesireAudioChannels(int channels) {
  if (channels == desire_channels_) return;
  desire_channels_ = channels;
  resampler_.reset();
}

void TFrameDecoder::SetDesireAudioSampleRate(int rate) {
  if (rate == desire_rate_) return;
  desire_rate_ = rate;
  resampler_.reset();
}

int64_t TFrameDecoder::IoPosition() const {
  return file_handle_ && file_handle_->pb ? ff::avio_seek(file_handle_->pb, 0, SEEK_CUR) : -1;
}

int64_t TFrameDecoder::Position() {
  if (!FileLoaded()) return -1;
  if (!file_handle_->pb) {
    Fail(llError, "cannot get position");
    return -1;
  }
  return IoPosition();
}

bool TFrameDecoder::IsImage2() const {
  return file_handle_ && file_handle_->iformat && strcasecmp(file_handle_->iformat->name, "image2") == 0;
}

int64_t TFrameDecoder::ToMicroseconds(int64_t ts, int index) const {
  if (!HasValue(ts)) return AV_NOPTS_VALUE;
  const AVStream* st = file_handle_->streams[index];
  if (st->time_base.num <= 0 || st->time_base.den <= 0) return AV_NOPTS_VALUE;
  if (HasValue(st->start_time)) ts -= st->start_time;
  return ff::av_rescale_q(ts, st->time_base, AV_TIME_BASE_Q);
}

int64_t TFrameDecoder::FrameDuration(int AStreamIndex) {
  if (!file_handle_ || AStreamIndex < 0 || AStreamIndex >= StreamCount()) return kDefaultFrameDuration;
  const AVStream* st = file_handle_->streams[AStreamIndex];
  for (AVRational r : {st->avg_frame_rate, st->r_frame_rate}) {
    // At least a microsecond: steps and searches by one picture must move.
    if (r.num > 0 && r.den > 0) return std::max<int64_t>(1000000LL * r.den / r.num, 1);
  }
  return kDefaultFrameDuration;
}

void TFrameDecoder::ReportEOF() {
  eof_ = true;
  Fail(llInfo, kEofText);
}

// ------------------------------------------------------- stream choice

void TFrameDecoder::CheckOwnFile() {
  if (file_handle_ && !own_handle_) {
    const std::string msg = "file cannot be seeked, handle is readonly.";
    Fail(llError, msg);
    throw EEngineError(msg);
  }
}

int TFrameDecoder::SelectStream(int index, int media_type, int& current, int first, const char* kind) {
  if (!FileLoaded()) return -1;
  CheckOwnFile();
  int i = index;
  if (i < 0) {
    i = current >= 0 ? current : first;
    if (i < 0) {
      Fail(llError, FormatText("no %s stream.", kind));
      return -1;
    }
  }
  if (i >= StreamCount()) {
    Fail(llError, FormatText("stream index #%d is invalid.", i));
    return -1;
  }
  if (file_handle_->streams[i]->codecpar->codec_type != media_type) {
    Fail(llError, FormatText("stream #%d is not %s stream.", i, kind));
    return -1;
  }
  return i;
}

int TFrameDecoder::SelectVideo(int index) {
  const int i = SelectStream(index, AVMEDIA_TYPE_VIDEO, decode_index_, FirstVideoStreamIndex(), "video");
  if (i >= 0 && i != decode_index_) {
    DropPicture();
    decode_index_ = i;
  }
  return i;
}

int TFrameDecoder::SelectAudio(int index) {
  const int i = SelectStream(index, AVMEDIA_TYPE_AUDIO, audio_index_, FirstAudioStreamIndex(), "audio");
  if (i >= 0 && i != audio_index_) {
    DropWave();
    resampler_.reset();
    audio_index_ = i;
  }
  return i;
}

bool TFrameDecoder::OpenCodec(TCodecPtr& codec, int& codec_stream, int index, bool video) {
  const AVStream* st = file_handle_->streams[index];
  const AVCodecParameters* par = st->codecpar;
  if (video && (par->width == 0 || par->height == 0)) {
    Fail(llError, "frame size of codec is invalid.");
    return false;
  }
  if (codec && codec_stream == index) return true;
  codec.reset();
  codec_stream = -1;
  if (video) draining_ = false;
  const AVCodec* decoder = ff::avcodec_find_decoder(par->codec_id);
  if (!decoder) {
    Fail(llError, FormatText("Unsupported codec (id=%d) for input file stream #%d", par->codec_id, index));
    return false;
  }
  TCodecPtr ctx(ff::avcodec_alloc_context3(decoder));
  bool opened = ctx && ff::avcodec_parameters_to_context(ctx.get(), par) >= 0;
  if (opened) {
    ctx->pkt_timebase = st->time_base;
    opened = ff::avcodec_open2(ctx.get(), decoder, nullptr) >= 0;
  }
  if (!opened) {
    Fail(llError, FormatText("Error while opening codec for input file stream #%d", index));
    return false;
  }
  codec = std::move(ctx);
  codec_stream = index;
  if (!frame_) frame_.reset(ff::av_frame_alloc());
  if (!packet_) packet_.reset(ff::av_packet_alloc());
  return frame_ && packet_;
}

// ---------------------------------------------------------- reading

int TFrameDecoder::ReadPacketOf(int index) {
  for (;;) {
    const int err = ff::av_read_frame(file_handle_, packet_.get());
    if (err >= 0) {
      if (packet_->stream_index == index) return 1;
      ff::av_packet_unref(packet_.get());
      continue;
    }
    if (err == AVERROR(EAGAIN)) {
      Fail(llInfo, "no data, please try again.");
      return -1;
    }
    const bool at_end = err == AVERROR_EOF || !file_handle_->pb || ff::avio_feof(file_handle_->pb);
    if (!at_end) {
      Fail(llInfo, FormatText("unknown error #%d.", err));
      return -1;
    }
    return 0;
  }
}

// ------------------------------------------------------------ pictures

bool TFrameDecoder::ReceivePicture(int index) {
  if (ff::avcodec_receive_frame(video_codec_.get(), frame_.get()) < 0) return false;
  TFFLogger::Process().Logf(this, llDebug, "pkt.st_idx=%d, dts=%lld, pts=%lld, flags=%d, pict_type=%d", index,
                            static_cast<long long>(frame_->pkt_dts), static_cast<long long>(frame_->pts),
                            frame_->flags, static_cast<int>(frame_->pict_type));
  StorePicture(index);
  ff::av_frame_unref(frame_.get());
  return true;
}

bool TFrameDecoder::Decode(int AStreamIndex) {
  const int index = SelectVideo(AStreamIndex);
  if (index < 0) return false;
  if (picture_.Ready && IsImage2()) return true;
  if (eof_) {
    Fail(llInfo, kEofText);
    return false;
  }
  if (!OpenCodec(video_codec_, video_codec_stream_, index, true)) return false;
  const int64_t position = IoPosition();
  for (;;) {
    if (ReceivePicture(index)) {
      picture_.Position = position;
      return true;
    }
    if (draining_) {  // the decoder has given its last picture
      ReportEOF();
      return false;
    }
    const int read = ReadPacketOf(index);
    if (read < 0) return false;
    if (read == 0) {  // end of file: empty the decoder of its held-back pictures
      ff::avcodec_send_packet(video_codec_.get(), nullptr);
      draining_ = true;
      continue;
    }
    const int err = ff::avcodec_send_packet(video_codec_.get(), packet_.get());
    if (err < 0 && err != AVERROR(EAGAIN)) {
      TFFLogger::Process().Logf(this, llVerbose, "decoding a packet of stream #%d failed: %s", index,
                                ErrorCodeText(err).c_str());
    }
    ff::av_packet_unref(packet_.get());
  }
}

bool TFrameDecoder::DeinterlaceInto(const AVFrame& frame) {
  const auto fmt = static_cast<AVPixelFormat>(frame.format);
  const int size = ff::av_image_get_buffer_size(fmt, frame.width, frame.height, 1);
  if (size > deint_size_) {
    deint_buf_.reset(size > 0 ? static_cast<uint8_t*>(ff::av_malloc(size)) : nullptr);
    deint_size_ = deint_buf_ ? size : 0;
    if (!deint_buf_) {
      TFFLogger::Process().Log(this, llError, "deinterlace buffer malloc error.");
      return false;
    }
  }
  if (!CanBlendRows(fmt)) {
    TFFLogger::Process().Log(this, llError, "deinterlacing failed.");
    return false;
  }
  uint8_t* data[4] = {};
  int linesize[4] = {};
  ff::av_image_fill_arrays(data, linesize, deint_buf_.get(), fmt, frame.width, frame.height, 1);
  ff::av_image_copy(data, linesize, const_cast<const uint8_t**>(frame.data), frame.linesize, fmt, frame.width,
                    frame.height);
  const AVPixFmtDescriptor* d = ff::av_pix_fmt_desc_get(fmt);
  for (int p = 0; p < 4 && data[p]; ++p) {
    const bool chroma = p == 1 || p == 2;
    const int w = chroma ? AV_CEIL_RSHIFT(frame.width, d->log2_chroma_w) : frame.width;
    const int h = chroma ? AV_CEIL_RSHIFT(frame.height, d->log2_chroma_h) : frame.height;
    BlendOddRows(data[p], linesize[p], w, h);
  }
  ff::av_image_copy(picture_.Picture.data, picture_.Picture.linesize, const_cast<const uint8_t**>(data), linesize,
                    fmt, frame.width, frame.height);
  return true;
}

void TFrameDecoder::StorePicture(int index) {
  const AVFrame& f = *frame_;
  const auto fmt = static_cast<AVPixelFormat>(f.format);
  const int size = ff::av_image_get_buffer_size(fmt, f.width, f.height, 1);
  if (size > picture_buf_size_) {
    picture_buf_.reset(static_cast<uint8_t*>(ff::av_malloc(size)));
    picture_buf_size_ = picture_buf_ ? size : 0;
  }
  if (HasValue(picture_.PTS)) last_pts_ = picture_.PTS;
  if (picture_.Position >= 0) last_pos_ = picture_.Position;
  picture_.PixFmt = fmt;
  picture_.Width = f.width;
  picture_.Height = f.height;
  picture_.IsKeyFrame = f.key_frame != 0;
  picture_.PictureType = PictureTypeOf(f.pict_type);
  // The frame's own best guess of its presentation time: with reordered
  // pictures the time of the packet that completed one is not its time.
  int64_t ts = f.best_effort_timestamp;
  if (!HasValue(ts)) ts = f.pts;
  if (!HasValue(ts)) ts = f.pkt_dts;
  picture_.PTS = ToMicroseconds(ts, index);
  if (HasValue(picture_.PTS)) {
    TFFLogger::Process().Logf(this, llDebug, "decode PTS: %0.3f", picture_.PTS / 1000000.0);
  }
  picture_.OriginalDTS = f.pkt_dts;
  picture_.OriginalPTS = f.pts;
  picture_.StreamIndex = index;
  picture_.Buffer = picture_buf_.get();
  picture_.Size = picture_buf_size_;
  picture_.Picture = TPicture{};
  if (!picture_buf_) {
    picture_.Ready = false;
    return;
  }
  ff::av_image_fill_arrays(picture_.Picture.data, picture_.Picture.linesize, picture_buf_.get(), fmt, f.width,
                           f.height, 1);
  if (deinterlace_ && !DeinterlaceInto(f)) deinterlace_ = false;
  if (!deinterlace_) {
    ff::av_image_copy(picture_.Picture.data, picture_.Picture.linesize, const_cast<const uint8_t**>(f.data),
                      f.linesize, fmt, f.width, f.height);
  }
  picture_.Ready = true;
}

// ------------------------------------------------------------- seeking

bool TFrameDecoder::Seek(int64_t APTS, TSeekFlags ASeekFlags) {
  if (!FileLoaded()) return false;
  CheckOwnFile();
  if (IsImage2()) {
    Fail(llInfo, "\"image2\" format cannot to be seeked.");
    return false;
  }
  if (file_handle_->pb) {
    TFFLogger::Process().Logf(this, llDebug, "current position %lld bytes",
                              static_cast<long long>(IoPosition()));
  }
  const bool by_byte = (ASeekFlags & AVSEEK_FLAG_BYTE) != 0;
  int64_t target = std::max<int64_t>(APTS, 0);
  if (!by_byte) {
    if (seek_index_ >= 0) {
      target = ff::av_rescale_q(target, AV_TIME_BASE_Q, file_handle_->streams[seek_index_]->time_base);
    }
    if (start_time_ > 0) target += start_time_;
  }
  if (video_codec_) ff::avcodec_flush_buffers(video_codec_.get());
  if (audio_codec_) ff::avcodec_flush_buffers(audio_codec_.get());
  eof_ = false;
  draining_ = false;
  DropPicture();
  DropWave();

  int err;
  if (APTS > 0) {
    err = ff::av_seek_frame(file_handle_, seek_index_, target, ASeekFlags);
  } else {
    err = ff::av_seek_frame(file_handle_, seek_index_, target, ASeekFlags | AVSEEK_FLAG_BACKWARD);
    if (err < 0) err = ff::av_seek_frame(file_handle_, seek_index_, APTS, ASeekFlags & ~AVSEEK_FLAG_BACKWARD);
  }
  if (err < 0) {
    Fail(llError, by_byte ? FormatText("could not seek to position %lld bytes", static_cast<long long>(APTS))
                          : FormatText("could not seek to position %0.3f seconds", APTS / 1000000.0));
    return false;
  }
  TFFLogger::Process().Logf(this, llDebug, "seek to position %lld bytes", static_cast<long long>(IoPosition()));
  if (file_handle_->pb && ff::avio_feof(file_handle_->pb)) {
    ReportEOF();
    return false;
  }
  return true;
}

bool TFrameDecoder::DecodeNextKeyFrame(int AStreamIndex) {
  const int index = SelectVideo(AStreamIndex);
  if (index < 0) return false;
  const int64_t duration = FrameDuration(index);
  const int64_t target = picture_.PTS > 0 ? picture_.PTS + duration : duration;
  return Seek(target, 0) && Decode(index);
}

bool TFrameDecoder::DecodePreviousKeyFrame(int AStreamIndex) {
  const int index = SelectVideo(AStreamIndex);
  if (index < 0) return false;
  int64_t reference = 0;
  if (HasValue(picture_.PTS)) {
    reference = picture_.PTS;
  } else if (HasValue(last_pts_)) {
    reference = last_pts_;
  } else if (HasValue(file_handle_->duration)) {
    reference = file_handle_->duration;
  }
  const int64_t duration = FrameDuration(index);
  // Every target from one picture back to one before the start is tried once
  // at most, whatever the seeks and decodes answer. Each landing is decoded:
  // the byte position after a seek says nothing for demuxers that read
  // through an index (mp4), so it cannot tell that a seek stayed in place.
  for (int64_t h = 1;; ++h) {
    const int64_t back = h * duration;
    if (Seek(reference - back, AVSEEK_FLAG_BACKWARD) && Decode(index) &&
        (picture_.PTS < reference || picture_.PTS <= 0)) {
      return true;
    }
    if (back > reference) break;
  }
  Fail(llError, "Could not seek to the previous key-frame. " + LastErrMsg());
  return false;
}

bool TFrameDecoder::DecodePreviousFrame(int AStreamIndex) {
  const int index = SelectVideo(AStreamIndex);
  if (index < 0) return false;
  int64_t current = 0;
  if (HasValue(picture_.PTS)) {
    current = picture_.PTS;
  } else if (HasValue(last_pts_)) {
    current = last_pts_;
  }
  const int64_t target = current - 2 * FrameDuration(index);
  if (!DecodePreviousKeyFrame(index)) return false;
  while (!(HasValue(picture_.PTS) && picture_.PTS > target)) {
    if (!Decode(index)) return false;
  }
  return true;
}

// ------------------------------------------------------------- bitmaps

bool TFrameDecoder::CopyToBitmap(TBitmap& ABitmap) {
  if (!picture_.Ready) {
    Fail(llError, "picture not ready, please decode first");
    return false;
  }
  if (converter_.PictureToRGB(picture_.Picture, picture_.PixFmt, true, picture_.Height, picture_.Width)) {
    ABitmap = converter_.Bitmap();
    return true;
  }
  ABitmap.SetPixelFormat(converter_.BMPPixFmt());
  ABitmap.SetSize(picture_.Width, picture_.Height);
  std::fill_n(ABitmap.Pixels(), static_cast<size_t>(ABitmap.Stride()) * ABitmap.Height(), uint8_t{0});
  Fail(llError, converter_.LastErrMsg());
  return false;
}

const TDIB* TFrameDecoder::GetBitmapPtr() {
  if (!picture_.Ready) {
    Fail(llError, "picture not ready, please decode first");
    return nullptr;
  }
  if (!converter_.PictureToRGB(picture_.Picture, picture_.PixFmt, false, picture_.Height, picture_.Width)) {
    Fail(llError, converter_.LastErrMsg());
    return nullptr;
  }
  return &converter_.DIB();
}

// --------------------------------------------------------------- audio

bool TFrameDecoder::EnsureResampler(const AVFrame& frame) {
  const int in_channels = frame.ch_layout.nb_channels;
  if (resampler_ && resampler_in_rate_ == frame.sample_rate && resampler_in_format_ == frame.format &&
      resampler_in_channels_ == in_channels) {
    return true;
  }
  resampler_.reset();
  AVChannelLayout out_layout{};
  ff::av_channel_layout_default(&out_layout, desire_channels_);
  SwrContext* swr = nullptr;
  const int err = ff::swr_alloc_set_opts2(&swr, &out_layout, AV_SAMPLE_FMT_S16, desire_rate_, const_cast<AVChannelLayout*>(&frame.ch_layout),
                                          static_cast<AVSampleFormat>(frame.format), frame.sample_rate, 0, nullptr);
  ff::av_channel_layout_uninit(&out_layout);
  resampler_.reset(swr);
  if (err < 0 || !swr || ff::swr_init(swr) < 0) {
    resampler_.reset();
    Fail(llError, FormatText("Can not resample %d channels @ %d Hz to %d channels @ %d Hz", in_channels,
                             frame.sample_rate, desire_channels_, desire_rate_));
    return false;
  }
  resampler_in_rate_ = frame.sample_rate;
  resampler_in_format_ = frame.format;
  resampler_in_channels_ = in_channels;
  if (in_channels != desire_channels_ || frame.sample_rate != desire_rate_) {
    TFFLogger::Process().Logf(this, llInfo, "need resample %d channels @ %d Hz to %d channels @ %d Hz", in_channels,
                              frame.sample_rate, desire_channels_, desire_rate_);
  } else if (frame.format != AV_SAMPLE_FMT_S16) {
    const char* name = ff::av_get_sample_fmt_name(static_cast<AVSampleFormat>(frame.format));
    TFFLogger::Process().Logf(this, llInfo, "need convert %s sample format to %s sample format", name ? name : "?",
                              "s16");
  }
  return true;
}

// Appends the samples of frame_ (or, with no frame, what the resampler
// still holds) to the block.
bool TFrameDecoder::StoreAudio(int index) {
  const AVFrame* in = frame_->nb_samples > 0 ? frame_.get() : nullptr;
  if (in && !EnsureResampler(*in)) return false;
  if (!resampler_) return true;
  const int bytes_per_frame = 2 * desire_channels_;
  const int64_t out_samples = ff::swr_get_out_samples(resampler_.get(), in ? in->nb_samples : 0);
  const int64_t needed = static_cast<int64_t>(wave_.Size) + out_samples * bytes_per_frame;
  if (out_samples < 0 || needed > INT_MAX) {
    Fail(llError, "Buffer sizes too large in DecodeAudio");
    return false;
  }
  if (needed > audio_buf_size_) {
    TBytes grown(static_cast<uint8_t*>(ff::av_malloc(needed)));
    if (!grown) {
      Fail(llError, "Out of memory in DecodeAudio");
      return false;
    }
    if (wave_.Size > 0) std::memcpy(grown.get(), audio_buf_.get(), wave_.Size);
    audio_buf_ = std::move(grown);
    audio_buf_size_ = static_cast<int>(needed);
  }
  uint8_t* out = audio_buf_.get() + wave_.Size;
  const int got = ff::swr_convert(resampler_.get(), &out, static_cast<int>(out_samples),
                                  in ? const_cast<const uint8_t**>(in->extended_data) : nullptr,
                                  in ? in->nb_samples : 0);
  if (got < 0) {
    Fail(llError, "audio conversion failed");
    return false;
  }
  if (in && wave_.Size == 0) {
    int64_t ts = in->best_effort_timestamp;
    if (!HasValue(ts)) ts = in->pkt_dts;
    if (!HasValue(ts)) ts = in->pts;
    wave_.PTS = ToMicroseconds(ts, index);
    wave_.OriginalDTS = in->pkt_dts;
    wave_.OriginalPTS = in->pts;
  }
  wave_.Size += got * bytes_per_frame;
  return true;
}

bool TFrameDecoder::DecodeAudio(int AStreamIndex) {
  const int index = SelectAudio(AStreamIndex);
  if (index < 0) return false;
  if (eof_) {
    Fail(llInfo, kEofText);
    return false;
  }
  if (!OpenCodec(audio_codec_, audio_codec_stream_, index, false)) return false;
  last_pts_ = AV_NOPTS_VALUE;
  last_pos_ = -1;
  DropWave();
  wave_.PTS = wave_.OriginalDTS = wave_.OriginalPTS = AV_NOPTS_VALUE;
  bool at_end = false;
  while (wave_.Size == 0) {
    int err;
    while ((err = ff::avcodec_receive_frame(audio_codec_.get(), frame_.get())) >= 0) {
      const bool stored = StoreAudio(index);
      ff::av_frame_unref(frame_.get());
      if (!stored) return false;
    }
    if (wave_.Size > 0) break;
    if (at_end) {  // the decoder is empty: flush what the resampler still holds
      frame_->nb_samples = 0;
      if (!StoreAudio(index)) return false;
      if (wave_.Size > 0) break;
      ReportEOF();
      return false;
    }
    const int read = ReadPacketOf(index);
    if (read < 0) return false;
    if (read == 0) {
      ff::avcodec_send_packet(audio_codec_.get(), nullptr);
      at_end = true;
      continue;
    }
    TFFLogger::Process().Logf(this, llDebug, "pkt.st_idx=%d, dts=%lld, pts=%lld, flags=%d, samples data size=%d",
                              index, static_cast<long long>(packet_->dts), static_cast<long long>(packet_->pts),
                              packet_->flags, packet_->size);
    ff::avcodec_send_packet(audio_codec_.get(), packet_.get());  // a bad packet is skipped
    ff::av_packet_unref(packet_.get());
  }
  wave_.Channels = desire_channels_;
  wave_.SampleRate = desire_rate_;
  wave_.SampleFormat = AV_SAMPLE_FMT_S16;
  wave_.BytesPerSample = 2;
  wave_.BytesPerSecond = wave_.BytesPerSample * desire_rate_ * desire_channels_;
  wave_.StreamIndex = index;
  wave_.Buffer = audio_buf_.get();
  wave_.Duration = (1000000LL / wave_.BytesPerSample) * wave_.Size / (static_cast<int64_t>(desire_rate_) * desire_channels_);
  wave_.Ready = true;
  if (HasValue(wave_.PTS)) TFFLogger::Process().Logf(this, llDebug, "decode PTS: %0.3f", wave_.PTS / 1000000.0);
  return true;
}

int TFrameDecoder::ReadAudio(uint8_t* ABuffer, int ACount, int AStreamIndex) {
  if (remains_audio_ <= 0) {
    if (!DecodeAudio(AStreamIndex)) return -1;
    remains_audio_ = wave_.Size;
  }
  const int count = std::min(std::max(ACount, 0), remains_audio_);
  if (ABuffer) {
    std::memcpy(ABuffer, wave_.Buffer + (wave_.Size - remains_audio_), count);
    remains_audio_ -= count;
  }
  return count;
}

}  // namespace vidmill
