// devices [PATTERN]: the catalogue, without a board.
#include "cli/command.h"
#include "cli/device_listing.h"

namespace quillon::cli {
namespace {

class Devices final : public ConsoleCommand {
 public:
  Devices()
      : ConsoleCommand({.id = Command::kDevices,
                        .name = "devices",
                        .groups = 0,
                        .help = "List the supported parts whose name contains PATTERN (any case): "
                                "name, DeviceID, socket, program words, EEPROM bytes, family",
                        .argument = "PATTERN",
                        .argument_help = "Part of a device name",
                        .on_board = false}) {}

  Result RunHere(const CliOptions& o, Environment& env, std::uint16_t language) const override {
    if (ListDevices(o.argument, env.out, o.json) == 0 && !o.json) {
      env.err << report::Pick({"quillon: no part matches \"" + o.argument +
                                   "\" (quillon devices lists them all)",
                               "quillon: \"" + o.argument +
                                   "\" に該当する品種はありません (quillon devices で一覧を表示)"},
                              language)
              << '\n';
    }
    return Result::kOk;
  }
};

}  // namespace

const ConsoleCommand& DevicesCommand() {
  static const Devices command;
  return command;
}

}  // namespace quillon::cli
