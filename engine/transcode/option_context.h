// TOptionContext: the generic option store of a task.
//
// Options that the task's own option table does not know are set by name on
// template contexts of the libraries (one codec context per media type, a
// format context and a scaler context); names that only a codec's or a
// muxer's private option class knows are kept with their value. The
// accepted options are later applied, in the order they were accepted, to
// the real codec and format contexts of the task.
//
// Owned by one task; used by the thread that sets options or sets up the
// run (never by two threads at once).
#pragma once

#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace vidmill {

// Option flag mask of a media type (video 16, audio 8, data 0, subtitle 32,
// attachment 0).
int OptionFlagsOf(AVMediaType type);

class TOptionContext {
 public:
  // Creates the template contexts; one that cannot be made stays empty and
  // the steps that need it are skipped. `scaler_flags` seeds the scaler's.
  explicit TOptionContext(int scaler_flags);
  ~TOptionContext();
  TOptionContext(const TOptionContext&) = delete;
  TOptionContext& operator=(const TOptionContext&) = delete;

  // Sets one option. False when no context knows the name or the value is
  // refused; LastError() then says why ("Unrecognized option \"%s\"",
  // "Invalid value \"%s\" for option \"%s\"") and the library-style line
  // has been logged at the error level. An empty name fails silently.
  bool Set(const std::string& name, const std::string& value);
  const std::string& LastError() const { return last_error_; }

  // Copies every accepted option that `source_type`'s template knows with
  // all of `required_flags` onto `target`; options only the codec's private
  // class knows are added to *private_options (for avcodec_open2; the caller
  // frees the dictionary).
  void ApplyToCodec(AVCodecContext* target, AVMediaType source_type, int required_flags,
                    const AVCodec* codec, AVDictionary** private_options) const;
  // The same for a format context (muxer or demuxer private options go into
  // *private_options).
  void ApplyToFormat(AVFormatContext* target, int required_flags,
                     AVDictionary** private_options) const;

  // The template codec context of a media type (AVMEDIA_TYPE_VIDEO..
  // AVMEDIA_TYPE_ATTACHMENT), or null.
  AVCodecContext* CodecTemplate(AVMediaType type) const;
  // Integer value of a template codec option; `fallback` when unknown.
  int64_t CodecInt(AVMediaType type, const char* name, int64_t fallback) const;
  // The scaler flags ("sws_flags" of the scaler template).
  int ScalerFlags(int fallback) const;
  // Number of accepted options.
  size_t Count() const { return names_.size(); }

 private:
  struct CodecContextFree {
    void operator()(AVCodecContext* c) const;
  };
  struct FormatContextFree {
    void operator()(AVFormatContext* c) const;
  };
  struct ScalerFree {
    void operator()(SwsContext* c) const;
  };
  int SetOnTemplates(const std::string& name, const std::string& value, const AVOption** found);
  bool KnownToPrivateClass(const std::string& name) const;
  void Record(const std::string& name, const std::string& value);

  std::unique_ptr<AVCodecContext, CodecContextFree> codec_[AVMEDIA_TYPE_NB];
  std::unique_ptr<AVFormatContext, FormatContextFree> format_;
  std::unique_ptr<SwsContext, ScalerFree> scaler_;
  std::vector<std::string> names_;   // accepted names, in order
  std::vector<std::string> values_;  // value for names only a private class knows, else ""
  std::vector<bool> private_only_;
  std::string last_error_;
};

}  // namespace vidmill
