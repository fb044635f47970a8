#include "filters/own_filter.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "core/entry_points.h"

namespace vidmill {
namespace {

struct Registry {
  std::mutex lock;
  std::vector<const TOwnFilterDef*> defs;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

const char* ClassName(void* ctx) { return (*static_cast<const AVClass**>(ctx))->class_name; }

}  // namespace

bool RegisterOwnFilter(const TOwnFilterDef& def) {
  Registry& r = TheRegistry();
  std::lock_guard guard(r.lock);
  if (std::find(r.defs.begin(), r.defs.end(), &def) != r.defs.end()) return false;
  r.defs.push_back(&def);
  return true;
}

const TOwnFilterDef* FindOwnFilter(std::string_view name) {
  Registry& r = TheRegistry();
  std::lock_guard guard(r.lock);
  for (const TOwnFilterDef* def : r.defs) {
    if (def->name == name) return def;
  }
  return nullptr;
}

void CopyPlanes(const AVFrame& src, AVFrame& dst, int first, int last) {
  const AVPixFmtDescriptor* desc = ff::av_pix_fmt_desc_get(static_cast<AVPixelFormat>(src.format));
  for (int plane = first; plane <= last && src.data[plane]; ++plane) {
    if (src.data[plane] == dst.data[plane]) continue;
    const bool chroma = plane == 1 || plane == 2;
    const int rows = chroma ? AV_CEIL_RSHIFT(src.height, desc->log2_chroma_h) : src.height;
    const int bytes = chroma ? AV_CEIL_RSHIFT(src.width, desc->log2_chroma_w) : src.width;
    for (int y = 0; y < rows; ++y) {
      std::memcpy(dst.data[plane] + y * dst.linesize[plane],
                  src.data[plane] + y * src.linesize[plane], bytes);
    }
  }
}

AVClass MakeOwnFilterLogClass(const char* name) {
  AVClass cls{};
  cls.class_name = name;
  cls.item_name = ClassName;
  cls.version = LIBAVUTIL_VERSION_INT;
  cls.category = AV_CLASS_CATEGORY_FILTER;
  return cls;
}

}  // namespace vidmill
