// Run set-up: input tables, stream mapping, stream copy or encoding
// set-up, filter graphs, two-pass files, encoders, decoders and headers.
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/entry_points.h"
#include "core/ff_log.h"
#include "custom_ffmpeg.h"
#include "encoder_clone.h"
#include "picture_scaler.h"
#include "ffmpeg_exception.h"
#include "filters/adjust_filters.h"

namespace vidmill {

namespace {

const char* TypeName(AVMediaType t) {
  static thread_local std::string name;
  name = StreamTypeName(t);
  return name.c_str();
}

bool InProgram(const AVFormatContext* ic, int stream_index, int program_id) {
  for (unsigned p = 0; p < ic->nb_programs; ++p) {
    const AVProgram* prog = ic->programs[p];
    if (prog->id != program_id) continue;
    for (unsigned k = 0; k < prog->nb_stream_indexes; ++k) {
      if (static_cast<int>(prog->stream_index[k]) == stream_index) return true;
    }
  }
  return false;
}

// Whether the stream belongs to a further slot of a joined output, whose
// encoder the first slot set up.
bool IsJoinedSlot(const TAVOutputStream* ost) { return ost->joined_slot; }

std::string ScaleFlagsText(int flags) { return FormatText("0x%X", static_cast<unsigned>(flags)); }

}  // namespace

void TCustomFFmpeg::ReleaseRunTables() {
  for (TAVInputStream& ist : input_streams_) {
    if (ist.dec && ist.decoder_open) ist.dec = nullptr;  // the context belongs to the input entry
  }
  input_streams_.clear();
  input_tables_.clear();
}

// 1. One record per input file and per input stream, all discarded.
void TCustomFFmpeg::BuildInputTables() {
  ReleaseRunTables();
  for (int f = 0; f < nb_input_files(); ++f) {
    TInputFileEntry& in = input_files_[f];
    TAVInputFile table;
    table.ist_index = static_cast<int>(input_streams_.size());
    table.nb_streams = static_cast<int>(in.ctx->nb_streams);
    input_tables_.push_back(table);
    for (unsigned i = 0; i < in.ctx->nb_streams; ++i) {
      TAVInputStream ist;
      ist.file_index = f;
      ist.index = static_cast<int>(i);
      ist.st = in.ctx->streams[i];
      ist.dec = in.codecs[i].ctx.get();
      ist.decoder = in.codecs[i].decoder;
      if (opt_.rate_emu) ist.start = ff::av_gettime();
      input_streams_.push_back(ist);
    }
  }
}

// 2. Every output has streams; explicit maps name existing streams.
void TCustomFFmpeg::CheckOutputTables() {
  int total = 0;
  for (int i = 0; i < nb_output_files(); ++i) {
    AVFormatContext* oc = OutputContext(i);
    if (oc->nb_streams == 0 && !(oc->oformat->flags & AVFMT_NOSTREAMS)) {
      ff::av_dump_format(oc, i, oc->url, 1);
      RaiseFmt("Output file #%d does not contain any stream", i);
    }
    total += static_cast<int>(output_files_[i].streams.size());
  }
  streams_per_slot_ = output_files_.empty() ? 0 : static_cast<int>(output_files_[0].streams.size());
  if (opt_.stream_maps.empty()) return;
  if (static_cast<int>(opt_.stream_maps.size()) != total)
    throw FFmpegException("Number of stream maps must match number of output streams");
  for (const TAVStreamMap& m : opt_.stream_maps) {
    auto exists = [this](int f, int s) {
      return f >= 0 && f < nb_input_files() && s >= 0 && s < input_tables_[f].nb_streams;
    };
    if (!exists(m.file_index, m.stream_index))
      RaiseFmt("Could not find input stream #%d.%d", m.file_index, m.stream_index);
    if (!exists(m.sync_file_index, m.sync_stream_index))
      RaiseFmt("Could not find sync stream #%d.%d", m.sync_file_index, m.sync_stream_index);
  }
}

// 3. Each output stream takes an input stream: the mapped one, or the best
// free one of its kind (most frames known; the first on a tie).
void TCustomFFmpeg::MapStreams() {
  size_t map_index = 0;
  for (int i = 0; i < nb_output_files(); ++i) {
    AVFormatContext* oc = OutputContext(i);
    for (auto& ost_ptr : output_files_[i].streams) {
      TAVOutputStream* ost = ost_ptr.get();
      const AVMediaType type = ost->enc->codec_type;
      if (!opt_.stream_maps.empty()) {
        const TAVStreamMap& m = opt_.stream_maps[map_index++];
        const int src = input_tables_[m.file_index].ist_index + m.stream_index;
        const AVMediaType in_type = input_streams_[src].st->codecpar->codec_type;
        if (in_type != type) {
          ff::av_dump_format(oc, i, oc->url, 1);
          RaiseFmt("Codec type mismatch for mapping #%d.%d (%s) -> #%d.%d (%s)", m.file_index, m.stream_index,
                   TypeName(in_type), i, ost->index, TypeName(type));
        }
        ost->source_index = src;
        ost->sync_ist = input_tables_[m.sync_file_index].ist_index + m.sync_stream_index;
      } else {
        int best = -1;
        int64_t best_frames = -1;
        for (size_t j = 0; j < input_streams_.size(); ++j) {
          const TAVInputStream& ist = input_streams_[j];
          if (!ist.discard || ist.st->codecpar->codec_type != type || ist.st->discard == AVDISCARD_ALL) continue;
          if (opt_.opt_programid && !InProgram(InputContext(ist.file_index), ist.index, opt_.opt_programid))
            continue;
          if (join_mode_ && ist.file_index != i) continue;
          const int64_t frames = ist.st->nb_frames;
          if (frames > best_frames) {
            best_frames = frames;
            best = static_cast<int>(j);
          }
        }
        if (best < 0 && !opt_.opt_programid && !join_mode_) {
          for (size_t j = 0; j < input_streams_.size(); ++j) {
            const TAVInputStream& ist = input_streams_[j];
            if (ist.st->codecpar->codec_type == type && ist.st->discard != AVDISCARD_ALL) best = static_cast<int>(j);
          }
        }
        if (best < 0) {
          ff::av_dump_format(oc, i, oc->url, 1);
          RaiseFmt("Could not find input stream matching output stream #%d.%d (%s)", i, ost->index, TypeName(type));
        }
        ost->source_index = best;
        ost->sync_ist = best;
      }
      input_streams_[ost->source_index].discard = false;
      ost->show_fps = true;
    }
  }
}

void TCustomFFmpeg::SetupStreamCopy(TAVOutputStream* ost, TAVInputStream* ist, AVFormatContext* oc) {
  const AVCodecParameters* ipar = ist->st->codecpar;
  AVCodecParameters* opar = ost->st->codecpar;
  if (static_cast<int64_t>(ipar->extradata_size) + AV_INPUT_BUFFER_PADDING_SIZE > INT32_MAX)
    throw FFmpegException("icodec.extradata_size is invalid (too large)");
  const uint32_t user_tag = ost->enc->codec_tag;
  switch (ipar->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
      if (opt_.audio_volume != 256)
        throw FFmpegException("-acodec copy and -vol are incompatible (frames are not decoded)");
      if (AudioHookAssigned)
        throw FFmpegException("-acodec copy and AudioHook are incompatible (frames are not decoded)");
      break;
    case AVMEDIA_TYPE_VIDEO:
      if (VideoInputHookAssigned || VideoOutputHookAssigned)
        throw FFmpegException("-vcodec copy and VideoHook are incompatible (frames are not decoded)");
      if (frame_hooks_.Count() > 0)
        throw FFmpegException("-vcodec copy and -vhook are incompatible (frames are not decoded)");
      if (PostHooks.load() != 0)
        throw FFmpegException("-vcodec copy and PostHooks are incompatible (frames are not decoded)");
      break;
    case AVMEDIA_TYPE_SUBTITLE: break;
    default: throw FFmpegException("invalid codec_type of output stream");
  }
  // Copies codec, geometry, layout and the extra data (with the libraries'
  // full input padding).
  if (ff::avcodec_parameters_copy(opar, ipar) < 0) throw FFmpegException("av_mallocz fail");
  const AVCodecTag* const* tags = oc->oformat->codec_tag;
  if (user_tag) {
    opar->codec_tag = user_tag;
  } else if (tags && ff::av_codec_get_id(tags, ipar->codec_tag) != ipar->codec_id &&
             ff::av_codec_get_tag(tags, ipar->codec_id) > 0) {
    opar->codec_tag = 0;  // the muxer has its own tag for this codec
  }
  if (ipar->codec_type == AVMEDIA_TYPE_AUDIO &&
      ((ipar->codec_id == AV_CODEC_ID_MP3 && ipar->block_align == 1) || ipar->codec_id == AV_CODEC_ID_AC3))
    opar->block_align = 0;
  if (ost->st->sample_aspect_ratio.num == 0) ost->st->sample_aspect_ratio = ist->st->sample_aspect_ratio;
  ost->st->time_base = ist->st->time_base;
  ost->st->avg_frame_rate = ist->st->avg_frame_rate;
  ost->codec_id = ipar->codec_id;
}

int TCustomFFmpeg::BuildVideoFilterGraph(TAVInputStream* ist, TAVOutputStream* ost) {
  AVCodecContext* dec = ist->dec;
  AVCodecContext* enc = ost->enc.get();
  TVideoFormat in;
  in.width = dec->width;
  in.height = dec->height;
  in.pix_fmt = dec->pix_fmt;
  in.time_base = AVRational{1, 1000000};
  in.sample_aspect_ratio = dec->sample_aspect_ratio;
  in.frame_rate = ist->st->r_frame_rate;
  RegisterEqFilter();
  RegisterHueFilter();
  std::string chain;
  if (enc->width != dec->width || enc->height != dec->height)
    chain = FormatText("scale=%d:%d:flags=%s", enc->width, enc->height,
                       ScaleFlagsText(store_->ScalerFlags(opt_.sws_flags)).c_str());
  if (!opt_.vfilters.empty()) chain += (chain.empty() ? "" : ",") + opt_.vfilters;
  std::string error;
  ost->filter = TFilterChain::Create(chain, in, enc->pix_fmt, &error);
  if (!ost->filter) {
    last_err_msg_ = error;
    return AVERROR(EINVAL);
  }
  const TVideoFormat out = ost->filter->OutputFormat();
  if (IsJoinedSlot(ost)) {
    // A further input of a joined output: its pictures must fit the encoder.
    if (out.width == enc->width && out.height == enc->height) return 0;
    chain += FormatText(",scale=%d:%d", enc->width, enc->height);
    ost->filter = TFilterChain::Create(chain, in, enc->pix_fmt, &error);
    if (!ost->filter) {
      last_err_msg_ = error;
      return AVERROR(EINVAL);
    }
    return 0;
  }
  enc->width = out.width;
  enc->height = out.height;
  if (out.sample_aspect_ratio.num) enc->sample_aspect_ratio = ost->st->sample_aspect_ratio = out.sample_aspect_ratio;
  return 0;
}

void TCustomFFmpeg::SetupEncoding(TAVOutputStream* ost, TAVInputStream* ist) {
  AVCodecContext* enc = ost->enc.get();
  AVCodecContext* dec = ist->dec;
  if (!dec) throw FFmpegException("invalid codec_type of output stream");
  if (ost->joined_slot && enc->codec_type != AVMEDIA_TYPE_VIDEO) {
    // The encoder is the first slot's; only this input's own conversion is set up.
    ost->encoding_needed = true;
    ist->decoding_needed = true;
    ost->resample_sample_fmt = dec->sample_fmt;
    ost->resample_channels = dec->ch_layout.nb_channels;
    ost->resample_sample_rate = dec->sample_rate;
    ost->audio_resample = enc->sample_rate != dec->sample_rate || opt_.audio_sync_method > 1;
    return;
  }
  switch (enc->codec_type) {
    case AVMEDIA_TYPE_VIDEO: {
      if (enc->pix_fmt == AV_PIX_FMT_NONE)
        throw FFmpegException("Video pixel format is unknown, stream cannot be encoded");
      // A stream whose decoder could not read its header has no picture format.
      if (dec->pix_fmt == AV_PIX_FMT_NONE || dec->width <= 0 || dec->height <= 0)
        RaiseFmt("Video pixel format of input stream #%d.%d is unknown, stream cannot be decoded", ist->file_index,
                 ist->index);
      if (enc->width <= 0 || enc->height <= 0) {
        enc->width = enc->width > 0 ? enc->width : dec->width;
        enc->height = enc->height > 0 ? enc->height : dec->height;
      }
      ost->video_resample = enc->width != dec->width || enc->height != dec->height || enc->pix_fmt != dec->pix_fmt;
      if (ost->video_resample && !enable_filter_) {
        ost->pict_tmp = ff::av_frame_alloc();
        if (ost->pict_tmp) {
          ost->pict_tmp->format = enc->pix_fmt;
          ost->pict_tmp->width = enc->width;
          ost->pict_tmp->height = enc->height;
        }
        if (!ost->pict_tmp || ff::av_frame_get_buffer(ost->pict_tmp, 0) < 0)
          throw FFmpegException("Cannot allocate temp picture, check pix fmt");
        ost->img_resample_ctx =
            MakePictureScaler(dec->width, dec->height, dec->pix_fmt, enc->width, enc->height, enc->pix_fmt,
                              store_->ScalerFlags(opt_.sws_flags), opt_.thread_count);
        if (!ost->img_resample_ctx) throw FFmpegException("Cannot get resampling context");
        ost->original_width = dec->width;
        ost->original_height = dec->height;
        enc->bits_per_raw_sample = 0;
      }
      ost->resample_width = dec->width;
      ost->resample_height = dec->height;
      ost->resample_pix_fmt = dec->pix_fmt;
      ost->encoding_needed = true;
      ist->decoding_needed = true;
      last_err_msg_.clear();
      if (enable_filter_ && BuildVideoFilterGraph(ist, ost) < 0) {
        if (!last_err_msg_.empty()) throw FFmpegException("Error opening filters: " + last_err_msg_);
        throw FFmpegException("Error opening filters!");
      }
      const AVPixFmtDescriptor* d = ff::av_pix_fmt_desc_get(enc->pix_fmt);
      if (d && (enc->width % (1 << d->log2_chroma_w) || enc->height % (1 << d->log2_chroma_h)))
        RaiseFmt("Frame size %dx%d is not possible for pixel format %s: width must be a multiple of %d and height of %d",
                 enc->width, enc->height, d->name, 1 << d->log2_chroma_w, 1 << d->log2_chroma_h);
      break;
    }
    case AVMEDIA_TYPE_AUDIO:
      ost->fifo = ff::av_audio_fifo_alloc(enc->sample_fmt, enc->ch_layout.nb_channels, 1024);
      if (!ost->fifo) throw FFmpegException("av_fifo_alloc fail");
      ost->audio_resample = enc->sample_rate != dec->sample_rate || opt_.audio_sync_method > 1;
      ost->resample_sample_fmt = dec->sample_fmt;
      ost->resample_channels = dec->ch_layout.nb_channels;
      ost->resample_sample_rate = dec->sample_rate;
      ost->encoding_needed = true;
      ist->decoding_needed = true;
      break;
    case AVMEDIA_TYPE_SUBTITLE:
      ost->encoding_needed = true;
      ist->decoding_needed = true;
      break;
    default: throw FFmpegException("invalid codec_type of output stream");
  }
}

// The default pass-log prefix is unique per task in the temporary folder, so
// that tasks running at once never share a statistics file.
std::string TCustomFFmpeg::PassLogPrefix() {
  if (!opt_.pass_logfilename_prefix.empty()) return opt_.pass_logfilename_prefix;
  if (pass_log_unique_.empty()) {
    static std::atomic<unsigned> counter{0};
    std::error_code ec;
    const std::filesystem::path tmp = std::filesystem::temp_directory_path(ec);
    const std::string name = FormatText("vidmill2pass-%d-%u", static_cast<int>(::getpid()), ++counter);
    pass_log_unique_ = ec ? name : (tmp / name).string();
  }
  return pass_log_unique_;
}

void TCustomFFmpeg::SetupTwoPass(TAVOutputStream* ost, int position) {
  AVCodecContext* enc = ost->enc.get();
  if (!(enc->flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2))) return;
  std::string name = FormatText("%s-%d.log", PassLogPrefix().c_str(), position);
  if (name.size() > 1023) name.resize(1023);
  ost->logfile_name = name;
  // An encoder that keeps its statistics itself (libx264 writes and reads a
  // file of its own, by default in the current folder) gets the task's name.
  const AVCodec* codec = ost->codec ? ost->codec : enc->codec;
  if (codec && codec->priv_class &&
      ff::av_opt_find(const_cast<AVClass**>(&codec->priv_class), "stats", nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ)) {
    AVDictionary* options = ost->encoder_options.release();
    ff::av_dict_set(&options, "stats", name.c_str(), AV_DICT_DONT_OVERWRITE);
    ost->encoder_options.reset(options);
    return;
  }
  if (enc->flags & AV_CODEC_FLAG_PASS1) {
    ost->logfile = std::fopen(name.c_str(), "wb");
    if (!ost->logfile) RaiseFmt("Cannot write log file %s for pass-1 encoding", name.c_str());
    return;
  }
  std::ifstream in(name, std::ios::binary);
  if (!in) RaiseFmt("Cannot read file: Error reading log file \"%s\" for pass-2 encoding", name.c_str());
  std::ostringstream text;
  text << in.rdbuf();
  const std::string stats = text.str();
  ost->stats_in = static_cast<char*>(ff::av_malloc(stats.size() + 1));
  if (!ost->stats_in)
    RaiseFmt("Could not allocate file buffer: Error reading log file \"%s\" for pass-2 encoding", name.c_str());
  std::memcpy(ost->stats_in, stats.c_str(), stats.size() + 1);
  enc->stats_in = ost->stats_in;
}

