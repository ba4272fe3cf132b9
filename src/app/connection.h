// The board's port, held open from its first opening to the object's end:
// each opening of a real port flushes it and may toggle its control lines,
// so a run opens it once; the operations' own opens and closes do nothing.
#pragma once

#include <string>
#include <vector>

#include "link/serial_port.h"

namespace quillon::app {

class Connection : public link::SerialPort {
 public:
  explicit Connection(link::SerialPort& port) : port_(port) {}
  // Closing errors have nobody left to read them.
  ~Connection() override {
    if (open_) port_.Close();
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // The first call opens the port (its errors, as the port gives them);
  // once open, the port stays so.
  std::vector<std::string> Open(const std::string& name) override {
    if (open_) return {};
    std::vector<std::string> errors = port_.Open(name);
    open_ = errors.empty();
    return errors;
  }
  std::vector<std::string> Close() override { return {}; }
  link::Transfer Read(std::uint8_t* data, std::size_t n) override { return port_.Read(data, n); }
  link::Transfer Write(const std::uint8_t* data, std::size_t n) override {
    return port_.Write(data, n);
  }

 private:
  link::SerialPort& port_;
  bool open_ = false;
};

}  // namespace quillon::app
