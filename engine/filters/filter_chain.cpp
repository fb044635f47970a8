#include "filters/filter_chain.h"

#include <algorithm>
#include <deque>
#include <vector>

#include "core/entry_points.h"
#include "filters/own_filter.h"

namespace vidmill {
namespace {

struct FrameDeleter {
  void operator()(AVFrame* f) const { ff::av_frame_free(&f); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;

struct GraphDeleter {
  void operator()(AVFilterGraph* g) const { ff::avfilter_graph_free(&g); }
};
using GraphPtr = std::unique_ptr<AVFilterGraph, GraphDeleter>;

struct InOutDeleter {
  void operator()(AVFilterInOut* io) const { ff::avfilter_inout_free(&io); }
};
using InOutPtr = std::unique_ptr<AVFilterInOut, InOutDeleter>;

FramePtr NewFrame() { return FramePtr(ff::av_frame_alloc()); }

std::string ErrorText(int err) {
  char buf[AV_ERROR_MAX_STRING_SIZE] = {};
  ff::av_strerror(err, buf, sizeof buf);
  return buf;
}

std::string Trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(" \t\r\n");
  return std::string(s.substr(first, last - first + 1));
}

// One step of a chain: frames in, frames out, in order.
class TStage {
 public:
  virtual ~TStage() = default;
  // Takes the frame; null marks the end of the stream.
  virtual int Send(FramePtr frame) = 0;
  // 0 with a frame in `out`, AVERROR(EAGAIN), AVERROR_EOF or an error.
  virtual int Receive(AVFrame* out) = 0;
};

// Frames held in process between Send and Receive.
class TQueueStage : public TStage {
 public:
  int Send(FramePtr frame) override {
    if (!frame) {
      ended_ = true;
      return 0;
    }
    pending_.push_back(std::move(frame));
    return 0;
  }
  int Receive(AVFrame* out) override {
    if (pending_.empty()) return ended_ ? AVERROR_EOF : AVERROR(EAGAIN);
    FramePtr frame = std::move(pending_.front());
    pending_.pop_front();
    return Deliver(std::move(frame), out);
  }

 protected:
  virtual int Deliver(FramePtr frame, AVFrame* out) {
    ff::av_frame_move_ref(out, frame.get());
    return 0;
  }

 private:
  std::deque<FramePtr> pending_;
  bool ended_ = false;
};

// Picture buffers of one size and format, reused once their frames are freed.
class TFramePool {
 public:
  ~TFramePool() { Reset(); }
  // Gives `out` a buffer for a picture like `like`. 0 or a negative AVERROR.
  int Get(const AVFrame& like, AVFrame* out) {
    if (!pool_ || like.width != width_ || like.height != height_ || like.format != format_) {
      Reset();
      const int size = ff::av_image_get_buffer_size(static_cast<AVPixelFormat>(like.format),
                                                    like.width, like.height, kAlign);
      if (size < 0) return size;
      pool_ = ff::av_buffer_pool_init(size + kAlign, nullptr);
      if (!pool_) return AVERROR(ENOMEM);
      width_ = like.width;
      height_ = like.height;
      format_ = like.format;
    }
    out->buf[0] = ff::av_buffer_pool_get(pool_);
    if (!out->buf[0]) return AVERROR(ENOMEM);
    out->format = like.format;
    out->width = like.width;
    out->height = like.height;
    const int err = ff::av_image_fill_arrays(out->data, out->linesize, out->buf[0]->data,
                                             static_cast<AVPixelFormat>(like.format), like.width,
                                             like.height, kAlign);
    out->extended_data = out->data;
    return err < 0 ? err : 0;
  }

 private:
  static constexpr int kAlign = 64;
  // The pool itself goes when its last buffer comes back.
  void Reset() {
    if (pool_) ff::av_buffer_pool_uninit(&pool_);
  }
  AVBufferPool* pool_ = nullptr;
  int width_ = 0;
  int height_ = 0;
  int format_ = AV_PIX_FMT_NONE;
};

// One of the engine's own filters, run on each frame in process.
class TOwnStage : public TQueueStage {
 public:
  TOwnStage(std::unique_ptr<TOwnFilter> filter, AVPixelFormat pix_fmt)
      : filter_(std::move(filter)), pix_fmt_(pix_fmt) {}

