// The subcommands of vidmill-cli. Each takes its own arguments (without the
// subcommand's name) and returns the process exit status.
#pragma once

#include <string>
#include <vector>

namespace vidmill::cli {

// Exit statuses shared by the commands.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // some input could not be handled
inline constexpr int kExitUsage = 2;   // wrong command line

// "info [--loglevel LEVEL] FILE...": prints the information text of each file.
int RunInfo(const std::vector<std::string>& args);
std::string InfoUsage();

}  // namespace vidmill::cli
