// The serial port as the link needs it. Implementations: POSIX termios,
// Win32 COM ports, the in-process simulated board, and test fakes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quillon::link {

// Result of one transfer: the bytes moved, and the port-level error text
// ("ReadFile Error=5"), empty when the call itself did not fail.
struct Transfer {
  std::size_t count = 0;
  std::string error;
};

// 230400 baud, 8N1, no flow control. A read of n bytes gives up after
// 1280 + 2n ms in total or when more than 20 ms pass between two received
// bytes; a write of n bytes after 100 + 2n ms.
class SerialPort {
 public:
  virtual ~SerialPort() = default;
  // Opens and configures the port. Returns the error text of every step that
  // failed, in order (empty: the port is ready). Later reads and writes on a
  // port that failed to open fail with their own error texts.
  virtual std::vector<std::string> Open(const std::string& name) = 0;
  // Returns the error texts of the closing steps that failed.
  virtual std::vector<std::string> Close() = 0;
  virtual Transfer Read(std::uint8_t* data, std::size_t n) = 0;
  virtual Transfer Write(const std::uint8_t* data, std::size_t n) = 0;
};

inline constexpr int kBaudRate = 230400;

}  // namespace quillon::link
