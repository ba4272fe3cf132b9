// The configuration words: read from and written to the part, and shown as
// status text.
#pragma once

#include <string>

#include "icsp/session.h"

namespace quillon::icsp {

// Reads the selected part's configuration words into session.config_readback()
// (as many entries as its form reads: registers from 0xF80000, or the two
// flash words). The part must be in ICSP mode.
void ReadConfigWords(Session& session);

// Writes session.config_readback()[k] (k below the form's written count):
// register 0xF80000 + 2k, or on the flash-word forms word 1 for k = 0, word 2
// for any other k. The part must be in ICSP mode.
void WriteConfigWord(Session& session, int k);

// The configuration lines for the selected part, each starting with CR LF.
std::string ConfigText(const Session& session);

}  // namespace quillon::icsp
