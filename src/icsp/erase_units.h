// The family rules an incremental write needs: the unit program memory is
// erased in, which configuration entries are compared and which of their bits
// count, and where a part says that it is protected. Kept in this one place
// so that the per-family knowledge of piecewise erasing has a single home.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "devices/catalogue.h"

namespace quillon::icsp {

struct EraseUnitRules {
  std::uint32_t unit_instructions = 0;  // a page (dsPIC33F/PIC24) or a row (dsPIC30F)
  std::uint16_t erase_nvmcon = 0;       // erases the unit at the address of the last table write
  bool timed_erase = false;             // dsPIC30F: behind the NVMKEY unlock, timed by the host
  std::uint32_t row_instructions = 0;   // rows written within a unit
  std::string_view unit_name;           // plural, for the summary
  std::string_view unit_name_ja;
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

// dsPIC30F data EEPROM, erased and written one word at a time.
inline constexpr std::uint16_t kEepromWordErase = 0x4074;
inline constexpr std::uint16_t kEepromWordWrite = 0x4004;
inline constexpr std::uint32_t kEepromRowWords = 16;

}  // namespace quillon::icsp