void TCustomFFmpeg::KeepEncoderTemplate(TAVOutputStream* ost, const AVCodec* codec) {
  ost->enc_template = CloneEncoderSettings(ost->enc.get(), codec);
  if (!ost->enc_template) throw FFmpegException("Could not alloc buffer.");
  AVDictionary* copy = nullptr;
  ff::av_dict_copy(&copy, ost->encoder_options.get(), 0);
  ost->encoder_options_template.reset(copy);
}

void TCustomFFmpeg::OpenEncoders() {
  const int files = join_mode_ ? std::min(1, nb_output_files()) : nb_output_files();
  for (int i = 0; i < files; ++i) {
    for (auto& ost : output_files_[i].streams) {
      if (!ost->encoding_needed) continue;
      AVCodecContext* enc = ost->enc.get();
      const AVCodec* codec = ost->codec ? ost->codec : ff::avcodec_find_encoder(enc->codec_id);
      if (!codec)
        RaiseFmt("Encoder (codec id %d) not found for output stream #%d.%d (%s)", enc->codec_id, i, ost->index,
                 TypeName(enc->codec_type));
      const TAVInputStream& ist = input_streams_[ost->source_index];
      if (ist.dec && ist.dec->subtitle_header && enc->codec_type == AVMEDIA_TYPE_SUBTITLE) {
        enc->subtitle_header = static_cast<uint8_t*>(ff::av_mallocz(ist.dec->subtitle_header_size + 1));
        if (!enc->subtitle_header) throw FFmpegException("av_malloc failed");
        std::memcpy(enc->subtitle_header, ist.dec->subtitle_header, ist.dec->subtitle_header_size);
        enc->subtitle_header_size = ist.dec->subtitle_header_size;
      }
      if (enc->codec_type == AVMEDIA_TYPE_SUBTITLE && enc->time_base.num == 0) enc->time_base = AVRational{1, 1000};
      if (join_mode_) KeepEncoderTemplate(ost.get(), codec);
      AVDictionary* options = ost->encoder_options.release();
      const int ret = ff::avcodec_open2(enc, codec, &options);
      ost->encoder_options.reset(options);
      if (ret < 0)
        RaiseFmt("Error while opening encoder for output stream #%d.%d (%s) - maybe incorrect parameters such as "
                 "bit_rate, rate, width or height. Please check error log message to find out more detail "
                 "information.",
                 i, ost->index, TypeName(enc->codec_type));
      ost->codec_id = codec->id;
      if (ff::avcodec_parameters_from_context(ost->st->codecpar, enc) < 0) throw FFmpegException("av_mallocz fail");
      if (ost->st->time_base.num == 0 || ost->st->time_base.den == 0) ost->st->time_base = enc->time_base;
      if (enc->codec_type == AVMEDIA_TYPE_VIDEO) ost->st->avg_frame_rate = enc->framerate;
      extra_size_ += enc->extradata_size;
    }
  }
}

