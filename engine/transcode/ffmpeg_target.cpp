// Target presets: settings of VCD, SVCD, DVD and DV outputs for a norm.
#include <cmath>
#include <utility>
#include <vector>

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

// What an MPEG disc target sets besides its norm's size, rate and GOP.
struct TMpegTarget {
  const char* name;
  const char* video_codec;
  const char* audio_codec;
  const char* pal_size;
  const char* ntsc_size;
  std::vector<std::pair<const char*, const char*>> generic_options;
  int audio_sample_rate;
  bool stereo_always;  // otherwise only mono becomes stereo
  float mux_preload;   // 0: left as it is
  const char* aspect;  // assumed when none is given
};

const TMpegTarget& MpegTargetNamed(const std::string& name) {
  static const TMpegTarget kTargets[] = {
      {"vcd", "mpeg1video", "mp2", "352x288", "352x240",
       {{"b", "1150000"}, {"maxrate", "1150000"}, {"minrate", "1150000"}, {"bufsize", "327680"},
        {"ab", "224000"}, {"packetsize", "2324"}, {"muxrate", "1411200"}},
       44100, true, 0.44f, "4:3"},
      // The scan offset reservation is a private option of the MPEG-2 encoder now.
      {"svcd", "mpeg2video", "mp2", "480x576", "480x480",
       {{"b", "2040000"}, {"maxrate", "2516000"}, {"minrate", "0"}, {"bufsize", "1835008"},
        {"scan_offset", "1"}, {"ab", "224000"}, {"packetsize", "2324"}},
       44100, false, 0, "4:3"},
      {"dvd", "mpeg2video", "ac3", "720x576", "720x480",
       {{"b", "6000000"}, {"maxrate", "9000000"}, {"minrate", "0"}, {"bufsize", "1835008"},
        {"packetsize", "2048"}, {"muxrate", "10080000"}, {"ab", "448000"}},
       48000, false, 0, "16:9"},
  };
  for (const TMpegTarget& t : kTargets)
    if (name == t.name) return t;
  throw FFmpegException("Unknown target type");
}

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
  if (type == "dv" || type == "dv50") {
    opt_.forced_format = "dv";
    SetExtOption("s", pal ? "720x576" : "720x480");
    SetExtOption("pix_fmt", type == "dv50" ? "yuv422p" : pal ? "yuv420p" : "yuv411p");
    SetExtOption("r", rates[norm]);
    opt_.audio_sample_rate = 48000;
    opt_.audio_channels = 2;
    return;
  }
  const TMpegTarget& target = MpegTargetNamed(type);
  SetCodecName(AVMEDIA_TYPE_VIDEO, target.video_codec);
  SetCodecName(AVMEDIA_TYPE_AUDIO, target.audio_codec);
  opt_.forced_format = type;
  SetExtOption("s", pal ? target.pal_size : target.ntsc_size);
  SetExtOption("r", rates[norm]);
  SetGenericOption("g", pal ? "15" : "18");
  for (const auto& [key, value] : target.generic_options) SetGenericOption(key, value);
  opt_.audio_sample_rate = target.audio_sample_rate;
  if (target.stereo_always || opt_.audio_channels == 1) opt_.audio_channels = 2;
  if (target.mux_preload > 0) opt_.mux_preload = target.mux_preload;
  if (opt_.frame_aspect_ratio == 0) {
    Logf(llInfo, "Assuming %s for aspect ratio", target.aspect);
    SetExtOption("aspect", target.aspect);
  }
}

}  // namespace vidmill
