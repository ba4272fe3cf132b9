// The window's checks around an operation on the part: the part in the
// socket must be the one selected, blank kept words may have a copy to put
// back, and a close asked for while an operation runs.
#pragma once

#include <string>

#include "devices/catalogue.h"
#include "icsp/operations.h"
#include "report/message.h"

namespace quillon::app {

// Empty when the part that answered is the selected one; otherwise the
// refusal, naming both.
report::MessagePair WrongPartMessage(const devices::DeviceRecord& selected,
                                     const icsp::DeviceIdReading& reading);

// The question asked before a write erases a part whose kept words are blank
// while a copy of them is kept for it on this port.
report::MessagePair RestoreQuestion(const report::MessagePair& what, const std::string& copy);

// The note left on the status after a write when the copy was not put back.
report::MessagePair KeptCopyNote(const report::MessagePair& what, const std::string& copy,
                                 const std::string& console_program);

// The question asked when the window is to close while an operation runs.
report::MessagePair CloseQuestion();

}  // namespace quillon::app
