// Opening an input file, and the codec lookup shared with outputs.
#include <cmath>

#include "core/entry_points.h"
#include "core/ff_log.h"
#include "core/interrupt_cb.h"
#include "custom_ffmpeg.h"
#include "ffmpeg_exception.h"
#include "io_guard.h"

namespace vidmill {

// Runs inside the interrupt registry's lock: decides only, logs nothing.
bool TCustomFFmpeg::IOExpired() {
  const int64_t start = io_start_time_.load();
  if (start == 0) {
    io_abandoned_ = 2;
    return true;
  }
  if (ReadTimeout <= 0 || start == INT64_MAX) return false;
  if (ff::av_gettime_relative() - start > static_cast<int64_t>(ReadTimeout) * 1000) {
    io_abandoned_ = 1;
    return true;
  }
  return false;
}

void TCustomFFmpeg::ReportIOAbandon() {
  const int why = io_abandoned_.exchange(0);
  if (why == 1) Log(llInfo, "connecting/reading/writing timeout");
  if (why == 2) Log(llInfo, "connecting/reading/writing canceled");
}

bool TCustomFFmpeg::FindCodec(const std::string& name, AVMediaType type, bool encoder,
                              const AVCodec** codec) {
  *codec = nullptr;
  if (name.empty()) return true;
  const char* kind = encoder ? "encoder" : "decoder";
  const AVCodec* c = encoder ? ff::avcodec_find_encoder_by_name(name.c_str())
                             : ff::avcodec_find_decoder_by_name(name.c_str());
  if (!c) {
    last_err_msg_ = FormatText("Unknown %s '%s'", kind, name.c_str());
    return false;
  }
  if (c->type != type) {
    last_err_msg_ = FormatText("Invalid %s type '%s'", kind, name.c_str());
    return false;
  }
  const AVCodecContext* tmpl = store_->CodecTemplate(type);
  const int strict = tmpl ? tmpl->strict_std_compliance : FF_COMPLIANCE_NORMAL;
  if ((c->capabilities & AV_CODEC_CAP_EXPERIMENTAL) && strict > FF_COMPLIANCE_EXPERIMENTAL) {
    std::string msg = FormatText(
        "%s '%s' is experimental and might produce bad results.\r\nAdd '-strict experimental' if you want to use it.",
        kind, c->name);
    const AVCodec* other = encoder ? ff::avcodec_find_encoder(c->id) : ff::avcodec_find_decoder(c->id);
    if (other && !(other->capabilities & AV_CODEC_CAP_EXPERIMENTAL))
      msg += "\r\n" + FormatText("Or use the non experimental %s '%s'.", kind, other->name);
    last_err_msg_ = msg;
    return false;
  }
  *codec = c;
  return true;
}

namespace {

// Demuxer parameters from the option state, for forced formats that take them
// (raw and capture demuxers).
void AddDemuxerParameters(const AVInputFormat* fmt, const TOptionState& o, AVDictionary** dict) {
  if (!fmt || !fmt->priv_class) return;
  auto knows = [fmt](const char* name) {
    return ff::av_opt_find(const_cast<AVClass**>(&fmt->priv_class), name, nullptr, 0,
                           AV_OPT_SEARCH_FAKE_OBJ) != nullptr;
  };
  if (knows("sample_rate")) ff::av_dict_set_int(dict, "sample_rate", o.audio_sample_rate, 0);
  if (knows("channels")) ff::av_dict_set_int(dict, "channels", o.audio_channels, 0);
  if (o.frame_rate.num > 0 && o.frame_rate.den > 0 && knows("framerate"))
    ff::av_dict_set(dict, "framerate", FormatText("%d/%d", o.frame_rate.num, o.frame_rate.den).c_str(), 0);
  if (o.frame_width > 0 && o.frame_height > 0 && knows("video_size"))
    ff::av_dict_set(dict, "video_size", FormatText("%dx%d", o.frame_width, o.frame_height).c_str(), 0);
  if (o.frame_pix_fmt != AV_PIX_FMT_NONE && knows("pixel_format"))
    ff::av_dict_set(dict, "pixel_format", ff::av_get_pix_fmt_name(o.frame_pix_fmt), 0);
  if (o.video_channel && knows("channel")) ff::av_dict_set_int(dict, "channel", o.video_channel, 0);
  if (!o.video_standard.empty() && knows("standard"))
    ff::av_dict_set(dict, "standard", o.video_standard.c_str(), 0);
}

struct TFormatContextFree {
  void operator()(AVFormatContext* c) const { ff::avformat_free_context(c); }
};

}  // namespace

void TCustomFFmpeg::PrepareInputStream(TInputFileEntry* entry, int stream_index) {
  AVStream* st = entry->ctx->streams[stream_index];
  const AVCodecParameters* par = st->codecpar;
  TInputCodec& ic = entry->codecs[stream_index];
  const AVMediaType type = par->codec_type;
  if (type > AVMEDIA_TYPE_ATTACHMENT) throw FFmpegException("invalid codec_type");
  if (type == AVMEDIA_TYPE_DATA || type == AVMEDIA_TYPE_ATTACHMENT) return;
  if (!ic.decoder) ic.decoder = ff::avcodec_find_decoder(par->codec_id);
  ic.ctx = MakeCodecContext(ic.decoder);
  if (!ic.ctx) throw FFmpegException("avcodec_alloc_context failed");
  AVCodecContext* dec = ic.ctx.get();
  ff::avcodec_parameters_to_context(dec, par);
  dec->pkt_timebase = st->time_base;
  dec->thread_count = opt_.thread_count;
  const int flags = OptionFlagsOf(type) | AV_OPT_FLAG_DECODING_PARAM;
  AVDictionary* priv = nullptr;
  store_->ApplyToCodec(dec, type, flags, ic.decoder, &priv);
  ic.options.reset(priv);
  TOptionState& o = opt_;
  if (type == AVMEDIA_TYPE_VIDEO) {
    o.frame_width = dec->width;
    o.frame_height = dec->height;
    const AVRational sar = st->sample_aspect_ratio.num ? st->sample_aspect_ratio : dec->sample_aspect_ratio;
    double ratio = sar.num && sar.den ? av_q2d(sar) : 0;
    if (dec->width * dec->height != 0) {
      ratio = (ratio == 0 ? 1.0 : ratio) * dec->width / dec->height;
    } else if (ratio == 0) {
      ratio = 4.0 / 3.0;
    }
    o.frame_aspect_ratio = static_cast<float>(ratio);
    o.frame_pix_fmt = dec->pix_fmt == AV_PIX_FMT_NONE ? AV_PIX_FMT_YUV420P : dec->pix_fmt;
    if (dec->lowres > 0) {
      o.frame_width >>= dec->lowres;
      o.frame_height >>= dec->lowres;
    }
    const AVRational r = st->r_frame_rate;
    const AVRational avg = st->avg_frame_rate;
    if (o.verbose >= 0 && r.num > 0 && r.den > 0 && avg.num > 0 && avg.den > 0 && av_cmp_q(r, avg) != 0)
      Logf(llInfo, "Seems stream %d codec frame rate differs from container frame rate: %2.2f (%d/%d) -> %2.2f (%d/%d)",
           stream_index, av_q2d(avg), avg.num, avg.den, av_q2d(r), r.num, r.den);
    if (r.num > 0 && r.den > 0) o.frame_rate = r;
    if (o.video_disable) st->discard = AVDISCARD_ALL;
    else if (o.video_discard) st->discard = static_cast<AVDiscard>(o.video_discard);
  } else if (type == AVMEDIA_TYPE_AUDIO) {
    o.audio_channels = dec->ch_layout.nb_channels;
    o.audio_channel_mask = dec->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? dec->ch_layout.u.mask : 0;
    o.audio_sample_rate = dec->sample_rate >> (dec->lowres > 0 ? dec->lowres : 0);
    o.audio_sample_fmt = dec->sample_fmt;
    if (o.audio_disable) st->discard = AVDISCARD_ALL;
  } else if (type == AVMEDIA_TYPE_SUBTITLE) {
    if (o.subtitle_disable) st->discard = AVDISCARD_ALL;
  }
}

bool TCustomFFmpeg::OpenInputFile(const std::string& file_name) {
  if (nb_input_files() >= max_files_) {
    SetError(FormatText("max input files %d reached", max_files_));
    return false;
  }
  if (join_mode_) {
    SetError("Cannot add an input file once the inputs are joined into an output.");
    return false;
  }
  // The decoder names and the video channel given for this input are used
  // up by it, whether it opens or not.
  struct TUseUp {
    TOptionState& o;
    ~TUseUp() {
      o.video_channel = 0;
      o.video_codec_name.clear();
      o.audio_codec_name.clear();
      o.subtitle_codec_name.clear();
    }
  } use_up{opt_};
  // 1. Forced format: used up by this input.
  const AVInputFormat* fmt = nullptr;
  if (!opt_.forced_format.empty()) {
    fmt = ff::av_find_input_format(opt_.forced_format.c_str());
    if (!fmt) RaiseFmt("Unknown input format: \"%s\"", opt_.forced_format.c_str());
    opt_.forced_format.clear();
  }
  // 2. Context, demuxer parameters and generic format options.
  std::unique_ptr<AVFormatContext, TFormatContextFree> alloc(ff::avformat_alloc_context());
  if (!alloc) throw FFmpegException("avformat_alloc_context failed");
  AVDictionary* dict = nullptr;
  AddDemuxerParameters(fmt, opt_, &dict);
  store_->ApplyToFormat(alloc.get(), AV_OPT_FLAG_DECODING_PARAM, &dict);
  TDictionaryPtr demuxer_options(dict);
  // 3. Forced decoders.
  TInputFileEntry entry;
  entry.file_name = file_name;
  const AVCodec* forced[3] = {};
  const AVMediaType kinds[3] = {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_SUBTITLE};
  const std::string* names[3] = {&opt_.video_codec_name, &opt_.audio_codec_name, &opt_.subtitle_codec_name};
  for (int k = 0; k < 3; ++k) {
    if (!FindCodec(*names[k], kinds[k], false, &forced[k])) {
      Log(llError, last_err_msg_);
      return false;
    }
  }
  alloc->flags |= AVFMT_FLAG_NONBLOCK;
  SetRegistryInterrupt(alloc.get());
  int64_t timestamp = 0;
  {
    // 4. Open, with the time-out check registered for this thread.
    TIOGuard guard(this);
    guard.StepStarts();
    AVFormatContext* ctx = alloc.release();
    AVDictionary* open_dict = demuxer_options.release();
    const int ret = OpenInput(&ctx, file_name, fmt, &open_dict);
    ff::av_dict_free(&open_dict);
    if (ret < 0) {
      SetError(ErrorText(file_name, ret));
      return false;
    }
    entry.ctx.reset(ctx);
    // 5. Program selection.
    if (opt_.opt_programid) {
      bool found = false;
      for (unsigned i = 0; i < ctx->nb_streams; ++i) ctx->streams[i]->discard = AVDISCARD_ALL;
      for (unsigned p = 0; p < ctx->nb_programs; ++p) {
        if (ctx->programs[p]->id != opt_.opt_programid) continue;
        found = true;
        for (unsigned k = 0; k < ctx->programs[p]->nb_stream_indexes; ++k)
          ctx->streams[ctx->programs[p]->stream_index[k]]->discard = AVDISCARD_DEFAULT;
      }
      if (!found) {
        SetError("Specified program id not found");
        return false;
      }
      opt_.opt_programid = 0;
    }
    // 7, 8. Stream analysis.
    if (OnBeforeFindStreamInfo) OnBeforeFindStreamInfo(this, ctx);
    guard.StepStarts();
    if (ff::avformat_find_stream_info(ctx, nullptr) < 0 && opt_.verbose >= 0) {
      last_err_msg_ = FormatText("%s: could not find codec parameters", file_name.c_str());
      Log(llVerbose, last_err_msg_);
      return false;
    }
    // 9. Start position.
    timestamp = opt_.start_time;
    if (ctx->start_time != AV_NOPTS_VALUE) timestamp += ctx->start_time;
    if (opt_.start_time != 0) {
      guard.StepStarts();
      if (ff::av_seek_frame(ctx, -1, timestamp, AVSEEK_FLAG_BACKWARD) < 0 && opt_.verbose > 0)
        Logf(llVerbose, "%s: could not seek to position %0.3f", file_name.c_str(), timestamp / 1000000.0);
      opt_.start_time = 0;
    }
  }
  // 11. Streams.
  AVFormatContext* ic = entry.ctx.get();
  entry.codecs.resize(ic->nb_streams);
  for (unsigned i = 0; i < ic->nb_streams; ++i) {
    const AVMediaType type = ic->streams[i]->codecpar->codec_type;
    for (int k = 0; k < 3; ++k) {
      if (type == kinds[k]) entry.codecs[i].decoder = forced[k];
    }
    PrepareInputStream(&entry, static_cast<int>(i));
  }
  // 12, 13. Duration, time-stamp offset and scales.
  if (ic->duration != AV_NOPTS_VALUE && ic->duration > total_output_duration_)
    total_output_duration_ = ic->duration;
  entry.ts_offset = opt_.input_ts_offset - (opt_.copy_ts ? 0 : timestamp);
  entry.ts_scale = std::move(opt_.input_ts_scale);
  opt_.input_ts_scale.clear();
  input_files_.push_back(std::move(entry));
  // 14, 15.
  if (opt_.verbose >= 0) ff::av_dump_format(ic, nb_input_files() - 1, file_name.c_str(), 0);
  return true;
}

}  // namespace vidmill
