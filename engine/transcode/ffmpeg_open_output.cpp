// Opening an output file: muxer, streams, the file itself, and the join
// set-up that writes several inputs into one output.
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "core/entry_points.h"
#include "core/ff_log.h"
#include "core/interrupt_cb.h"
#include "custom_ffmpeg.h"
#include "ffmpeg_exception.h"
#include "io_guard.h"
#include "output_files.h"

namespace vidmill {

namespace {

bool MuxerKnows(const AVOutputFormat* fmt, const char* name) {
  return fmt->priv_class && ff::av_opt_find(const_cast<AVClass**>(&fmt->priv_class), name, nullptr, 0,
                                            AV_OPT_SEARCH_FAKE_OBJ) != nullptr;
}

// Sample aspect ratio of a display aspect ratio for a picture size (numerator
// and denominator at most 255).
AVRational SampleAspect(float aspect, int width, int height) {
  const double value = width && height ? aspect * height / static_cast<double>(width) : aspect * 3.0 / 4.0;
  if (value <= 0) return AVRational{0, 1};
  return ff::av_d2q(value, 255);
}

bool Listed(const AVPixelFormat* list, AVPixelFormat f) {
  for (; *list != AV_PIX_FMT_NONE; ++list) {
    if (*list == f) return true;
  }
  return false;
}

void ParseRcOverride(AVCodecContext* enc, const std::string& text) {
  std::vector<RcOverride> entries;
  const char* p = text.c_str();
  while (*p) {
    RcOverride e{};
    int start = 0, end = 0, q = 0;
    if (std::sscanf(p, "%d,%d,%d", &start, &end, &q) != 3) throw FFmpegException("error parsing rc_override");
    e.start_frame = start;
    e.end_frame = end;
    if (q > 0) {
      e.qscale = q;
      e.quality_factor = 1.0f;
    } else {
      e.qscale = 0;
      e.quality_factor = -q / 100.0f;
    }
    entries.push_back(e);
    p = std::strchr(p, '/');
    if (!p) break;
    ++p;
  }
  if (entries.empty()) return;
  enc->rc_override = static_cast<RcOverride*>(ff::av_malloc(sizeof(RcOverride) * entries.size()));
  if (!enc->rc_override) throw FFmpegException("Could not alloc buffer.");
  std::copy(entries.begin(), entries.end(), enc->rc_override);
  enc->rc_override_count = static_cast<int>(entries.size());
}

uint16_t* CopyMatrix(const std::vector<uint16_t>& m) {
  if (m.size() != 64) return nullptr;
  auto* out = static_cast<uint16_t*>(ff::av_malloc(64 * sizeof(uint16_t)));
  if (out) std::copy(m.begin(), m.end(), out);
  return out;
}

}  // namespace

// ---- Stream creation --------------------------------------------------------

void TCustomFFmpeg::AttachBitstreamFilters(TAVOutputStream* ost, std::vector<std::string>* pending) {
  ost->bitstream_filter_names = std::move(*pending);
  pending->clear();
}

TAVOutputStream* TCustomFFmpeg::NewOutputStream(TOutputFileEntry* file, AVMediaType type,
                                                const AVCodec** codec) {
  AVFormatContext* oc = file->out->ctx;
  const int number = static_cast<int>(oc->nb_streams);
  AVStream* st = ff::avformat_new_stream(oc, nullptr);
  if (!st) throw FFmpegException("Could not alloc stream");
  if (static_cast<size_t>(number) < opt_.streamid_map.size() && opt_.streamid_map[number])
    st->id = opt_.streamid_map[number];
  auto ost = std::make_unique<TAVOutputStream>();
  ost->file_index = static_cast<int>(file - output_files_.data());
  ost->index = st->index;
  ost->st = st;
  const bool copy = type == AVMEDIA_TYPE_VIDEO   ? opt_.video_stream_copy
                    : type == AVMEDIA_TYPE_AUDIO ? opt_.audio_stream_copy
                                                 : opt_.subtitle_stream_copy;
  const std::string& name = type == AVMEDIA_TYPE_VIDEO   ? opt_.video_codec_name
                            : type == AVMEDIA_TYPE_AUDIO ? opt_.audio_codec_name
                                                         : opt_.subtitle_codec_name;
  *codec = nullptr;
  AVCodecID id = AV_CODEC_ID_NONE;
  if (!copy) {
    if (!FindCodec(name, type, true, codec)) throw FFmpegException(last_err_msg_);
    if (!*codec) {
      id = ff::av_guess_codec(oc->oformat, nullptr, file->out->file_name.c_str(), nullptr, type);
      *codec = ff::avcodec_find_encoder(id);
    }
    if (*codec) id = (*codec)->id;
  }
  ost->codec = *codec;
  ost->stream_copy = copy;
  ost->enc = MakeCodecContext(*codec);
  if (!ost->enc) throw FFmpegException("Could not alloc output stream");
  AVCodecContext* enc = ost->enc.get();
  enc->codec_type = type;
  enc->codec_id = id;
  enc->thread_count = opt_.thread_count;
  const uint32_t tag = type == AVMEDIA_TYPE_VIDEO   ? opt_.video_codec_tag
                       : type == AVMEDIA_TYPE_AUDIO ? opt_.audio_codec_tag
                                                    : opt_.subtitle_codec_tag;
  if (tag) enc->codec_tag = tag;
  const bool wants_global = oc->oformat->flags & AVFMT_GLOBALHEADER;
  if (type == AVMEDIA_TYPE_VIDEO) {
    if ((opt_.video_global_header & 1) || (opt_.video_global_header == 0 && wants_global))
      enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (opt_.video_global_header & 2) enc->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
  } else if (wants_global) {
    enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  }
  if (!copy) {
    AVDictionary* priv = nullptr;
    store_->ApplyToCodec(enc, type, OptionFlagsOf(type) | AV_OPT_FLAG_ENCODING_PARAM, *codec, &priv);
    ost->encoder_options.reset(priv);
  }
  file->streams.push_back(std::move(ost));
  return file->streams.back().get();
}

void TCustomFFmpeg::ChoosePixelFormat(AVCodecContext* enc, const AVCodec* codec) {
  if (!codec || !codec->pix_fmts) return;
  const AVPixelFormat* list = codec->pix_fmts;
  static const AVPixelFormat kMjpeg[] = {AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVJ422P, AV_PIX_FMT_YUV420P,
                                         AV_PIX_FMT_YUV422P, AV_PIX_FMT_NONE};
  static const AVPixelFormat kLjpeg[] = {AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVJ422P, AV_PIX_FMT_YUVJ444P,
                                         AV_PIX_FMT_YUV420P,  AV_PIX_FMT_YUV422P,  AV_PIX_FMT_YUV444P,
                                         AV_PIX_FMT_BGRA,     AV_PIX_FMT_NONE};
  if (enc->strict_std_compliance <= FF_COMPLIANCE_UNOFFICIAL) {
    if (codec->id == AV_CODEC_ID_MJPEG) list = kMjpeg;
    if (codec->id == AV_CODEC_ID_LJPEG) list = kLjpeg;
  }
  if (!Listed(list, enc->pix_fmt)) enc->pix_fmt = list[0];
}

void TCustomFFmpeg::ChooseSampleFormat(AVCodecContext* enc, const AVCodec* codec) {
  if (!codec || !codec->sample_fmts) return;
  for (const AVSampleFormat* f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f) {
    if (*f == enc->sample_fmt) return;
  }
  enc->sample_fmt = codec->sample_fmts[0];
}

void TCustomFFmpeg::ChooseSampleRate(AVCodecContext* enc, const AVCodec* codec) {
  if (!codec || !codec->supported_samplerates) return;
  int best = 0;
  int best_dist = INT32_MAX;
  for (const int* r = codec->supported_samplerates; *r; ++r) {
    const int dist = std::abs(enc->sample_rate - *r);
    if (dist < best_dist) {
      best_dist = dist;
      best = *r;
    }
  }
  if (best_dist) Logf(llWarning, "Requested sampling rate unsupported using closest supported (%d)", best);
  enc->sample_rate = best;
}

void TCustomFFmpeg::ResetVideoState() {
  opt_.video_disable = false;
  opt_.video_codec_name.clear();
  opt_.forced_key_frames.clear();
  opt_.video_stream_copy = false;
  opt_.frame_pix_fmt = AV_PIX_FMT_NONE;
}

void TCustomFFmpeg::ResetAudioState() {
  opt_.audio_disable = false;
  opt_.audio_codec_name.clear();
  opt_.audio_stream_copy = false;
}

void TCustomFFmpeg::ResetSubtitleState() {
  opt_.subtitle_disable = false;
  opt_.subtitle_codec_name.clear();
  opt_.subtitle_stream_copy = false;
}

void TCustomFFmpeg::NewVideoStream(TOutputFileEntry* file) {
  const AVCodec* codec = nullptr;
  TAVOutputStream* ost = NewOutputStream(file, AVMEDIA_TYPE_VIDEO, &codec);
  AttachBitstreamFilters(ost, &opt_.video_bitstream_filters);
  AVCodecContext* enc = ost->enc.get();
  AVStream* st = ost->st;
  const TOptionState& o = opt_;
  if (ost->stream_copy) {
    st->sample_aspect_ratio = SampleAspect(o.frame_aspect_ratio, o.frame_width, o.frame_height);
  } else {
    AVRational rate = o.frame_rate.num > 0 && o.frame_rate.den > 0 ? o.frame_rate : AVRational{25, 1};
    if (codec && codec->supported_framerates && !o.force_fps)
      rate = codec->supported_framerates[ff::av_find_nearest_q_idx(rate, codec->supported_framerates)];
    enc->framerate = rate;
    enc->time_base = av_inv_q(rate);
    st->time_base = enc->time_base;
    enc->width = o.frame_width;
    enc->height = o.frame_height;
    enc->sample_aspect_ratio = st->sample_aspect_ratio =
        SampleAspect(o.frame_aspect_ratio, o.frame_width, o.frame_height);
    enc->pix_fmt = o.frame_pix_fmt;
    ChoosePixelFormat(enc, codec);
    if (!enable_filter_ && enc->width > 0 && enc->height > 0 && enc->pix_fmt != AV_PIX_FMT_NONE) {
      const AVPixFmtDescriptor* d = ff::av_pix_fmt_desc_get(enc->pix_fmt);
      const int wstep = 1 << d->log2_chroma_w, hstep = 1 << d->log2_chroma_h;
      if (enc->width % wstep || enc->height % hstep)
        RaiseFmt("Frame size %dx%d is not possible for pixel format %s: width must be a multiple of %d and height of %d",
                 enc->width, enc->height, d->name, wstep, hstep);
    }
    if (o.intra_only) enc->gop_size = 0;
    if (o.video_qscale != 0 || o.same_quality) {
      enc->flags |= AV_CODEC_FLAG_QSCALE;
      enc->global_quality = static_cast<int>(FF_QP2LAMBDA * o.video_qscale);
    }
    if (!o.intra_matrix.empty()) enc->intra_matrix = CopyMatrix(o.intra_matrix);
    if (!o.inter_matrix.empty()) enc->inter_matrix = CopyMatrix(o.inter_matrix);
    if (!o.rc_override.empty()) ParseRcOverride(enc, o.rc_override);
    if (enc->rc_initial_buffer_occupancy == 0)
      enc->rc_initial_buffer_occupancy = enc->rc_buffer_size * 3 / 4;
    enc->intra_dc_precision = o.intra_dc_precision - 8;
    if (o.do_psnr) enc->flags |= AV_CODEC_FLAG_PSNR;
    if (o.do_pass == 1) enc->flags |= AV_CODEC_FLAG_PASS1;
    if (o.do_pass == 2) enc->flags |= AV_CODEC_FLAG_PASS2;
    if (!o.forced_key_frames.empty()) {
      // Checked now so that a bad time fails the add call; converted at set-up.
      std::string rest = o.forced_key_frames;
      while (!rest.empty()) {
        const std::string t = Split(rest, ",", true);
        int64_t us = 0;
        if (ff::av_parse_time(&us, t.c_str(), 1) < 0)
          RaiseFmt("Invalid %s specification for %s: %s", "duration", "forced key frames", t.c_str());
      }
      ost->forced_key_frames = o.forced_key_frames;
    }
  }
  if (!o.video_language.empty()) ff::av_dict_set(&st->metadata, "language", o.video_language.c_str(), 0);
  opt_.video_language.clear();
  ResetVideoState();
}

void TCustomFFmpeg::NewAudioStream(TOutputFileEntry* file) {
  const AVCodec* codec = nullptr;
  TAVOutputStream* ost = NewOutputStream(file, AVMEDIA_TYPE_AUDIO, &codec);
  AttachBitstreamFilters(ost, &opt_.audio_bitstream_filters);
  AVCodecContext* enc = ost->enc.get();
  const TOptionState& o = opt_;
  ff::av_channel_layout_uninit(&enc->ch_layout);
  if (o.audio_channel_mask && __builtin_popcountll(o.audio_channel_mask) == o.audio_channels)
    ff::av_channel_layout_from_mask(&enc->ch_layout, o.audio_channel_mask);
  else
    ff::av_channel_layout_default(&enc->ch_layout, o.audio_channels);
  enc->sample_rate = o.audio_sample_rate;
  if (!ost->stream_copy) {
    if (o.audio_qscale > -99999) {
      enc->flags |= AV_CODEC_FLAG_QSCALE;
      enc->global_quality = static_cast<int>(FF_QP2LAMBDA * o.audio_qscale);
    }
    enc->sample_fmt = o.audio_sample_fmt;
    ChooseSampleFormat(enc, codec);
    ChooseSampleRate(enc, codec);
    enc->time_base = AVRational{1, enc->sample_rate > 0 ? enc->sample_rate : 1};
    ost->st->time_base = enc->time_base;
  }
  if (!o.audio_language.empty())
    ff::av_dict_set(&ost->st->metadata, "language", o.audio_language.c_str(), 0);
  opt_.audio_language.clear();
  ResetAudioState();
}

void TCustomFFmpeg::NewSubtitleStream(TOutputFileEntry* file) {
  const AVCodec* codec = nullptr;
  TAVOutputStream* ost = NewOutputStream(file, AVMEDIA_TYPE_SUBTITLE, &codec);
  AttachBitstreamFilters(ost, &opt_.subtitle_bitstream_filters);
  if (!opt_.subtitle_language.empty())
    ff::av_dict_set(&ost->st->metadata, "language", opt_.subtitle_language.c_str(), 0);
  opt_.subtitle_language.clear();
  ResetSubtitleState();
}

// ---- Opening --------------------------------------------------------------

void TCustomFFmpeg::CheckInputKinds(bool* want_video, bool* want_audio, bool* want_subtitle) {
  bool has[AVMEDIA_TYPE_NB] = {};
  const size_t files = join_mode_ ? std::min<size_t>(1, input_files_.size()) : input_files_.size();
  for (size_t j = 0; j < files; ++j) {
    const AVFormatContext* ic = input_files_[j].ctx.get();
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
      const AVMediaType t = ic->streams[i]->codecpar->codec_type;
      if (t >= 0 && t < AVMEDIA_TYPE_NB) has[t] = true;
    }
  }
  *want_video = *want_video && has[AVMEDIA_TYPE_VIDEO];
  *want_audio = *want_audio && has[AVMEDIA_TYPE_AUDIO];
  *want_subtitle = *want_subtitle && has[AVMEDIA_TYPE_SUBTITLE];
}

