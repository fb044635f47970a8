// The option table of a task: SetExtOption and the setters it calls.
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "builtin_presets.h"
#include "core/entry_points.h"
#include "core/ff_log.h"
#include "core/ff_utils.h"
#include "custom_ffmpeg.h"
#include "ffmpeg_exception.h"
#include "option_lines.h"

namespace vidmill {

void RaiseFmt(const char* format, ...) {
  va_list vl;
  va_start(vl, format);
  char buf[2048];
  std::vsnprintf(buf, sizeof buf, format, vl);
  va_end(vl);
  throw FFmpegException(buf);
}

namespace {

int ParseInt(const std::string& value) {
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(value.c_str(), &end, 10);
  if (value.empty() || *end != '\0' || errno != 0 || v < INT32_MIN || v > INT32_MAX)
    RaiseFmt("'%s' is not a valid integer value", value.c_str());
  return static_cast<int>(v);
}

int64_t ParseInt64(const std::string& value) {
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(value.c_str(), &end, 10);
  if (value.empty() || *end != '\0' || errno != 0)
    RaiseFmt("'%s' is not a valid integer value", value.c_str());
  return v;
}

double ParseFloat(const std::string& value) {
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(value.c_str(), &end);
  if (value.empty() || *end != '\0' || errno != 0 || !std::isfinite(v))
    RaiseFmt("'%s' is not a valid floating point value", value.c_str());
  return v;
}

bool ParseBool(const std::string& value) { return value != "0"; }

int64_t ParseTime(const std::string& name, const std::string& value, bool is_duration) {
  int64_t us = 0;
  if (ff::av_parse_time(&us, value.c_str(), is_duration) < 0)
    RaiseFmt("Invalid %s specification for %s: %s", is_duration ? "duration" : "date", name.c_str(),
             value.c_str());
  return us;
}

bool IsOneOf(const std::string& name, std::initializer_list<const char*> names) {
  for (const char* n : names) {
    if (name == n) return true;
  }
  return false;
}

std::vector<uint16_t> ParseMatrix(const std::string& text) {
  std::vector<uint16_t> m(64);
  const char* p = text.c_str();
  for (int i = 0; i < 64; ++i) {
    m[i] = static_cast<uint16_t>(std::atoi(p));
    if (i < 63) {
      p = std::strchr(p, ',');
      if (!p) RaiseFmt("Syntax error in matrix \"%s\" at coeff %d", text.c_str(), i);
      ++p;
    }
  }
  return m;
}

std::string ReadWholeFile(const std::string& path, bool* ok) {
  std::ifstream in(path, std::ios::binary);
  *ok = static_cast<bool>(in);
  if (!in) return {};
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

void TCustomFFmpeg::Log(int level, const std::string& msg) const {
  TFFLogger::Process().Log(LogSender, static_cast<TLogLevel>(level), msg);
}

void TCustomFFmpeg::Logf(int level, const char* format, ...) const {
  va_list vl;
  va_start(vl, format);
  char buf[2048];
  std::vsnprintf(buf, sizeof buf, format, vl);
  va_end(vl);
  Log(level, buf);
}

void TCustomFFmpeg::SetError(const std::string& msg) {
  last_err_msg_ = msg;
  Log(llError, msg);
}

bool TCustomFFmpeg::SetGenericOption(const std::string& name, const std::string& value) {
  if (store_->Set(name, value)) return true;
  if (HaltOnInvalidOption) throw FFmpegException(store_->LastError());
  return false;
}

void TCustomFFmpeg::SetBitrate(const std::string& name, const std::string& value) {
  if (!SetGenericOption(name, value)) return;
  const AVMediaType type = name[0] == 'a' ? AVMEDIA_TYPE_AUDIO : AVMEDIA_TYPE_VIDEO;
  if (store_->CodecInt(type, "b", 1000) < 1000)
    Log(llWarning, "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s");
}

void TCustomFFmpeg::SetCodecName(AVMediaType type, const std::string& value) {
  if (value.empty()) return;
  const bool copy = value == "copy";
  switch (type) {
    case AVMEDIA_TYPE_VIDEO:
      if (copy) opt_.video_stream_copy = true; else opt_.video_codec_name = value;
      break;
    case AVMEDIA_TYPE_AUDIO:
      if (copy) opt_.audio_stream_copy = true; else opt_.audio_codec_name = value;
      break;
    default:
      if (copy) opt_.subtitle_stream_copy = true; else opt_.subtitle_codec_name = value;
      break;
  }
}

void TCustomFFmpeg::SetCodecTag(const std::string& name, const std::string& value) {
  uint32_t* tag = name == "atag"   ? &opt_.audio_codec_tag
                  : name == "vtag" ? &opt_.video_codec_tag
                  : name == "stag" ? &opt_.subtitle_codec_tag
                                   : nullptr;
  if (!tag) RaiseFmt("Invalid tag parmeter %s", name.c_str());
  char* end = nullptr;
  const long v = std::strtol(value.c_str(), &end, 0);
  if (!value.empty() && *end == '\0') {
    *tag = static_cast<uint32_t>(v);
  } else if (value.size() == 4) {
    *tag = MKTAG(value[0], value[1], value[2], value[3]);
  } else {
    throw FFmpegException("tag parameter must be 4 chars or int value");
  }
}

void TCustomFFmpeg::AddBitstreamFilter(std::vector<std::string>* list, const std::string& value) {
  const std::string name = value.substr(0, value.find('='));
  if (name.empty()) return;  // empty values and values starting with "=" are ignored
  if (!ff::av_bsf_get_by_name(name.c_str())) RaiseFmt("Unknown bitstream filter %s", name.c_str());
  list->push_back(value);
}

void TCustomFFmpeg::AddStreamMap(const std::string& value) {
  TAVStreamMap m;
  char* p = const_cast<char*>(value.c_str());
  m.file_index = static_cast<int>(std::strtol(p, &p, 0));
  if (*p) ++p;
  m.stream_index = static_cast<int>(std::strtol(p, &p, 0));
  if (*p) {
    ++p;
    m.sync_file_index = static_cast<int>(std::strtol(p, &p, 0));
    if (*p) ++p;
    m.sync_stream_index = static_cast<int>(std::strtol(p, &p, 0));
  } else {
    m.sync_file_index = m.file_index;
    m.sync_stream_index = m.stream_index;
  }
  opt_.stream_maps.push_back(m);
}

namespace {

void ParseMetaType(const char** p, TAVMetaDataMap* m) {
  if (**p != ',') {
    m->type_ = 'g';
    return;
  }
  ++*p;
  m->type_ = **p;
  switch (**p) {
    case 'g': ++*p; break;
    case 's':
    case 'c':
    case 'p': {
      char* end = nullptr;
      m->index = static_cast<int>(std::strtol(*p + 1, &end, 0));
      *p = end;
      break;
    }
    default: RaiseFmt("Invalid metadata type %s.", std::string(1, **p).c_str());
  }
}

}  // namespace

void TCustomFFmpeg::AddMetaDataMap(const std::string& value) {
  TAVMetaDataMap out, in;
  const char* p = value.c_str();
  char* end = nullptr;
  out.file_idx = static_cast<int>(std::strtol(p, &end, 0));
  p = end;
  ParseMetaType(&p, &out);
  if (*p) ++p;
  in.file_idx = static_cast<int>(std::strtol(p, &end, 0));
  p = end;
  ParseMetaType(&p, &in);
  for (const TAVMetaDataMap* m : {&out, &in}) {
    if (m->type_ == 'g') opt_.metadata_global_autocopy = false;
    if (m->type_ == 's') opt_.metadata_streams_autocopy = false;
    if (m->type_ == 'c') opt_.metadata_chapters_autocopy = false;
  }
  opt_.meta_data_maps.emplace_back(out, in);
}

void TCustomFFmpeg::AddChapterMap(const std::string& value) {
  TAVChapterMap m;
  char* p = const_cast<char*>(value.c_str());
  m.out_file = static_cast<int>(std::strtol(p, &p, 0));
  if (*p) ++p;
  m.in_file = static_cast<int>(std::strtol(p, &p, 0));
  opt_.chapter_maps.push_back(m);
}

void TCustomFFmpeg::AddVideoHook(const std::string& value) {
  std::vector<std::string> args;
  const char sep = value.find('|') != std::string::npos ? '|' : ' ';
  std::string part;
  std::istringstream in(value);
  while (std::getline(in, part, sep) && args.size() < 254) {
    if (!part.empty()) args.push_back(part);
  }
  if (args.empty() || frame_hooks_.Add(args) < 0)
    throw FFmpegException("Failed to add video hook function: " + value);
}

void TCustomFFmpeg::AddNewStream(AVMediaType type) {
  if (output_files_.empty()) throw FFmpegException("At least one output file must be specified");
  TOutputFileEntry* file = &output_files_.back();
  if (type == AVMEDIA_TYPE_VIDEO) NewVideoStream(file);
  else if (type == AVMEDIA_TYPE_AUDIO) NewAudioStream(file);
  else NewSubtitleStream(file);
}

void TCustomFFmpeg::ApplyPreset(const std::string& name, const std::string& value) {
  if (value.empty()) return;
  std::string text;
  bool found = false;
  if (name != "fpre") {
    found = FindBuiltinPreset(value, &text);
    const std::string& codec = name == "apre"   ? opt_.audio_codec_name
                               : name == "vpre" ? opt_.video_codec_name
                                                : opt_.subtitle_codec_name;
    if (!found && !codec.empty()) found = FindBuiltinPreset(codec + "-" + value, &text);
  }
  if (!found) {
    bool ok = false;
    text = ReadWholeFile(value, &ok);
    if (!ok) RaiseFmt("Preset \"%s\" not found", value.c_str());
  }
  ApplyPresetText(value, text);
}

void TCustomFFmpeg::ApplyPresetText(const std::string& source, const std::string& text) {
  for (const std::string& raw : SplitLines(TrimText(text))) {
    const std::string line = TrimText(raw);
    if (line.empty() || line[0] == '#') continue;
    const size_t eq = line.find('=');
    const std::string key = eq == std::string::npos ? "" : TrimText(line.substr(0, eq));
    const std::string value = eq == std::string::npos ? "" : TrimText(line.substr(eq + 1));
    if (key.empty() || value.empty())
      RaiseFmt("%s: Invalid syntax: \"%s\"", source.c_str(), line.c_str());
    const std::string lower = LowerCase(key);
    if (lower == "acodec") SetCodecName(AVMEDIA_TYPE_AUDIO, value);
    else if (lower == "vcodec") SetCodecName(AVMEDIA_TYPE_VIDEO, value);
    else if (lower == "scodec") SetCodecName(AVMEDIA_TYPE_SUBTITLE, value);
    else if (!store_->Set(key, value) && HaltOnInvalidOption)
      RaiseFmt("%s\r\n%s: Invalid option or argument: \"%s\", parsed as \"%s\" = \"%s\"",
               store_->LastError().c_str(), source.c_str(), line.c_str(), key.c_str(), value.c_str());
  }
}

// Options in the order they are tested.
void TCustomFFmpeg::SetExtOption(const std::string& name, const std::string& value) {
  const char* v = value.c_str();
  TOptionState& o = opt_;
  // ---- General and input side.
  if (IsOneOf(name, {"L", "h", "version", "formats", "codecs", "bsfs", "protocols", "filters"})) {
    Log(llInfo, "Do nothing: option - " + name);
  } else if (name == "loglevel") {
    try {
      TFFLogger::Process().OptLogLevel(value);
    } catch (const std::invalid_argument&) {
      RaiseFmt("Invalid loglevel \"%s\"", v);
    }
  } else if (name == "f") {
    o.forced_format = value;
  } else if (IsOneOf(name, {"i", "y"})) {
    Log(llInfo, "Do nothing: option - " + name);
  } else if (name == "map") {
    AddStreamMap(value);
  } else if (name == "map_meta_data") {
    AddMetaDataMap(value);
  } else if (name == "map_chapters") {
    AddChapterMap(value);
  } else if (name == "t") {
    o.recording_time = ParseTime(name, value, true);
    total_output_duration_ = o.recording_time;
  } else if (name == "fs") {
    o.limit_filesize = ParseInt64(value);
  } else if (name == "ss") {
    o.start_time = ParseTime(name, value, true);
  } else if (name == "itsoffset") {
    o.input_ts_offset = ParseTime(name, value, true);
  } else if (name == "itsscale") {
    const size_t colon = value.find(':');
    const int stream = ParseInt(value.substr(0, colon));
    const double scale = colon == std::string::npos ? 1.0 : ParseFloat(value.substr(colon + 1));
    if (stream < 0 || stream >= kMaxStreams) RaiseFmt("stream index over MAX_STREAMS(%d)", kMaxStreams);
    if (o.input_ts_scale.size() <= static_cast<size_t>(stream)) o.input_ts_scale.resize(stream + 1, 1.0);
    o.input_ts_scale[stream] = scale;
  } else if (name == "timestamp") {
    o.rec_timestamp = ParseTime(name, value, false) / 1000000;
  } else if (name == "metadata") {
    const size_t eq = value.find('=');
    if (eq == std::string::npos) throw FFmpegException("Missing =");
    if (eq == 0) throw FFmpegException("wrong parameter of metadata");
    o.metadata.emplace_back(value.substr(0, eq), value.substr(eq + 1));
  } else if (name == "dframes") {
    o.max_frames[flData] = ParseInt(value);
  } else if (name == "benchmark") {
    Log(llInfo, "Do nothing: option - " + name);
  } else if (name == "timelimit") {
    Log(llWarning, "Warning: -timelimit not implemented on Windows");
  } else if (name == "dump") {
    o.do_pkt_dump = ParseBool(value);
  } else if (name == "hex") {
    o.do_hex_dump = ParseBool(value);
  } else if (name == "re") {
    o.rate_emu = ParseBool(value);
  } else if (name == "loop_input") {
    o.loop_input = ParseBool(value);
    if (o.loop_input) Log(llWarning, "Warning: -loop_input has no effect with the libraries in use");
  } else if (name == "loop_output") {
    o.loop_output = ParseInt(value);
  } else if (name == "v") {
    o.verbose = ParseInt(value);
  } else if (name == "target") {
    SetTarget(value);
  } else if (name == "threads") {
    o.thread_count = ParseInt(value);
    if (o.verbose >= 0)
      Log(llVerbose, "Warning: if the ffmpeg libraries were not compiled with thread support, it would be using thread emulation.");
  } else if (name == "vsync") {
    o.video_sync_method = ParseInt(value);
  } else if (name == "async") {
    o.audio_sync_method = ParseInt(value);
  } else if (name == "adrift_threshold") {
    o.audio_drift_threshold = static_cast<float>(ParseFloat(value));
  } else if (name == "vglobal") {
    o.video_global_header = ParseInt(value);
  } else if (name == "copyts") {
    o.copy_ts = ParseBool(value);
  } else if (name == "copytb") {
    o.copy_tb = ParseBool(value);
  } else if (name == "shortest") {
    o.opt_shortest = ParseBool(value);
  } else if (name == "dts_delta_threshold") {
    o.dts_delta_threshold = static_cast<float>(ParseFloat(value));
  } else if (name == "programid") {
    o.opt_programid = ParseInt(value);
  } else if (name == "xerror") {
    o.exit_on_error = ParseBool(value);
  } else if (name == "copyinkf") {
    o.copy_initial_nonkeyframes = ParseInt(value);
  // ---- Video.
  } else if (name == "b" || name == "vb") {
    SetBitrate(name, value);
  } else if (name == "vframes") {
    o.max_frames[flVideo] = ParseInt(value);
  } else if (name == "r") {
    AVRational rate;
    if (ff::av_parse_video_rate(&rate, v) < 0) throw FFmpegException("Incorrect frame rate");
    o.frame_rate = rate;
    o.frame_rate_set = true;
  } else if (name == "s") {
    if (ff::av_parse_video_size(&o.frame_width, &o.frame_height, v) < 0)
      throw FFmpegException("Incorrect frame size");
  } else if (name == "aspect") {
    double ratio = 0;
    const size_t colon = value.find(':');
    if (colon != std::string::npos) {
      const double x = std::strtod(value.substr(0, colon).c_str(), nullptr);
      const double y = std::strtod(value.substr(colon + 1).c_str(), nullptr);
      if (y > 0) ratio = x / y;
    } else {
      ratio = std::strtod(v, nullptr);
    }
    if (ratio == 0 || !std::isfinite(ratio)) throw FFmpegException("Incorrect aspect ratio specification.");
    o.frame_aspect_ratio = static_cast<float>(ratio);
  } else if (name == "pix_fmt") {
    if (value == "list") {
      std::string table = "Pixel formats:";
      for (int i = 0; i < AV_PIX_FMT_NB; ++i) {
        const AVPixFmtDescriptor* d = ff::av_pix_fmt_desc_get(static_cast<AVPixelFormat>(i));
        if (d) table += std::string("\r\n") + d->name;
      }
      Log(llInfo, table);
    } else {
      o.frame_pix_fmt = ff::av_get_pix_fmt(v);
      if (o.frame_pix_fmt == AV_PIX_FMT_NONE) RaiseFmt("Unknown pixel format requested: %s", v);
    }
  } else if (IsOneOf(name, {"croptop", "cropbottom", "cropleft", "cropright"})) {
    throw FFmpegException("Removed, use the crop filter instead");
  } else if (IsOneOf(name, {"padtop", "padbottom", "padleft", "padright", "padcolor"})) {
    throw FFmpegException("Removed, use the pad filter instead");
  } else if (name == "intra") {
    o.intra_only = ParseBool(value);
  } else if (name == "vn") {
    o.video_disable = ParseBool(value);
  } else if (name == "vdt") {
    o.video_discard = ParseInt(value);
  } else if (name == "qscale") {
    const double q = ParseFloat(value);
    if (!(q > 0 && q <= 255)) throw FFmpegException("qscale must be > 0.0 and <= 255");
    o.video_qscale = static_cast<float>(q);
  } else if (name == "rc_override") {
    o.rc_override = value;
  } else if (name == "vcodec") {
    SetCodecName(AVMEDIA_TYPE_VIDEO, value);
  } else if (name == "me_threshold") {
    o.me_threshold = ParseInt(value);
    Log(llWarning, "Warning: -me_threshold has no effect with the libraries in use");
  } else if (name == "sameq") {
    o.same_quality = ParseBool(value);
  } else if (name == "pass") {
    const int pass = ParseInt(value);
    if (pass != 1 && pass != 2) throw FFmpegException("pass number can be only 1 or 2");
    o.do_pass = pass;
  } else if (name == "passlogfile") {
    o.pass_logfilename_prefix = value;
  } else if (name == "deinterlace") {
    o.do_deinterlace = ParseBool(value);
  } else if (name == "psnr") {
    o.do_psnr = ParseBool(value);
  } else if (name == "vstats") {
    if (ParseBool(value)) {
      const std::time_t now = std::time(nullptr);
      std::tm local{};
      localtime_r(&now, &local);
      char stamp[16];
      std::strftime(stamp, sizeof stamp, "%H%M%S", &local);
      o.vstats_filename = FormatText("%svstats_%s.log", ProgramFolder().c_str(), stamp);
    } else {
      o.vstats_filename.clear();
    }
  } else if (name == "vstats_file") {
    o.vstats_filename = value;
  } else if (name == "vhook") {
    AddVideoHook(value);
  } else if (name == "vfilters" || name == "vf") {
    if (!value.empty()) o.vfilters = value;
  } else if (name == "intra_matrix") {
    o.intra_matrix = ParseMatrix(value);
  } else if (name == "inter_matrix") {
    o.inter_matrix = ParseMatrix(value);
  } else if (name == "top") {
    o.top_field_first = ParseInt(value);
  } else if (name == "dc") {
    o.intra_dc_precision = ParseInt(value);
  } else if (name == "vtag") {
    SetCodecTag(name, value);
  } else if (name == "newvideo") {
    AddNewStream(AVMEDIA_TYPE_VIDEO);
  } else if (name == "vlang") {
    o.video_language = value;
  } else if (name == "qphist") {
    o.qp_hist = ParseBool(value);
  } else if (name == "force_fps") {
    o.force_fps = ParseBool(value);
  } else if (name == "streamid") {
    const size_t colon = value.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == value.size())
      RaiseFmt("Invalid value \"%s\" for option \"%s\", required syntax is \"index:value\"", v, name.c_str());
    const int index = ParseInt(value.substr(0, colon));
    if (index < 0 || index >= kMaxStreams) RaiseFmt("stream index over MAX_STREAMS(%d)", kMaxStreams);
    if (o.streamid_map.size() <= static_cast<size_t>(index)) o.streamid_map.resize(index + 1, 0);
    o.streamid_map[index] = ParseInt(value.substr(colon + 1));
  } else if (name == "force_key_frames") {
    o.forced_key_frames = value;
  // ---- Audio.
  } else if (name == "ab") {
    SetBitrate(name, value);
  } else if (name == "aframes") {
    o.max_frames[flAudio] = ParseInt(value);
  } else if (name == "aq") {
    o.audio_qscale = static_cast<float>(ParseFloat(value));
  } else if (name == "ar") {
    const int rate = ParseInt(value);
    if (rate > 0) o.audio_sample_rate = rate;
  } else if (name == "ac") {
    const int channels = ParseInt(value);
    if (channels > 0) o.audio_channels = channels;
  } else if (name == "an") {
    o.audio_disable = ParseBool(value);
  } else if (name == "acodec") {
    SetCodecName(AVMEDIA_TYPE_AUDIO, value);
  } else if (name == "atag") {
    SetCodecTag(name, value);
  } else if (name == "vol") {
    o.audio_volume = ParseInt(value);
  } else if (name == "newaudio") {
    AddNewStream(AVMEDIA_TYPE_AUDIO);
  } else if (name == "alang") {
    o.audio_language = value;
  } else if (name == "sample_fmt") {
    if (value == "list") {
      std::string table = "Sample formats:";
      for (int i = 0; i < AV_SAMPLE_FMT_NB; ++i)
        table += std::string("\r\n") + ff::av_get_sample_fmt_name(static_cast<AVSampleFormat>(i));
      Log(llInfo, table);
    } else {
      o.audio_sample_fmt = ff::av_get_sample_fmt(v);
      if (o.audio_sample_fmt == AV_SAMPLE_FMT_NONE) RaiseFmt("Invalid sample format \"%s\"", v);
    }
  // ---- Subtitles, capture and muxing.
  } else if (name == "sn") {
    o.subtitle_disable = ParseBool(value);
  } else if (name == "scodec") {
    SetCodecName(AVMEDIA_TYPE_SUBTITLE, value);
  } else if (name == "newsubtitle") {
    AddNewStream(AVMEDIA_TYPE_SUBTITLE);
  } else if (name == "slang") {
    o.subtitle_language = value;
  } else if (name == "stag") {
    SetCodecTag(name, value);
  } else if (name == "vc") {
    o.video_channel = ParseInt(value);
  } else if (name == "tvstd") {
    o.video_standard = value;
  } else if (name == "isync") {
    o.input_sync = ParseBool(value);
  } else if (name == "muxdelay") {
    o.mux_max_delay = static_cast<float>(ParseFloat(value));
  } else if (name == "muxpreload") {
    o.mux_preload = static_cast<float>(ParseFloat(value));
  } else if (name == "absf") {
    AddBitstreamFilter(&o.audio_bitstream_filters, value);
  } else if (name == "vbsf") {
    AddBitstreamFilter(&o.video_bitstream_filters, value);
  } else if (name == "sbsf") {
    AddBitstreamFilter(&o.subtitle_bitstream_filters, value);
  } else if (IsOneOf(name, {"apre", "vpre", "spre", "fpre"})) {
    ApplyPreset(name, value);
  } else {
    SetGenericOption(name, value);
  }
}

}  // namespace vidmill
