// Owning handles for the media library objects the player keeps.
#pragma once

#include <memory>

#include "core/entry_points.h"

namespace vidmill::player {

struct PacketFree {
  void operator()(AVPacket* p) const { ff::av_packet_free(&p); }
};
struct FrameFree {
  void operator()(AVFrame* f) const { ff::av_frame_free(&f); }
};
struct CodecContextFree {
  void operator()(AVCodecContext* c) const { ff::avcodec_free_context(&c); }
};
struct SwrFree {
  void operator()(SwrContext* s) const { ff::swr_free(&s); }
};

using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;
using SwrPtr = std::unique_ptr<SwrContext, SwrFree>;

inline PacketPtr NewPacket() { return PacketPtr(ff::av_packet_alloc()); }
inline FramePtr NewFrame() { return FramePtr(ff::av_frame_alloc()); }

}  // namespace vidmill::player
