// The built-in table of supported parts and the family rules every operation
// applies to the selected part.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quillon::devices {

struct DeviceRecord {
  std::string_view name;
  int instruction_width = 0;
  std::string_view package_tag;
  std::int32_t program_words = 0;
  std::int32_t eeprom_bytes = 0;
  int family_code = 0;
  std::uint16_t device_id = 0;
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

// --- Family rules. Every operation classifies the part with these alone. ---

// Family code bit 0 set: dsPIC33F/PIC24 sequences (reset vector 0x200,
// self-timed writes polled through NVMCON). Clear: dsPIC30F sequences.
inline bool UsesPic24Sequences(const DeviceRecord& d) { return (d.family_code & 1) != 0; }

// ICSP entry command: 0x0D for a non-zero family code, else 0x0C.
inline std::uint8_t IcspEntryCommand(const DeviceRecord& d) { return d.family_code != 0 ? 0x0D : 0x0C; }
// Enhanced ICSP entry command: 0x8D for a non-zero family code, else 0x8C.
inline std::uint8_t EnhancedEntryCommand(const DeviceRecord& d) {
  return d.family_code != 0 ? 0x8D : 0x8C;
}

// Names beginning "PIC24F": two flash configuration words at the top of
// program memory instead of the registers at 0xF80000.
inline bool HasFlashConfigWords(std::string_view name) { return name.starts_with("PIC24F"); }
inline bool HasFlashConfigWords(const DeviceRecord& d) { return HasFlashConfigWords(d.name); }

// Executive memory units covered by Read and by the listing writer.
int ExecutiveReadUnits(const DeviceRecord& d);

// Executive memory handled by the executive check, write and verify.
struct ExecutiveExtent {
  int rows;             // write rows
  int row_instructions; // instructions per write row
  int last_quad;        // last verify quad
};
ExecutiveExtent ExecutiveWriteExtent(const DeviceRecord& d);

// The family's programming-executive file name.
std::string_view ExecutiveFileName(const DeviceRecord& d);

inline constexpr std::uint32_t kTablePointerAt0032 = 0x880190;  // MOV W0, TBLPAG (0x0032)
inline constexpr std::uint32_t kTablePointerAt0054 = 0x8802A0;  // MOV W0, TBLPAG (0x0054)

// The MOV W0, TBLPAG word for a part, by name.
std::uint32_t LoadTablePointerFor(std::string_view name);

// Program address of a flash configuration word (k 0: word 1 at the last
// instruction; any other k: word 2 just below it).
inline std::int32_t FlashConfigAddress(const DeviceRecord& d, int k) {
  return k == 0 ? 2 * d.program_words - 2 : 2 * d.program_words - 4;
}

// Leading and trailing spaces (code 32 only) removed.
std::string_view TrimBlanks(std::string_view text);

}  // namespace quillon::devices
