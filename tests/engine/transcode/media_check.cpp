#include "media_check.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>

#include "core/entry_points.h"

namespace vidmill::testing {

namespace {

struct FormatClose {
  void operator()(AVFormatContext* c) const { ff::avformat_close_input(&c); }
};
struct CodecFree {
  void operator()(AVCodecContext* c) const { ff::avcodec_free_context(&c); }
};
struct FrameFree {
  void operator()(AVFrame* f) const { ff::av_frame_free(&f); }
};
struct PacketFree {
  void operator()(AVPacket* p) const { ff::av_packet_free(&p); }
};

// Decodes the file, calling `on_frame` with every decoded frame and its stream.
bool DecodeAll(const std::string& path, std::string* error, const std::function<void(AVFormatContext*)>& on_open,
               const std::function<void(int stream, AVStream* st, AVFrame* frame)>& on_frame,
               std::unique_ptr<AVFormatContext, FormatClose>* keep,
               const std::function<void(int stream)>& on_packet = nullptr) {
  AVFormatContext* raw = nullptr;
  if (ff::avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) {
    *error = "cannot open " + path;
    return false;
  }
  keep->reset(raw);
  if (ff::avformat_find_stream_info(raw, nullptr) < 0) {
    *error = "no stream info in " + path;
    return false;
  }
  on_open(raw);
  std::vector<std::unique_ptr<AVCodecContext, CodecFree>> decoders(raw->nb_streams);
  for (unsigned i = 0; i < raw->nb_streams; ++i) {
    const AVCodecParameters* par = raw->streams[i]->codecpar;
    if (par->codec_type != AVMEDIA_TYPE_VIDEO && par->codec_type != AVMEDIA_TYPE_AUDIO) continue;
    const AVCodec* codec = ff::avcodec_find_decoder(par->codec_id);
    if (!codec) continue;
    decoders[i].reset(ff::avcodec_alloc_context3(codec));
    ff::avcodec_parameters_to_context(decoders[i].get(), par);
    decoders[i]->pkt_timebase = raw->streams[i]->time_base;
    if (ff::avcodec_open2(decoders[i].get(), codec, nullptr) < 0) decoders[i].reset();
  }
  std::unique_ptr<AVPacket, PacketFree> pkt(ff::av_packet_alloc());
  std::unique_ptr<AVFrame, FrameFree> frame(ff::av_frame_alloc());
  auto drain = [&](unsigned s) {
    while (ff::avcodec_receive_frame(decoders[s].get(), frame.get()) >= 0) {
      on_frame(static_cast<int>(s), raw->streams[s], frame.get());
      ff::av_frame_unref(frame.get());
    }
  };
  while (ff::av_read_frame(raw, pkt.get()) >= 0) {
    const unsigned s = static_cast<unsigned>(pkt->stream_index);
    if (on_packet) on_packet(static_cast<int>(s));
    if (s < decoders.size() && decoders[s]) {
      ff::avcodec_send_packet(decoders[s].get(), pkt.get());
      drain(s);
    }
    ff::av_packet_unref(pkt.get());
  }
  for (unsigned s = 0; s < decoders.size(); ++s) {
    if (!decoders[s]) continue;
    ff::avcodec_send_packet(decoders[s].get(), nullptr);
    drain(s);
  }
  return true;
}

int FirstVideoStream(const AVFormatContext* ctx) {
  for (unsigned i = 0; i < ctx->nb_streams; ++i) {
    if (ctx->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) return static_cast<int>(i);
  }
  return -1;
}

// The largest magnitude of the frame's samples, full scale 1.0.
double PeakOf(const AVFrame* f) {
  const auto fmt = static_cast<AVSampleFormat>(f->format);
  const bool planar = ff::av_sample_fmt_is_planar(fmt);
  const int planes = planar ? f->ch_layout.nb_channels : 1;
  const int count = f->nb_samples * (planar ? 1 : f->ch_layout.nb_channels);
  double peak = 0;
  for (int p = 0; p < planes; ++p) {
    for (int i = 0; i < count; ++i) {
      double v = 0;
      switch (ff::av_get_packed_sample_fmt(fmt)) {
        case AV_SAMPLE_FMT_U8: v = (f->extended_data[p][i] - 128) / 128.0; break;
        case AV_SAMPLE_FMT_S16: v = reinterpret_cast<const int16_t*>(f->extended_data[p])[i] / 32768.0; break;
        case AV_SAMPLE_FMT_S32: v = reinterpret_cast<const int32_t*>(f->extended_data[p])[i] / 2147483648.0; break;
        case AV_SAMPLE_FMT_FLT: v = reinterpret_cast<const float*>(f->extended_data[p])[i]; break;
        case AV_SAMPLE_FMT_DBL: v = reinterpret_cast<const double*>(f->extended_data[p])[i]; break;
        default: break;
      }
      peak = std::max(peak, std::fabs(v));
    }
  }
  return peak;
}

}  // namespace

const TStreamFacts* TMediaFacts::First(AVMediaType type) const {
  for (const TStreamFacts& s : streams) {
    if (s.type == type) return &s;
  }
  return nullptr;
}

TMediaFacts DecodeFacts(const std::string& path) {
  TMediaFacts facts;
  std::unique_ptr<AVFormatContext, FormatClose> keep;
  std::vector<bool> seen;
  const bool ok = DecodeAll(
      path, &facts.error,
      [&](AVFormatContext* ctx) {
        facts.format = ctx->iformat->name;
        facts.duration_s = ctx->duration > 0 ? static_cast<double>(ctx->duration) / AV_TIME_BASE : 0;
        for (unsigned i = 0; i < ctx->nb_streams; ++i) {
          TStreamFacts sf;
          sf.type = ctx->streams[i]->codecpar->codec_type;
          sf.codec = ff::avcodec_get_name(ctx->streams[i]->codecpar->codec_id);
          facts.streams.push_back(sf);
          seen.push_back(false);
        }
      },
      [&](int s, AVStream* st, AVFrame* f) {
        TStreamFacts& sf = facts.streams[static_cast<size_t>(s)];
        const int64_t ts = f->best_effort_timestamp;
        const double t = ts == AV_NOPTS_VALUE ? 0 : static_cast<double>(ts) * av_q2d(st->time_base);
        double duration = 0;
        if (sf.type == AVMEDIA_TYPE_AUDIO) {
          duration = f->sample_rate ? static_cast<double>(f->nb_samples) / f->sample_rate : 0;
          sf.samples += f->nb_samples;
          sf.peak = std::max(sf.peak, PeakOf(f));
          sf.sample_rate = f->sample_rate;
          sf.channels = f->ch_layout.nb_channels;
        } else {
          duration = f->pkt_duration > 0 ? static_cast<double>(f->pkt_duration) * av_q2d(st->time_base)
                     : st->avg_frame_rate.num ? av_q2d(av_inv_q(st->avg_frame_rate))
                                              : 0;
          sf.width = f->width;
          sf.height = f->height;
        }
        if (!seen[static_cast<size_t>(s)]) {
          sf.first_s = t;
          seen[static_cast<size_t>(s)] = true;
        }
        sf.end_s = std::max(sf.end_s, t + duration);
        ++sf.frames;
      },
      &keep, [&](int s) { ++facts.streams[static_cast<size_t>(s)].packets; });
  facts.ok = ok;
  return facts;
}

namespace {

// The n-th picture of the first video stream converted to `format` in the
// given size (0: its own); null when there is none.
std::unique_ptr<AVFrame, FrameFree> Picture(const std::string& path, int n, int width, int height,
                                            AVPixelFormat format) {
  const std::unique_ptr<AVFrame, TFrameRelease> f = DecodedPicture(path, n);
  if (!f) return nullptr;
  const int w = width ? width : f->width;
  const int h = height ? height : f->height;
  SwsContext* sws = ff::sws_getContext(f->width, f->height, static_cast<AVPixelFormat>(f->format), w, h, format,
                                       SWS_BICUBIC, nullptr, nullptr, nullptr);
  if (!sws) return nullptr;
  std::unique_ptr<AVFrame, FrameFree> result(ff::av_frame_alloc());
  result->format = format;
  result->width = w;
  result->height = h;
  ff::av_frame_get_buffer(result.get(), 0);
  ff::sws_scale(sws, f->data, f->linesize, 0, f->height, result->data, result->linesize);
  ff::sws_freeContext(sws);
  return result;
}

double PlaneMean(const AVFrame* f, int plane, int w, int h) {
  double sum = 0;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) sum += f->data[plane][y * f->linesize[plane] + x];
  }
  return sum / (static_cast<double>(w) * h);
}

}  // namespace

