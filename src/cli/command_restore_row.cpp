// restore-row FILE: the words an erase kept, put back on their part.
#include "cli/command.h"

namespace quillon::cli {
namespace {

class RestoreRow final : public ConsoleCommand {
 public:
  // The part is checked against the DeviceID in the file, not the
  // selection; the engine says what it found.
  RestoreRow()
      : ConsoleCommand({.id = Command::kRestoreRow,
                        .name = "restore-row",
                        .groups = kBoard | kPart,
                        .help = "Write the words an erase keeps (factory words, dsPIC30F unit ID "
                                "words) back from FILE onto the part they were kept from, where "
                                "they read blank",
                        .argument = "FILE",
                        .argument_help = "A kept file, as an erase named it",
                        .argument_required = true,
                        .shows_results = true}) {}

  Result Check(const CliOptions& o, Environment& env, std::size_t port_count,
               std::uint16_t language) const override {
    // A kept copy belongs to one part on one port.
    if (port_count > 1) {
      return UsageError(env, "restore-row takes one -P port: a kept copy belongs to one part");
    }
    return CheckReadable(env, o.argument, true, language);
  }

  Result Run(PortRun& run, RunRecord&) const override {
    return ResultFor(run.app.RestoreRow(run.o.argument));
  }
};

}  // namespace

const ConsoleCommand& RestoreRowCommand() {
  static const RestoreRow command;
  return command;
}

}  // namespace quillon::cli