void TCustomFFmpeg::OpenDecoders() {
  for (TAVInputStream& ist : input_streams_) {
    if (!ist.decoding_needed || ist.decoder_open) continue;
    const AVCodec* codec = ist.decoder ? ist.decoder : ff::avcodec_find_decoder(ist.st->codecpar->codec_id);
    const AVMediaType type = ist.st->codecpar->codec_type;
    if (!codec || !ist.dec)
      RaiseFmt("Decoder (codec id %d) not found for input stream #%d.%d (%s)", ist.st->codecpar->codec_id,
               ist.file_index, ist.index, TypeName(type));
    TInputCodec& ic = input_files_[ist.file_index].codecs[ist.index];
    AVDictionary* options = ic.options.release();
    const int ret = ff::avcodec_open2(ist.dec, codec, &options);
    ic.options.reset(options);
    if (ret < 0)
      RaiseFmt("Error while opening decoder for input stream #%d.%d (%s)", ist.file_index, ist.index,
               TypeName(type));
    ist.decoder_open = true;
  }
}

void TCustomFFmpeg::InitInputTimes() {
  for (TAVInputStream& ist : input_streams_) {
    const AVRational avg = ist.st->avg_frame_rate;
    const int delayed = ist.dec ? ist.dec->has_b_frames : 0;
    ist.pts = avg.num > 0 && avg.den > 0 ? -std::llround(delayed * 1000000.0 * avg.den / avg.num) : 0;
    ist.next_pts = AV_NOPTS_VALUE;
    ist.pts_ctx.Reset();
    ist.is_start = true;
  }
}

