// Writing and verifying executive memory (from 0x800000), always with
// instruction batches, never through the executive itself.
#pragma once

#include "icsp/session.h"

namespace quillon::icsp {

// Erases executive memory and writes the image's executive units into it:
// the rows the family's executive form gives (23 of 32 instructions on
// dsPIC30F, 16 of 64 on dsPIC33F/PIC24). Every row is written, blank or not.
// Nothing happens on a family without an executive. The part must be in
// ICSP mode.
void WriteExecutive(Session& session);

// Compares executive memory with the image ("Exe " mismatch tag, offsets from
// 0x800000); blank quads of the image are not read. The part must be in ICSP
// mode.
bool VerifyExecutive(Session& session);

}  // namespace quillon::icsp
