// The host copy of every target memory, one 16-bit unit per program address.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "devices/selection.h"

namespace quillon::image {

// Program space: even unit = instruction bits 15..0, odd unit = bits 23..16
// (high byte always 0). Data EEPROM word j sits at program address
// 0x800000 - EepromBytes + 2j. Executive memory starts at 0x800000.
struct MemoryImage {
  static constexpr std::size_t kProgramUnits = 0x80001;
  static constexpr std::size_t kEepromUnits = 0x1001;
  static constexpr std::size_t kExecutiveUnits = 0x1001;
  static constexpr std::size_t kConfigUnits = 18;

  std::vector<std::uint16_t> program = std::vector<std::uint16_t>(kProgramUnits, 0);
  std::vector<std::uint16_t> eeprom = std::vector<std::uint16_t>(kEepromUnits, 0);
  std::vector<std::uint16_t> executive = std::vector<std::uint16_t>(kExecutiveUnits, 0);
  bool executive_present = false;
  // Configuration words: on the flash-word forms entry 0 is flash word 1
  // (last instruction) and entry 1 flash word 2; otherwise entry k is
  // 0xF80000 + 2k.
  std::array<std::uint16_t, kConfigUnits> config{};
  std::array<bool, kConfigUnits> config_present{};

  // Blank values for the selected part (all zero before any selection, as the
  // blank word is 0 then). Configuration entries past the registers the
  // part's HEX files carry are left alone.
  void Clear(const devices::Selection& selection);
};

// 24-bit instruction at instruction index i of a unit buffer.
inline std::uint32_t InstructionAt(const std::vector<std::uint16_t>& units, std::size_t i) {
  return (static_cast<std::uint32_t>(units[2 * i + 1] & 0xFF) << 16) | units[2 * i];
}

}  // namespace quillon::image