 protected:
  int Deliver(FramePtr frame, AVFrame* out) override {
    // The filter was set up for one layout of planes (the chroma size of the
    // hue filter); a picture of another format would be read past its planes.
    if (frame->format != pix_fmt_) {
      if (ff::av_log) {
        ff::av_log(nullptr, AV_LOG_ERROR,
                   "Picture format %s differs from the format %s the filter chain was built for\n",
                   PixFmtName(frame->format), PixFmtName(pix_fmt_));
      }
      return AVERROR(EINVAL);
    }
    if (!filter_->BeginFrame()) {
      ff::av_frame_move_ref(out, frame.get());
      return 0;
    }
    if (ff::av_frame_is_writable(frame.get())) {
      filter_->Process(*frame, *frame);
      ff::av_frame_move_ref(out, frame.get());
      return 0;
    }
    int err = pool_.Get(*frame, out);
    if (err >= 0) err = ff::av_frame_copy_props(out, frame.get());
    if (err < 0) {
      ff::av_frame_unref(out);
      return err;
    }
    filter_->Process(*frame, *out);
    return 0;
  }

 private:
  static const char* PixFmtName(int format) {
    const char* name = ff::av_get_pix_fmt_name(static_cast<AVPixelFormat>(format));
    return name ? name : "none";
  }

  std::unique_ptr<TOwnFilter> filter_;
  AVPixelFormat pix_fmt_;
  TFramePool pool_;
};

// A run of library filters: buffer source -> the run -> buffer sink.
class TLibraryStage : public TStage {
 public:
  static std::unique_ptr<TLibraryStage> Create(const std::string& text, const TVideoFormat& in,
                                               const TFilterChainOptions& options,
                                               std::string* error);
  int Send(FramePtr frame) override {
    return ff::av_buffersrc_add_frame_flags(source_, frame.get(), 0);
  }
  int Receive(AVFrame* out) override { return ff::av_buffersink_get_frame(sink_, out); }
  TVideoFormat Output() const;

