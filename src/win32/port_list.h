// The serial ports present on Windows, from the registry's SERIALCOMM map.
#pragma once

#include <vector>

#include "link/port_info.h"

namespace quillon::win32 {

// COM ports in name order; the product field holds the driver's device name
// (\Device\Serial0, \Device\VCP0), which tells a USB adapter from a UART.
std::vector<link::PortInfo> ListSerialPorts();

}  // namespace quillon::win32
