// The commands that run one operation of the runner on the board and add
// little of their own: connect, detect, erase, check, verify, restore-row.
#include "cli/command.h"
#include "image/hex_loader.h"
#include "report/clock.h"
#include "report/reporter.h"

namespace quillon::cli {
namespace {

Result RunDetect(PortRun& run, RunRecord& record) {
  const Result code = ResultFor(run.app.Detect());
  record.identified = code == Result::kOk && run.app.device().selected;
  return code;
}

Result RunErase(PortRun& run, RunRecord&) {
  return run.o.dry_run ? Result::kOk : ResultFor(run.app.Erase());
}

std::string EraseSummary(const RunRecord& r, std::uint16_t language) {
  return r.dry_run ? report::Pick({"would be erased (program memory, EEPROM, configuration "
                                   "words); nothing was touched",
                                   "消去の対象です (プログラム, EEPROM, コンフィギュレーション)。"
                                   "何も変更していません"},
                                  language)
                   : report::Pick({"erased", "消去完了"}, language);
}

Result RunCheck(PortRun& run, RunRecord&) {
  return ResultFor(run.app.Check());
}

std::string CheckSummary(const RunRecord&, std::uint16_t language) {
  return report::Pick({"blank", "ブランク"}, language);
}

Result CheckHexFile(const CliOptions& o, Environment& env, std::size_t, std::uint16_t language) {
  return CheckReadable(env, o.argument, false, language);
}

// The words of the HEX file at `path` into the record, whatever the
// operation left in the image; none when it does not load.
void CountFile(const PortRun& run, const std::string& path, RunRecord& record) {
  report::NullSink quiet;
  report::ManualClock no_pause;
  report::Reporter reporter(quiet, no_pause, nullptr);
  image::MemoryImage file;
  if (image::LoadHexFile(path, file, run.app.device(), reporter) != image::LoadResult::kLoaded) {
    return;
  }
  const devices::DeviceRecord& part = run.app.device().device;
  record.counts =
      CountImageWords(file, part.program_words, part.eeprom_bytes, run.app.form().config.written);
}

Result RunVerify(PortRun& run, RunRecord& record) {
  const Result code = ResultFor(run.app.VerifyFile(run.o.argument));
  CountFile(run, run.o.argument, record);
  return code;
}

std::string VerifySummary(const RunRecord& r, std::uint16_t language) {
  return report::Pick({"verified ", "一致 "}, language) +
         CountsText(r.counts.value_or(WordCounts{}), false, language) +
         report::Pick({" against " + r.file, " (" + r.file + ")"}, language);
}

Result CheckKeptFile(const CliOptions& o, Environment& env, std::size_t port_count,
                     std::uint16_t language) {
  // A kept copy belongs to one part on one port.
  if (port_count > 1) {
    return UsageError(env, "restore-row takes one -P port: a kept copy belongs to one part");
  }
  return CheckReadable(env, o.argument, true, language);
}

Result RunRestoreRow(PortRun& run, RunRecord&) {
  return ResultFor(run.app.RestoreRow(run.o.argument));
}

}  // namespace

// Connect itself says the firmware version.
const ConsoleCommand kConnect = {
    .id = Command::kConnect,
    .name = "connect",
    .groups = kBoard | kPart,
    .help = "Ask the board for its firmware version",
    .shows_results = true,
};

const ConsoleCommand kDetect = {
    .id = Command::kDetect,
    .name = "detect",
    .groups = kBoard | kPart,
    .help = "Read the DeviceID, select the matching part and show its configuration words",
    .shows_results = true,
    .run = RunDetect,
};

// Erase takes the executive options too, so that one command line serves
// every operation of a script; they change nothing in an erase.
const ConsoleCommand kErase = {
    .id = Command::kErase,
    .name = "erase",
    .groups = kBoard | kPart | kIdentity | kExecutive | kDryRun,
    .help = "Bulk-erase the part",
    .needs_part = true,
    .run = RunErase,
    .summary = EraseSummary,
};

const ConsoleCommand kCheck = {
    .id = Command::kCheck,
    .name = "check",
    .groups = kBoard | kPart | kIdentity | kExecutive,
    .help = "Blank-check program memory and data EEPROM",
    .needs_part = true,
    .run = RunCheck,
    .summary = CheckSummary,
};

const ConsoleCommand kVerify = {
    .id = Command::kVerify,
    .name = "verify",
    .groups = kBoard | kPart | kIdentity | kExecutive,
    .help =
        "Compare the part with an Intel HEX file without writing; exit status 1 names the "
        "first difference",
    .argument = "FILE",
    .argument_help = "The Intel HEX file",
    .argument_required = true,
    .needs_part = true,
    .names_file = true,
    .check = CheckHexFile,
    .run = RunVerify,
    .summary = VerifySummary,
};

// The part is checked against the DeviceID in the file, not the selection;
// the engine says what it found.
const ConsoleCommand kRestoreRow = {
    .id = Command::kRestoreRow,
    .name = "restore-row",
    .groups = kBoard | kPart,
    .help =
        "Write the words an erase keeps (factory words, dsPIC30F unit ID words) back from "
        "FILE onto the part they were kept from, where they read blank",
    .argument = "FILE",
    .argument_help = "A kept file, as an erase named it",
    .argument_required = true,
    .shows_results = true,
    .check = CheckKeptFile,
    .run = RunRestoreRow,
};

}  // namespace quillon::cli
