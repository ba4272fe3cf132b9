// The window's questions around an operation on the part: blank kept words
// may have a copy to put back, and a close asked for while an operation runs.
#pragma once

#include <string>

#include "report/message.h"

namespace quillon::app {

// The question asked before a write erases a part whose kept words are blank
// while a copy of them is kept for it on this port.
report::MessagePair RestoreQuestion(const report::MessagePair& what, const std::string& copy);

// The note left on the status after a write when the copy was not put back.
report::MessagePair KeptCopyNote(const report::MessagePair& what, const std::string& copy,
                                 const std::string& console_program);

// The question asked when the window is to close while an operation runs.
report::MessagePair CloseQuestion();

}  // namespace quillon::app