 private:
  GraphPtr graph_;
  AVFilterContext* source_ = nullptr;  // owned by graph_
  AVFilterContext* sink_ = nullptr;    // owned by graph_
};

std::string SourceArgs(const TVideoFormat& in) {
  std::string args = "video_size=" + std::to_string(in.width) + "x" + std::to_string(in.height) +
                     ":pix_fmt=" + std::to_string(in.pix_fmt) +
                     ":time_base=" + std::to_string(in.time_base.num) + "/" +
                     std::to_string(in.time_base.den) +
                     ":pixel_aspect=" + std::to_string(in.sample_aspect_ratio.num) + "/" +
                     std::to_string(std::max(in.sample_aspect_ratio.den, 1));
  if (in.frame_rate.num > 0 && in.frame_rate.den > 0) {
    args += ":frame_rate=" + std::to_string(in.frame_rate.num) + "/" +
            std::to_string(in.frame_rate.den);
  }
  return args;
}

InOutPtr OpenEnd(const char* label, AVFilterContext* filter) {
  InOutPtr io(ff::avfilter_inout_alloc());
  if (!io) return io;
  io->name = ff::av_strdup(label);
  io->filter_ctx = filter;
  io->pad_idx = 0;
  io->next = nullptr;
  return io;
}

std::unique_ptr<TLibraryStage> TLibraryStage::Create(const std::string& text,
                                                     const TVideoFormat& in,
                                                     const TFilterChainOptions& options,
                                                     std::string* error) {
  auto fail = [&](const std::string& what, int err) {
    *error = what + ": " + ErrorText(err);
    return nullptr;
  };
  auto stage = std::unique_ptr<TLibraryStage>(new TLibraryStage);
  stage->graph_.reset(ff::avfilter_graph_alloc());
  if (!stage->graph_) return fail("Cannot allocate a filter graph", AVERROR(ENOMEM));
  AVFilterGraph* graph = stage->graph_.get();
  graph->nb_threads = options.threads;
  if (options.sws_flags != 0) {
    graph->scale_sws_opts = ff::av_strdup(("flags=" + std::to_string(options.sws_flags)).c_str());
  }
  int err = ff::avfilter_graph_create_filter(&stage->source_, ff::avfilter_get_by_name("buffer"),
                                             "src", SourceArgs(in).c_str(), nullptr, graph);
  if (err < 0) return fail("Cannot create the buffer source", err);
  err = ff::avfilter_graph_create_filter(&stage->sink_, ff::avfilter_get_by_name("buffersink"),
                                         "out", nullptr, nullptr, graph);
  if (err < 0) return fail("Cannot create the buffer sink", err);

  AVFilterInOut* outputs = OpenEnd("in", stage->source_).release();
  AVFilterInOut* inputs = OpenEnd("out", stage->sink_).release();
  if (!outputs || !inputs) {
    ff::avfilter_inout_free(&outputs);
    ff::avfilter_inout_free(&inputs);
    return fail("Cannot allocate the filter chain ends", AVERROR(ENOMEM));
  }
  err = ff::avfilter_graph_parse_ptr(graph, text.c_str(), &inputs, &outputs, nullptr);
  ff::avfilter_inout_free(&outputs);
  ff::avfilter_inout_free(&inputs);
  if (err < 0) return fail("Cannot parse the filters \"" + text + "\"", err);
  err = ff::avfilter_graph_config(graph, nullptr);
  if (err < 0) return fail("Cannot configure the filters \"" + text + "\"", err);
  return stage;
}

TVideoFormat TLibraryStage::Output() const {
  TVideoFormat out;
  out.width = ff::av_buffersink_get_w(sink_);
  out.height = ff::av_buffersink_get_h(sink_);
  out.pix_fmt = static_cast<AVPixelFormat>(ff::av_buffersink_get_format(sink_));
  out.time_base = ff::av_buffersink_get_time_base(sink_);
  out.sample_aspect_ratio = ff::av_buffersink_get_sample_aspect_ratio(sink_);
  out.frame_rate = ff::av_buffersink_get_frame_rate(sink_);
  return out;
}

// Splits a chain at its top-level commas (outside quotes and brackets).
// A chain with several linked chains (";") stays one library run.
std::vector<std::string> SplitChain(const std::string& chain) {
  std::vector<std::string> items;
  std::string current;
  bool quoted = false;
  int brackets = 0;
  for (size_t i = 0; i < chain.size(); ++i) {
    const char c = chain[i];
    if (c == '\\' && i + 1 < chain.size()) {
      current += c;
      current += chain[++i];
      continue;
    }
    if (c == '\'') quoted = !quoted;
    if (!quoted && c == '[') ++brackets;
    if (!quoted && c == ']') --brackets;
    if (!quoted && brackets == 0 && c == ';') return {Trim(chain)};
    if (!quoted && brackets == 0 && c == ',') {
      items.push_back(Trim(current));
      current.clear();
      continue;
    }
    current += c;
  }
  items.push_back(Trim(current));
  if (items.size() == 1 && items[0].empty()) items.clear();
  return items;
}

std::string NameOf(const std::string& item) { return Trim(item.substr(0, item.find('='))); }

std::string ArgsOf(const std::string& item) {
  const auto eq = item.find('=');
  return eq == std::string::npos ? std::string() : item.substr(eq + 1);
}

std::string FormatListText(std::span<const AVPixelFormat> formats) {
  std::string text = "format=pix_fmts=";
  for (size_t i = 0; i < formats.size(); ++i) {
    if (i) text += '|';
    text += ff::av_get_pix_fmt_name(formats[i]);
  }
  return text;
}

class TChain : public TFilterChain {
 public:
  bool Build(const std::string& chain, const TVideoFormat& in, AVPixelFormat out_pix_fmt,
             const TFilterChainOptions& options, std::string* error);

  int SendFrame(const AVFrame* frame) override;
  int ReceiveFrame(AVFrame* out) override;
  TVideoFormat OutputFormat() const override { return output_; }

 private:
  bool FlushLibraryRun(std::string* error);
  void AddStage(std::unique_ptr<TStage> stage) {
    stages_.push_back(std::move(stage));
    end_sent_.push_back(false);
  }
  int Pump();

