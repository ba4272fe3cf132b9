#include "icsp/erase_units.h"

namespace quillon::icsp {

EraseUnitRules EraseUnitRulesFor(const devices::DeviceRecord& d) {
  const devices::FamilyForm& form = devices::Form(d);
  EraseUnitRules rules{.unit_instructions = form.erase_unit_instructions,
                       .erase_nvmcon = form.nvm.unit_erase,
                       .timed_erase = !form.self_timed(),
                       .row_instructions = form.row_instructions,
                       .unit_name = "row group",
                       .unit_name_ja = "行グループ",
                       .eeprom_word_erase = form.nvm.eeprom_word_erase,
                       .eeprom_word_write = form.nvm.eeprom_word_write,
                       .config_registers = form.config.layout == devices::ConfigLayout::kFlashWords
                                               ? 0
                                               : form.config.written,
                       .config_mask = form.config.register_bits,
                       .protection_entry = static_cast<std::size_t>(form.config.protection_entry),
                       .protection_bits = form.config.protection_bits};
  if (rules.unit_instructions == form.row_instructions) {
    rules.unit_name = "row";
    rules.unit_name_ja = "行";
  } else if (rules.unit_instructions == 512) {
    rules.unit_name = "page";
    rules.unit_name_ja = "ページ";
  }
  return rules;
}

}  // namespace quillon::icsp
