#include "cli/device_listing.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "cli/run_record.h"
#include "image/formats.h"

namespace quillon::cli {
std::string Lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

std::string DeviceLine(const devices::DeviceRecord& row) {
  const std::string name(devices::TrimBlanks(row.name));
  const std::string socket(row.package_tag);
  const std::string family(devices::Form(row).name);
  char line[128];
  std::snprintf(line, sizeof line, "%-18s %04X  %-5s %6ld %5ld  %s", name.c_str(),
                static_cast<unsigned>(row.device_id), socket.c_str(),
                static_cast<long>(row.program_words), static_cast<long>(row.eeprom_bytes),
                family.c_str());
  return line;
}

int ListDevices(std::string_view pattern, std::ostream& out, bool json) {
  const std::string needle = Lower(pattern);
  int count = 0;
  if (json) out << '[';
  for (const devices::DeviceRecord& row : devices::Catalogue()) {
    if (Lower(row.name).find(needle) == std::string::npos) continue;
    if (json) {
      out << (count == 0 ? "" : ",") << "{\"name\":" << JsonString(devices::TrimBlanks(row.name))
          << ",\"device_id\":\"0x" << image::Hex4(row.device_id)
          << "\",\"socket\":" << JsonString(row.package_tag)
          << ",\"program_words\":" << row.program_words << ",\"eeprom_bytes\":" << row.eeprom_bytes
          << ",\"family\":" << JsonString(devices::Form(row).name) << '}';
    } else {
      out << DeviceLine(row) << '\n';
    }
    ++count;
  }
  if (json) out << "]\n";
  return count;
}

}  // namespace quillon::cli
