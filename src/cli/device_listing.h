// The `devices` command: the catalogue as text, one row per line.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

#include "devices/catalogue.h"

namespace quillon::cli {

// `text` with ASCII letters in lower case.
std::string Lower(std::string_view text);

// Name, DeviceID (4 hex digits), socket, program words, EEPROM bytes, family.
std::string DeviceLine(const devices::DeviceRecord& row);

// Every row whose name contains `pattern`, ignoring case, as lines or as
// one JSON array; returns the count.
int ListDevices(std::string_view pattern, std::ostream& out, bool json = false);

}  // namespace quillon::cli
