// What the system knows about a serial port present, for the port listing.
#pragma once

#include <string>

namespace quillon::link {

struct PortInfo {
  std::string name;     // what -P takes: /dev/ttyUSB0, COM3
  std::string alias;    // a stable name for it (/dev/serial/by-id/...), or ""
  std::string usb_id;   // "0403:6001", or "" when not a USB device
  std::string maker;    // USB manufacturer string, or ""
  std::string product;  // USB product string, or the driver's name
  std::string serial;   // USB serial number, or ""
};

}  // namespace quillon::link
