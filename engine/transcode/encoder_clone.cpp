#include "encoder_clone.h"

#include <cstring>

#include "core/entry_points.h"

namespace vidmill {

namespace {

uint16_t* CopyMatrix(const uint16_t* m) {
  if (!m) return nullptr;
  auto* out = static_cast<uint16_t*>(ff::av_malloc(64 * sizeof(uint16_t)));
  if (out) std::memcpy(out, m, 64 * sizeof(uint16_t));
  return out;
}

}  // namespace

TCodecContextPtr CloneEncoderSettings(const AVCodecContext* src, const AVCodec* codec) {
  TCodecContextPtr clone = MakeCodecContext(codec);
  if (!clone) return nullptr;
  AVCodecContext* dst = clone.get();
  if (ff::av_opt_copy(dst, src) < 0) return nullptr;
  if (src->priv_data && dst->priv_data && src->codec == dst->codec && ff::av_opt_copy(dst->priv_data, src->priv_data) < 0)
    return nullptr;
  dst->codec_type = src->codec_type;
  dst->codec_id = src->codec_id;
  dst->codec_tag = src->codec_tag;
  dst->time_base = src->time_base;
  dst->framerate = src->framerate;
  dst->width = src->width;
  dst->height = src->height;
  dst->pix_fmt = src->pix_fmt;
  dst->sample_aspect_ratio = src->sample_aspect_ratio;
  dst->sample_fmt = src->sample_fmt;
  dst->sample_rate = src->sample_rate;
  ff::av_channel_layout_uninit(&dst->ch_layout);
  if (ff::av_channel_layout_copy(&dst->ch_layout, &src->ch_layout) < 0) return nullptr;
  dst->flags = src->flags & ~(AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2);
  dst->flags2 = src->flags2;
  dst->bits_per_raw_sample = src->bits_per_raw_sample;
  dst->chroma_sample_location = src->chroma_sample_location;
  dst->color_range = src->color_range;
  dst->color_primaries = src->color_primaries;
  dst->color_trc = src->color_trc;
  dst->colorspace = src->colorspace;
  dst->field_order = src->field_order;
  dst->global_quality = src->global_quality;
  dst->thread_count = src->thread_count;
  dst->intra_matrix = CopyMatrix(src->intra_matrix);
  dst->inter_matrix = CopyMatrix(src->inter_matrix);
  if (src->rc_override_count > 0 && src->rc_override) {
    const size_t size = sizeof(RcOverride) * static_cast<size_t>(src->rc_override_count);
    dst->rc_override = static_cast<RcOverride*>(ff::av_malloc(size));
    if (!dst->rc_override) return nullptr;
    std::memcpy(dst->rc_override, src->rc_override, size);
    dst->rc_override_count = src->rc_override_count;
  }
  return clone;
}

}  // namespace vidmill
