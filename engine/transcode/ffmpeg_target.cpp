// Target presets: settings of VCD, SVCD, DVD and DV outputs for a norm.
#include <cmath>

#include "core/entry_points.h"
#include "core/ff_log.h"
#include "custom_ffmpeg.h"
#include "ffmpeg_exception.h"

namespace vidmill {
namespace {

enum TNorm { kPAL, kNTSC, kFILM, kUnknown };

// Norm of a rate in thousandths of a frame per second.
TNorm NormOfRate(int64_t milli_fps) {
  if (milli_fps == 25000) return kPAL;
  if (milli_fps == 29970 || milli_fps == 23976) return kNTSC;
  return kUnknown;
}

int64_t MilliFps(int64_t num, int64_t den) { return std::llround(num * 1000.0 / den); }

}  // namespace

// Detection looks at the requested frame rate, then at the first input video
// stream with a usable rate (average frame rate first; the time base only
// when its numerator is not 0).
int TCustomFFmpeg::DetectNorm(const std::string& norm, const std::string& fallback) {
  if (norm == "pal") return kPAL;
  if (norm == "ntsc") return kNTSC;
  if (norm == "film") return kFILM;
  TNorm found = kUnknown;
  const AVRational rate = opt_.frame_rate;
  // The default rate (25 over 0) means "not given": nothing to detect from.
  if (opt_.frame_rate_set && rate.den == 0) throw FFmpegException("frame_rate is invalid.");
  if (rate.den != 0) found = NormOfRate(MilliFps(rate.num, rate.den));
  for (size_t j = 0; found == kUnknown && j < input_files_.size(); ++j) {
    AVFormatContext* ic = input_files_[j].ctx.get();
    for (unsigned i = 0; found == kUnknown && i < ic->nb_streams; ++i) {
      const AVStream* st = ic->streams[i];
      if (st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
      if (st->avg_frame_rate.num > 0 && st->avg_frame_rate.den > 0) {
        found = NormOfRate(MilliFps(st->avg_frame_rate.num, st->avg_frame_rate.den));
      } else if (st->time_base.num > 0) {
        found = NormOfRate(MilliFps(st->time_base.den, st->time_base.num));
      }
    }
  }
  if (found == kUnknown) found = fallback == "film" ? kFILM : fallback == "ntsc" ? kNTSC : kPAL;
  if (opt_.verbose > 0) Logf(llVerbose, "Assuming %s for target.", found == kPAL ? "PAL" : "NTSC");
  return found;
}

void TCustomFFmpeg::SetTarget(const std::string& value) {
  for (const char* prefix : {"pal-", "ntsc-", "film-"}) {
    const std::string p = prefix;
    if (value.compare(0, p.size(), p) == 0) {
      ApplyTarget(value.substr(p.size()), p.substr(0, p.size() - 1), "ntsc");
      return;
    }
  }
  ApplyTarget(value, "auto", "ntsc");
}

void TCustomFFmpeg::ApplyTarget(const std::string& type, const std::string& norm_text,
                                const std::string& fallback) {
  const bool known = type == "vcd" || type == "svcd" || type == "dvd" || type == "dv" || type == "dv50";
  if (!known) throw FFmpegException("Unknown target type");
  const int norm = DetectNorm(norm_text, fallback);
  const char* rates[] = {"25", "30000/1001", "24000/1001"};
  const bool pal = norm == kPAL;
  auto set_aspect = [this](const char* aspect) {
    if (opt_.frame_aspect_ratio != 0) return;
    Logf(llInfo, "Assuming %s for aspect ratio", aspect);
    SetExtOption("aspect", aspect);
  };
  if (type == "vcd") {
    SetCodecName(AVMEDIA_TYPE_VIDEO, "mpeg1video");
    SetCodecName(AVMEDIA_TYPE_AUDIO, "mp2");
    opt_.forced_format = "vcd";
    SetExtOption("s", pal ? "352x288" : "352x240");
    SetExtOption("r", rates[norm]);
    SetGenericOption("g", pal ? "15" : "18");
    SetGenericOption("b", "1150000");
    SetGenericOption("maxrate", "1150000");
    SetGenericOption("minrate", "1150000");
    SetGenericOption("bufsize", "327680");
    SetGenericOption("ab", "224000");
    opt_.audio_sample_rate = 44100;
    opt_.audio_channels = 2;
    SetGenericOption("packetsize", "2324");
    SetGenericOption("muxrate", "1411200");
    opt_.mux_preload = 0.44f;
    set_aspect("4:3");
  } else if (type == "svcd") {
    SetCodecName(AVMEDIA_TYPE_VIDEO, "mpeg2video");
    SetCodecName(AVMEDIA_TYPE_AUDIO, "mp2");
    opt_.forced_format = "svcd";
    SetExtOption("s", pal ? "480x576" : "480x480");
    SetExtOption("r", rates[norm]);
    SetGenericOption("g", pal ? "15" : "18");
    SetGenericOption("b", "2040000");
    SetGenericOption("maxrate", "2516000");
    SetGenericOption("minrate", "0");
    SetGenericOption("bufsize", "1835008");
    // The scan offset reservation is a private option of the MPEG-2 encoder now.
    SetGenericOption("scan_offset", "1");
    SetGenericOption("ab", "224000");
    opt_.audio_sample_rate = 44100;
    SetGenericOption("packetsize", "2324");
    if (opt_.audio_channels == 1) opt_.audio_channels = 2;
    set_aspect("4:3");
  } else if (type == "dvd") {
    SetCodecName(AVMEDIA_TYPE_VIDEO, "mpeg2video");
    SetCodecName(AVMEDIA_TYPE_AUDIO, "ac3");
    opt_.forced_format = "dvd";
    SetExtOption("s", pal ? "720x576" : "720x480");
    SetExtOption("r", rates[norm]);
    SetGenericOption("g", pal ? "15" : "18");
    SetGenericOption("b", "6000000");
    SetGenericOption("maxrate", "9000000");
    SetGenericOption("minrate", "0");
    SetGenericOption("bufsize", "1835008");
    SetGenericOption("packetsize", "2048");
    SetGenericOption("muxrate", "10080000");
    SetGenericOption("ab", "448000");
    opt_.audio_sample_rate = 48000;
    if (opt_.audio_channels == 1) opt_.audio_channels = 2;
    set_aspect("16:9");
  } else {
    opt_.forced_format = "dv";
    SetExtOption("s", pal ? "720x576" : "720x480");
    SetExtOption("pix_fmt", type == "dv50" ? "yuv422p" : pal ? "yuv420p" : "yuv411p");
    SetExtOption("r", rates[norm]);
    opt_.audio_sample_rate = 48000;
    opt_.audio_channels = 2;
  }
}

}  // namespace vidmill
