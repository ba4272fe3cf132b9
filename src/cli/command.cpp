#include "cli/command.h"

#include <array>

#include "app/host.h"
#include "cli/device_listing.h"
#include "image/hex_loader.h"

namespace quillon::cli {
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
