#include "devices/catalogue.h"

#include <algorithm>
#include <array>

namespace quillon::devices {
namespace {

constexpr DeviceRecord kRows[] = {
#include "devices/catalogue_rows.inc"
};

constexpr std::string_view kTablePointerVariant[] = {
    "PIC24FJ128DA106", "PIC24FJ128DA110", "PIC24FJ128DA206", "PIC24FJ128DA210",
    "PIC24FJ256DA106", "PIC24FJ256DA110", "PIC24FJ256DA206", "PIC24FJ256DA210",
    "PIC24FJ128DB206", "PIC24FJ128DB210", "PIC24FJ256DB206", "PIC24FJ256DB210",
    "PIC24FJ64GA306",  "PIC24FJ64GA308",  "PIC24FJ64GA310",  "PIC24FJ128GA306",
    "PIC24FJ128GA308", "PIC24FJ128GA310",
};

}  // namespace

std::span<const DeviceRecord> Catalogue() { return kRows; }

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

int ExecutiveReadUnits(const DeviceRecord& d) {
  if (!UsesPic24Sequences(d)) return 1472;
  if (d.name.starts_with("PIC24F")) return 2048;
  return 4096;  // "dsPIC3" and "PIC24H"
}

ExecutiveExtent ExecutiveWriteExtent(const DeviceRecord& d) {
  if (!UsesPic24Sequences(d)) return ExecutiveExtent{23, 32, 183};
  return ExecutiveExtent{16, 64, 255};
}

std::string_view ExecutiveFileName(const DeviceRecord& d) {
  if (!UsesPic24Sequences(d)) return "pe.hex";
  return HasFlashConfigWords(d) ? "pe24f.hex" : "pe33f.hex";
}

std::uint32_t LoadTablePointerFor(std::string_view name) {
  const bool variant = std::find(std::begin(kTablePointerVariant), std::end(kTablePointerVariant),
                                 name) != std::end(kTablePointerVariant);
  return variant ? kTablePointerAt0054 : kTablePointerAt0032;
}

std::string_view TrimBlanks(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

}  // namespace quillon::devices
