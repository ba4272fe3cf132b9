// A serial port whose peer is a script: tests decide what the "board" answers
// to each write and see every byte on the wire.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "link/serial_port.h"
#include "report/clock.h"

namespace quillon::test_support {

class ScriptedPort : public link::SerialPort {
 public:
  using Bytes = std::vector<std::uint8_t>;

  // Called with the bytes of each write; returns what the peer answers (queued
  // for later reads). Without a responder nothing is ever answered.
  std::function<Bytes(const Bytes&)> responder;
  std::deque<std::uint8_t> input;
  std::vector<Bytes> writes;             // one entry per write call
  std::vector<std::size_t> read_sizes;   // n of each read call
  std::vector<std::string> open_errors;  // returned by Open
  std::size_t write_limit = SIZE_MAX;    // bytes accepted per write (to simulate short writes)
  std::string read_error;                // port-level error text of every read ("ReadFile Error=6")
  std::string write_error;               // port-level error text of every write
  report::ManualClock* clock = nullptr;  // charged with the read time-out on short reads
  int opens = 0;
  int closes = 0;

  std::vector<std::string> Open(const std::string&) override {
    ++opens;
    return open_errors;
  }
  std::vector<std::string> Close() override {
    ++closes;
    return {};
  }
  link::Transfer Read(std::uint8_t* data, std::size_t n) override {
    read_sizes.push_back(n);
    std::size_t count = 0;
    while (count < n && !input.empty()) {
      data[count++] = input.front();
      input.pop_front();
    }
    if (count < n && clock != nullptr) clock->Advance(1280 + 2 * static_cast<std::int64_t>(n));
    return {count, read_error};
  }
  link::Transfer Write(const std::uint8_t* data, std::size_t n) override {
    const std::size_t count = std::min(n, write_limit);
    Bytes bytes(data, data + count);
    writes.push_back(bytes);
    if (responder) {
      for (std::uint8_t b : responder(bytes)) input.push_back(b);
    }
    return {count, write_error};
  }

  // Every byte written, in order.
  Bytes Wire() const {
    Bytes all;
    for (const Bytes& w : writes) all.insert(all.end(), w.begin(), w.end());
    return all;
  }
};

}  // namespace quillon::test_support
