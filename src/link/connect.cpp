#include "link/connect.h"

#include "report/message.h"

namespace quillon::link {

ConnectResult Connect(Link& link, const std::string& port_name) {
  // A count of 1 cannot pass the test below, so only a fresh two-byte reply
  // counts, never one left over from an earlier exchange.
  link.receive_buffer[0] = 1;
  link.OpenPort(port_name);
  link.send_buffer[0] = cmd::kVersion;
  link.WritePort(1);
  link.ReadPort(2);
  link.ClosePort();

  ConnectResult result;
  if (link.receive_buffer[0] != 2) return result;
  result.connected = true;
  result.major = link.receive_buffer[1];
  result.minor = link.receive_buffer[2];
  result.firmware_version = static_cast<std::uint16_t>(result.major * 256 + result.minor);
  return result;
}

std::string ConnectStatusText(const ConnectResult& result) {
  if (!result.connected) return "disconnected!";
  return "connected!" + std::string(report::kLineBreak) +
         "firmware=" + std::to_string(result.major) + "." + std::to_string(result.minor);
}

}  // namespace quillon::link
