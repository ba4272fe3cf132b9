#include "image/memory_image.h"

#include <algorithm>

namespace quillon::image {

// A new buffer holds zeros: every page is due, with zero as its pattern,
// and nothing is allocated for the pages until one is touched.
UnitBuffer::UnitBuffer(std::size_t size)
    : size_(size), due_((size + kPageUnits - 1) / kPageUnits, 1), due_pages_(due_.size()) {}

void UnitBuffer::Blank(std::size_t count, std::uint16_t even, std::uint16_t odd) {
  count = std::min(count, size_);
  const std::size_t whole_pages = count / kPageUnits;
  // Pages left due under the old pattern take it now, before it changes.
  if (even != even_ || odd != odd_) {
    for (std::size_t page = whole_pages; page < due_.size() && due_pages_ > 0; ++page) {
      if (due_[page]) FillPage(page);
    }
  }
  even_ = even;
  odd_ = odd;
  std::fill(due_.begin(), due_.begin() + static_cast<std::ptrdiff_t>(whole_pages), 1);
  due_pages_ = static_cast<std::size_t>(std::count(due_.begin(), due_.end(), 1));
  for (std::size_t i = whole_pages * kPageUnits; i < count; ++i) Unit(i) = i % 2 == 0 ? even : odd;
}

std::vector<std::uint16_t>& UnitBuffer::Whole() const {
  if (whole_.empty()) {
    whole_.resize(size_);
    for (std::size_t page = 0; page < pages_.size(); ++page) {
      if (!due_[page])
        std::copy(pages_[page].begin(), pages_[page].end(), &whole_[page * kPageUnits]);
    }
    pages_.clear();
    pages_.shrink_to_fit();
  }
  for (std::size_t page = 0; page < due_.size() && due_pages_ > 0; ++page) {
    if (due_[page]) FillPage(page);
  }
  return whole_;
}

void UnitBuffer::FillPage(std::size_t page) const {
  const std::size_t from = page * kPageUnits;
  const std::size_t length = std::min(kPageUnits, size_ - from);
  std::uint16_t* units;
  if (whole_.empty()) {
    if (pages_.empty()) pages_.resize(due_.size());
    pages_[page].resize(length);
    units = pages_[page].data();
  } else {
    units = whole_.data() + from;
  }
  for (std::size_t i = 0; i + 1 < length; i += 2) {
    units[i] = even_;
    units[i + 1] = odd_;
  }
  if (length % 2 != 0) units[length - 1] = even_;
  due_[page] = 0;
  --due_pages_;
}

void MemoryImage::Clear(const devices::Selection& selection) {
  const std::uint16_t blank = selection.blank_word;
  const std::uint16_t high = selection.selected ? 0x00FF : blank;
  const auto eeprom_blank = static_cast<std::uint16_t>(selection.selected ? 0xFFFF : 0x00FF);
  program.Blank(0x80000, blank, high);
  eeprom.Blank(0x1000, eeprom_blank, eeprom_blank);
  // The executive's spare last unit is blanked too, with the blank word.
  executive.Blank(0x1000, blank, high);
  executive[0x1000] = blank;
  const devices::ConfigForm& form = devices::Form(selection.device).config;
  const int registers = form.hex_registers;
  std::fill(config.begin(), config.begin() + registers, blank & form.value_mask);
  std::fill(config_present.begin(), config_present.begin() + registers, false);
  executive_present = false;
}

}  // namespace quillon::image