void TFrameRelease::operator()(AVFrame* f) const { ff::av_frame_free(&f); }

std::unique_ptr<AVFrame, TFrameRelease> DecodedPicture(const std::string& path, int n) {
  std::unique_ptr<AVFrame, TFrameRelease> result;
  std::unique_ptr<AVFormatContext, FormatClose> keep;
  std::string error;
  int video = -1;
  int count = 0;
  DecodeAll(
      path, &error,
      [&](AVFormatContext* ctx) { video = FirstVideoStream(ctx); },
      [&](int s, AVStream*, AVFrame* f) {
        if (s == video && count++ == n) result.reset(ff::av_frame_clone(f));
      },
      &keep);
  return result;
}

std::vector<uint8_t> LumaOf(const AVFrame* f) {
  std::vector<uint8_t> luma(static_cast<size_t>(f->width) * f->height);
  SwsContext* sws = ff::sws_getContext(f->width, f->height, static_cast<AVPixelFormat>(f->format), f->width,
                                       f->height, AV_PIX_FMT_GRAY8, SWS_BICUBIC, nullptr, nullptr, nullptr);
  if (!sws) return {};
  uint8_t* dst[4] = {luma.data(), nullptr, nullptr, nullptr};
  int dst_linesize[4] = {f->width, 0, 0, 0};
  ff::sws_scale(sws, f->data, f->linesize, 0, f->height, dst, dst_linesize);
  ff::sws_freeContext(sws);
  return luma;
}

std::vector<uint8_t> LumaOfPicture(const std::string& path, int n, int width, int height) {
  auto f = Picture(path, n, width, height, AV_PIX_FMT_GRAY8);
  std::vector<uint8_t> luma;
  if (!f) return luma;
  for (int y = 0; y < f->height; ++y) luma.insert(luma.end(), f->data[0] + y * f->linesize[0], f->data[0] + y * f->linesize[0] + f->width);
  return luma;
}

bool MeanYuv(const std::string& path, int n, double* y, double* u, double* v) {
  auto f = Picture(path, n, 0, 0, AV_PIX_FMT_YUV420P);
  if (!f) return false;
  *y = PlaneMean(f.get(), 0, f->width, f->height);
  *u = PlaneMean(f.get(), 1, (f->width + 1) / 2, (f->height + 1) / 2);
  *v = PlaneMean(f.get(), 2, (f->width + 1) / 2, (f->height + 1) / 2);
  return true;
}

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size() || a.empty()) return 0;
  double se = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    const double d = static_cast<double>(a[i]) - b[i];
    se += d * d;
  }
  if (se == 0) return 99.99;
  return 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(a.size()) / se);
}

}  // namespace vidmill::testing
