#include "devices/catalogue.h"

namespace quillon::devices {
namespace {

constexpr DeviceRecord kRows[] = {
#include "devices/catalogue_rows.inc"
};

}  // namespace

std::span<const DeviceRecord> Catalogue() {
  return kRows;
}

const DeviceRecord* FindByName(std::string_view name) {
  for (const DeviceRecord& row : kRows) {
    if (TrimBlanks(row.name) == name) return &row;
  }
  return nullptr;
}

const DeviceRecord* FindByDeviceId(std::uint16_t device_id) {
  for (const DeviceRecord& row : kRows) {
    if (row.device_id == device_id && row.instruction_width == 24) return &row;
  }
  return nullptr;
}

const DeviceRecord* FindByDeviceIdAfterEntry(std::uint16_t device_id, std::uint8_t entry_command) {
  for (const DeviceRecord& row : kRows) {
    if (row.device_id == device_id && row.instruction_width == 24 &&
        IcspEntryCommand(row) == entry_command) {
      return &row;
    }
  }
  return FindByDeviceId(device_id);
}

std::string_view TrimBlanks(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

}  // namespace quillon::devices
