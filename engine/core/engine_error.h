// Exceptions the engine raises for misuse: a missing library ("LibAVCodec
// not loaded.") or a call while working ("Cannot %s while working.").
// Failures on media or options are never exceptions: they are statuses with
// LastErrMsg set.
#pragma once

#include <stdexcept>
#include <string>

namespace vidmill {

class EEngineError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace vidmill
