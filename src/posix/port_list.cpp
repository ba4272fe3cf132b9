#include "posix/port_list.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <string>

namespace quillon::posix {
namespace {

namespace fs = std::filesystem;

std::string FirstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  return line;
}

// A legacy 8250 port is listed for every possible UART; type 0 means there
// is no hardware behind it.
bool IsPhantomUart(const fs::path& tty) {
  std::error_code ec;
  return fs::exists(tty / "type", ec) && FirstLine(tty / "type") == "0";
}

void AddUsbDetails(const fs::path& device, link::PortInfo& info) {
  std::error_code ec;
  // The tty's device is a USB interface (or below one); the USB device that
  // carries the descriptor strings is the first ancestor with idVendor.
  for (fs::path dir = fs::canonical(device, ec); !ec && dir.has_relative_path();
       dir = dir.parent_path()) {
    if (!fs::exists(dir / "idVendor", ec)) continue;
    info.usb_id = FirstLine(dir / "idVendor") + ":" + FirstLine(dir / "idProduct");
    info.maker = FirstLine(dir / "manufacturer");
    info.product = FirstLine(dir / "product");
    info.serial = FirstLine(dir / "serial");
    return;
  }
}

// The driver of the hardware behind a port. Since Linux 6.5 the serial core
// puts its own devices (bus serial-base, driver "port") between the tty and
// the UART; their driver names say nothing, so the UART's is taken.
std::string DriverName(const fs::path& device) {
  std::error_code ec;
  fs::path dir = fs::canonical(device, ec);
  while (!ec && dir.has_relative_path() &&
         fs::read_symlink(dir / "subsystem", ec).filename() == "serial-base") {
    dir = dir.parent_path();
  }
  ec.clear();
  return fs::read_symlink(dir / "driver", ec).filename().string();
}

}  // namespace

std::vector<link::PortInfo> ListSerialPorts(const fs::path& sys_class_tty, const fs::path& by_id,
                                            const fs::path& dev) {
  std::map<std::string, std::string> aliases;  // port name -> by-id link
  std::error_code ec;
  for (const fs::directory_entry& link : fs::directory_iterator(by_id, ec)) {
    std::error_code target_ec;
    const fs::path target = fs::read_symlink(link.path(), target_ec);
    if (target_ec) continue;
    aliases[target.filename().string()] = link.path().string();
  }

  std::vector<link::PortInfo> ports;
  for (const fs::directory_entry& entry : fs::directory_iterator(sys_class_tty, ec)) {
    const fs::path tty = entry.path();
    std::error_code device_ec;
    // Virtual terminals and pseudo-terminals have no device behind them.
    if (!fs::exists(tty / "device", device_ec) || IsPhantomUart(tty)) continue;
    const std::string name = tty.filename().string();
    link::PortInfo info;
    info.name = (dev / name).string();
    if (auto it = aliases.find(name); it != aliases.end()) info.alias = it->second;
    AddUsbDetails(tty / "device", info);
    if (info.product.empty()) info.product = DriverName(tty / "device");
    ports.push_back(std::move(info));
  }
  std::sort(ports.begin(), ports.end(),
            [](const link::PortInfo& a, const link::PortInfo& b) { return a.name < b.name; });
  return ports;
}

}  // namespace quillon::posix
