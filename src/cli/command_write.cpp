// write FILE: erase, program, verify; or only what differs (--incremental);
// with a serial number per part and a production log.
#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "cli/command.h"
#include "icsp/erase_units.h"
#include "image/hex_loader.h"

namespace quillon::cli {
namespace {

// The erase units of program memory an incremental write of `file` compares.
UnitTally TouchedUnits(const image::MemoryImage& file, const devices::DeviceRecord& part) {
  const icsp::EraseUnitRules rules = icsp::EraseUnitRulesFor(part);
  UnitTally units{std::string(rules.unit_name), std::string(rules.unit_name_ja)};
  const auto words = static_cast<std::uint32_t>(part.program_words);
  for (std::uint32_t first = 0; rules.unit_instructions > 0 && first < words;
       first += rules.unit_instructions) {
    for (std::uint32_t i = first; i < std::min(words, first + rules.unit_instructions); ++i) {
      if (image::InstructionAt(file.program, i) != 0xFFFFFF) {
        ++units.compared;
        break;
      }
    }
  }
  return units;
}

// Checks that the serial number fits the part and the file, then takes one
// and writes the file with it into `with_serial` (a dry run only looks at
// the number it would get). A file that does not load takes no number: the
// write refuses it itself.
Result PlaceSerial(PortRun& run, RunRecord& record, std::filesystem::path& with_serial) {
  const devices::Selection& device = run.app.device();
  report::NullSink quiet;
  report::ManualClock no_pause;
  report::Reporter reporter(quiet, no_pause, nullptr);
  image::MemoryImage file;
  image::LoadSummary summary;
  if (image::LoadHexFile(run.o.argument, file, device, reporter, &summary) !=
      image::LoadResult::kLoaded) {
    return Result::kOk;
  }
  const SerialPlan& plan = run.serials->plan();
  if (const auto problem = SerialPlaceProblem(plan, device.device.program_words, summary)) {
    run.Error(*problem);
    return Result::kUsage;
  }
  report::MessagePair error;
  const std::optional<std::uint64_t> number =
      run.o.dry_run ? run.serials->Peek(error) : run.serials->Take(error);
  if (!number) {
    run.Error(error);
    return Result::kFileRejected;
  }
  record.serial = number;
  if (run.o.dry_run) return Result::kOk;
  char name[64];
  std::snprintf(name, sizeof name, "quillon-serial-%06X-%llu.hex",
                static_cast<unsigned>(plan.address), static_cast<unsigned long long>(*number));
  // Beside the state, not in a shared temporary directory, where another
  // user could put a link under the foreseeable name.
  with_serial = run.serials->state().parent_path() / name;
  if (!WriteFileWithSerial(run.o.argument, plan, *number, with_serial)) {
    run.Error({"cannot write " + with_serial.string(), with_serial.string() + " に書けません"});
    return Result::kFileRejected;
  }
  return Result::kOk;
}

std::string UnitsOf(const UnitTally& t, long n, std::uint16_t language) {
  return report::Pick({std::to_string(n) + " " + t.unit + (n == 1 ? "" : "s"),
                       t.unit_ja + " " + std::to_string(n) + " 個"},
                      language);
}

std::string VerifiedText(bool verified, std::uint16_t language) {
  return report::Pick(verified ? report::MessagePair{"verified", "検証済み"}
                               : report::MessagePair{"not verified", "検証なし"},
                      language);
}

// "wrote 1 of 3 rows compared, 2 EEPROM words, verified"
std::string UnitsText(const UnitTally& t, bool verified, std::uint16_t language) {
  if (t.written + t.eeprom_words + t.config_registers == 0) {
    return report::Pick(
        {"already up to date: " + UnitsOf(t, t.compared, language) + " compared, none written",
         "既に最新です: " + UnitsOf(t, t.compared, language) + "を比較、書き込みなし"},
        language);
  }
  const std::string n = std::to_string(t.written);
  return report::Pick({"wrote " + n + " of " + UnitsOf(t, t.compared, language) + " compared",
                       UnitsOf(t, t.compared, language) + "を比較、" + n + " 個を書き込み"},
                      language) +
         CountedText(t.eeprom_words, "EEPROM words", "EEPROM", language) +
         CountedText(t.config_registers, "configuration registers", "コンフィギュレーション",
                     language) +
         ", " + VerifiedText(verified, language);
}

// "would compare 3 rows with the file's 7 program words, ... and write those
// that differ, then verify; nothing was touched"
std::string WouldCompareText(const UnitTally& t, const WordCounts& counts, bool verify,
                             std::uint16_t language) {
  return report::Pick(
      {"would compare " + UnitsOf(t, t.compared, language) + " with the file's " +
           CountsText(counts, true, language) + " and write those that differ" +
           (verify ? ", then verify" : "") + "; nothing was touched",
       UnitsOf(t, t.compared, language) + "をファイルの " + CountsText(counts, true, language) +
           " と比較し、異なるものを書き込み予定" + (verify ? " (検証あり)" : "") +
           "。何も変更していません"},
      language);
}

class Write final : public ConsoleCommand {
 public:
  Write()
      : ConsoleCommand(
            {.id = Command::kWrite,
             .name = "write",
             .groups = kBoard | kPart | kIdentity | kExecutive | kWriting | kDryRun | kIncremental |
                       kProduction,
             .help = "Program an Intel HEX file: erase, program memory, EEPROM, verification, "
                     "configuration words",
             .argument = "FILE",
             .argument_help = "The Intel HEX file",
             .argument_required = true,
             .needs_part = true,
             .names_file = true}) {}