void TCustomFFmpeg::CopyMetadataAndChapters() {
  // Explicit metadata maps.
  for (const auto& [out_map, in_map] : opt_.meta_data_maps) {
    if (out_map.file_idx < 0 || out_map.file_idx >= nb_output_files()) {
      Logf(llError, "Invalid %s index %d while processing metadata maps", "output file", out_map.file_idx);
      RaiseFmt("Invalid %s index %d while processing metadata maps", "output file", out_map.file_idx);
    }
    if (in_map.file_idx < 0 || in_map.file_idx >= nb_input_files()) {
      Logf(llError, "Invalid %s index %d while processing metadata maps", "input file", in_map.file_idx);
      RaiseFmt("Invalid %s index %d while processing metadata maps", "input file", in_map.file_idx);
    }
    auto pick = [this](AVFormatContext* ctx, const TAVMetaDataMap& m) -> AVDictionary** {
      const char* what = m.type_ == 's' ? "stream" : m.type_ == 'c' ? "chapter" : "program";
      const unsigned count = m.type_ == 's' ? ctx->nb_streams : m.type_ == 'c' ? ctx->nb_chapters : ctx->nb_programs;
      if (m.type_ == 'g') return &ctx->metadata;
      if (m.index < 0 || static_cast<unsigned>(m.index) >= count) {
        Logf(llError, "Invalid %s index %d while processing metadata maps", what, m.index);
        RaiseFmt("Invalid %s index %d while processing metadata maps", what, m.index);
      }
      if (m.type_ == 's') return &ctx->streams[m.index]->metadata;
      if (m.type_ == 'c') return &ctx->chapters[m.index]->metadata;
      return &ctx->programs[m.index]->metadata;
    };
    AVDictionary** dst = pick(OutputContext(out_map.file_idx), out_map);
    AVDictionary** src = pick(InputContext(in_map.file_idx), in_map);
    ff::av_dict_copy(dst, *src, AV_DICT_DONT_OVERWRITE);
  }
  if (opt_.metadata_global_autocopy && nb_input_files() > 0) {
    for (int i = 0; i < nb_output_files(); ++i)
      ff::av_dict_copy(&OutputContext(i)->metadata, InputContext(0)->metadata, AV_DICT_DONT_OVERWRITE);
  }
  // Chapters.
  for (const TAVChapterMap& m : opt_.chapter_maps) {
    if (m.in_file < 0 || m.in_file >= nb_input_files()) {
      Logf(llError, "Invalid input file index %d in chapter mapping.", m.in_file);
      RaiseFmt("Invalid input file index %d in chapter mapping.", m.in_file);
    }
    if (m.out_file < 0 || m.out_file >= nb_output_files()) {
      Logf(llError, "Invalid output file index %d in chapter mapping.", m.out_file);
      RaiseFmt("Invalid output file index %d in chapter mapping.", m.out_file);
    }
  }
  auto copy_chapters = [this](int in_index, int out_index) {
    AVFormatContext* is = InputContext(in_index);
    AVFormatContext* os = OutputContext(out_index);
    for (unsigned c = 0; c < is->nb_chapters; ++c) {
      const AVChapter* in_ch = is->chapters[c];
      const AVRational us = AVRational{1, 1000000};
      const int64_t ts_off = ff::av_rescale_q(opt_.start_time - input_files_[in_index].ts_offset, us, in_ch->time_base);
      const int64_t rt = opt_.recording_time == INT64_MAX ? INT64_MAX
                                                            : ff::av_rescale_q(opt_.recording_time, us, in_ch->time_base);
      if (in_ch->end < ts_off) continue;
      if (rt != INT64_MAX && in_ch->start > rt + ts_off) break;
      auto* out_ch = static_cast<AVChapter*>(ff::av_mallocz(sizeof(AVChapter)));
      if (!out_ch) throw FFmpegException("Could not alloc buffer.");
      out_ch->id = in_ch->id;
      out_ch->time_base = in_ch->time_base;
      out_ch->start = std::max<int64_t>(0, in_ch->start - ts_off);
      out_ch->end = rt == INT64_MAX ? in_ch->end - ts_off : std::min(rt, in_ch->end - ts_off);
      if (opt_.metadata_chapters_autocopy) ff::av_dict_copy(&out_ch->metadata, in_ch->metadata, 0);
      auto** grown = static_cast<AVChapter**>(
          ff::av_realloc(os->chapters, sizeof(AVChapter*) * (os->nb_chapters + 1)));
      if (!grown) {
        ff::av_dict_free(&out_ch->metadata);
        ff::av_free(out_ch);
        throw FFmpegException("av_realloc fail");
      }
      os->chapters = grown;
      os->chapters[os->nb_chapters++] = out_ch;
    }
  };
  for (const TAVChapterMap& m : opt_.chapter_maps) copy_chapters(m.in_file, m.out_file);
  if (opt_.chapter_maps.empty()) {
    for (int f = 0; f < nb_input_files(); ++f) {
      if (InputContext(f)->nb_chapters == 0) continue;
      const int outs = join_mode_ ? std::min(1, nb_output_files()) : nb_output_files();
      for (int o = 0; o < outs; ++o) copy_chapters(f, o);
      break;
    }
  }
}

