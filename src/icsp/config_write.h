// Writing one configuration word in ICSP mode.
#pragma once

#include "icsp/session.h"

namespace quillon::icsp {

// Writes session.config_readback()[k] (k below the form's written count) to
// the selected part: register 0xF80000 + 2k, or on the flash-word forms the
// word at the top of program memory (word 1 for k = 0, word 2 for any other
// k), with the form's NVMCON code. The part must be in ICSP mode. Lets the
// front-end handle its input afterwards.
void WriteConfigWord(Session& session, int k);

}  // namespace quillon::icsp
