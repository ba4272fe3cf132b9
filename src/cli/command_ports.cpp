// ports: the serial ports present, without a board.
#include "app/host.h"
#include "cli/command.h"

namespace quillon::cli {
namespace {

class Ports final : public ConsoleCommand {
 public:
  Ports()
      : ConsoleCommand({.id = Command::kPorts,
                        .name = "ports",
                        .groups = 0,
                        .help = "List the serial ports present, with USB vendor:product, maker "
                                "and serial number where the system knows them",
                        .on_board = false}) {}

  Result RunHere(const CliOptions& o, Environment& env, std::uint16_t language) const override {
    const std::vector<link::PortInfo> ports =
        env.list_ports ? env.list_ports() : app::ListSerialPorts();
    if (o.json) {
      auto text_or_null = [](const std::string& text) {
        return text.empty() ? std::string("null") : JsonString(text);
      };
      env.out << '[';
      for (std::size_t i = 0; i < ports.size(); ++i) {
        const link::PortInfo& p = ports[i];
        env.out << (i == 0 ? "" : ",") << "{\"name\":" << JsonString(p.name)
                << ",\"usb_id\":" << text_or_null(p.usb_id)
                << ",\"maker\":" << text_or_null(p.maker)
                << ",\"product\":" << text_or_null(p.product)
                << ",\"serial\":" << text_or_null(p.serial)
                << ",\"alias\":" << text_or_null(p.alias) << '}';
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
};

}  // namespace

const ConsoleCommand& PortsCommand() {
  static const Ports command;
  return command;
}

}  // namespace quillon::cli
