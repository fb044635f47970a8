// FFmpegException: the error a task raises for an invalid option or a fatal
// condition of a run. The add calls turn it into LastErrMsg; a run turns it
// into the task's FatalMessage.
#pragma once

#include <stdexcept>
#include <string>

#include "core/ff_utils.h"

namespace vidmill {

class FFmpegException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Throws an FFmpegException with a printf-style message.
[[noreturn]] void RaiseFmt(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace vidmill
