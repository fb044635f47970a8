// "vidmill-cli convert": conversions through the engine's encoder component,
// without a window.
//
//   vidmill-cli convert INPUT... --output PATH [-o KEY=VALUE]... [--join] [-j N]
//
// The options are the engine's option lines (one "-o" each, e.g.
// "-o vcodec=libx264 -o s=640x360"); they are checked while the tasks are
// set up, before anything is converted. "threads" (default 0: as many as the
// machine has) and "re" apply to reading the inputs too.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vidmill {
class TCustomEncoder;
}

namespace vidmill::cli {

struct TConvertArgs {
  std::vector<std::string> inputs;
  std::string output;                // a folder, or a file for one input or a join
  std::vector<std::string> options;  // "KEY=VALUE" option lines
  bool join = false;                 // one joined output of all inputs
  int threads = 1;                   // tasks at once
  std::string profile;               // "--profile CATEGORY/FORMAT" (see SetProfileJobBuilder)
  std::string loglevel = "error";    // library messages at or above it go to stderr
};

// Reads the arguments; false with *error set for a wrong command line.
bool ParseConvertArgs(const std::vector<std::string>& args, TConvertArgs* out, std::string* error);

// The output file of each task when `output` is a folder: the input's name
// with the extension of the forced format ("f") or else the input's own;
// "Joined" for a join. Empty when `output` is not a folder.
std::vector<std::string> OutputNamesInFolder(const TConvertArgs& args);

// Sets up the tasks of a "--profile" conversion (the program's catalogue
// knows the formats): adds them to the encoder and returns each task's
// output file in *outputs. False with *error set. Installed by the part of
// the program that has the catalogue; without one "--profile" is refused.
using TProfileJobBuilder = std::function<bool(const TConvertArgs& args, TCustomEncoder& encoder,
                                              std::vector<std::string>* outputs, std::string* error)>;
void SetProfileJobBuilder(TProfileJobBuilder builder);

int RunConvert(const std::vector<std::string>& args);
std::string ConvertUsage();

}  // namespace vidmill::cli
