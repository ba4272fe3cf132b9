#include "icsp/write_plan.h"

#include <algorithm>

#include "icsp/erase_units.h"
#include "icsp/verify.h"

namespace quillon::icsp {

namespace {

// "1 row", "2 rows".
std::string Count(std::size_t n, std::string_view one) {
  return std::to_string(n) + " " + std::string(one) + (n == 1 ? "" : "s");
}

}  // namespace

WriteChoices ChoicesOf(const Session& session, bool incremental) {
  return {.erase = session.OptionChecked(report::Option::kEraseBeforeWriting),
          .verify = session.OptionChecked(report::Option::kVerifyAfterWriting),
          .mode = session.Mode(),
          .incremental = incremental,
          .firmware = session.firmware_version()};
}

WritePlan PlanWrite(const devices::DeviceRecord& device, const image::MemoryImage& image,
                    const WriteChoices& choices) {
  const devices::FamilyForm& form = devices::Form(device);
  WritePlan plan;
  plan.executive_image = image.executive_present;
  plan.mode = choices.mode;
  plan.verify = choices.verify;
  plan.erase = choices.incremental ? EraseKind::kChangedUnits
               : choices.erase     ? EraseKind::kBulk
                                   : EraseKind::kNone;
  if (plan.erase == EraseKind::kBulk && !form.config.erased_by_bulk_erase) {
    plan.config_blanked = form.config.written;
  }
  if (plan.executive_image) {
    // An executive goes to executive memory, row by row, in plain ICSP.
    plan.mode = PlainModeFor(choices.firmware);
    plan.row_instructions = static_cast<std::uint32_t>(form.executive.row_instructions);
    for (int r = 0; r < form.executive.write_rows; ++r) {
      plan.program_rows.push_back(plan.row_instructions * static_cast<std::uint32_t>(r));
    }
  } else {
    plan.row_instructions = form.row_instructions;
    const std::uint32_t words = static_cast<std::uint32_t>(device.program_words);
    for (std::uint32_t first = 0; first + plan.row_instructions <= words;
         first += plan.row_instructions) {
      if (!InstructionsBlank(image.program, first, plan.row_instructions)) {
        plan.program_rows.push_back(first);
      }
    }
    const std::uint32_t eeprom_words = static_cast<std::uint32_t>(device.eeprom_bytes / 2);
    // One word per write erases the word first: every word goes out, blank
    // or not. Rows of sixteen go out only where the file holds data.
    const bool word_writes = form.eeprom.write == devices::EepromWrite::kWord &&
                             plan.mode != ProgrammingMode::kExecutive;
    plan.eeprom_write_words = word_writes ? 1 : kEepromRowWords;
    for (std::uint32_t first = 0; first < eeprom_words; first += plan.eeprom_write_words) {
      if (word_writes || !WordsBlank(image.eeprom, first, kEepromRowWords)) {
        plan.eeprom_writes.push_back(first);
      }
    }
  }
  plan.config_in_flash = form.config.layout == devices::ConfigLayout::kFlashWords;
  if (plan.erase == EraseKind::kChangedUnits) {
    const EraseUnitRules rules = EraseUnitRulesFor(device);
    plan.unit_name = {std::string(rules.unit_name), std::string(rules.unit_name_ja)};
    const auto words = static_cast<std::uint32_t>(device.program_words);
    for (std::uint32_t first = 0; rules.unit_instructions > 0 && first < words;
         first += rules.unit_instructions) {
      const std::uint32_t count = std::min(words - first, rules.unit_instructions);
      if (!InstructionsBlank(image.program, first, count)) ++plan.units_compared;
    }
  }
  for (int k = 0; k < form.config.written; ++k) {
    if (image.config_present[static_cast<std::size_t>(k)]) plan.config_words.push_back(k);
  }
  return plan;
}

report::MessagePair DescribePlan(const WritePlan& plan) {
  report::MessagePair erase;
  switch (plan.erase) {
    case EraseKind::kNone:
      erase = {"no erase", "消去なし"};
      break;
    case EraseKind::kBulk:
      erase = {"bulk erase", "一括消去"};
      break;
    case EraseKind::kChangedUnits:
      erase = {"compare " + std::to_string(plan.units_compared) +
                   " erase units, erase and program those that differ",
               std::to_string(plan.units_compared) + " 消去単位を比較し、異なるものだけ消去・書込"};
      break;
  }
  const std::string row = std::to_string(plan.row_instructions);
  const report::MessagePair rows{
      "program " + Count(plan.program_rows.size(), "row") + " of " + row +
          (plan.executive_image ? " executive instructions" : " instructions"),
      std::to_string(plan.program_rows.size()) + " 行 (" + row + " 命令/行) 書込"};
  const report::MessagePair data{
      Count(plan.eeprom_writes.size(), plan.eeprom_write_words == 1 ? "EEPROM word" : "EEPROM row"),
      "EEPROM " + std::to_string(plan.eeprom_writes.size()) +
          (plan.eeprom_write_words == 1 ? " ﾜｰﾄﾞ" : " 行")};
  const report::MessagePair tail{
      Count(plan.config_words.size(), "configuration word") + " last",
      "最後にｺﾝﾌｨｸﾞﾚｰｼｮﾝﾜｰﾄﾞ " + std::to_string(plan.config_words.size())};
  report::MessagePair mode;
  switch (plan.mode) {
    case ProgrammingMode::kExecutive:
      mode = {"through the programming executive", "ﾌﾟﾛｸﾞﾗﾐﾝｸﾞ･ｴｸﾞｾﾞｸﾃｨﾌﾞ経由"};
      break;
    case ProgrammingMode::kPlainBatches:
      mode = {"plain ICSP (instruction batches)", "ICSP (命令ﾊﾞｯﾁ)"};
      break;
    case ProgrammingMode::kPlainLetters:
      mode = {"plain ICSP", "ICSP"};
      break;
  }
  const report::MessagePair verify = plan.verify ? report::MessagePair{"verify", "検証"}
                                                 : report::MessagePair{"no verify", "検証なし"};
  const report::MessagePair sep{"; ", "、"};
  return erase + sep + rows + sep + data + sep + verify + sep + tail + " (" + mode + ")";
}

}  // namespace quillon::icsp
