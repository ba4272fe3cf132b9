#include "icsp/file_check.h"

#include <array>
#include <string_view>

#include "icsp/primitives.h"

namespace quillon::icsp {

namespace {

constexpr std::uint32_t kEepromWindow = 0x7F8000;     // type-04 value 0x00FF
constexpr std::uint32_t kExecutiveLoaded = 0x801000;  // the loader's executive buffer
constexpr std::uint32_t kConfigBase = 0xF80000;       // type-04 value 0x01F0

struct Range {
  std::uint32_t first;
  std::uint32_t end;  // one past the last address
};

// Program addresses from 0xF80000 the form has registers at: none where the
// configuration lives in flash words, else its registers and the unit ID
// words after them.
std::uint32_t ConfigRegisterSpan(const devices::ConfigForm& config) {
  if (config.layout != devices::ConfigLayout::kRegisters) return 0;
  return 2 * static_cast<std::uint32_t>(config.hex_registers + config.unit_id_words);
}

}  // namespace

std::optional<std::uint32_t> FirstAddressThePartCannotHold(const devices::DeviceRecord& part,
                                                           const image::MemoryImage& file,
                                                           const image::LoadSummary& summary) {
  const devices::FamilyForm& form = devices::Form(part);
  const auto eeprom = static_cast<std::uint32_t>(part.eeprom_bytes);
  // A form without an executive has no executive memory to program.
  const std::uint32_t executive_end = form.executive.present ? kExecutiveLoaded : kExecutiveBase;
  const std::array<Range, 4> holds{{
      {0, 2 * static_cast<std::uint32_t>(part.program_words)},
      {kEepromEnd - eeprom, kEepromEnd},
      {kExecutiveBase, executive_end},
      {kConfigBase, kConfigBase + ConfigRegisterSpan(form.config)},
  }};
  // The first address of [first, last] outside every range, walking from
  // range to range while they cover it.
  auto first_outside = [&holds](std::uint32_t a,
                                std::uint32_t last) -> std::optional<std::uint32_t> {
    for (;;) {
      const Range* in = nullptr;
      for (const Range& r : holds) {
        if (a >= r.first && a < r.end) in = &r;
      }
      if (in == nullptr) return a;
      if (in->end > last) return std::nullopt;
      a = in->end;
    }
  };

  std::optional<std::uint32_t> found;
  auto keep = [&found](std::uint32_t a) {
    if (!found || a < *found) found = a;
  };
  for (const auto& [first, last] : summary.spans) {
    if (const auto a = first_outside(first, last)) keep(*a);
  }
  // An 8-bit register takes a value whose upper byte is all zeros or all ones
  // (toolchains write either); anything else, such as a dsPIC30F word, would
  // lose its upper bits.
  if (form.config.byte_registers) {
    for (std::size_t k = 0; k < static_cast<std::size_t>(form.config.hex_registers); ++k) {
      const unsigned upper = file.config[k] >> 8;
      if (file.config_present[k] && upper != 0x00 && upper != 0xFF) {
        keep(kConfigBase + 2 * static_cast<std::uint32_t>(k));
      }
    }
  }
  return found;
}

bool HoldsProgramData(const image::LoadSummary& summary) {
  for (const auto& span : summary.spans) {
    if (span.first < kEepromWindow) return true;
  }
  return false;
}

}  // namespace quillon::icsp
