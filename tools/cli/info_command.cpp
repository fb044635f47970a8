// vidmill-cli info: the probe's information text of each file.
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "core/ff_log.h"
#include "core/ff_utils.h"
#include "probe/ff_decode.h"

namespace vidmill::cli {
namespace {

// The text with "\n" line ends, as a terminal expects.
std::string UnixLines(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

// Library and engine messages at or above the chosen level go to stderr;
// the probe's own failures are reported once, by the command.
std::unique_ptr<TFFLogger> StderrLogger(const std::string& level) {
  auto logger = TFFLogger::Create();
  logger->SetTriggerEventInMainThread(false);
  logger->OptLogLevel(level);
  const TFFBaseComponent* self = logger.get();
  logger->SetOnLog([self](const TFFBaseComponent* sender, uint32_t, TLogLevel, const std::string& msg) {
    if (sender == self) std::fprintf(stderr, "%s\n", msg.c_str());
  });
  return logger;
}

}  // namespace

std::string InfoUsage() {
  return "info [--loglevel quiet|error|warning|info|verbose|debug] FILE...\n"
         "      prints what the probe finds in each file";
}

int RunInfo(const std::vector<std::string>& args) {
  std::string level = "quiet";
  std::vector<std::string> files;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--loglevel" && i + 1 < args.size()) {
      level = args[++i];
    } else if (args[i] == "--") {
      files.insert(files.end(), args.begin() + static_cast<long>(i) + 1, args.end());
      break;
    } else {
      files.push_back(args[i]);
    }
  }
  if (files.empty()) {
    std::fprintf(stderr, "Usage: vidmill-cli %s\n", InfoUsage().c_str());
    return kExitUsage;
  }
  std::unique_ptr<TFFLogger> logger;
  try {
    logger = StderrLogger(level);
  } catch (const std::exception&) {
    std::fprintf(stderr, "vidmill-cli info: unknown log level \"%s\"\nUsage: vidmill-cli %s\n",
                 level.c_str(), InfoUsage().c_str());
    return kExitUsage;
  }
  TFFDecoder decoder;
  if (!decoder.LoadAVLib(ProgramFolder() + "LibAV")) {
    std::fprintf(stderr, "vidmill-cli info: %s\n", decoder.LastErrMsg().c_str());
    return kExitFailed;
  }
  int status = kExitOk;
  bool first = true;
  for (const std::string& file : files) {
    if (!decoder.LoadFile(file)) {
      std::fprintf(stderr, "vidmill-cli info: %s\n", decoder.LastErrMsg().c_str());
      status = kExitFailed;
      continue;
    }
    std::printf("%s%s", first ? "" : "\n", UnixLines(decoder.FileInfoText()).c_str());
    std::fflush(stdout);
    first = false;
    decoder.CloseFile();
  }
  return status;
}

}  // namespace vidmill::cli
