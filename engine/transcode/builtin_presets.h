// The presets built into the engine (our own files under data/presets, for
// the libraries' current option names) and their lookup.
#pragma once

#include <string>
#include <vector>

namespace vidmill {

struct TPresetFile {
  const char* name;  // e.g. "libx264-ipod320"
  const char* text;  // "key=value" lines, "#" comments
};

// Every preset file of the project (generated at build time).
const std::vector<TPresetFile>& PresetFiles();

// Text of the built-in preset `name` (letter case ignored); false when
// there is none.
bool FindBuiltinPreset(const std::string& name, std::string* text);

// Names of all built-in presets.
std::vector<std::string> BuiltinPresetNames();

}  // namespace vidmill
