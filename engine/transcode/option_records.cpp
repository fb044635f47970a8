#include "option_records.h"

namespace vidmill {

void InitInputOptions(TInputOptions* options) { *options = TInputOptions(); }
void InitOutputOptions(TOutputOptions* options) { *options = TOutputOptions(); }

}  // namespace vidmill
