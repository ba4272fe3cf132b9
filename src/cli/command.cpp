#include "cli/command.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>

#include "app/host.h"
#include "image/formats.h"
#include "image/hex_loader.h"

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

namespace {

Result ListDevicesHere(const CliOptions& o, Environment& env, std::uint16_t language) {
  if (ListDevices(o.argument, env.out, o.json) == 0 && !o.json) {
    env.err << report::Pick({"quillon: no part matches \"" + o.argument +
                                 "\" (quillon devices lists them all)",
                             "quillon: \"" + o.argument +
                                 "\" に該当する品種はありません (quillon devices で一覧を表示)"},
                            language)
            << '\n';
  }
  return Result::kOk;
}

Result ListPortsHere(const CliOptions& o, Environment& env, std::uint16_t language) {
  const std::vector<link::PortInfo> ports =
      env.list_ports ? env.list_ports() : app::ListSerialPorts();
  if (o.json) {
    env.out << '[';
    for (std::size_t i = 0; i < ports.size(); ++i) {
      const link::PortInfo& p = ports[i];
      env.out << (i == 0 ? "" : ",") << "{\"name\":" << JsonString(p.name)
              << ",\"usb_id\":" << JsonOrNull(p.usb_id) << ",\"maker\":" << JsonOrNull(p.maker)
              << ",\"product\":" << JsonOrNull(p.product) << ",\"serial\":" << JsonOrNull(p.serial)
              << ",\"alias\":" << JsonOrNull(p.alias) << '}';
    }
    env.out << "]\n";
    return Result::kOk;
  }
  if (ports.empty()) {
    env.err << report::Pick({"no serial ports found", "シリアルポートが見つかりません"}, language)
            << '\n';
    return Result::kOk;
  }
  for (const link::PortInfo& port : ports) {
    env.out << port.name;
    for (const std::string* field :
         {&port.usb_id, &port.maker, &port.product, &port.serial, &port.alias}) {
      if (field->empty()) continue;
      env.out << "  " << (field == &port.serial ? "serial " : "") << *field;
    }
    env.out << '\n';
  }
  return Result::kOk;
}

}  // namespace

const ConsoleCommand kDevices = {
    .id = Command::kDevices,
    .name = "devices",
    .groups = 0,
    .help =
        "List the supported parts whose name contains PATTERN (any case): name, DeviceID, "
        "socket, program words, EEPROM bytes, family",
    .argument = "PATTERN",
    .argument_help = "Part of a device name",
    .on_board = false,
    .run_here = ListDevicesHere,
};

const ConsoleCommand kPorts = {
    .id = Command::kPorts,
    .name = "ports",
    .groups = 0,
    .help =
        "List the serial ports present, with USB vendor:product, "
        "maker and serial number where the system knows them",
    .on_board = false,
    .run_here = ListPortsHere,
};

std::span<const ConsoleCommand* const> Commands() {
  static const std::array<const ConsoleCommand*, 10> table = {
      &kDevices, &kPorts, &kConnect, &kDetect, &kErase,
      &kCheck,   &kWrite, &kVerify,  &kRead,   &kRestoreRow};
  return table;
}

const ConsoleCommand& CommandFor(Command id) {
  for (const ConsoleCommand* command : Commands()) {
    if (command->id == id) return *command;
  }
  return *Commands().front();
}

std::string_view CommandName(Command command) {
  return CommandFor(command).name;
}

Result UsageError(Environment& env, const std::string& text) {
  env.err << "quillon: " << text << '\n';
  return Result::kUsage;
}

Result FileError(Environment& env, const report::MessagePair& text, std::uint16_t language) {
  env.err << "quillon: " << report::Pick(text, language) << '\n';
  return Result::kFileRejected;
}

Result CheckReadable(Environment& env, const std::string& path, bool kept, std::uint16_t language) {
  const std::string why = image::UnreadableReason(path);
  if (why.empty()) return Result::kOk;
  return FileError(env,
                   {(kept ? "cannot read kept file " : "cannot read HEX file ") + path + ": " + why,
                    (kept ? "保存ファイル " : "HEX ファイル ") + path + " を読めません: " + why},
                   language);
}

}  // namespace quillon::cli