  std::vector<std::unique_ptr<TStage>> stages_;
  std::vector<bool> end_sent_;  // per stage: the end of the stream was sent in
  TVideoFormat output_;
  std::string pending_run_;  // library filters not yet built into a stage
  TFilterChainOptions options_;
};

bool TChain::FlushLibraryRun(std::string* error) {
  if (pending_run_.empty()) return true;
  auto stage = TLibraryStage::Create(pending_run_, output_, options_, error);
  pending_run_.clear();
  if (!stage) return false;
  output_ = stage->Output();
  AddStage(std::move(stage));
  return true;
}

bool TChain::Build(const std::string& chain, const TVideoFormat& in, AVPixelFormat out_pix_fmt,
                   const TFilterChainOptions& options, std::string* error) {
  output_ = in;
  options_ = options;
  auto append_library = [&](const std::string& item) {
    if (!pending_run_.empty()) pending_run_ += ',';
    pending_run_ += item;
  };
  for (const std::string& item : SplitChain(chain)) {
    const TOwnFilterDef* def = FindOwnFilter(NameOf(item));
    if (!def) {
      append_library(item);
      continue;
    }
    // The library converts to a format the filter accepts; a no-op when the
    // pictures already have one.
    if (!pending_run_.empty() ||
        std::find(def->pix_fmts.begin(), def->pix_fmts.end(), output_.pix_fmt) ==
            def->pix_fmts.end()) {
      append_library(FormatListText(def->pix_fmts));
    }
    if (!FlushLibraryRun(error)) return false;
    std::string why;
    std::unique_ptr<TOwnFilter> filter = def->create(ArgsOf(item), output_, &why);
    if (!filter) {
      *error = "Cannot initialize the filter \"" + item + "\": " + why;
      return false;
    }
    AddStage(std::make_unique<TOwnStage>(std::move(filter), output_.pix_fmt));
  }
  if (out_pix_fmt != AV_PIX_FMT_NONE && (!pending_run_.empty() || output_.pix_fmt != out_pix_fmt)) {
    append_library(std::string("format=pix_fmts=") + ff::av_get_pix_fmt_name(out_pix_fmt));
  }
  if (!FlushLibraryRun(error)) return false;
  if (stages_.empty()) AddStage(std::make_unique<TQueueStage>());
  return true;
}

int TChain::SendFrame(const AVFrame* frame) {
  if (end_sent_[0]) return AVERROR_EOF;
  FramePtr ref;
  if (frame) {
    ref = NewFrame();
    if (!ref) return AVERROR(ENOMEM);
    const int err = ff::av_frame_ref(ref.get(), frame);
    if (err < 0) return err;
  } else {
    end_sent_[0] = true;
  }
  const int err = stages_[0]->Send(std::move(ref));
  return err < 0 ? err : Pump();
}

int TChain::ReceiveFrame(AVFrame* out) {
  const int err = Pump();
  if (err < 0) return err;
  return stages_.back()->Receive(out);
}

// Moves every frame that a stage can give into the next stage.
int TChain::Pump() {
  for (size_t i = 0; i + 1 < stages_.size(); ++i) {
    for (;;) {
      FramePtr frame = NewFrame();
      if (!frame) return AVERROR(ENOMEM);
      int err = stages_[i]->Receive(frame.get());
      if (err == AVERROR(EAGAIN)) break;
      if (err == AVERROR_EOF) {
        if (!end_sent_[i + 1]) {
          end_sent_[i + 1] = true;
          err = stages_[i + 1]->Send(nullptr);
          if (err < 0) return err;
        }
        break;
      }
      if (err < 0) return err;
      err = stages_[i + 1]->Send(std::move(frame));
      if (err < 0) return err;
    }
  }
  return 0;
}

}  // namespace

std::unique_ptr<TFilterChain> TFilterChain::Create(const std::string& chain,
                                                   const TVideoFormat& in,
                                                   AVPixelFormat out_pix_fmt, std::string* error,
                                                   const TFilterChainOptions& options) {
  std::string ignored;
  if (!error) error = &ignored;
  auto result = std::make_unique<TChain>();
  if (!result->Build(chain, in, out_pix_fmt, options, error)) return nullptr;
  return result;
}

}  // namespace vidmill