std::string TCustomFFmpeg::CheckOutputPath(const std::string& file_name) const {
  if (!IsEngineFile(ToLibraryForm(file_name))) return {};
  for (const TInputFileEntry& in : input_files_) {
    if (SameFile(in.file_name, file_name))
      return FormatText("Output file '%s' is an input of this task: refusing to overwrite it", file_name.c_str());
  }
  for (const TOutputFileEntry& out : output_files_) {
    if (SameFile(out.out->file_name, file_name))
      return FormatText("Output file '%s' is already an output of this task", file_name.c_str());
  }
  if (OutputPathGuard) return OutputPathGuard(file_name);
  return {};
}

bool TCustomFFmpeg::OpenOutputIO(TOutputContext* out) {
  out->temp_name = TemporaryNameFor(out->file_name);
  TIOGuard guard(this);
  guard.StepStarts();
  const int ret = vidmill::OpenOutputIO(&out->ctx->pb, out->temp_name, &out->ctx->interrupt_callback, nullptr);
  if (ret < 0) {
    std::error_code ec;
    std::filesystem::remove(out->temp_name, ec);  // in case the failure came after creating it
    out->temp_name.clear();
    SetError(ErrorText(out->file_name, ret));
    return false;
  }
  // Muxers that read their output back (mp4 "faststart") reopen it by the
  // context's name: that is the file being written until the task commits.
  ff::av_freep(&out->ctx->url);
  out->ctx->url = ff::av_strdup(ToLibraryForm(out->temp_name).c_str());
  return true;
}

