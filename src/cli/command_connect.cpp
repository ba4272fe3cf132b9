// connect: the board's firmware version; Connect itself says it.
#include "cli/command.h"

namespace quillon::cli {
namespace {

class Connect final : public ConsoleCommand {
 public:
  Connect()
      : ConsoleCommand({.id = Command::kConnect,
                        .name = "connect",
                        .groups = kBoard | kPart,
                        .help = "Ask the board for its firmware version",
                        .shows_results = true}) {}
};

}  // namespace

const ConsoleCommand& ConnectCommand() {
  static const Connect command;
  return command;
}

}  // namespace quillon::cli