void TCustomFFmpeg::WriteHeaders() {
  const int files = join_mode_ ? std::min(1, nb_output_files()) : nb_output_files();
  for (int i = 0; i < files; ++i) {
    TOutputContext* out = output_files_[i].out.get();
    AVDictionary* options = out->muxer_options.release();
    const int ret = ff::avformat_write_header(out->ctx, &options);
    out->muxer_options.reset(options);
    if (ret < 0) {
      const std::string msg = FormatText("Could not write header for output file #%d (incorrect codec parameters ?)", i);
      Log(llError, msg);
      throw FFmpegException(msg);
    }
    out->header_written = true;
  }
}

void TCustomFFmpeg::LogStreamMapping() {
  const int files = join_mode_ ? std::min(1, nb_output_files()) : nb_output_files();
  for (int i = 0; i < files; ++i) ff::av_dump_format(OutputContext(i), i, output_files_[i].out->file_name.c_str(), 1);
  if (opt_.verbose < 0) return;
  Log(llVerbose, "Stream mapping:");
  for (int i = 0; i < nb_output_files(); ++i) {
    for (const auto& ost : output_files_[i].streams) {
      if (ost->source_index < 0) continue;
      const TAVInputStream& ist = input_streams_[ost->source_index];
      std::string line = FormatText("  Stream #%d.%d -> #%d.%d (%s)", ist.file_index, ist.index,
                                    join_mode_ ? 0 : i, ost->index, TypeName(ost->enc->codec_type));
      if (ost->sync_ist != ost->source_index) {
        const TAVInputStream& sync = input_streams_[ost->sync_ist];
        line += FormatText(" [sync #%d.%d (%s)]", sync.file_index, sync.index,
                           TypeName(sync.st->codecpar->codec_type));
      }
      Log(llVerbose, line);
    }
  }
}

