// The packet loop: choosing the input, reading, time stamps, decoding,
// stream copy, encoding, writing, join segments, the end of a run and
// progress reports. The video path is in video_path.cpp.
#include "transcode_loop.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "core/entry_points.h"
#include "core/ff_log.h"
#include "core/ff_utils.h"
#include "core/format_converter.h"
#include "core/interrupt_cb.h"
#include "core/previewer.h"
#include "custom_ffmpeg.h"
#include "encoder_clone.h"
#include "ffmpeg_exception.h"
#include "task_thread.h"
#include "transcode_loop_types.h"

namespace vidmill {

namespace {

constexpr AVRational kMicroseconds{1, 1000000};

int64_t NowUs() { return ff::av_gettime_relative(); }

// The write position of an output (what the library's inline avio_tell does).
int64_t Tell(AVIOContext* pb) { return ff::avio_seek(pb, 0, SEEK_CUR); }

}  // namespace

std::mutex& PreviewLock() {
  static std::mutex lock;
  return lock;
}

TTranscodeLoop::TTranscodeLoop(TCustomFFmpeg& task, TTaskThread* control, TLoopEvents events)
    : task_(task), opt_(task.opt_), control_(control), events_(std::move(events)) {}

TTranscodeLoop::~TTranscodeLoop() {
  if (subtitle_buf_) ff::av_free(subtitle_buf_);
  std::lock_guard lock(PreviewLock());
  previewer_.reset();
}

bool TTranscodeLoop::Broken() const { return control_ && control_->Broken(); }

// Blocking reads and writes are abandoned on a stop; while the loop drains
// after a stop the check is disarmed so the output is closed properly, but
// a drain that hangs longer than the task's time-out is abandoned all the same.
bool TTranscodeLoop::AbandonIO() const {
  if (!Broken()) return false;
  if (io_armed_.load()) return true;
  const int64_t since = drain_started_.load();
  const int64_t limit = task_.ReadTimeout > 0 ? int64_t{task_.ReadTimeout} * 1000 : 10000000;
  return since > 0 && NowUs() - since > limit;
}

std::vector<TTranscodeLoop::TOutput*> TTranscodeLoop::OutputsFedBy(int ist_index) {
  std::vector<TOutput*> fed;
  for (auto& out : outputs_) {
    if (out->ost->source_index == ist_index) fed.push_back(out.get());
  }
  return fed;
}

// ---- Set-up of the loop's own state ------------------------------------------

void TTranscodeLoop::Prepare() {
  for (size_t f = 0; f < task_.output_files_.size(); ++f) {
    TOutputFileEntry& file = task_.output_files_[f];
    for (auto& ost : file.streams) {
      auto out = std::make_unique<TOutput>();
      out->ost = ost.get();
      out->file = &file;
      out->slot = static_cast<int>(f);
      out->type = ost->enc ? ost->enc->codec_type : ost->st->codecpar->codec_type;
      if (ost->stream_copy) out->type = ost->st->codecpar->codec_type;
      out->encoded = ost->encoding_needed && !ost->stream_copy;
      out->pkt.reset(ff::av_packet_alloc());
      out->frame.reset(ff::av_frame_alloc());
      out->filtered.reset(ff::av_frame_alloc());
      if (!out->pkt || !out->frame || !out->filtered) throw FFmpegException("Could not alloc buffer.");
      if (out->type == AVMEDIA_TYPE_VIDEO && out->encoded) ForcedKeyFrames(out.get());
      outputs_.push_back(std::move(out));
    }
  }
  for (size_t i = 0; i < task_.input_streams_.size(); ++i) {
    auto in = std::make_unique<TInput>();
    in->frame.reset(ff::av_frame_alloc());
    in->pkt.reset(ff::av_packet_alloc());
    in->deinterlaced.reset(ff::av_frame_alloc());
    if (!in->frame || !in->pkt || !in->deinterlaced) throw FFmpegException("Could not alloc buffer.");
    inputs_.push_back(std::move(in));
  }
  try_again_.assign(task_.input_files_.size(), false);
  input_hook_on_ = static_cast<bool>(events_.video_input_hook) && task_.VideoInputHookAssigned;
  output_hook_on_ = static_cast<bool>(events_.video_output_hook) && task_.VideoOutputHookAssigned;
  if (input_hook_on_) {
    input_converter_ = std::make_unique<TFormatConverter>();
    input_converter_->SetBitsPixel(task_.VideoHookBitsPixel);
  }
  output_converter_ = std::make_unique<TFormatConverter>();
  output_converter_->SetBitsPixel(task_.VideoHookBitsPixel);
}

// Times of forced key frames in the encoder's time base.
void TTranscodeLoop::ForcedKeyFrames(TOutput* out) {
  TAVOutputStream* ost = out->ost;
  if (ost->forced_key_frames.empty() || !ost->forced_kf_pts.empty()) return;
  std::string rest = ost->forced_key_frames;
  while (!rest.empty()) {
    const std::string t = Split(rest, ",", true);
    int64_t us = 0;
    if (ff::av_parse_time(&us, t.c_str(), 1) < 0)
      throw FFmpegException(FormatText("Invalid %s specification for %s: %s", "duration", "forced key frames", t.c_str()));
    ost->forced_kf_pts.push_back(ff::av_rescale_q(us, kMicroseconds, ost->enc->time_base));
  }
  std::sort(ost->forced_kf_pts.begin(), ost->forced_kf_pts.end());
  ost->forced_kf_index = 0;
}

// ---- The loop -------------------------------------------------------------------

void TTranscodeLoop::Run() {
  Prepare();
  timer_start_ = NowUs();
  last_report_ = timer_start_;
  std::unique_ptr<TInterruptScope> stop_check;
  if (control_ && control_->OnWorkerThread())
    stop_check = std::make_unique<TInterruptScope>(this, [this] { return AbandonIO(); });
  AVPacket* pkt = ff::av_packet_alloc();
  if (!pkt) throw FFmpegException("Could not alloc buffer.");
  std::unique_ptr<AVPacket, void (*)(AVPacket*)> pkt_holder(pkt, [](AVPacket* p) { ff::av_packet_free(&p); });

  while (!Broken()) {
    if (control_) control_->PassGate();  // a paused task holds still here, between packets
    if (Broken()) break;
    const int file_index = ChooseInput();
    if (file_index < 0) {
      if (task_.join_mode_ || try_again_count_ == 0) break;
      std::fill(try_again_.begin(), try_again_.end(), false);
      try_again_count_ = 0;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    if (SizeLimitReached()) break;
    AVFormatContext* ic = task_.input_files_[file_index].ctx.get();
    const int ret = ff::av_read_frame(ic, pkt);
    if (ret == AVERROR(EAGAIN)) {
      if (!try_again_[file_index]) ++try_again_count_;
      try_again_[file_index] = true;
      continue;
    }
    if (ret < 0) {
      if (Broken()) break;  // the read was abandoned by the stop
      if (ret != AVERROR_EOF)
        throw FFmpegException(ErrorText(task_.input_files_[file_index].file_name, ret));
      task_.input_tables_[file_index].eof_reached = true;
      if (opt_.opt_shortest && !task_.join_mode_) break;
      if (task_.join_mode_ && !SwitchSegment(file_index)) break;
      continue;
    }
    std::fill(try_again_.begin(), try_again_.end(), false);
    try_again_count_ = 0;
    if (opt_.do_pkt_dump)
      task_.Logf(llDebug, "stream #%d: pts=%lld dts=%lld size=%d%s", pkt->stream_index,
                 static_cast<long long>(pkt->pts), static_cast<long long>(pkt->dts), pkt->size,
                 (pkt->flags & AV_PKT_FLAG_KEY) ? " key" : "");
    HandlePacket(pkt, file_index);
    ff::av_packet_unref(pkt);
    const int64_t now = NowUs();
    if (now - last_report_ > std::max<int64_t>(ReportInterval, 1)) {
      last_report_ = now;
      ReportProgress(false, file_index);
    }
  }
  Finish();
}

int TTranscodeLoop::ChooseInput() {
  if (task_.join_mode_) {
    for (auto& out : outputs_) {
      if (out->slot != join_index_) continue;
      const int type = out->type == AVMEDIA_TYPE_VIDEO   ? flVideo
                       : out->type == AVMEDIA_TYPE_AUDIO ? flAudio
                       : out->type == AVMEDIA_TYPE_DATA  ? flData
                                                         : flSubtitle;
      if (out->ost->frame_number >= opt_.max_frames[type]) return -1;
    }
    return join_index_;
  }
  int file_index = -1;
  double ipts_min = 1e100, opts_min = 1e100;
  for (auto& out : outputs_) {
    const TAVInputStream& ist = task_.input_streams_[out->ost->source_index];
    if (ist.is_past_recording_time || try_again_[ist.file_index]) continue;
    const double opts = OutputTime(*out);
    const double ipts = static_cast<double>(ist.pts);
    if (!task_.input_tables_[ist.file_index].eof_reached) {
      if (ipts < ipts_min) {
        ipts_min = ipts;
        if (opt_.input_sync) file_index = ist.file_index;
      }
      if (opts < opts_min) {
        opts_min = opts;
        if (!opt_.input_sync) file_index = ist.file_index;
      }
    }
    const int type = out->type == AVMEDIA_TYPE_VIDEO   ? flVideo
                     : out->type == AVMEDIA_TYPE_AUDIO ? flAudio
                     : out->type == AVMEDIA_TYPE_DATA  ? flData
                                                       : flSubtitle;
    if (out->ost->frame_number >= opt_.max_frames[type]) return -1;
  }
  return file_index;
}

bool TTranscodeLoop::SizeLimitReached() const {
  if (opt_.limit_filesize <= 0 || task_.output_files_.empty()) return false;
  AVIOContext* pb = task_.output_files_[0].out->ctx->pb;
  return pb && Tell(pb) >= opt_.limit_filesize;
}

// The output time a stream has reached, seconds: what was handed to its
// encoder, or for a copied stream what was written.
double TTranscodeLoop::OutputTime(const TOutput& out) const {
  const TAVOutputStream* ost = out.ost;
  if (out.encoded && out.type == AVMEDIA_TYPE_VIDEO)
    return static_cast<double>(ost->sync_opts) * av_q2d(ost->enc->time_base);
  if (out.encoded && out.type == AVMEDIA_TYPE_AUDIO && out.audio)
    return static_cast<double>(out.audio->SyncOpts()) / std::max(ost->enc->sample_rate, 1);
  return static_cast<double>(out.end_time_us) / 1000000.0;
}

void TTranscodeLoop::HandlePacket(AVPacket* pkt, int file_index) {
  const TAVInputFile& table = task_.input_tables_[file_index];
  if (pkt->stream_index >= table.nb_streams) return;  // a stream that appeared after set-up
  const int ist_index = table.ist_index + pkt->stream_index;
  TAVInputStream& ist = task_.input_streams_[ist_index];
  if (ist.discard) return;
  TInputFileEntry& file = task_.input_files_[file_index];
  const AVRational tb = ist.st->time_base;
  const int64_t offset = ff::av_rescale_q(file.ts_offset, kMicroseconds, tb);
  if (pkt->dts != AV_NOPTS_VALUE) pkt->dts += offset;
  if (pkt->pts != AV_NOPTS_VALUE) pkt->pts += offset;
  if (ist.index < static_cast<int>(file.ts_scale.size())) {
    const double scale = file.ts_scale[ist.index];
    if (scale != 0 && scale != 1) {
      if (pkt->dts != AV_NOPTS_VALUE) pkt->dts = std::llround(static_cast<double>(pkt->dts) * scale);
      if (pkt->pts != AV_NOPTS_VALUE) pkt->pts = std::llround(static_cast<double>(pkt->pts) * scale);
    }
  }
  // Discontinuous time stamps (transport streams): move the file's offset.
  if (pkt->dts != AV_NOPTS_VALUE && ist.next_pts != AV_NOPTS_VALUE &&
      (file.ctx->iformat->flags & AVFMT_TS_DISCONT) && !opt_.copy_ts) {
    const int64_t dts_us = ff::av_rescale_q(pkt->dts, tb, kMicroseconds);
    const int64_t delta = dts_us - ist.next_pts;
    if (std::fabs(static_cast<double>(delta)) > opt_.dts_delta_threshold * 1000000.0 || dts_us + 1 < ist.pts) {
      file.ts_offset -= delta;
      if (opt_.verbose > 2)
        task_.Logf(llVerbose, "timestamp discontinuity %lld, new offset= %lld", static_cast<long long>(delta),
                   static_cast<long long>(file.ts_offset));
      const int64_t shift = ff::av_rescale_q(delta, kMicroseconds, tb);
      pkt->dts -= shift;
      if (pkt->pts != AV_NOPTS_VALUE) pkt->pts -= shift;
    }
  }
  // Time limit: start position + duration, compared in exact time bases.
  if (opt_.recording_time != INT64_MAX) {
    const int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
    if (ts != AV_NOPTS_VALUE &&
        ff::av_compare_ts(ts, tb, opt_.recording_time + opt_.start_time, kMicroseconds) >= 0) {
      ist.is_past_recording_time = true;
      return;
    }
  }
  if (ProcessPacket(ist_index, pkt) < 0) {
    const std::string msg =
        FormatText("Error while decoding stream #%d.%d (%s)", ist.file_index, ist.index,
                   StreamTypeName(ist.st->codecpar->codec_type).c_str());
    if (opt_.exit_on_error) throw FFmpegException(msg);
    if (opt_.verbose >= 0) task_.Log(llVerbose, msg);
  }
}

// ---- Decoding ------------------------------------------------------------------

int TTranscodeLoop::ProcessPacket(int ist_index, const AVPacket* pkt) {
  TAVInputStream& ist = task_.input_streams_[ist_index];
  if (ist.next_pts == AV_NOPTS_VALUE) ist.next_pts = ist.pts;
  if (pkt && pkt->dts != AV_NOPTS_VALUE) ist.next_pts = ist.pts = ff::av_rescale_q(pkt->dts, ist.st->time_base, kMicroseconds);
  if (!ist.decoding_needed) {
    if (!pkt) return 0;
    ist.pts = ist.next_pts;
    const AVCodecParameters* par = ist.st->codecpar;
    if (par->codec_type == AVMEDIA_TYPE_AUDIO && par->sample_rate > 0 && par->frame_size > 0) {
      ist.next_pts += int64_t{1000000} * par->frame_size / par->sample_rate;
    } else if (pkt->duration > 0) {
      ist.next_pts += ff::av_rescale_q(pkt->duration, ist.st->time_base, kMicroseconds);
    } else if (par->codec_type == AVMEDIA_TYPE_VIDEO && ist.st->r_frame_rate.num > 0) {
      ist.next_pts += ff::av_rescale_q(1, av_inv_q(ist.st->r_frame_rate), kMicroseconds);
    }
    CopyPacket(ist_index, pkt);
    return 0;
  }
  const int ret = Decode(ist_index, pkt);
  if (!pkt) DrainOutputs(ist_index);
  return ret;
}

int TTranscodeLoop::Decode(int ist_index, const AVPacket* pkt) {
  TAVInputStream& ist = task_.input_streams_[ist_index];
  TInput& in = *inputs_[ist_index];
  AVCodecContext* dec = ist.dec;
  const AVMediaType type = ist.st->codecpar->codec_type;
  if (type == AVMEDIA_TYPE_SUBTITLE) {
    if (!pkt) return 0;
    AVSubtitle sub{};
    int got = 0;
    const int ret = ff::avcodec_decode_subtitle2(dec, &sub, &got, const_cast<AVPacket*>(pkt));
    if (ret < 0) return -1;
    if (got) {
      const int64_t pts_us = pkt->pts != AV_NOPTS_VALUE ? ff::av_rescale_q(pkt->pts, ist.st->time_base, kMicroseconds)
                                                        : AV_NOPTS_VALUE;
      if (opt_.start_time == 0 || ist.pts >= opt_.start_time) {
        for (TOutput* out : OutputsFedBy(ist_index)) {
          if (out->encoded) SubtitleOut(out, &sub, pts_us);
        }
      }
      ff::avsubtitle_free(&sub);
    }
    return 0;
  }
  if (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO) return 0;
  if (!pkt && in.decoder_eof) return 0;
  int result = 0;
  int sent = ff::avcodec_send_packet(dec, pkt);
  if (sent == AVERROR(EAGAIN)) sent = 0;  // frames first; never happens as every send is drained
  if (sent < 0 && sent != AVERROR_EOF) result = -1;
  if (!pkt) in.decoder_eof = true;
  AVFrame* frame = in.frame.get();
  for (;;) {
    const int ret = ff::avcodec_receive_frame(dec, frame);
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) break;
    if (ret < 0) {
      result = -1;
      break;
    }
    // The frame's time: the library's best guess of its presentation time.
    const int64_t best = frame->best_effort_timestamp;
    ist.pts = best != AV_NOPTS_VALUE ? ff::av_rescale_q(best, ist.st->time_base, kMicroseconds) : ist.next_pts;
    if (type == AVMEDIA_TYPE_AUDIO) {
      ist.next_pts = ist.pts + (frame->sample_rate > 0 ? int64_t{1000000} * frame->nb_samples / frame->sample_rate : 0);
      HandleAudio(ist_index, frame);
    } else {
      int64_t duration = frame->pkt_duration > 0 ? ff::av_rescale_q(frame->pkt_duration, ist.st->time_base, kMicroseconds) : 0;
      if (duration <= 0 && dec->framerate.num > 0)
        duration = ff::av_rescale_q(1 + frame->repeat_pict, av_inv_q(dec->framerate), kMicroseconds);
      else if (duration <= 0 && ist.st->r_frame_rate.num > 0)
        duration = ff::av_rescale_q(1, av_inv_q(ist.st->r_frame_rate), kMicroseconds);
      ist.next_pts = ist.pts + duration;
      in.quality = frame->quality;
      HandleVideo(ist_index, frame);
    }
    ff::av_frame_unref(frame);
    if (Broken() && pkt) break;
  }
  return result;
}

void TTranscodeLoop::HandleAudio(int ist_index, AVFrame* frame) {
  TAVInputStream& ist = task_.input_streams_[ist_index];
  const bool hook = static_cast<bool>(events_.audio_hook) && task_.AudioHookAssigned;
  if (hook || opt_.audio_volume != 256) {
    if (ff::av_frame_make_writable(frame) < 0) throw FFmpegException("Out of memory in do_audio_out");
    if (hook) {
      WithPackedSamples(frame, [&](uint8_t* samples, int size, AVSampleFormat format) {
        events_.audio_hook(ist.pts, samples, size, frame->sample_rate, frame->ch_layout.nb_channels, format);
      });
    }
    ApplyVolume(frame, opt_.audio_volume);
  }
  PaceToRealTime(ist);
  if (opt_.start_time != 0 && ist.pts < opt_.start_time) return;
  for (TOutput* out : OutputsFedBy(ist_index)) {
    if (!out->encoded || out->type != AVMEDIA_TYPE_AUDIO) continue;
    if (!out->audio) {
      TAudioSyncSettings s;
      s.sync_method = opt_.audio_sync_method;
      s.drift_threshold = opt_.audio_drift_threshold;
      s.verbose = opt_.verbose;
      s.file_index = ist.file_index;
      s.stream_index = ist.index;
      out->audio = std::make_unique<TAudioPath>(out->ost->enc.get(), out->ost->fifo, s,
                                                [this](TLogLevel l, const std::string& t) { task_.Log(l, t); });
      out->audio->SetSyncOpts(out->ost->sync_opts);
    }
    out->audio->Push(frame, ist.pts - opt_.start_time, &out->at_start, [this, out](AVFrame* f) { EncodeAudio(out, f); });
    out->ost->sync_opts = out->audio->SyncOpts();
  }
}

void TTranscodeLoop::PaceToRealTime(const TAVInputStream& ist) const {
  if (!opt_.rate_emu) return;
  const int64_t elapsed = ff::av_gettime() - ist.start;
  const int64_t ahead = ist.pts - elapsed;
  if (ahead > 1000) std::this_thread::sleep_for(std::chrono::milliseconds(ahead / 1000));
}

// End of an input stream: what the filters, the audio FIFO and the encoders
// fed by it still hold.
void TTranscodeLoop::DrainOutputs(int ist_index) {
  TInput& in = *inputs_[ist_index];
  if (in.deinterlace) {
    in.deinterlace->SendFrame(nullptr);
    AVFrame* frame = in.deinterlaced.get();
    while (in.deinterlace->ReceiveFrame(frame) >= 0) {
      PassPicture(ist_index, frame);
      ff::av_frame_unref(frame);
    }
    in.deinterlace.reset();
  }
  for (TOutput* out : OutputsFedBy(ist_index)) {
    if (!out->encoded || out->encoder_drained) continue;
    if (out->type == AVMEDIA_TYPE_VIDEO) {
      FlushVideoChain(out, ist_index);
      EncodeVideo(out, nullptr);
    } else if (out->type == AVMEDIA_TYPE_AUDIO) {
      if (out->audio) {
        out->audio->Flush([this, out](AVFrame* f) { EncodeAudio(out, f); });
        out->ost->sync_opts = out->audio->SyncOpts();
      }
      EncodeAudio(out, nullptr);
    } else {
      continue;
    }
    out->encoder_drained = true;
  }
}

// ---- Stream copy -----------------------------------------------------------------

void TTranscodeLoop::CopyPacket(int ist_index, const AVPacket* pkt) {
  const TAVInputStream& ist = task_.input_streams_[ist_index];
  if (opt_.start_time != 0 && ist.pts < opt_.start_time) return;
  for (TOutput* out : OutputsFedBy(ist_index)) {
    TAVOutputStream* ost = out->ost;
    if (out->encoded) continue;
    if (!ost->frame_number && !(pkt->flags & AV_PKT_FLAG_KEY) && !opt_.copy_initial_nonkeyframes) continue;
    if (out->type == AVMEDIA_TYPE_AUDIO) audio_size_ += pkt->size;
    if (out->type == AVMEDIA_TYPE_VIDEO) {
      video_size_ += pkt->size;
      ++ost->sync_opts;
    }
    AVPacket* opkt = out->pkt.get();
    if (ff::av_packet_ref(opkt, pkt) < 0) throw FFmpegException("Could not alloc buffer.");
    const AVRational otb = ost->st->time_base;
    const int64_t start = ff::av_rescale_q(opt_.start_time, kMicroseconds, otb);
    opkt->pts = pkt->pts != AV_NOPTS_VALUE ? ff::av_rescale_q(pkt->pts, ist.st->time_base, otb) - start : AV_NOPTS_VALUE;
    opkt->dts = pkt->dts != AV_NOPTS_VALUE ? ff::av_rescale_q(pkt->dts, ist.st->time_base, otb)
                                           : ff::av_rescale_q(ist.pts, kMicroseconds, otb);
    opkt->dts -= start;
    opkt->duration = ff::av_rescale_q(pkt->duration, ist.st->time_base, otb);
    opkt->stream_index = ost->st->index;
    opkt->pos = -1;
    WriteFrame(out, opkt);
    ++ost->frame_number;
  }
}

// ---- Subtitles ---------------------------------------------------------------------

void TTranscodeLoop::SubtitleOut(TOutput* out, const AVSubtitle* sub, int64_t pts_us) {
  if (pts_us == AV_NOPTS_VALUE) {
    if (opt_.exit_on_error) throw FFmpegException("Subtitle packets must have a pts");
    task_.Log(llError, "Subtitle packets must have a pts");
    return;
  }
  constexpr int kSubtitleBufSize = 1024 * 1024;
  if (!subtitle_buf_) {
    subtitle_buf_ = static_cast<uint8_t*>(ff::av_malloc(kSubtitleBufSize));
    if (!subtitle_buf_) throw FFmpegException("Could not alloc buffer.");
  }
  AVCodecContext* enc = out->ost->enc.get();
  const bool dvb = enc->codec_id == AV_CODEC_ID_DVB_SUBTITLE;
  const int passes = dvb ? 2 : 1;
  AVSubtitle copy = *sub;
  for (int i = 0; i < passes; ++i) {
    copy.pts = pts_us + int64_t{sub->start_display_time} * 1000;
    copy.end_display_time = sub->end_display_time - sub->start_display_time;
    copy.start_display_time = 0;
    if (dvb && i == 1) copy.num_rects = 0;  // the second packet clears the picture
    const int size = ff::avcodec_encode_subtitle(enc, subtitle_buf_, kSubtitleBufSize, &copy);
    if (size < 0) throw FFmpegException("Subtitle encoding failed");
    AVPacket* pkt = out->pkt.get();
    ff::av_packet_unref(pkt);
    if (ff::av_new_packet(pkt, size) < 0) throw FFmpegException("Could not alloc buffer.");
    std::memcpy(pkt->data, subtitle_buf_, static_cast<size_t>(size));
    const AVRational tb = out->ost->st->time_base;
    pkt->pts = ff::av_rescale_q(copy.pts, kMicroseconds, tb);
    if (dvb) pkt->pts += ff::av_rescale_q(int64_t{90} * (i == 0 ? copy.start_display_time : copy.end_display_time),
                                          AVRational{1, 90000}, tb);
    pkt->dts = pkt->pts;
    pkt->duration = ff::av_rescale_q(copy.end_display_time, AVRational{1, 1000}, tb);
    pkt->stream_index = out->ost->st->index;
    WriteFrame(out, pkt);
  }
  ++out->ost->frame_number;
}

// ---- Encoding and writing ----------------------------------------------------------

void TTranscodeLoop::EncodeAudio(TOutput* out, AVFrame* frame) {
  AVCodecContext* enc = out->ost->enc.get();
  if (frame) {
    frame->pts = ff::av_rescale_q(frame->pts, AVRational{1, enc->sample_rate}, enc->time_base);
    ++out->ost->frame_number;
  }
  const int ret = ff::avcodec_send_frame(enc, frame);
  if (ret < 0 && ret != AVERROR_EOF) throw FFmpegException("Audio encoding failed");
  ReceivePackets(out, "Audio encoding failed");
}

void TTranscodeLoop::EncodeVideo(TOutput* out, AVFrame* frame) {
  const int ret = ff::avcodec_send_frame(out->ost->enc.get(), frame);
  if (ret < 0 && ret != AVERROR_EOF) throw FFmpegException("Video encoding failed");
  ReceivePackets(out, "Video encoding failed");
}

void TTranscodeLoop::ReceivePackets(TOutput* out, const char* failure) {
  TAVOutputStream* ost = out->ost;
  AVCodecContext* enc = ost->enc.get();
  AVPacket* pkt = out->pkt.get();
  for (;;) {
    const int ret = ff::avcodec_receive_packet(enc, pkt);
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return;
    if (ret < 0) throw FFmpegException(failure);
    if (out->type == AVMEDIA_TYPE_VIDEO) {
      size_t side_size = 0;
      const uint8_t* stats = ff::av_packet_get_side_data(pkt, AV_PKT_DATA_QUALITY_STATS, &side_size);
      if (stats && side_size >= 6) {
        std::memcpy(&out->quality, stats, 4);
        out->pict_type = stats[4];
        const int errors = std::min<int>(stats[5], 4);
        for (int i = 0; i < errors && side_size >= 8 + 8 * static_cast<size_t>(i + 1); ++i)
          std::memcpy(&out->error[i], stats + 8 + 8 * i, 8);
      }
      video_size_ += pkt->size;
      if (ost->logfile && enc->stats_out) std::fputs(enc->stats_out, ost->logfile);
      WriteVideoStats(out, pkt->size);
    } else {
      audio_size_ += pkt->size;
    }
    ff::av_packet_rescale_ts(pkt, enc->time_base, ost->st->time_base);
    KeepTimesRising(out, pkt);
    pkt->stream_index = ost->st->index;
    WriteFrame(out, pkt);
  }
}

// The muxer refuses decoding times that do not rise. A fresh encoder of a
// joined output starts with its own delay; its packets are moved past what
// was written (never earlier).
void TTranscodeLoop::KeepTimesRising(TOutput* out, AVPacket* pkt) {
  if (pkt->pts != AV_NOPTS_VALUE) pkt->pts += out->ts_shift;
  if (pkt->dts != AV_NOPTS_VALUE) pkt->dts += out->ts_shift;
  if (pkt->dts != AV_NOPTS_VALUE && out->last_dts != AV_NOPTS_VALUE && pkt->dts <= out->last_dts) {
    const int64_t shift = out->last_dts + 1 - pkt->dts;
    out->ts_shift += shift;
    pkt->dts += shift;
    if (pkt->pts != AV_NOPTS_VALUE) pkt->pts += shift;
  }
  if (pkt->dts != AV_NOPTS_VALUE) out->last_dts = pkt->dts;
}

void TTranscodeLoop::InitBitstreamFilters(TOutput* out) {
  out->bsf_ready = true;
  TAVOutputStream* ost = out->ost;
  for (const std::string& name : ost->bitstream_filter_names) {
    const AVBitStreamFilter* filter = ff::av_bsf_get_by_name(name.c_str());
    AVBSFContext* ctx = nullptr;
    if (!filter || ff::av_bsf_alloc(filter, &ctx) < 0)
      throw FFmpegException(FormatText("Unknown bitstream filter %s", name.c_str()));
    TBsfPtr holder(ctx);
    ff::avcodec_parameters_copy(ctx->par_in, ost->st->codecpar);
    ctx->time_base_in = ost->st->time_base;
    const int ret = ff::av_bsf_init(ctx);
    if (ret < 0)
      throw FFmpegException(FormatText("%s failed for stream %d, codec %s", name.c_str(), ost->st->index,
                                       ost->stream_copy ? "copy" : ost->enc->codec ? ost->enc->codec->name : "copy") +
                            ": " + ErrorCodeText(ret));
    out->bsfs.push_back(std::move(holder));
  }
}

void TTranscodeLoop::WriteFrame(TOutput* out, AVPacket* pkt) {
  if (!out->bsf_ready) InitBitstreamFilters(out);
  WriteThroughFilters(out, pkt, 0);
}

void TTranscodeLoop::WriteThroughFilters(TOutput* out, AVPacket* pkt, size_t first_filter) {
  TAVOutputStream* ost = out->ost;
  if (first_filter < out->bsfs.size()) {
    AVBSFContext* bsf = out->bsfs[first_filter].get();
    AVPacket* kept = ff::av_packet_clone(pkt);  // passed on unchanged when the filter fails
    std::unique_ptr<AVPacket, void (*)(AVPacket*)> holder(kept, [](AVPacket* p) { ff::av_packet_free(&p); });
    int ret = ff::av_bsf_send_packet(bsf, pkt);
    if (ret >= 0) {
      AVPacket* filtered = ff::av_packet_alloc();
      std::unique_ptr<AVPacket, void (*)(AVPacket*)> fholder(filtered, [](AVPacket* p) { ff::av_packet_free(&p); });
      while ((ret = ff::av_bsf_receive_packet(bsf, filtered)) >= 0) {
        filtered->stream_index = ost->st->index;
        WriteThroughFilters(out, filtered, first_filter + 1);
      }
      if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return;
    }
    const std::string msg =
        FormatText("%s failed for stream %d, codec %s", ost->bitstream_filter_names[first_filter].c_str(),
                   ost->st->index, ost->stream_copy ? "copy" : (ost->enc->codec ? ost->enc->codec->name : "copy")) +
        ": " + ErrorCodeText(ret);
    if (opt_.exit_on_error) throw FFmpegException(msg);
    task_.Log(llError, msg);
    if (kept) WriteThroughFilters(out, kept, first_filter + 1);
    return;
  }
  // The end of what this packet covers, for the stream's output time.
  const int64_t last = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
  if (last != AV_NOPTS_VALUE)
    out->end_time_us = std::max(out->end_time_us,
                                ff::av_rescale_q(last + std::max<int64_t>(pkt->duration, 0), ost->st->time_base, kMicroseconds));
  const int ret = ff::av_interleaved_write_frame(out->file->out->ctx, pkt);
  if (ret < 0) throw FFmpegException(ErrorText("av_interleaved_write_frame()", ret));
  ++packets_written_;
}

// ---- Join segments ----------------------------------------------------------------

// The input being played has ended: drain it, give the next slot fresh
// encoders that continue the stream, and move to the next input. False
// when it was the last input.
bool TTranscodeLoop::SwitchSegment(int file_index) {
  const TAVInputFile& table = task_.input_tables_[file_index];
  for (int i = table.ist_index; i < table.ist_index + table.nb_streams; ++i) {
    TAVInputStream& ist = task_.input_streams_[i];
    if (!ist.decoding_needed || ist.decoder_flushed) continue;
    ProcessPacket(i, nullptr);
    ff::avcodec_flush_buffers(ist.dec);
    ist.decoder_flushed = true;
  }
  double segment_end = 0;
  for (auto& out : outputs_) {
    if (out->slot != join_index_) continue;
    segment_end = std::max(segment_end, OutputTime(*out));
    out->ost->show_fps = false;
  }
  const int next = join_index_ + 1;
  if (next >= static_cast<int>(task_.input_files_.size()) || next >= static_cast<int>(task_.output_files_.size()))
    return false;
  // Fresh encoders start with their own delay (B-frames, audio priming):
  // the next segment starts that much later, the same for all its streams.
  int64_t gap_us = 0;
  for (auto& out : outputs_) {
    if (out->slot != next) continue;
    TOutput* previous = Previous(out.get());
    if (!previous) continue;
    if (out->encoded) gap_us = std::max(gap_us, ReopenEncoder(out.get(), previous));
    out->ost->frame_number = previous->ost->frame_number;
    out->end_time_us = previous->end_time_us;
    out->quality = previous->quality;
    out->last_dts = previous->last_dts;
    out->ts_shift = previous->ts_shift;
  }
  for (auto& out : outputs_) {
    if (out->slot != next) continue;
    TOutput* previous = Previous(out.get());
    if (!previous) continue;
    const AVCodecContext* enc = out->ost->enc.get();
    int64_t gap = 0;
    if (out->encoded && out->type == AVMEDIA_TYPE_VIDEO) gap = ff::av_rescale_q_rnd(gap_us, kMicroseconds, enc->time_base, AV_ROUND_UP);
    if (out->encoded && out->type == AVMEDIA_TYPE_AUDIO) gap = ff::av_rescale_q_rnd(gap_us, kMicroseconds, AVRational{1, enc->sample_rate}, AV_ROUND_UP);
    out->ost->sync_opts = previous->ost->sync_opts + gap;
  }
  task_.input_files_[next].ts_offset += std::llround(segment_end * 1000000.0) + gap_us;
  join_index_ = next;
  return true;
}

TTranscodeLoop::TOutput* TTranscodeLoop::Previous(TOutput* out) {
  for (auto& p : outputs_) {
    if (p->slot == out->slot - 1 && p->ost->index == out->ost->index) return p.get();
  }
  return nullptr;
}

// A fresh encoder with the settings of the drained one; its header must be
// the one already written, or the joined file could not be played. Returns
// the encoder's start-up delay in microseconds.
int64_t TTranscodeLoop::ReopenEncoder(TOutput* out, TOutput* previous) {
  TAVOutputStream* ost = out->ost;
  const AVCodecContext* old = previous->ost->enc.get();
  // The settings were kept, before opening, with the first slot's stream.
  const TAVOutputStream* first = task_.output_files_[0].streams[static_cast<size_t>(ost->index)].get();
  const AVCodecContext* settings = first->enc_template ? first->enc_template.get() : old;
  const AVCodec* codec = old->codec ? old->codec : ff::avcodec_find_encoder(ost->codec_id);
  const std::string failure = FormatText(
      "Error while opening codec for output stream #%d.%d (%s) - maybe incorrect parameters such as bit_rate, rate, "
      "width or height",
      0, ost->index, StreamTypeName(old->codec_type).c_str());
  if (!codec) throw FFmpegException(FormatText("Unsupported codec for output stream #%d.%d (%s)", 0, ost->index,
                                               StreamTypeName(old->codec_type).c_str()));
  TCodecContextPtr fresh = CloneEncoderSettings(settings, codec);
  if (!fresh) throw FFmpegException(failure);
  AVCodecContext* enc = fresh.get();
  AVDictionary* options = nullptr;
  ff::av_dict_copy(&options, first->encoder_options_template.get(), 0);
  const int opened = ff::avcodec_open2(enc, codec, &options);
  ff::av_dict_free(&options);
  if (opened < 0) throw FFmpegException(failure);
  const AVCodecParameters* written = ost->st->codecpar;
  if (written->extradata_size != enc->extradata_size ||
      (enc->extradata_size && std::memcmp(written->extradata, enc->extradata, static_cast<size_t>(enc->extradata_size))))
    throw FFmpegException(FormatText("Cannot join input #%d: its encoder header for output stream #0.%d differs "
                                     "from the one already written",
                                     out->slot, ost->index));
  // The slots share the stream: every one now refers to the fresh encoder.
  for (auto& o : outputs_) {
    if (o->ost->index != ost->index) continue;
    o->ost->enc = fresh;
    if (o->audio) o->audio->SetEncoder(enc);
    o->encoder_drained = o->slot < out->slot;
  }
  if (enc->codec_type == AVMEDIA_TYPE_AUDIO)
    return enc->sample_rate > 0 ? int64_t{1000000} * enc->initial_padding / enc->sample_rate : 0;
  if (enc->framerate.num > 0)
    return ff::av_rescale_q(enc->has_b_frames, av_inv_q(enc->framerate), kMicroseconds);
  return ff::av_rescale_q(enc->has_b_frames, enc->time_base, kMicroseconds);
}

// ---- The end of a run -------------------------------------------------------------

void TTranscodeLoop::Finish() {
  // From here on the stop check no longer abandons writes (see AbandonIO).
  if (Broken()) drain_started_ = NowUs();
  io_armed_ = false;
  for (size_t i = 0; i < task_.input_streams_.size(); ++i) {
    TAVInputStream& ist = task_.input_streams_[i];
    if (!ist.decoding_needed || ist.decoder_flushed) continue;
    if (task_.join_mode_ && ist.file_index != join_index_ && ist.file_index > join_index_) {
      // An input never played (stopped before it): nothing of it was encoded.
      continue;
    }
    ProcessPacket(static_cast<int>(i), nullptr);
    ist.decoder_flushed = true;
  }
  // Encoders whose input never gave a frame were not drained above.
  for (auto& out : outputs_) {
    if (!out->encoded || out->encoder_drained) continue;
    if (task_.join_mode_ && out->slot != join_index_) continue;
    if (out->type == AVMEDIA_TYPE_VIDEO) EncodeVideo(out.get(), nullptr);
    if (out->type == AVMEDIA_TYPE_AUDIO) EncodeAudio(out.get(), nullptr);
    out->encoder_drained = true;
  }
  const AVFormatContext* last = nullptr;
  for (size_t f = 0; f < task_.output_files_.size(); ++f) {
    TOutputContext* oc = task_.output_files_[f].out.get();
    if (oc->ctx == last || !oc->header_written) continue;
    last = oc->ctx;
    const int ret = ff::av_write_trailer(oc->ctx);
    if (ret < 0) throw FFmpegException(ErrorText(FormatText("Could not write trailer for output file #%d", static_cast<int>(f)), ret));
    if (oc->ctx->pb && oc->ctx->pb->error < 0)
      throw FFmpegException(ErrorText(oc->file_name, oc->ctx->pb->error));
  }
  ReportProgress(true, -1);
  finished_ = !Broken();
}

// ---- Progress -------------------------------------------------------------------

void TTranscodeLoop::ReportProgress(bool is_last, int file_index) {
  TReportInput in;
  in.is_last = is_last;
  in.file_index = file_index;
  in.elapsed_s = static_cast<double>(NowUs() - timer_start_) / 1000000.0;
  in.qp_hist = opt_.qp_hist;
  in.verbose = opt_.verbose;
  in.has_receiver = static_cast<bool>(events_.progress);
  in.dup = nb_frames_dup_;
  in.drop = nb_frames_drop_;
  in.total_duration = task_.TotalOutputDuration();
  if (!task_.output_files_.empty()) {
    AVIOContext* pb = task_.output_files_[0].out->ctx->pb;
    if (pb) {
      int64_t size = ff::avio_size(pb);
      if (size < 0) size = Tell(pb);
      in.total_size = std::max<int64_t>(size, 0);
    }
  }
  for (auto& out : outputs_) {
    if (task_.join_mode_ && out->slot != join_index_) continue;
    TReportStream s;
    s.video = out->type == AVMEDIA_TYPE_VIDEO;
    s.copied = !out->encoded;
    s.show_fps = out->ost->show_fps || (task_.join_mode_ && is_last);
    s.frames = out->ost->frame_number;
    s.quality = out->quality;
    s.time_s = OutputTime(*out);
    if (s.video && out->encoded && (out->ost->enc->flags & AV_CODEC_FLAG_PSNR)) {
      s.psnr = true;
      s.width = out->ost->enc->width;
      s.height = out->ost->enc->height;
      for (int j = 0; j < 3; ++j) s.error[j] = is_last ? out->ost->enc->error[j] : out->error[j];
    }
    in.streams.push_back(s);
  }
  TReportOutput report = BuildReport(in, &qp_hist_);
  if (report.skipped) return;
  if (show_dup_or_drop_ && opt_.verbose >= 0 && in.has_receiver && !report.line.empty()) {
    show_dup_or_drop_ = false;
    task_.Log(llVerbose, report.line);
  }
  if (report.send) events_.progress(report.figures);
  if (report.log_line) task_.Log(llVerbose, report.line);
  if (is_last && opt_.verbose >= 0)
    task_.Log(llVerbose, FinalSizeLine(video_size_, audio_size_, task_.extra_size_, in.total_size));
}

}  // namespace vidmill
