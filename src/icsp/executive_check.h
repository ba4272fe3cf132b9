// Whether a programming executive sits in executive memory.
#pragma once

#include "icsp/session.h"

namespace quillon::icsp {

// Reads the last two quads of executive memory into the image and tells
// whether the executive's identification word is there (false, with nothing
// read, for a family without an executive). Where the family keeps factory
// words there, the 16 units read are also kept in session.executive_tail().
// The part must be in ICSP mode.
bool CheckExecutive(Session& session);

}  // namespace quillon::icsp
