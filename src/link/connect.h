// The Connect handshake: the board is asked once for its firmware version
// over the raw port, without the link's time-out messages.
#pragma once

#include <cstdint>
#include <string>

#include "link/link.h"

namespace quillon::link {

struct ConnectResult {
  bool connected = false;
  // major * 256 + minor; above 256 the board's built-in letters are used.
  std::uint16_t firmware_version = 0;
  int major = 0;
  int minor = 0;
};

// Opens `port_name`, sends 0x1E, reads the two version bytes and closes the
// port again. Connected only when exactly two bytes arrived. Port-level
// errors are shown by the link as they happen; the caller shows the result
// (ConnectStatusText) and keeps the port and version.
ConnectResult Connect(Link& link, const std::string& port_name);

// "connected!" CR LF "firmware=1.2", or "disconnected!".
std::string ConnectStatusText(const ConnectResult& result);

}  // namespace quillon::link
