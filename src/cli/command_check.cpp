// check: a blank check of program memory and data EEPROM.
#include "cli/command.h"

namespace quillon::cli {
namespace {

class Check final : public ConsoleCommand {
 public:
  Check()
      : ConsoleCommand({.id = Command::kCheck,
                        .name = "check",
                        .groups = kBoard | kPart | kIdentity | kExecutive,
                        .help = "Blank-check program memory and data EEPROM",
                        .needs_part = true}) {}

  Result Run(PortRun& run, RunRecord&) const override { return ResultFor(run.app.Check()); }

  std::string Summary(const RunRecord&, std::uint16_t language) const override {
    return report::Pick({"blank", "ブランク"}, language);
  }
};

}  // namespace

const ConsoleCommand& CheckCommand() {
  static const Check command;
  return command;
}

}  // namespace quillon::cli
