// The console tool's checks around an operation that changes or reads the
// part: the identity of the part that answers, and stop requests.
#pragma once

#include <string>
#include <string_view>

#include "devices/catalogue.h"
#include "icsp/operations.h"
#include "report/message.h"

namespace quillon::cli {

enum class Identity { kSelected, kNoTarget, kOtherPart };

struct IdentityVerdict {
  Identity identity = Identity::kSelected;
  report::MessagePair message;  // empty for kSelected
};

// Compares the DeviceID read from the socket with the selected part. With
// `forced` the message says the operation goes on anyway.
IdentityVerdict CheckIdentity(const devices::DeviceRecord& selected,
                              const icsp::DeviceIdReading& reading, bool forced);

// A stop request seen before `command` began, or after it had completed.
report::MessagePair StoppedBeforeMessage(std::string_view command);
report::MessagePair StoppedAfterMessage(std::string_view command);

// "cannot open PORT: reason" from the port's first open error.
report::MessagePair CannotOpenMessage(std::string_view port, std::string_view error);

}  // namespace quillon::cli
