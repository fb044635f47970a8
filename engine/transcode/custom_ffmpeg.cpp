// A task's life outside the run: creation, outputs moved into place or
// removed, and clean-up.
#include "custom_ffmpeg.h"

#include <cassert>
#include <filesystem>

#include "core/entry_points.h"
#include "core/ff_log.h"
#include "ffmpeg_exception.h"
#include "output_files.h"

namespace vidmill {

namespace fs = std::filesystem;

void TCodecContextFree::operator()(AVCodecContext* c) const { ff::avcodec_free_context(&c); }

TCodecContextPtr MakeCodecContext(const AVCodec* codec) {
  AVCodecContext* c = ff::avcodec_alloc_context3(codec);
  if (!c) return nullptr;
  return TCodecContextPtr(c, TCodecContextFree());
}

void TDictionaryFree::operator()(AVDictionary* d) const { ff::av_dict_free(&d); }
void TBsfFree::operator()(AVBSFContext* b) const { ff::av_bsf_free(&b); }

TOutputContext::~TOutputContext() {
  if (ctx) {
    if (ctx->pb && !(ctx->oformat && (ctx->oformat->flags & AVFMT_NOFILE))) CloseOutputIO(&ctx->pb);
    ff::avformat_free_context(ctx);
    ctx = nullptr;
  }
  if (!committed && !temp_name.empty()) {
    std::error_code ec;
    fs::remove(temp_name, ec);
  }
}

TAVOutputStream::~TAVOutputStream() {
  if (img_resample_ctx) ff::sws_freeContext(img_resample_ctx);
  if (pict_tmp) ff::av_frame_free(&pict_tmp);
  if (resample) ff::swr_free(&resample);
  if (fifo) ff::av_audio_fifo_free(fifo);
  if (logfile) std::fclose(logfile);
  if (stats_in) {
    if (enc && enc->stats_in == stats_in) enc->stats_in = nullptr;
    ff::av_free(stats_in);
  }
}

TCustomFFmpeg::TCustomFFmpeg(int max_files) : max_files_(max_files) {
  assert(max_files >= 1 && max_files <= kMaxFilesLimit);
  store_ = std::make_unique<TOptionContext>(opt_.sws_flags);
}

TCustomFFmpeg::~TCustomFFmpeg() {
  WaitForThreads();  // the worker and the clean-up never overlap
  CleanUp();
}

bool TCustomFFmpeg::HasInputFile(const std::string& path) const {
  for (const TInputFileEntry& in : input_files_) {
    if (IsEngineFile(ToLibraryForm(in.file_name)) && SameFile(in.file_name, path)) return true;
  }
  return false;
}

bool TCustomFFmpeg::HasOutputFile(const std::string& path) const {
  for (const TOutputFileEntry& out : output_files_) {
    if (out.out && SameFile(out.out->file_name, path)) return true;
  }
  return false;
}

std::vector<std::string> TCustomFFmpeg::InputFileNames() const {
  std::vector<std::string> names;
  for (const TInputFileEntry& in : input_files_) names.push_back(in.file_name);
  return names;
}

std::vector<std::string> TCustomFFmpeg::OutputFileNames() const {
  std::vector<std::string> names;
  const TOutputContext* last = nullptr;
  for (const TOutputFileEntry& out : output_files_) {
    if (out.out.get() != last) names.push_back(out.out->file_name);
    last = out.out.get();
  }
  return names;
}

bool TCustomFFmpeg::CommitOutputs() {
  bool ok = true;
  const TOutputContext* last = nullptr;
  for (TOutputFileEntry& file : output_files_) {
    TOutputContext* out = file.out.get();
    if (out == last) continue;
    last = out;
    if (out->committed || out->temp_name.empty()) continue;
    if (out->ctx->pb) {
      const int ret = CloseOutputIO(&out->ctx->pb);
      if (ret < 0) {
        SetError(ErrorText(out->file_name, ret));
        ok = false;
        continue;  // the temporary file goes with the context
      }
    }
    std::error_code ec;
    if (fs::file_size(out->temp_name, ec) == 0 && !ec) continue;  // nothing written: removed later
    fs::rename(out->temp_name, out->file_name, ec);
    if (ec) {
      SetError(out->file_name + ": " + ec.message());
      ok = false;
      continue;
    }
    out->committed = true;
  }
  return ok;
}

void TCustomFFmpeg::DiscardOutputs() {
  for (TOutputFileEntry& file : output_files_) {
    TOutputContext* out = file.out.get();
    if (out->committed || out->temp_name.empty()) continue;
    if (out->ctx->pb) CloseOutputIO(&out->ctx->pb);
    std::error_code ec;
    fs::remove(out->temp_name, ec);
    out->temp_name.clear();
  }
}

FILE* TCustomFFmpeg::VideoStatsFile() {
  if (vstats_file_ || opt_.vstats_filename.empty()) return vstats_file_;
  vstats_file_ = std::fopen(opt_.vstats_filename.c_str(), "w");
  if (!vstats_file_) throw FFmpegException("fopen fail: " + opt_.vstats_filename);
  return vstats_file_;
}

void TCustomFFmpeg::CleanUp() {
  if (vstats_file_) {
    std::fclose(vstats_file_);
    vstats_file_ = nullptr;
  }
  ReleaseRunTables();
  DiscardOutputs();
  output_files_.clear();
  input_files_.clear();
  frame_hooks_.Release();
  join_mode_ = false;
}

}  // namespace vidmill
