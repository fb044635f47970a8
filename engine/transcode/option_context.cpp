#include "option_context.h"

#include <cstdlib>

#include "core/entry_points.h"
#include "core/ff_log.h"

namespace vidmill {

int OptionFlagsOf(AVMediaType type) {
  switch (type) {
    case AVMEDIA_TYPE_VIDEO: return AV_OPT_FLAG_VIDEO_PARAM;
    case AVMEDIA_TYPE_AUDIO: return AV_OPT_FLAG_AUDIO_PARAM;
    case AVMEDIA_TYPE_SUBTITLE: return AV_OPT_FLAG_SUBTITLE_PARAM;
    default: return 0;
  }
}

void TOptionContext::CodecContextFree::operator()(AVCodecContext* c) const {
  ff::avcodec_free_context(&c);
}
void TOptionContext::FormatContextFree::operator()(AVFormatContext* c) const {
  ff::avformat_free_context(c);
}
void TOptionContext::ScalerFree::operator()(SwsContext* c) const { ff::sws_freeContext(c); }

TOptionContext::TOptionContext(int scaler_flags) {
  for (int t = 0; t < AVMEDIA_TYPE_NB; ++t) {
    codec_[t].reset(ff::avcodec_alloc_context3(nullptr));
    if (codec_[t]) codec_[t]->codec_type = static_cast<AVMediaType>(t);
  }
  format_.reset(ff::avformat_alloc_context());
  scaler_.reset(ff::sws_getContext(16, 16, AV_PIX_FMT_YUV420P, 16, 16, AV_PIX_FMT_YUV420P,
                                   scaler_flags, nullptr, nullptr, nullptr));
}

TOptionContext::~TOptionContext() = default;

AVCodecContext* TOptionContext::CodecTemplate(AVMediaType type) const {
  if (type < 0 || type >= AVMEDIA_TYPE_NB) return nullptr;
  return codec_[type].get();
}

namespace {

// The option's current value as text; empty optional when not found.
bool OptionText(void* obj, const char* name, std::string* text) {
  uint8_t* out = nullptr;
  if (ff::av_opt_get(obj, name, 0, &out) < 0) return false;
  *text = out ? reinterpret_cast<char*>(out) : "";
  ff::av_free(out);
  return true;
}

}  // namespace

int64_t TOptionContext::CodecInt(AVMediaType type, const char* name, int64_t fallback) const {
  AVCodecContext* ctx = CodecTemplate(type);
  std::string text;
  if (!ctx || !OptionText(ctx, name, &text)) return fallback;
  return std::strtoll(text.c_str(), nullptr, 0);
}

int TOptionContext::ScalerFlags(int fallback) const {
  std::string text;
  if (!scaler_ || !OptionText(scaler_.get(), "sws_flags", &text)) return fallback;
  return static_cast<int>(std::strtol(text.c_str(), nullptr, 0));
}

// Sets the option on every template that knows it, in the order codec
// contexts (by media type), format, scaler, then the a/v/s-prefixed forms.
// Returns the first negative result, 0 otherwise; *found is the option.
int TOptionContext::SetOnTemplates(const std::string& name, const std::string& value,
                                   const AVOption** found) {
  const char* n = name.c_str();
  const char* v = value.c_str();
  int ret = 0;
  AVCodecContext* video = codec_[AVMEDIA_TYPE_VIDEO].get();
  for (int t = 0; t < AVMEDIA_TYPE_NB && ret >= 0; ++t) {
    const int mask = OptionFlagsOf(static_cast<AVMediaType>(t));
    if (!video || !codec_[t]) continue;
    const AVOption* o = ff::av_opt_find(video, n, nullptr, mask, 0);
    if (o) {
      *found = o;
      ret = ff::av_opt_set(codec_[t].get(), n, v, 0);
    }
  }
  if (!*found && format_) {
    if ((*found = ff::av_opt_find(format_.get(), n, nullptr, 0, 0))) ret = ff::av_opt_set(format_.get(), n, v, 0);
  }
  if (!*found && scaler_) {
    if ((*found = ff::av_opt_find(scaler_.get(), n, nullptr, 0, 0))) ret = ff::av_opt_set(scaler_.get(), n, v, 0);
  }
  if (!*found && name.size() > 1 && (name[0] == 'a' || name[0] == 'v' || name[0] == 's')) {
    const AVMediaType t = name[0] == 'a'   ? AVMEDIA_TYPE_AUDIO
                          : name[0] == 'v' ? AVMEDIA_TYPE_VIDEO
                                           : AVMEDIA_TYPE_SUBTITLE;
    AVCodecContext* ctx = codec_[t].get();
    const int mask = OptionFlagsOf(t);
    if (ctx && (*found = ff::av_opt_find(ctx, n + 1, nullptr, mask, 0))) ret = ff::av_opt_set(ctx, n + 1, v, 0);
  }
  return ret;
}

bool TOptionContext::KnownToPrivateClass(const std::string& name) const {
  void* it = nullptr;
  while (const AVCodec* c = ff::av_codec_iterate(&it)) {
    if (c->priv_class && ff::av_opt_find(const_cast<AVClass**>(&c->priv_class), name.c_str(), nullptr,
                                         0, AV_OPT_SEARCH_FAKE_OBJ))
      return true;
  }
  it = nullptr;
  while (const AVOutputFormat* f = ff::av_muxer_iterate(&it)) {
    if (f->priv_class && ff::av_opt_find(const_cast<AVClass**>(&f->priv_class), name.c_str(), nullptr,
                                         0, AV_OPT_SEARCH_FAKE_OBJ))
      return true;
  }
  return false;
}

void TOptionContext::Record(const std::string& name, const std::string& value) {
  for (size_t i = 0; i < names_.size(); ++i) {
    if (names_[i] == name) {  // keep the first position, take the newest value
      values_[i] = value;
      return;
    }
  }
  names_.push_back(name);
  values_.push_back(value);
}

bool TOptionContext::Set(const std::string& name, const std::string& value) {
  size_t b = 0;
  while (b < name.size() && name[b] == ' ') ++b;
  if (b == name.size()) return false;
  const AVOption* found = nullptr;
  const int ret = SetOnTemplates(name, value, &found);
  char line[1024];
  if (found && ret < 0) {
    ff::av_log(nullptr, AV_LOG_ERROR, "Invalid value \"%s\" for option \"%s\"\n", value.c_str(), name.c_str());
    std::snprintf(line, sizeof line, "Invalid value \"%s\" for option \"%s\"", value.c_str(), name.c_str());
    last_error_ = line;
    return false;
  }
  if (!found) {
    if (!KnownToPrivateClass(name)) {
      ff::av_log(nullptr, AV_LOG_ERROR, "Unrecognized option \"%s\"\n", name.c_str());
      std::snprintf(line, sizeof line, "Unrecognized option \"%s\"", name.c_str());
      last_error_ = line;
      return false;
    }
    Record(name, value);
  } else {
    Record(found->name, std::string());
  }
  const bool debug = (codec_[AVMEDIA_TYPE_VIDEO] && codec_[AVMEDIA_TYPE_VIDEO]->debug) ||
                     (format_ && format_->debug);
  if (debug) TFFLogger::Process().SetLogLevel(llDebug);
  return true;
}

void TOptionContext::ApplyToCodec(AVCodecContext* target, AVMediaType source_type, int required_flags,
                                  const AVCodec* codec, AVDictionary** private_options) const {
  AVCodecContext* source = CodecTemplate(source_type);
  const AVClass* const* priv = codec && codec->priv_class ? &codec->priv_class : nullptr;
  for (size_t i = 0; i < names_.size(); ++i) {
    const char* n = names_[i].c_str();
    std::string text;
    const AVOption* o = source ? ff::av_opt_find(source, n, nullptr, required_flags, 0) : nullptr;
    if (o && OptionText(source, n, &text)) {
      ff::av_opt_set(target, n, text.c_str(), 0);
    } else if (!o && priv && private_options &&
               ff::av_opt_find(const_cast<AVClass**>(priv), n, nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ)) {
      ff::av_dict_set(private_options, n, values_[i].c_str(), 0);
    }
  }
}

void TOptionContext::ApplyToFormat(AVFormatContext* target, int required_flags,
                                   AVDictionary** private_options) const {
  const AVClass* const* priv = nullptr;
  if (target->oformat && target->oformat->priv_class) priv = &target->oformat->priv_class;
  if (target->iformat && target->iformat->priv_class) priv = &target->iformat->priv_class;
  for (size_t i = 0; i < names_.size(); ++i) {
    const char* n = names_[i].c_str();
    std::string text;
    const AVOption* o = format_ ? ff::av_opt_find(format_.get(), n, nullptr, required_flags, 0) : nullptr;
    if (o && OptionText(format_.get(), n, &text)) {
      ff::av_opt_set(target, n, text.c_str(), 0);
    } else if (!o && priv && private_options &&
               ff::av_opt_find(const_cast<AVClass**>(priv), n, nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ)) {
      ff::av_dict_set(private_options, n, values_[i].c_str(), 0);
    }
  }
}

}  // namespace vidmill
