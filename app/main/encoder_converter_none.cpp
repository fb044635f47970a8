// A build without the engine's encoder component: nothing converts.
#include "converter.h"

namespace vidmill {

std::unique_ptr<TConverter> MakeEncoderConverter() { return nullptr; }

}  // namespace vidmill
