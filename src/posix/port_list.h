// The serial ports present on a Linux system, from sysfs and udev's
// /dev/serial/by-id links.
#pragma once

#include <filesystem>
#include <vector>

#include "link/port_info.h"

namespace quillon::posix {

// Ports in name order. The roots are parameters so tests can hand in a tree
// of their own; a missing tree gives no ports.
std::vector<link::PortInfo> ListSerialPorts(
    const std::filesystem::path& sys_class_tty = "/sys/class/tty",
    const std::filesystem::path& by_id = "/dev/serial/by-id",
    const std::filesystem::path& dev = "/dev");

}  // namespace quillon::posix
