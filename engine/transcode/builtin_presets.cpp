#include "builtin_presets.h"

#include <utility>

#include "option_lines.h"

namespace vidmill {
namespace {

// Presets that share the text of another one.
const std::pair<const char*, const char*> kAliases[] = {
    {"libx264-medium_firstpass", "libx264-fast_firstpass"},
    {"libx264-placebo_firstpass", "libx264-placebo"},
    {"libx264-slower_firstpass", "libx264-slow_firstpass"},
    {"libx264-ultrafast_firstpass", "libx264-ultrafast"},
};

const TPresetFile* FileNamed(const std::string& name) {
  for (const TPresetFile& f : PresetFiles()) {
    if (SameText(f.name, name)) return &f;
  }
  return nullptr;
}

}  // namespace

bool FindBuiltinPreset(const std::string& name, std::string* text) {
  std::string real = name;
  for (const auto& [alias, target] : kAliases) {
    if (SameText(alias, name)) real = target;
  }
  const TPresetFile* f = FileNamed(real);
  if (!f) return false;
  *text = f->text;
  return true;
}

std::vector<std::string> BuiltinPresetNames() {
  std::vector<std::string> names;
  for (const TPresetFile& f : PresetFiles()) names.emplace_back(f.name);
  for (const auto& [alias, target] : kAliases) names.emplace_back(alias);
  return names;
}

}  // namespace vidmill
