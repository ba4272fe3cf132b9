// The built-in table of supported parts and the family rules every operation
// applies to the selected part.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "devices/family_form.h"

namespace quillon::devices {

struct DeviceRecord {
  std::string_view name;
  int instruction_width = 0;
  std::string_view package_tag;
  std::int32_t program_words = 0;
  std::int32_t eeprom_bytes = 0;
  int family_code = 0;
  std::uint16_t device_id = 0;
  const FamilyForm* form = nullptr;
};

// All 207 rows in catalogue order.
std::span<const DeviceRecord> Catalogue();

// First row with this exact (case-sensitive) name.
const DeviceRecord* FindByName(std::string_view name);

// First row with this DeviceID and an instruction width of 24.
const DeviceRecord* FindByDeviceId(std::uint16_t device_id);

// As FindByDeviceId, but rows whose family answers to `entry_command` (0x0D:
// family code non-zero, 0x0C: family code 0) are searched first. A DeviceID
// read after entry 0x0D cannot have come from a part that only enters with 0x0C.
const DeviceRecord* FindByDeviceIdAfterEntry(std::uint16_t device_id, std::uint8_t entry_command);

// --- Family rules: every operation asks the part's form. ---

// The row's form; a record that names none (no part selected yet) programs
// as a dsPIC30F.
inline const FamilyForm& Form(const DeviceRecord& d) {
  return d.form != nullptr ? *d.form : kFormDsPic30F;
}

// ICSP entry command: 0x0D for the key-entry forms, else 0x0C.
inline std::uint8_t IcspEntryCommand(const DeviceRecord& d) {
  return Form(d).icsp_entry;
}

// Program address of a flash configuration word (k 0: word 1 at the last
// instruction; any other k: word 2 just below it).
inline std::int32_t FlashConfigAddress(const DeviceRecord& d, int k) {
  return k == 0 ? 2 * d.program_words - 2 : 2 * d.program_words - 4;
}

// Leading and trailing spaces (code 32 only) removed.
std::string_view TrimBlanks(std::string_view text);

}  // namespace quillon::devices
