// The host copy of every target memory, one 16-bit unit per program address.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "devices/selection.h"

namespace quillon::image {

// The units of one memory, blanked lazily: a page takes the blank pattern when
// first touched, so clearing an image and loading a small file costs only the
// pages the file holds. Reaching the units as a whole (data, iterators, the
// vector) gathers them into one vector, and the buffer stays whole from then.
class UnitBuffer {
 public:
  explicit UnitBuffer(std::size_t size);

  std::size_t size() const { return size_; }

  std::uint16_t& operator[](std::size_t i) { return Unit(i); }
  const std::uint16_t& operator[](std::size_t i) const { return Unit(i); }

  std::uint16_t* data() { return Whole().data(); }
  const std::uint16_t* data() const { return Whole().data(); }
  std::vector<std::uint16_t>::iterator begin() { return Whole().begin(); }
  std::vector<std::uint16_t>::iterator end() { return Whole().end(); }
  std::vector<std::uint16_t>::const_iterator begin() const { return Whole().begin(); }
  std::vector<std::uint16_t>::const_iterator end() const { return Whole().end(); }

  operator std::vector<std::uint16_t>&() { return Whole(); }
  operator const std::vector<std::uint16_t>&() const { return Whole(); }
  friend bool operator==(const UnitBuffer& a, const UnitBuffer& b) {
    return a.Whole() == b.Whole();
  }

  // Units [0, count) become `even` at even and `odd` at odd indices.
  void Blank(std::size_t count, std::uint16_t even, std::uint16_t odd);

 private:
  static constexpr std::size_t kPageUnits = 512;  // even, so parity is the index's

  std::uint16_t& Unit(std::size_t i) const {
    const std::size_t page = i / kPageUnits;
    if (due_[page]) FillPage(page);
    return whole_.empty() ? pages_[page][i % kPageUnits] : whole_[i];
  }
  std::vector<std::uint16_t>& Whole() const;
  void FillPage(std::size_t page) const;

  std::size_t size_;
  // Filling a due page or gathering the pages changes no value a caller
  // can see, hence mutable.
  mutable std::vector<std::uint16_t> whole_;               // empty until needed
  mutable std::vector<std::vector<std::uint16_t>> pages_;  // until then
  mutable std::vector<std::uint8_t> due_;
  mutable std::size_t due_pages_;
  std::uint16_t even_ = 0;
  std::uint16_t odd_ = 0;
};

// Program space: even unit = instruction bits 15..0, odd unit = bits 23..16
// (high byte always 0). Data EEPROM word j sits at program address
// 0x800000 - EepromBytes + 2j. Executive memory starts at 0x800000.
struct MemoryImage {
  static constexpr std::size_t kProgramUnits = 0x80001;
  static constexpr std::size_t kEepromUnits = 0x1001;
  static constexpr std::size_t kExecutiveUnits = 0x1001;
  static constexpr std::size_t kConfigUnits = 18;

  UnitBuffer program{kProgramUnits};
  UnitBuffer eeprom{kEepromUnits};
  UnitBuffer executive{kExecutiveUnits};
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

// 24-bit instruction at instruction index i of a unit buffer or vector.
template <typename Units>
std::uint32_t InstructionAt(const Units& units, std::size_t i) {
  return (static_cast<std::uint32_t>(units[2 * i + 1] & 0xFF) << 16) | units[2 * i];
}

}  // namespace quillon::image
