#include "image/memory_image.h"

#include <algorithm>

namespace quillon::image {

void MemoryImage::Clear(const devices::Selection& selection) {
  const std::uint16_t blank = selection.blank_word;
  std::fill(program.begin(), program.begin() + 0x80000, blank);
  if (selection.selected) {
    for (std::size_t i = 1; i < 0x80000; i += 2) program[i] = 0x00FF;
  }
  std::fill(eeprom.begin(), eeprom.begin() + 0x1000,
            static_cast<std::uint16_t>(selection.selected ? 0xFFFF : 0x00FF));
  const devices::ConfigForm& form = devices::Form(selection.device).config;
  const int registers = form.hex_registers;
  std::fill(config.begin(), config.begin() + registers, blank & form.value_mask);
  std::fill(config_present.begin(), config_present.begin() + registers, false);
  std::fill(executive.begin(), executive.end(), blank);
  if (selection.selected) {
    for (std::size_t i = 1; i < 0x1000; i += 2) executive[i] = 0x00FF;
  }
  executive_present = false;
}

}  // namespace quillon::image
