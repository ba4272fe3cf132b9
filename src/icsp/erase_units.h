// What an incremental write needs to know of a part, taken from its family
// form: the unit program memory is erased in, how EEPROM words are rewritten,
// which configuration entries are compared and which of their bits count,
// and where the part says that it is protected.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "devices/catalogue.h"

namespace quillon::icsp {

struct EraseUnitRules {
  std::uint32_t unit_instructions = 0;  // a page, a row or a group of rows
  std::uint16_t erase_nvmcon = 0;       // erases the unit at the address of the last table write
  bool timed_erase = false;             // dsPIC30F: behind the NVMKEY unlock, timed by the host
  std::uint32_t row_instructions = 0;   // rows written within a unit
  std::string_view unit_name;           // for the summary: "page", "row", "row group"
  std::string_view unit_name_ja;
  std::uint16_t eeprom_word_erase = 0;  // 0: the word write erases the word itself
  std::uint16_t eeprom_word_write = 0;
  // Configuration registers compared and rewritten one by one (0 on parts
  // whose configuration words are program memory: their page carries them).
  int config_registers = 0;
  std::uint16_t config_mask = 0xFFFF;  // the bits a register keeps
  // The configuration entry whose bits, all set, say that the code may be
  // read and written piecewise (general segment code and write protection).
  std::size_t protection_entry = 0;
  std::uint16_t protection_bits = 0;
};

EraseUnitRules EraseUnitRulesFor(const devices::DeviceRecord& d);

inline constexpr std::uint32_t kEepromRowWords = 16;

}  // namespace quillon::icsp
