// erase: a bulk erase (the part's own words kept first by the engine).
#include "cli/command.h"

namespace quillon::cli {
namespace {

class Erase final : public ConsoleCommand {
 public:
  // Erase takes the executive options too, so that one command line serves
  // every operation of a script; they change nothing in an erase.
  Erase()
      : ConsoleCommand({.id = Command::kErase,
                        .name = "erase",
                        .groups = kBoard | kPart | kIdentity | kExecutive | kDryRun,
                        .help = "Bulk-erase the part",
                        .needs_part = true}) {}

  Result Run(PortRun& run, RunRecord&) const override {
    return run.o.dry_run ? Result::kOk : ResultFor(run.app.Erase());
  }

  std::string Summary(const RunRecord& r, std::uint16_t language) const override {
    return r.dry_run ? report::Pick({"would be erased (program memory, EEPROM, configuration "
                                     "words); nothing was touched",
                                     "消去の対象です (プログラム, EEPROM, コンフィギュレーション)。"
                                     "何も変更していません"},
                                    language)
                     : report::Pick({"erased", "消去完了"}, language);
  }
};

}  // namespace

const ConsoleCommand& EraseCommand() {
  static const Erase command;
  return command;
}

}  // namespace quillon::cli
