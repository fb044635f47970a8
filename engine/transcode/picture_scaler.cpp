#include "picture_scaler.h"

#include "core/entry_points.h"

namespace vidmill {

SwsContext* MakePictureScaler(int src_width, int src_height, AVPixelFormat src_format, int dst_width, int dst_height,
                              AVPixelFormat dst_format, int flags, int threads) {
  SwsContext* sws = ff::sws_alloc_context();
  if (!sws) return nullptr;
  const bool set = ff::av_opt_set_int(sws, "srcw", src_width, 0) >= 0 &&
                   ff::av_opt_set_int(sws, "srch", src_height, 0) >= 0 &&
                   ff::av_opt_set_int(sws, "src_format", src_format, 0) >= 0 &&
                   ff::av_opt_set_int(sws, "dstw", dst_width, 0) >= 0 &&
                   ff::av_opt_set_int(sws, "dsth", dst_height, 0) >= 0 &&
                   ff::av_opt_set_int(sws, "dst_format", dst_format, 0) >= 0 &&
                   ff::av_opt_set_int(sws, "sws_flags", flags, 0) >= 0 &&
                   ff::av_opt_set_int(sws, "threads", threads < 0 ? 1 : threads, 0) >= 0;
  if (!set || ff::sws_init_context(sws, nullptr, nullptr) < 0) {
    ff::sws_freeContext(sws);
    return nullptr;
  }
  return sws;
}

}  // namespace vidmill