void TCustomFFmpeg::RunSetup() {
  BuildInputTables();
  CheckOutputTables();
  MapStreams();
  // 4. Codec parameters.
  int position = 0;
  for (int i = 0; i < nb_output_files(); ++i) {
    AVFormatContext* oc = OutputContext(i);
    const bool first_group = !join_mode_ || i == 0;
    for (auto& ost_ptr : output_files_[i].streams) {
      TAVOutputStream* ost = ost_ptr.get();
      TAVInputStream* ist = &input_streams_[ost->source_index];
      if (!first_group) {
        // The slots of a joined output share the first slot's streams and
        // encoders; each sets up the conversion of its own input.
        if (!ost->stream_copy) SetupEncoding(ost, ist);
        ++position;
        continue;
      }
      if (opt_.metadata_streams_autocopy) ff::av_dict_copy(&ost->st->metadata, ist->st->metadata, AV_DICT_DONT_OVERWRITE);
      ost->st->disposition = ist->st->disposition;
      if (ost->stream_copy) {
        SetupStreamCopy(ost, ist, oc);
      } else {
        ost->enc->bits_per_raw_sample = ist->st->codecpar->bits_per_raw_sample;
        ost->enc->chroma_sample_location = ist->st->codecpar->chroma_location;
        SetupEncoding(ost, ist);
        if (ost->enc->codec_type == AVMEDIA_TYPE_VIDEO)
          bit_buffer_size_ = std::max(bit_buffer_size_, 6 * ost->enc->width * ost->enc->height + 200);
        SetupTwoPass(ost, position);
      }
      ++position;
    }
  }
  // 5, 6. Encoders and decoders; their errors are logged after the mapping.
  std::string open_error;
  try {
    OpenEncoders();
    OpenDecoders();
  } catch (const FFmpegException& e) {
    open_error = e.what();
  }
  if (open_error.empty()) {
    InitInputTimes();
    CopyMetadataAndChapters();
    WriteHeaders();
  }
  LogStreamMapping();
  if (!open_error.empty()) {
    Log(llError, open_error);
    throw FFmpegException(open_error);
  }
}

}  // namespace vidmill
