#include "probe/ff_decode.h"

#include <chrono>
#include <cstdlib>

#include "core/engine_error.h"
#include "core/entry_points.h"
#include "core/ff_log.h"
#include "core/ff_utils.h"
#include "core/interrupt_cb.h"
#include "core/unicode_protocol.h"
#include "probe/file_info_text.h"

namespace vidmill {
namespace {

const char* Tag(const AVDictionary* dict, const char* key) {
  const AVDictionaryEntry* e = ff::av_dict_get(dict, key, nullptr, 0);
  return e ? e->value : nullptr;
}

std::string TagText(const AVDictionary* dict, const char* key) {
  const char* v = Tag(dict, key);
  return v ? v : "";
}

int TagNumber(const AVDictionary* dict, const char* key) {
  const char* v = Tag(dict, key);
  return v ? std::atoi(v) : 0;
}

// The "creation_time" tag as seconds since 1970; 0 when absent or unreadable.
int64_t CreationTime(const AVDictionary* dict) {
  const char* v = Tag(dict, "creation_time");
  int64_t us = 0;
  if (!v || ff::av_parse_time(&us, v, 0) < 0 || us <= 0) return 0;
  return us / 1000000;
}

void FillCommon(TMediaStreamInfo& info, const AVStream* st) {
  info.Language = TagText(st->metadata, "language");
  info.CodecName = CodecDescription(st->codecpar);
  info.StartTime = st->start_time;
  info.StartTimeScaled = ScaledToMicroseconds(st->start_time, st->time_base);
  info.Duration = st->duration;
  info.DurationScaled = ScaledToMicroseconds(st->duration, st->time_base);
  info.BitRate = st->codecpar->bit_rate;
}

}  // namespace

TCustomDecoder::TCustomDecoder() { UpdateFileInfo(); }

TCustomDecoder::~TCustomDecoder() {
  // Not virtual dispatch here: a derived decoder has gone already.
  if (file_handle_ && own_handle_) CloseInput(&file_handle_);
  file_handle_ = nullptr;
}

bool TCustomDecoder::LoadAVLib(const std::string& APath) {
  TFFLoader& loader = TFFLoader::Instance();
  loader.SetLibraryPath(APath);
  if (loader.Load(kDecoderLibraries)) return true;
  last_err_msg_ = loader.LastErrMsg();
  return false;
}

bool TCustomDecoder::AVLibLoaded() const { return TFFLoader::Instance().Loaded(kDecoderLibraries); }

void TCustomDecoder::UnloadAVLib() {
  CloseFile();
  TFFLoader::Instance().Unload(kDecoderLibraries);
}

void TCustomDecoder::CheckLibraries() const {
  for (TLibrary lib : {avCodec, avFormat, avUtil, swScale}) {
    if (!TFFLoader::Instance().Loaded(lib)) throw EEngineError(NotLoadedText(lib));
  }
}

void TCustomDecoder::Fail(TLogLevel level, const std::string& msg) {
  last_err_msg_ = msg;
  TFFLogger::Process().Log(this, level, msg);
}

bool TCustomDecoder::FileLoaded() {
  if (file_handle_) return true;
  Fail(llWarning, "file not loaded.");
  return false;
}

bool TCustomDecoder::LoadFile(const std::string& AFileName, const std::string& AFormatName) {
  CheckLibraries();
  CloseFile();
  const AVInputFormat* format = nullptr;
  if (!AFormatName.empty()) {
    format = ff::av_find_input_format(AFormatName.c_str());
    if (!format) {
      last_err_msg_ = "Unknown input format: " + AFormatName;
      return false;
    }
  }
  AVFormatContext* ctx = ff::avformat_alloc_context();
  if (!ctx) {
    Fail(llError, ErrorText(AFileName, AVERROR(ENOMEM)));
    return false;
  }
  ctx->flags |= AVFMT_FLAG_NONBLOCK;

  // Gives up when Abort() is called or the time-out passes.
  abort_ = false;
  bool timed_out = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(load_timeout_ms_);
  TInterruptScope interruptible(this, [&] {
    if (abort_) return true;
    if (load_timeout_ms_ > 0 && std::chrono::steady_clock::now() >= deadline) timed_out = true;
    return timed_out;
  });

  const int err = OpenInput(&ctx, AFileName, format, nullptr);
  if (err < 0) {  // the context is gone already
    Fail(llError, timed_out ? AFileName + ": Timed out" : ErrorText(AFileName, err));
    return false;
  }
  if (ff::avformat_find_stream_info(ctx, nullptr) < 0) {
    CloseInput(&ctx);
    last_err_msg_ = timed_out ? AFileName + ": Timed out" : AFileName + ": could not find codec parameters";
    return false;
  }
  file_handle_ = ctx;
  own_handle_ = true;
  UpdateFileInfo();
  force_format_ = AFormatName;
  return true;
}

void TCustomDecoder::CloseFile() {
  force_format_.clear();
  if (file_handle_ && own_handle_) CloseInput(&file_handle_);
  file_handle_ = nullptr;
  own_handle_ = false;
  UpdateFileInfo();
}

void TCustomDecoder::SetFileHandle(AVFormatContext* ctx) {
  CheckLibraries();
  if (ctx == file_handle_) return;
  CloseFile();
  file_handle_ = ctx;
  own_handle_ = false;
  UpdateFileInfo();
}

void TCustomDecoder::UpdateFileInfo() {
  file_size_ = -1;
  stream_count_ = program_count_ = -1;
  audio_stream_count_ = video_stream_count_ = subtitle_stream_count_ = -1;
  first_audio_stream_index_ = first_video_stream_index_ = first_subtitle_stream_index_ = -1;
  if (!file_handle_) return;

  const int64_t io_size = file_handle_->pb ? ff::avio_size(file_handle_->pb) : -1;
  file_size_ = io_size > 0 ? io_size : FileSizeOf(FileName());
  stream_count_ = static_cast<int>(file_handle_->nb_streams);
  program_count_ = static_cast<int>(file_handle_->nb_programs);
  audio_stream_count_ = video_stream_count_ = subtitle_stream_count_ = 0;
  for (int i = 0; i < stream_count_; ++i) {
    switch (file_handle_->streams[i]->codecpar->codec_type) {
      case AVMEDIA_TYPE_VIDEO:
        if (video_stream_count_++ == 0) first_video_stream_index_ = i;
        break;
      case AVMEDIA_TYPE_AUDIO:
        if (audio_stream_count_++ == 0) first_audio_stream_index_ = i;
        break;
      case AVMEDIA_TYPE_SUBTITLE:
        if (subtitle_stream_count_++ == 0) first_subtitle_stream_index_ = i;
        break;
      default: break;
    }
  }
}

std::string TCustomDecoder::FileName() const {
  return file_handle_ && file_handle_->url ? FromLibraryForm(file_handle_->url) : std::string();
}

std::string TCustomDecoder::FormatName() const {
  return file_handle_ && file_handle_->iformat ? file_handle_->iformat->name : "";
}

std::string TCustomDecoder::FormatLongName() const {
  return file_handle_ && file_handle_->iformat && file_handle_->iformat->long_name
             ? file_handle_->iformat->long_name
             : "";
}

bool TCustomDecoder::IsStreamOf(int index, int media_type) {
  if (!FileLoaded()) return false;
  if (index < 0 || index >= stream_count_) {
    Fail(llError, "stream index #" + std::to_string(index) + " is invalid.");
    return false;
  }
  return file_handle_->streams[index]->codecpar->codec_type == media_type;
}

bool TCustomDecoder::IsAudioStream(int i) { return IsStreamOf(i, AVMEDIA_TYPE_AUDIO); }
bool TCustomDecoder::IsVideoStream(int i) { return IsStreamOf(i, AVMEDIA_TYPE_VIDEO); }
bool TCustomDecoder::IsSubtitleStream(int i) { return IsStreamOf(i, AVMEDIA_TYPE_SUBTITLE); }

TFileStreamInfo TCustomDecoder::FileStreamInfo() {
  TFileStreamInfo info;
  if (!FileLoaded()) return info;
  const AVFormatContext* c = file_handle_;
  info.StartTime = c->start_time == AV_NOPTS_VALUE ? -1 : c->start_time;
  info.Duration = c->duration == AV_NOPTS_VALUE ? -1 : c->duration;
  info.BitRate = c->bit_rate;
  info.TimeStamp = CreationTime(c->metadata);
  info.Year = Tag(c->metadata, "date") ? TagNumber(c->metadata, "date") : TagNumber(c->metadata, "year");
  info.Track = TagNumber(c->metadata, "track");
  info.Title = TagText(c->metadata, "title");
  info.Author = Tag(c->metadata, "author") ? TagText(c->metadata, "author") : TagText(c->metadata, "artist");
  info.Copyright = TagText(c->metadata, "copyright");
  info.Comment = TagText(c->metadata, "comment");
  info.Album = TagText(c->metadata, "album");
  info.Genre = TagText(c->metadata, "genre");
  return info;
}

const AVStream* TCustomDecoder::StreamFor(int index, int media_type, const char* kind) {
  if (!FileLoaded()) return nullptr;
  if (index < 0) {
    index = media_type == AVMEDIA_TYPE_AUDIO   ? first_audio_stream_index_
            : media_type == AVMEDIA_TYPE_VIDEO ? first_video_stream_index_
                                               : first_subtitle_stream_index_;
    if (index < 0) {
      Fail(llError, std::string("no ") + kind + " stream.");
      return nullptr;
    }
  } else if (index >= stream_count_) {
    Fail(llError, "stream index #" + std::to_string(index) + " is invalid.");
    return nullptr;
  }
  const AVStream* st = file_handle_->streams[index];
  if (st->codecpar->codec_type != media_type) {
    Fail(llError, "stream #" + std::to_string(index) + " is not " + kind + " stream.");
    return nullptr;
  }
  return st;
}

TAudioStreamInfo TCustomDecoder::AudioStreamInfos(int AStreamIndex) {
  TAudioStreamInfo info;
  const AVStream* st = StreamFor(AStreamIndex, AVMEDIA_TYPE_AUDIO, "audio");
  if (!st) return info;
  FillCommon(info, st);
  info.Channels = st->codecpar->ch_layout.nb_channels;
  info.SampleRate = st->codecpar->sample_rate;
  info.SampleFormat = st->codecpar->format;
  return info;
}

TVideoStreamInfo TCustomDecoder::VideoStreamInfos(int AStreamIndex) {
  TVideoStreamInfo info;
  const AVStream* st = StreamFor(AStreamIndex, AVMEDIA_TYPE_VIDEO, "video");
  if (!st) return info;
  FillCommon(info, st);
  const AVCodecParameters* par = st->codecpar;
  info.Height = par->height;
  info.Width = par->width;
  info.PixFmt = par->format;
  const AVRational sar = par->sample_aspect_ratio;
  info.AspectRatio = (par->height > 0 && sar.den != 0)
                         ? static_cast<float>(par->width * av_q2d(sar) / par->height)
                         : 0.0f;
  const bool avg_known = st->avg_frame_rate.num != 0 && st->avg_frame_rate.den != 0;
  info.FrameRate = avg_known ? st->avg_frame_rate : st->r_frame_rate;
  return info;
}

TSubtitleStreamInfo TCustomDecoder::SubtitleStreamInfos(int AStreamIndex) {
  TSubtitleStreamInfo info;
  const AVStream* st = StreamFor(AStreamIndex, AVMEDIA_TYPE_SUBTITLE, "subtitle");
  if (!st) return info;
  info.Language = TagText(st->metadata, "language");
  info.CodecName = CodecDescription(st->codecpar);
  return info;
}

std::string TCustomDecoder::FileInfoText() {
  if (!FileLoaded()) return {};
  return BuildFileInfoText(file_handle_, FileName(), file_size_, FileStreamInfo());
}

}  // namespace vidmill
