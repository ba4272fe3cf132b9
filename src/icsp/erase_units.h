// How a form erases (with plain ICSP, the part in ICSP mode), and what an
// incremental write needs to know besides.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "devices/catalogue.h"

namespace quillon::icsp {

class Session;

class EraseStrategy {
 public:
  virtual ~EraseStrategy() = default;
  // One pass of the bulk erase.
  virtual void EraseChip(Session& session) const = 0;
  // Executive memory as a whole, ahead of writing an executive into it.
  virtual void EraseExecutive(Session& session) const = 0;
  // The erase unit of program memory at program address `address`.
  virtual void EraseUnit(Session& session, std::uint32_t address) const = 0;
};
const EraseStrategy& EraseFor(const devices::FamilyForm& form);

struct EraseUnitRules {
  std::uint32_t unit_instructions = 0;  // a page, a row or a group of rows
  std::string_view unit_name;           // for the summary: "page", "row", "row group"
  std::string_view unit_name_ja;
  std::uint16_t eeprom_word_erase = 0;  // 0: the word write erases the word itself
  std::uint16_t eeprom_word_write = 0;
  // Configuration registers compared and rewritten one by one (0 on parts
  // whose configuration words are program memory: their page carries them).
  int config_registers = 0;
  std::uint16_t config_mask = 0xFFFF;  // the bits a register keeps
  // The configuration entry whose bits, all set, say the code is unprotected.
  std::size_t protection_entry = 0;
  std::uint16_t protection_bits = 0;
};

EraseUnitRules EraseUnitRulesFor(const devices::DeviceRecord& d);

inline constexpr std::uint32_t kEepromRowWords = 16;

}  // namespace quillon::icsp
