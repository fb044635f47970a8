// The video path: decoded pictures are deinterlaced and shown to the input
// hook, brought to each output's geometry (its filter chain, or the scaler),
// timed by the frame-rate synchronisation, shown to the output hook and the
// preview, and encoded.
#include <algorithm>
#include <cmath>

#include "core/entry_points.h"
#include "core/ff_log.h"
#include "core/ff_utils.h"
#include "core/format_converter.h"
#include "core/previewer.h"
#include "custom_ffmpeg.h"
#include "ffmpeg_exception.h"
#include "frame_rate_sync.h"
#include "picture_scaler.h"
#include "task_thread.h"
#include "transcode_loop.h"
#include "transcode_loop_types.h"

namespace vidmill {

namespace {

constexpr AVRational kMicroseconds{1, 1000000};

const char* PixelFormatName(int f) {
  const char* name = ff::av_get_pix_fmt_name(static_cast<AVPixelFormat>(f));
  return name ? name : "none";
}

TVideoFormat FormatOf(const AVFrame* f) {
  TVideoFormat in;
  in.width = f->width;
  in.height = f->height;
  in.pix_fmt = static_cast<AVPixelFormat>(f->format);
  in.time_base = kMicroseconds;
  in.sample_aspect_ratio = f->sample_aspect_ratio.num ? f->sample_aspect_ratio : AVRational{1, 1};
  return in;
}

}  // namespace

void TTranscodeLoop::HandleVideo(int ist_index, AVFrame* frame) {
  TAVInputStream& ist = task_.input_streams_[ist_index];
  ++ist.frame_number;
  frame->pts = ist.pts;  // microseconds from here on
  TInput& in = *inputs_[ist_index];
  if (opt_.do_deinterlace && !in.deinterlace_failed) {
    if (!in.deinterlace) {
      std::string error;
      in.deinterlace = TFilterChain::Create("yadif", FormatOf(frame), AV_PIX_FMT_NONE, &error);
      if (!in.deinterlace) {
        task_.Log(llError, "Deinterlacing failed.");
        in.deinterlace_failed = true;
      }
    }
    if (in.deinterlace) {
      if (in.deinterlace->SendFrame(frame) < 0) {
        task_.Log(llError, "Deinterlacing failed.");
        PassPicture(ist_index, frame);
        return;
      }
      AVFrame* out = in.deinterlaced.get();
      while (in.deinterlace->ReceiveFrame(out) >= 0) {
        PassPicture(ist_index, out);
        ff::av_frame_unref(out);
      }
      return;
    }
  }
  PassPicture(ist_index, frame);
}

// One decoded (and deinterlaced) picture: the input hook or the frame-hook
// modules, then every output encoding from this stream.
void TTranscodeLoop::PassPicture(int ist_index, AVFrame* picture) {
  TAVInputStream& ist = task_.input_streams_[ist_index];
  ist.pts = picture->pts;
  if (input_hook_on_ || task_.frame_hooks_.Count() > 0) {
    if (ff::av_frame_make_writable(picture) < 0) {
      task_.Log(llError, "hook buf malloc error.");
    } else if (input_hook_on_) {
      bool stop = false;
      CallHook(events_.video_input_hook, input_converter_.get(), picture, static_cast<int>(ist.frame_number), ist.pts,
               &stop);
      if (stop) input_hook_on_ = false;
    } else {
      TPicture p = PictureOf(*picture);
      task_.frame_hooks_.Process(p, picture->format, picture->width, picture->height, ist.pts);
    }
  }
  PaceToRealTime(ist);
  if (opt_.start_time != 0 && ist.pts < opt_.start_time) return;
  for (TOutput* out : OutputsFedBy(ist_index)) {
    if (out->encoded && out->type == AVMEDIA_TYPE_VIDEO) VideoOut(out, ist_index, picture, ist.pts);
  }
}

void TTranscodeLoop::VideoOut(TOutput* out, int ist_index, AVFrame* picture, int64_t time_us) {
  TFilterChain* chain = out->ost->filter.get();
  if (!chain) {
    EmitVideoFrame(out, ist_index, Rescaled(out, ist_index, picture), time_us);
    return;
  }
  picture->pts = time_us;
  const int ret = chain->SendFrame(picture);
  if (ret < 0) throw FFmpegException("Error while filtering: " + ErrorCodeText(ret));
  AVFrame* filtered = out->filtered.get();
  while (chain->ReceiveFrame(filtered) >= 0) {
    EmitVideoFrame(out, ist_index, filtered, filtered->pts);
    ff::av_frame_unref(filtered);
  }
}

void TTranscodeLoop::FlushVideoChain(TOutput* out, int ist_index) {
  TFilterChain* chain = out->ost->filter.get();
  if (!chain) return;
  chain->SendFrame(nullptr);
  AVFrame* filtered = out->filtered.get();
  while (chain->ReceiveFrame(filtered) >= 0) {
    EmitVideoFrame(out, ist_index, filtered, filtered->pts);
    ff::av_frame_unref(filtered);
  }
}

// Without a filter chain: the picture in the encoder's size and pixel
// format, through the stream's scaler (rebuilt when the input changes).
AVFrame* TTranscodeLoop::Rescaled(TOutput* out, int ist_index, AVFrame* picture) {
  TAVOutputStream* ost = out->ost;
  AVCodecContext* enc = ost->enc.get();
  const TAVInputStream& ist = task_.input_streams_[ist_index];
  const bool changed = picture->width != ost->resample_width || picture->height != ost->resample_height ||
                       picture->format != ost->resample_pix_fmt;
  if (changed) {
    task_.Logf(llQuiet, "Input Stream #%d.%d frame size changed to %dx%d, %s", ist.file_index, ist.index,
               picture->width, picture->height, PixelFormatName(picture->format));
    ost->resample_width = picture->width;
    ost->resample_height = picture->height;
    ost->resample_pix_fmt = static_cast<AVPixelFormat>(picture->format);
  }
  const bool needed = picture->width != enc->width || picture->height != enc->height || picture->format != enc->pix_fmt;
  if (!needed) return picture;
  if (changed || !ost->img_resample_ctx) {
    if (ost->img_resample_ctx) ff::sws_freeContext(ost->img_resample_ctx);
    ost->img_resample_ctx = MakePictureScaler(picture->width, picture->height,
                                              static_cast<AVPixelFormat>(picture->format), enc->width, enc->height,
                                              enc->pix_fmt, task_.store_->ScalerFlags(opt_.sws_flags), opt_.thread_count);
    if (!ost->img_resample_ctx) throw FFmpegException("Cannot get resampling context");
  }
  if (!ost->pict_tmp) {
    ost->pict_tmp = ff::av_frame_alloc();
    if (!ost->pict_tmp) throw FFmpegException("Cannot allocate temp picture, check pix fmt");
    ost->pict_tmp->format = enc->pix_fmt;
    ost->pict_tmp->width = enc->width;
    ost->pict_tmp->height = enc->height;
    if (ff::av_frame_get_buffer(ost->pict_tmp, 0) < 0) throw FFmpegException("Cannot allocate temp picture, check pix fmt");
  }
  // The encoder may still hold the last picture: write into a fresh buffer then.
  if (ff::av_frame_make_writable(ost->pict_tmp) < 0) throw FFmpegException("Cannot allocate temp picture, check pix fmt");
  const int scaled = ff::sws_scale_frame(ost->img_resample_ctx, ost->pict_tmp, picture);
  if (scaled < 0) throw FFmpegException("Cannot scale picture: " + ErrorCodeText(scaled));
  ff::av_frame_copy_props(ost->pict_tmp, picture);
  return ost->pict_tmp;
}

void TTranscodeLoop::EmitVideoFrame(TOutput* out, int ist_index, AVFrame* picture, int64_t time_us) {
  TAVOutputStream* ost = out->ost;
  AVCodecContext* enc = ost->enc.get();
  const AVOutputFormat* muxer = out->file->out->ctx->oformat;
  const bool variable_rate = (muxer->flags & AVFMT_VARIABLE_FPS) && !(muxer->flags & AVFMT_NOTIMESTAMPS);
  const double sync_time = static_cast<double>(time_us - opt_.start_time) / 1000000.0 / av_q2d(enc->time_base);
  const TFrameCount count = CountFrames(opt_.video_sync_method, variable_rate, sync_time, &ost->sync_opts);
  if (count.dropped) {
    ++nb_frames_drop_;
    show_dup_or_drop_ = true;
    if (opt_.verbose > 2) task_.Log(llVerbose, "*** drop!");
  } else if (count.duplicates) {
    nb_frames_dup_ += count.duplicates;
    show_dup_or_drop_ = true;
    if (opt_.verbose > 2) task_.Logf(llVerbose, "*** %d dup!", count.duplicates);
  }
  const int64_t room = opt_.max_frames[flVideo] - ost->frame_number;
  const int n = static_cast<int>(std::min<int64_t>(count.count, std::max<int64_t>(room, 0)));
  const int in_quality = inputs_[ist_index]->quality;
  for (int i = 0; i < n; ++i) {
    if (i > 0 && Broken()) break;
    const int frame_number = static_cast<int>(ost->frame_number + 1);
    AVFrame* f = out->frame.get();
    ff::av_frame_unref(f);
    if (ff::av_frame_ref(f, picture) < 0) throw FFmpegException("Video encoding failed");
    f->pts = ost->sync_opts;
    f->pict_type = AV_PICTURE_TYPE_NONE;
    f->quality = opt_.same_quality ? in_quality : enc->global_quality;
    if (enc->flags & (AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME))
      f->top_field_first = opt_.top_field_first == -1 ? picture->top_field_first : opt_.top_field_first;
    if (ost->forced_kf_index < ost->forced_kf_pts.size() && f->pts >= ost->forced_kf_pts[ost->forced_kf_index]) {
      f->pict_type = AV_PICTURE_TYPE_I;
      ++ost->forced_kf_index;
    }
    const int64_t pts_us = ff::av_rescale_q(f->pts, enc->time_base, kMicroseconds);
    bool bitmap_ready = false;
    if (output_hook_on_) {
      if (ff::av_frame_make_writable(f) < 0) {
        task_.Log(llError, "hook buf malloc error.");
      } else {
        bool stop = false;
        bitmap_ready = CallHook(events_.video_output_hook, output_converter_.get(), f, frame_number, pts_us, &stop);
        if (stop) output_hook_on_ = false;
      }
    }
    RunPostHooks(f, frame_number, pts_us, bitmap_ready);
    EncodeVideo(out, f);
    ff::av_frame_unref(f);
    ++ost->sync_opts;
    ++ost->frame_number;
  }
}

// Shows the picture to a hook as a bitmap and writes the hook's changes
// back. True when the converter's bitmap shows the picture afterwards.
bool TTranscodeLoop::CallHook(const TLoopEvents::TVideoHook& hook, TFormatConverter* converter, AVFrame* picture,
                              int frame_number, int64_t pts_us, bool* stop) {
  TPicture p = PictureOf(*picture);
  const auto format = static_cast<AVPixelFormat>(picture->format);
  if (!converter->PictureToRGB(p, format, true, picture->height, picture->width)) {
    task_.Log(llError, converter->LastErrMsg());
    *stop = true;
    return false;
  }
  bool update = true;
  bool stop_hook = false;
  try {
    hook(converter->Bitmap(), frame_number, pts_us, &update, &stop_hook);
  } catch (const std::exception& e) {
    task_.Log(llError, std::string("Error occurs VideoHook event: ") + e.what());
    update = false;
  }
  *stop = stop_hook;
  if (!update) return false;  // the bitmap may not show the picture any more
  // Into the RGB picture the bitmap was made from: the picture itself when
  // it was already in the bitmap's format, else the converter's own copy,
  // which is converted back.
  converter->BitmapToRGB();
  const TPicture* ref = converter->RGBPictureRef();
  const bool own_copy = ref && ref->data[0] == converter->RGBPicture().data[0];
  if (own_copy && !converter->RGBToPicture(p, format, picture->height, picture->width)) {
    task_.Log(llError, converter->LastErrMsg());
    *stop = true;
  }
  return true;
}

// The preview of encoded pictures: bitmaps for OnPreviewBitmap, or the
// preview window. The preview lock guards only the post-hook set: painting
// waits for the main thread and must not hold a lock the main thread takes.
void TTranscodeLoop::RunPostHooks(AVFrame* picture, int frame_number, int64_t pts_us, bool bitmap_ready) {
  uint8_t hooks = 0;
  {
    std::lock_guard lock(PreviewLock());
    hooks = task_.PostHooks.load();
  }
  if (!(hooks & phPreview)) previewer_.reset();
  if (!hooks) return;
  const int64_t now = ff::av_gettime_relative();
  if (now - preview_last_time_ <= PreviewInterval) return;
  preview_last_time_ = now;
  const bool to_bitmap = (hooks & phBitmap) && events_.preview_bitmap;
  if (!to_bitmap && !(hooks & phPreview)) return;
  if (!bitmap_ready) {
    TPicture p = PictureOf(*picture);
    if (!output_converter_->PictureToRGB(p, static_cast<AVPixelFormat>(picture->format), true, picture->height,
                                         picture->width)) {
      task_.Log(llError, output_converter_->LastErrMsg());
      std::lock_guard lock(PreviewLock());
      task_.PostHooks.fetch_and(static_cast<uint8_t>(~(to_bitmap ? phBitmap : phPreview)));
      return;
    }
  }
  if (to_bitmap) {
    events_.preview_bitmap(output_converter_->Bitmap(), frame_number, pts_us);
    return;
  }
  if (!previewer_) previewer_ = std::make_unique<TPreviewer>();
  if (!previewer_->PaintFrame(output_converter_->Bitmap(), frame_number, pts_us)) {
    // The window was closed: no preview for the rest of the run.
    {
      std::lock_guard lock(PreviewLock());
      task_.PostHooks.fetch_and(static_cast<uint8_t>(~phPreview));
    }
    previewer_.reset();
  }
}

void TTranscodeLoop::WriteVideoStats(TOutput* out, int frame_size) {
  FILE* vstats = task_.VideoStatsFile();
  if (!vstats) return;
  const AVCodecContext* enc = out->ost->enc.get();
  const double q = out->quality / static_cast<double>(FF_QP2LAMBDA);
  std::fprintf(vstats, "frame= %5d q= %2.1f ", static_cast<int>(out->ost->frame_number), q);
  if (enc->flags & AV_CODEC_FLAG_PSNR)
    std::fprintf(vstats, "PSNR= %6.2f ", PsnrOf(static_cast<double>(out->error[0]), static_cast<double>(enc->width) * enc->height));
  std::fprintf(vstats, "f_size= %6d ", frame_size);
  const double time = std::max(static_cast<double>(out->ost->sync_opts) * av_q2d(enc->time_base), 0.01);
  const double bitrate = frame_size * 8 / av_q2d(enc->time_base) / 1000.0;
  const double avg_bitrate = static_cast<double>(video_size_) * 8 / time / 1000.0;
  std::fprintf(vstats, "s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ",
               static_cast<double>(video_size_) / 1024, time, bitrate, avg_bitrate);
  std::fprintf(vstats, "type= %c\n", ff::av_get_picture_type_char(static_cast<AVPictureType>(out->pict_type)));
}

}  // namespace vidmill
