// vidmill-cli: Vidmill's engine from the command line.
#include <clocale>
#include <cstdio>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "commands.h"
#include "convert_command.h"

namespace {

struct Command {
  const char* name;
  std::function<int(const std::vector<std::string>&)> run;
  std::function<std::string()> usage;
};

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"info", vidmill::cli::RunInfo, vidmill::cli::InfoUsage},
      {"convert", vidmill::cli::RunConvert, vidmill::cli::ConvertUsage},
  };
  return commands;
}

int Usage(std::FILE* out, int status) {
  std::fprintf(out, "Usage: vidmill-cli COMMAND [ARGS...]\nCommands:\n");
  for (const Command& c : Commands()) std::fprintf(out, "  %s\n", c.usage().c_str());
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");  // the user's decimal separator in the texts
  if (argc < 2) return Usage(stderr, vidmill::cli::kExitUsage);
  const std::string name = argv[1];
  if (name == "-h" || name == "--help" || name == "help") return Usage(stdout, vidmill::cli::kExitOk);
  const std::vector<std::string> args(argv + 2, argv + argc);
  for (const Command& c : Commands()) {
    if (name != c.name) continue;
    try {
      return c.run(args);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "vidmill-cli %s: %s\n", c.name, e.what());
      return vidmill::cli::kExitFailed;
    }
  }
  std::fprintf(stderr, "vidmill-cli: unknown command \"%s\"\n", name.c_str());
  return Usage(stderr, vidmill::cli::kExitUsage);
}
