// Whether the part that answers in the socket is the one selected, said in
// the words of the front-end that asks.
#pragma once

#include "devices/catalogue.h"
#include "icsp/operations.h"
#include "report/message.h"

namespace quillon::app {

enum class Identity { kSelected, kNoTarget, kOtherPart };

struct IdentityVerdict {
  Identity identity = Identity::kSelected;
  report::MessagePair message;  // empty for kSelected
};

// The window names Detect; the console names -p, detect and --force, and
// with `forced` says that it goes on anyway.
enum class IdentityWording { kWindow, kConsole };

IdentityVerdict JudgeIdentity(const devices::DeviceRecord& selected,
                              const icsp::DeviceIdReading& reading, IdentityWording wording,
                              bool forced = false);

}  // namespace quillon::app
