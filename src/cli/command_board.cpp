// The commands that run one operation of the runner on the board and add
// little of their own: connect, detect, erase, check, verify, restore-row.
#include "cli/command.h"

namespace quillon::cli {
namespace {

// detect: the DeviceID, the part it names and its configuration words.
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

// erase: a bulk erase (the part's own words kept first by the engine).
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

// check: a blank check of program memory and data EEPROM.
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

// verify FILE: the part compared with a HEX file, nothing written.
class Verify final : public ConsoleCommand {
 public:
  Verify()
      : ConsoleCommand({.id = Command::kVerify,
                        .name = "verify",
                        .groups = kBoard | kPart | kIdentity | kExecutive,
                        .help = "Compare the part with an Intel HEX file without writing; exit "
                                "status 1 names the first difference",
                        .argument = "FILE",
                        .argument_help = "The Intel HEX file",
                        .argument_required = true,
                        .needs_part = true,
                        .names_file = true}) {}

  Result Check(const CliOptions& o, Environment& env, std::size_t,
               std::uint16_t language) const override {
    return CheckReadable(env, o.argument, false, language);
  }

  Result Run(PortRun& run, RunRecord& record) const override {
    const Result code = ResultFor(run.app.VerifyFile(run.o.argument));
    run.CountFile(run.o.argument, record);
    return code;
  }

  std::string Summary(const RunRecord& r, std::uint16_t language) const override {
    return report::Pick({"verified ", "一致 "}, language) +
           CountsText(r.counts.value_or(WordCounts{}), false, language) +
           report::Pick({" against " + r.file, " (" + r.file + ")"}, language);
  }
};

// restore-row FILE: the words an erase kept, put back on their part.
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

// connect: the board's firmware version; Connect itself says it.
const ConsoleCommand& ConnectCommand() {
  static const ConsoleCommand command({.id = Command::kConnect,
                                       .name = "connect",
                                       .groups = kBoard | kPart,
                                       .help = "Ask the board for its firmware version",
                                       .shows_results = true});
  return command;
}

const ConsoleCommand& DetectCommand() {
  static const Detect command;
  return command;
}

const ConsoleCommand& EraseCommand() {
  static const Erase command;
  return command;
}

const ConsoleCommand& CheckCommand() {
  static const Check command;
  return command;
}

const ConsoleCommand& VerifyCommand() {
  static const Verify command;
  return command;
}

const ConsoleCommand& RestoreRowCommand() {
  static const RestoreRow command;
  return command;
}

}  // namespace quillon::cli