int TCustomFFmpeg::OpenOutputFile(const std::string& file_name, bool join) {
  if (nb_output_files() >= max_files_) {
    SetError(FormatText("max output files %d reached", max_files_));
    return -1;
  }
  // 1. A joined output is the task's only output.
  if (join_mode_) {
    SetError("Cannot join more than one output file.");
    return -1;
  }
  if (join && !output_files_.empty()) {
    SetError("A joined output must be the only output file of its task.");
    return -1;
  }
  if (const std::string refused = CheckOutputPath(file_name); !refused.empty()) {
    SetError(refused);
    return -1;
  }
  // 2, 3.
  enable_filter_ = !opt_.vfilters.empty();
  auto out = std::make_shared<TOutputContext>();
  out->file_name = file_name;
  out->ctx = ff::avformat_alloc_context();
  if (!out->ctx) throw FFmpegException("avformat_alloc_context failed");
  AVFormatContext* oc = out->ctx;
  // 4. Muxer.
  const AVOutputFormat* fmt = nullptr;
  if (!opt_.forced_format.empty()) {
    fmt = ff::av_guess_format(opt_.forced_format.c_str(), nullptr, nullptr);
    if (!fmt) {
      SetError(FormatText("Requested output format '%s' is not a suitable output format",
                          opt_.forced_format.c_str()));
      return -1;
    }
    opt_.forced_format.clear();
  } else {
    fmt = ff::av_guess_format(nullptr, file_name.c_str(), nullptr);
    if (!fmt) {
      SetError(FormatText("Unable to find a suitable output format for '%s'", file_name.c_str()));
      return -1;
    }
  }
  oc->oformat = fmt;
  oc->url = ff::av_strdup(ToLibraryForm(file_name).c_str());
  SetRegistryInterrupt(oc);
  // 5. Streams (the slot is appended now so that stream records know their file).
  output_files_.push_back(TOutputFileEntry{out, {}});
  auto fail = [this](const std::string& msg) {
    output_files_.pop_back();
    SetError(msg);
    return -1;
  };
  bool want_video = opt_.video_stream_copy || fmt->video_codec != AV_CODEC_ID_NONE || !opt_.video_codec_name.empty();
  bool want_audio = opt_.audio_stream_copy || fmt->audio_codec != AV_CODEC_ID_NONE || !opt_.audio_codec_name.empty();
  bool want_subtitle = opt_.subtitle_stream_copy || fmt->subtitle_codec != AV_CODEC_ID_NONE ||
                       !opt_.subtitle_codec_name.empty();
  if (!input_files_.empty()) {
    try {
      const bool was_join = join_mode_;
      join_mode_ = join;
      CheckInputKinds(&want_video, &want_audio, &want_subtitle);
      join_mode_ = was_join;
    } catch (const std::exception& e) {
      return fail(FormatText("check_audio_video_sub_inputs fail: %s", e.what()));
    }
  }
  if (opt_.audio_disable) want_audio = false;
  if (opt_.video_disable) want_video = false;
  if (opt_.subtitle_disable) want_subtitle = false;
  TOutputFileEntry* file = &output_files_.back();
  const struct {
    bool wanted;
    void (TCustomFFmpeg::*create)(TOutputFileEntry*);
    const char* text;
  } kinds[] = {{want_video, &TCustomFFmpeg::NewVideoStream, "new_video_stream fail: %s"},
               {want_audio, &TCustomFFmpeg::NewAudioStream, "new_audio_stream fail: %s"},
               {want_subtitle, &TCustomFFmpeg::NewSubtitleStream, "new_subtitle_stream fail: %s"}};
  for (const auto& k : kinds) {
    if (!k.wanted) continue;
    try {
      (this->*k.create)(file);
    } catch (const std::exception& e) {
      return fail(FormatText(k.text, e.what()));
    }
  }
  // The per-stream state is used up by this output even when a kind was dropped.
  ResetVideoState();
  ResetAudioState();
  ResetSubtitleState();
  // 6. Timestamp and metadata (text metadata reaches the libraries as UTF-8).
  if (opt_.rec_timestamp) {
    const std::time_t t = static_cast<std::time_t>(opt_.rec_timestamp);
    std::tm utc{};
    gmtime_r(&t, &utc);
    char iso[32];
    std::strftime(iso, sizeof iso, "%Y-%m-%dT%H:%M:%S.000000Z", &utc);
    ff::av_dict_set(&oc->metadata, "creation_time", iso, 0);
  }
  for (const auto& [key, value] : opt_.metadata)
    ff::av_dict_set(&oc->metadata, EnsureUtf8(key).c_str(), EnsureUtf8(value).c_str(), 0);
  opt_.metadata.clear();
  // 8. Numbered file names.
  if ((fmt->flags & AVFMT_NEEDNUMBER) && !ff::av_filename_number_test(file_name.c_str()))
    return fail(file_name + ": Number syntax expected in filename");
  // 9. The file itself, under a temporary name until the task has finished.
  if (!(fmt->flags & AVFMT_NOFILE) && !OpenOutputIO(out.get())) {
    output_files_.pop_back();
    return -1;
  }
  // 11. Muxing parameters and generic format options.
  AVDictionary* muxer = nullptr;
  oc->max_delay = static_cast<int>(opt_.mux_max_delay * 1000000);
  if (MuxerKnows(fmt, "preload"))
    ff::av_dict_set_int(&muxer, "preload", static_cast<int64_t>(opt_.mux_preload * 1000000), 0);
  if (opt_.loop_output >= 0 && MuxerKnows(fmt, "loop")) ff::av_dict_set_int(&muxer, "loop", opt_.loop_output, 0);
  oc->flags |= AVFMT_FLAG_NONBLOCK;
  store_->ApplyToFormat(oc, AV_OPT_FLAG_ENCODING_PARAM, &muxer);
  out->muxer_options.reset(muxer);
  // 12, 13.
  opt_.streamid_map.clear();
  opt_.forced_key_frames.clear();
  if (join && nb_input_files() > 1) join_mode_ = true;
  return nb_output_files();
}

