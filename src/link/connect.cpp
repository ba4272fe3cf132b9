#include "link/connect.h"

#include "report/message.h"

namespace quillon::link {

ConnectResult Connect(Link& link, const std::string& port_name) {
  // Only a fresh two-byte reply counts, never one left over from an earlier
  // exchange.
  link.OpenPort(port_name);
  link.WriteByte(cmd::kVersion);
  const std::size_t received = link.ReadPort(2);
  link.ClosePort();

  ConnectResult result;
  if (received != 2) return result;
  result.connected = true;
  result.major = link.ReceivedByte(1);
  result.minor = link.ReceivedByte(2);
  result.firmware_version = static_cast<std::uint16_t>(result.major * 256 + result.minor);
  return result;
}

std::string ConnectStatusText(const ConnectResult& result) {
  if (!result.connected) return "disconnected!";
  return "connected!" + std::string(report::kLineBreak) +
         "firmware=" + std::to_string(result.major) + "." + std::to_string(result.minor);
}

}  // namespace quillon::link
