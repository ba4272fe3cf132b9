// Whether a loaded HEX file fits the part it is about to be written into.
#pragma once

#include <cstdint>
#include <optional>

#include "devices/catalogue.h"
#include "image/hex_loader.h"
#include "image/memory_image.h"

namespace quillon::icsp {

// The lowest program address of the file's data that `part` has no room for:
// program data past its program memory, EEPROM data outside its EEPROM (or on
// a part without one), data in executive memory past what the loader takes,
// configuration data where its form has no register or in an 8-bit register
// that cannot hold the value, and data anywhere else. Nothing when all fits.
std::optional<std::uint32_t> FirstAddressThePartCannotHold(const devices::DeviceRecord& part,
                                                           const image::MemoryImage& file,
                                                           const image::LoadSummary& summary);

// True when the file carries program-memory data (not only executive memory,
// EEPROM or configuration).
bool HoldsProgramData(const image::LoadSummary& summary);

}  // namespace quillon::icsp