void TCustomFFmpeg::JoinSetup() {
  if (!join_mode_ || output_files_.empty()) return;
  int64_t sum = 0;
  for (const TInputFileEntry& in : input_files_) {
    if (in.ctx->duration != AV_NOPTS_VALUE && in.ctx->duration > 0) sum += in.ctx->duration;
  }
  total_output_duration_ = sum > 0 ? sum : -1;
  if (nb_input_files() > max_files_) RaiseFmt("max output files %d reached", max_files_);
  output_files_.reserve(nb_input_files());  // `first` stays valid while slots are added
  const TOutputFileEntry& first = output_files_[0];
  while (nb_output_files() < nb_input_files()) {
    TOutputFileEntry slot{first.out, {}};
    const int slot_index = nb_output_files();
    for (const auto& src : first.streams) {
      auto ost = std::make_unique<TAVOutputStream>();
      ost->file_index = slot_index;
      ost->index = src->index;
      ost->st = src->st;
      ost->enc = src->enc;
      ost->codec = src->codec;
      ost->stream_copy = src->stream_copy;
      ost->joined_slot = true;
      ost->codec_id = src->codec_id;
      ost->bitstream_filter_names = src->bitstream_filter_names;
      ost->forced_key_frames = src->forced_key_frames;
      slot.streams.push_back(std::move(ost));
    }
    output_files_.push_back(std::move(slot));
  }
}

}  // namespace vidmill
