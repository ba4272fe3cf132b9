// Writing one configuration word in ICSP mode.
#pragma once

#include "icsp/session.h"

namespace quillon::icsp {

// Writes session.config_readback[k] (k = 0 to 7) to the selected part:
// dsPIC30F register 0xF80000 + 2k; dsPIC33F/PIC24H register 0xF80000 + 2k;
// "PIC24F" names the flash word at the top of program memory (word 1 for
// k = 0, word 2 for any other k). The part must be in ICSP mode. Lets the
// front-end handle its input afterwards.
void WriteConfigWord(Session& session, int k);

}  // namespace quillon::icsp
