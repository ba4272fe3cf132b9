// The serial port on POSIX systems: any tty path (/dev/ttyUSB0,
// /dev/serial/by-id/..., a pseudo-terminal), raw 8N1 at 230400 baud.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "link/serial_port.h"

namespace quillon::posix {

// Error texts follow the Windows ones: the failed call, "Error=", errno and
// its description, e.g. "open Error=2 (No such file or directory)".
//
// The open is exclusive: TIOCEXCL keeps other programs out, and a
// non-blocking flock also keeps out a second open within this process (and
// root, whom TIOCEXCL does not stop).
class PosixSerialPort : public link::SerialPort {
 public:
  PosixSerialPort() = default;
  ~PosixSerialPort() override;
  PosixSerialPort(const PosixSerialPort&) = delete;
  PosixSerialPort& operator=(const PosixSerialPort&) = delete;

  std::vector<std::string> Open(const std::string& name) override;
  std::vector<std::string> Close() override;
  link::Transfer Read(std::uint8_t* data, std::size_t n) override;
  link::Transfer Write(const std::uint8_t* data, std::size_t n) override;

  bool is_open() const { return fd_ >= 0; }

 private:
  void Configure(std::vector<std::string>& errors);
  void DrainOutput(long long deadline_us);

  int fd_ = -1;
};

// "<call> Error=<errno> (<description>)".
std::string ErrnoText(const char* call, int error);

}  // namespace quillon::posix
