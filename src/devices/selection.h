// The part that every operation works on, and how it gets chosen.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "devices/catalogue.h"
#include "report/reporter.h"

namespace quillon::devices {

// The current part of one programming session. Until the first successful
// selection every field is zero or empty and `selected` is false.
struct Selection {
  DeviceRecord device{};
  std::string name;              // the name that was asked for; `device.name` points at the row
  bool selected = false;         // set by the first successful selection, never cleared
  std::uint16_t blank_word = 0;  // 0xFFFF once a part has been chosen
  std::uint32_t load_table_pointer = kTablePointerAt0032;
};

// Makes the row with this exact name current and shows "Socket <tag>". An
// unknown name reports "Please select PIC type." (with its pause) and keeps
// the previous selection, table-pointer word included.
bool SelectDevice(Selection& selection, std::string_view name, report::Reporter& reporter);

}  // namespace quillon::devices
