// write FILE: erase, program, verify; or only what differs (--incremental);
// with a serial number per part and a production log.
#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "cli/command.h"
#include "icsp/write_plan.h"
#include "image/hex_loader.h"

namespace quillon::cli {
namespace {

const char* EraseName(icsp::EraseKind erase) {
  switch (erase) {
    case icsp::EraseKind::kNone:
      return "none";
    case icsp::EraseKind::kBulk:
      return "bulk";
    case icsp::EraseKind::kChangedUnits:
      return "changed units";
  }
  return "";
}

// The plan's counts for scripts: what the chip goes through.
std::string PlanJson(const icsp::WritePlan& p) {
  return std::string("{\"erase\":\"") + EraseName(p.erase) + "\",\"mode\":\"" +
         (p.mode == icsp::ProgrammingMode::kExecutive ? "executive" : "icsp") +
         "\",\"program_rows\":" + std::to_string(p.program_rows.size()) +
         ",\"row_instructions\":" + std::to_string(p.row_instructions) +
         ",\"eeprom_writes\":" + std::to_string(p.eeprom_writes.size()) +
         ",\"configuration_words\":" + std::to_string(p.config_words.size()) +
         ",\"configuration_in_flash\":" + (p.config_in_flash ? "true" : "false") +
         ",\"configuration_blanked\":" + std::to_string(p.config_blanked) +
         ",\"verify\":" + (p.verify ? "true" : "false") +
         (p.erase == icsp::EraseKind::kChangedUnits
              ? ",\"units_compared\":" + std::to_string(p.units_compared)
              : "") +
         "}";
}

// Checks that the serial number fits the part and the file, then takes one
// (a dry run only peeks) into the image the write programs and verifies.
Result PlaceSerial(PortRun& run, RunRecord& record, image::MemoryImage& file,
                   const image::LoadSummary& summary) {
  const SerialPlan& plan = run.serials->plan();
  if (const auto problem =
          SerialPlaceProblem(plan, run.app.device().device.program_words, summary)) {
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
  PlaceSerialNumber(file, plan, *number);
  return Result::kOk;
}

std::string UnitsOf(const UnitTally& t, long n, std::uint16_t language) {
  return report::Pick({std::to_string(n) + " " + t.unit.english + (n == 1 ? "" : "s"),
                       t.unit.japanese + " " + std::to_string(n) + " 個"},
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

Result CheckWrite(const CliOptions& o, Environment& env, std::size_t, std::uint16_t language) {
  const std::filesystem::path parent = std::filesystem::path(o.log).parent_path();
  if (!o.log.empty() && !parent.empty() && !std::filesystem::is_directory(parent)) {
    return UsageError(env, "--log: no such directory: " + parent.string());
  }
  return CheckReadable(env, o.argument, false, language);
}

// The file is loaded and checked once, touching nothing, and takes its
// serial number; a dry run stops at the plan.
Result RunWrite(PortRun& run, RunRecord& record) {
  image::MemoryImage file;
  image::LoadSummary summary;
  if (!icsp::LoadWriteFile(run.app.session(), run.o.argument, file, &summary)) {
    return Result::kFileRejected;
  }
  if (run.serials != nullptr) {
    if (const Result code = PlaceSerial(run, record, file, summary); code != Result::kOk) {
      return code;
    }
  }
  const devices::DeviceRecord& part = run.app.device().device;
  record.counts =
      CountImageWords(file, part.program_words, part.eeprom_bytes, run.app.form().config.written);
  const icsp::WritePlan plan = run.app.PlanFor(file, run.o.incremental);
  record.plan = plan;
  if (run.o.dry_run) {
    if (run.o.incremental) record.units = UnitTally{plan.unit_name, plan.units_compared};
    run.view.ShowStatus(
        report::Pick(report::MessagePair{"Plan: ", "計画: "} + icsp::DescribePlan(plan),
                     run.language),
        report::StatusKind::kNotice);
    return Result::kOk;
  }
  const Result code = ResultFor(run.app.WriteImage(std::move(file), run.o.incremental));
  if (run.o.incremental && code == Result::kOk && run.app.incremental_tally()) {
    const icsp::IncrementalTally& t = *run.app.incremental_tally();
    record.units =
        UnitTally{plan.unit_name, t.compared, t.written, t.eeprom_words, t.config_registers};
  }
  record.verified = code == Result::kOk && !run.o.no_verify;
  return code;
}

std::string WriteSummary(const RunRecord& r, std::uint16_t language) {
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
  return report::Pick({"wrote ", "書き込み完了 "}, language) + CountsText(counts, true, language) +
         ", " + VerifiedText(r.verified, language);
}

void WriteJsonFields(const RunRecord& r, std::ostream& out) {
  if (!r.dry_run) out << ",\"verified\":" << (r.verified ? "true" : "false");
  if (r.plan) out << ",\"plan\":" << PlanJson(*r.plan);
}

}  // namespace

const ConsoleCommand kWrite = {
    .id = Command::kWrite,
    .name = "write",
    .groups =
        kBoard | kPart | kIdentity | kExecutive | kWriting | kDryRun | kIncremental | kProduction,
    .help =
        "Program an Intel HEX file: erase, program memory, EEPROM, verification, "
        "configuration words",
    .argument = "FILE",
    .argument_help = "The Intel HEX file",
    .argument_required = true,
    .needs_part = true,
    .names_file = true,
    .check = CheckWrite,
    .run = RunWrite,
    .summary = WriteSummary,
    .json = WriteJsonFields,
};

}  // namespace quillon::cli
