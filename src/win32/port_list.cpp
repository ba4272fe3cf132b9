#include "win32/port_list.h"

#include <windows.h>

#include <algorithm>
#include <string>

namespace quillon::win32 {

std::vector<link::PortInfo> ListSerialPorts() {
  std::vector<link::PortInfo> ports;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return ports;
  }
  for (DWORD index = 0;; ++index) {
    char device[256] = {};
    BYTE port[256] = {};
    DWORD device_size = sizeof device;
    DWORD port_size = sizeof port - 1;  // room for a terminator the value may lack
    DWORD type = 0;
    const LONG result =
        RegEnumValueA(key, index, device, &device_size, nullptr, &type, port, &port_size);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS || type != REG_SZ) continue;
    port[port_size] = 0;
    link::PortInfo info;
    info.name = reinterpret_cast<const char*>(port);
    info.product = device;
    ports.push_back(std::move(info));
  }
  RegCloseKey(key);
  // COM10 after COM9.
  std::sort(ports.begin(), ports.end(), [](const link::PortInfo& a, const link::PortInfo& b) {
    return a.name.size() != b.name.size() ? a.name.size() < b.name.size() : a.name < b.name;
  });
  return ports;
}

}  // namespace quillon::win32
