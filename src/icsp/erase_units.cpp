#include "icsp/erase_units.h"

namespace quillon::icsp {

EraseUnitRules EraseUnitRulesFor(const devices::DeviceRecord& d) {
  if (!devices::UsesPic24Sequences(d)) {
    // Row erase (32 instructions), externally timed. FGS holds GWRP (bit 0)
    // and GCP (bit 1): register 5 on the older parts, register 2 on the
    // parts that enter with the key (dsPIC30F1010/202x).
    return {.unit_instructions = 32,
            .erase_nvmcon = 0x4071,
            .timed_erase = true,
            .row_instructions = 32,
            .unit_name = "row",
            .unit_name_ja = "行",
            .config_registers = 8,
            .config_mask = 0xFFFF,
            .protection_entry = d.family_code == 0 ? 5u : 2u,
            .protection_bits = 0x0003};
  }
  EraseUnitRules rules{.unit_instructions = 512,
                       .erase_nvmcon = 0x4042,
                       .timed_erase = false,
                       .row_instructions = 64,
                       .unit_name = "page",
                       .unit_name_ja = "ページ"};
  if (devices::HasFlashConfigWords(d)) {
    // Configuration word 1 (entry 0): GWRP bit 12, GCP bit 13.
    rules.config_registers = 0;
    rules.protection_entry = 0;
    rules.protection_bits = 0x3000;
  } else {
    // Eight-bit registers; FGS (entry 2): GWRP bit 0, GSS bits 2..1.
    rules.config_registers = 8;
    rules.config_mask = 0x00FF;
    rules.protection_entry = 2;
    rules.protection_bits = 0x0007;
  }
  return rules;
}

}  // namespace quillon::icsp
