#include "progress_report.h"

#include <cmath>

#include "core/ff_utils.h"

extern "C" {
#include <libavutil/avutil.h>
}

namespace vidmill {

void TQpHistogram::Count(int qp) {
  if (qp >= 0 && qp < static_cast<int>(bins_.size())) ++bins_[static_cast<size_t>(qp)];
}

std::string TQpHistogram::Text() const {
  std::string text;
  for (size_t j = 0; j < 32; ++j)
    text += FormatText("%X", static_cast<int>(std::lround(std::log2(static_cast<double>(bins_[j]) + 1))));
  return text;
}

double PsnrOf(double error, double samples) {
  if (error <= 0 || samples <= 0) return 99.99;
  return -10.0 * std::log10(error / (samples * 255.0 * 255.0));
}

namespace {

std::string PsnrText(const TReportStream& s, bool is_last) {
  std::string text = "PSNR=";
  const double frames = is_last ? static_cast<double>(std::max<int64_t>(s.frames, 1)) : 1.0;
  double error_sum = 0, scale_sum = 0;
  static const char kPlanes[] = "YUV";
  for (int j = 0; j < 3; ++j) {
    const double scale = static_cast<double>(s.width) * s.height * (j ? 0.25 : 1.0) * frames;
    error_sum += static_cast<double>(s.error[j]);
    scale_sum += scale;
    text += FormatText("%c:%2.2f ", kPlanes[j], PsnrOf(static_cast<double>(s.error[j]), scale));
  }
  text += FormatText("*:%2.2f ", PsnrOf(error_sum, scale_sum));
  return text;
}

}  // namespace

TReportOutput BuildReport(const TReportInput& in, TQpHistogram* hist) {
  TReportOutput out;
  TProgressFigures& f = out.figures;
  f.file_index = in.file_index;
  f.total_duration = in.total_duration;
  f.current_size = in.total_size;
  bool first_video = true;
  double time_s = 0;  // the smallest positive time of the streams; 0 when none has one
  for (const TReportStream& s : in.streams) {
    if (s.video && s.show_fps) {
      if (first_video) {
        if (s.frames == 0) {
          out.skipped = true;
          return out;
        }
        f.frame_number = static_cast<int>(s.frames);
        f.fps = in.elapsed_s > 1 ? static_cast<int>(static_cast<double>(s.frames) / in.elapsed_s + 0.5) : 0;
        f.quality = s.copied ? -1.0f : static_cast<float>(s.quality) / FF_QP2LAMBDA;
        out.line += FormatText("frame=%5d fps=%3d q=%3.1f ", f.frame_number, f.fps, f.quality);
        if (in.is_last) out.line += "L";
        if (in.qp_hist && hist) {
          hist->Count(static_cast<int>(std::lround(f.quality)));
          out.line += hist->Text();
        }
        if (s.psnr) out.line += PsnrText(s, in.is_last);
        first_video = false;
      } else {
        out.line += FormatText("q=%2.1f ", s.copied ? -1.0 : static_cast<double>(s.quality) / FF_QP2LAMBDA);
      }
    }
    if (s.time_s > 0 && (time_s <= 0 || s.time_s < time_s)) time_s = s.time_s;
  }
  if (time_s < 0.01) time_s = 0.01;
  if (!in.has_receiver && in.verbose <= 0 && !in.is_last) return out;
  f.bit_rate = static_cast<float>(static_cast<double>(in.total_size) * 8 / time_s / 1000.0);
  f.current_duration = static_cast<int64_t>(time_s * 1000000.0);
  out.line += FormatText("size=%8.0fkB time=%0.2f bitrate=%6.1fkbits/s", static_cast<double>(in.total_size) / 1024.0,
                         time_s, static_cast<double>(f.bit_rate));
  if (in.dup || in.drop)
    out.line += FormatText(" dup=%lld drop=%lld", static_cast<long long>(in.dup), static_cast<long long>(in.drop));
  out.send = in.has_receiver;
  out.log_line = !in.has_receiver && in.verbose >= 0;
  return out;
}

std::string FinalSizeLine(int64_t video_size, int64_t audio_size, int64_t extra_size, int64_t total_size) {
  const int64_t streams = video_size + audio_size + extra_size;
  std::string line = FormatText("video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB", video_size / 1024.0,
                                audio_size / 1024.0, extra_size / 1024.0);
  if (streams > 0)
    line += FormatText(" muxing overhead %f%%", static_cast<double>(total_size - streams) * 100.0 / streams);
  else
    line += " muxing overhead unknown";
  return line;
}

}  // namespace vidmill
