// The console tool's texts around an operation: stop requests and a port
// that cannot be opened.
#pragma once

#include <string>
#include <string_view>

#include "report/message.h"

namespace quillon::cli {

// A stop request seen before `command` began, or after it had completed.
report::MessagePair StoppedBeforeMessage(std::string_view command);
report::MessagePair StoppedAfterMessage(std::string_view command);

// "cannot open PORT: reason" from the port's first open error.
report::MessagePair CannotOpenMessage(std::string_view port, std::string_view error);

}  // namespace quillon::cli
