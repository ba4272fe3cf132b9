// The serial port on Windows: a COM port opened with CreateFileA and set up
// for 230400 baud, 8N1, no handshake.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "link/serial_port.h"

namespace quillon::win32 {

// Error texts are the failed call's text followed by GetLastError() in
// decimal, e.g. "CreateFile Error=2".
class Win32SerialPort : public link::SerialPort {
 public:
  Win32SerialPort() = default;
  ~Win32SerialPort() override;
  Win32SerialPort(const Win32SerialPort&) = delete;
  Win32SerialPort& operator=(const Win32SerialPort&) = delete;

  // `name` goes to CreateFileA as given ("COM3").
  std::vector<std::string> Open(const std::string& name) override;
  std::vector<std::string> Close() override;
  link::Transfer Read(std::uint8_t* data, std::size_t n) override;
  link::Transfer Write(const std::uint8_t* data, std::size_t n) override;

  bool is_open() const { return handle_ != INVALID_HANDLE_VALUE; }
  // The settings of the last open; they stay in the object between opens.
  const DCB& dcb() const { return dcb_; }
  const COMMTIMEOUTS& timeouts() const { return timeouts_; }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  DCB dcb_{};
  COMMTIMEOUTS timeouts_{};
};

}  // namespace quillon::win32
