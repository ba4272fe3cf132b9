// The `devices` command: the catalogue as text, one row per line.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

#include "devices/catalogue.h"

namespace quillon::cli {

// The name of the part's family form ("dsPIC30F", "dsPIC30F (0x0D entry)",
// "dsPIC33F/PIC24", "PIC24F KA").
std::string FamilyForm(const devices::DeviceRecord& row);

// Name, DeviceID (4 hex digits), socket, program words, EEPROM bytes, family.
std::string DeviceLine(const devices::DeviceRecord& row);

// Every row whose name contains `pattern`, ignoring case, as lines or as
// one JSON array; returns the count.
int ListDevices(std::string_view pattern, std::ostream& out, bool json = false);

}  // namespace quillon::cli