  Result Check(const CliOptions& o, Environment& env, std::size_t,
               std::uint16_t language) const override {
    const std::filesystem::path parent = std::filesystem::path(o.log).parent_path();
    if (!o.log.empty() && !parent.empty() && !std::filesystem::is_directory(parent)) {
      return UsageError(env, "--log: no such directory: " + parent.string());
    }
    return CheckReadable(env, o.argument, false, language);
  }

  Result Run(PortRun& run, RunRecord& record) const override {
    return run.o.dry_run ? DryRun(run, record) : Program(run, record);
  }

  std::string Summary(const RunRecord& r, std::uint16_t language) const override {
    const WordCounts counts = r.counts.value_or(WordCounts{});
    if (r.dry_run && r.units) return WouldCompareText(*r.units, counts, r.verified, language);
    if (r.dry_run) {
      return report::Pick(r.erase_first ? report::MessagePair{"would erase, then write ",
                                                              "消去してから書き込み予定 "}
                                        : report::MessagePair{"would write ", "書き込み予定 "},
                          language) +
             CountsText(counts, true, language) +
             report::Pick(r.verified ? report::MessagePair{" and verify", " (検証あり)"}
                                     : report::MessagePair{"", ""},
                          language) +
             report::Pick({"; nothing was touched", "。何も変更していません"}, language);
    }
    if (r.units) return UnitsText(*r.units, r.verified, language);
    return report::Pick({"wrote ", "書き込み完了 "}, language) +
           CountsText(counts, true, language) + ", " + VerifiedText(r.verified, language);
  }

  void Json(const RunRecord& r, std::ostream& out) const override {
    if (!r.dry_run) out << ",\"verified\":" << (r.verified ? "true" : "false");
  }

 private:
  // The write's own file checks (data, end record, room in the part),
  // touching nothing.
  static Result DryRun(PortRun& run, RunRecord& record) {
    if (image::MemoryImage file; !run.app.CheckWriteFile(run.o.argument, file)) {
      return Result::kFileRejected;
    }
    if (image::MemoryImage loaded;
        run.CountFile(run.o.argument, record, &loaded) && run.o.incremental) {
      record.units = TouchedUnits(loaded, run.app.device().device);
    }
    if (run.serials == nullptr) return Result::kOk;
    std::filesystem::path unused;
    return PlaceSerial(run, record, unused);
  }

  static Result Program(PortRun& run, RunRecord& record) {
    const CliOptions& o = run.o;
    std::filesystem::path with_serial;
    if (run.serials != nullptr) {
      if (const Result code = PlaceSerial(run, record, with_serial); code != Result::kOk) {
        return code;
      }
    }
    const std::string path = with_serial.empty() ? o.argument : with_serial.string();
    const Result code =
        ResultFor(o.incremental ? run.app.WriteFileIncremental(path) : run.app.WriteFile(path));
    run.CountFile(path, record);
    if (!with_serial.empty()) {
      std::error_code ignored;
      std::filesystem::remove(with_serial, ignored);
    }
    if (o.incremental && code == Result::kOk && run.app.incremental_tally()) {
      const icsp::IncrementalTally& t = *run.app.incremental_tally();
      UnitTally units = TouchedUnits(run.app.image(), run.app.device().device);
      units.compared = t.compared;
      units.written = t.written;
      units.eeprom_words = t.eeprom_words;
      units.config_registers = t.config_registers;
      record.units = units;
    }
    record.verified = code == Result::kOk && !o.no_verify;
    return code;
  }
};

}  // namespace

const ConsoleCommand& WriteCommand() {
  static const Write command;
  return command;
}

}  // namespace quillon::cli
