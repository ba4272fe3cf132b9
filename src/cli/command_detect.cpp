// detect: the DeviceID, the part it names and its configuration words.
#include "cli/command.h"

namespace quillon::cli {
namespace {

class Detect final : public ConsoleCommand {
 public:
  Detect()
      : ConsoleCommand({.id = Command::kDetect,
                        .name = "detect",
                        .groups = kBoard | kPart,
                        .help = "Read the DeviceID, select the matching part and show its "
                                "configuration words",
                        .shows_results = true}) {}

  Result Run(PortRun& run, RunRecord& record) const override {
    const Result code = ResultFor(run.app.Detect());
    record.identified = code == Result::kOk && run.app.device().selected;
    return code;
  }
};

}  // namespace

const ConsoleCommand& DetectCommand() {
  static const Detect command;
  return command;
}

}  // namespace quillon::cli
