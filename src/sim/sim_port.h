// The simulated programmer board as a serial port, for tests and for the
// "sim" port name. Including this header gives the whole simulator API.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "link/serial_port.h"
#include "sim/board.h"
#include "sim/target.h"

namespace quillon::sim {

// The board is plugged in from construction: reads and writes work with or
// without Open. A read returns fewer bytes than asked when the board has no
// more (the host's time-out), and charges the time-out to the virtual clock.
class SimPort : public link::SerialPort {
 public:
  explicit SimPort(BoardConfig config);
  ~SimPort() override;

  std::vector<std::string> Open(const std::string& name) override;
  std::vector<std::string> Close() override;
  link::Transfer Read(std::uint8_t* data, std::size_t n) override;
  link::Transfer Write(const std::uint8_t* data, std::size_t n) override;

  Board& board() { return board_; }
  Target& target() { return board_.target(); }

  // Keeps the chip in a state file: loaded now (false with a reason when
  // the file is for another part or damaged), saved at every Close.
  bool KeepStateIn(const std::string& path, std::string& error);

 private:
  Board board_;
  std::string state_path_;
};

// "sim" (dsPIC30F4013, executive present, firmware 1.2) or "sim:DEVICE"
// with optional suffixes ",fw=1.0", ",noexec", ",notarget", ",id=XXXX",
// ",state=FILE". nullptr for an unknown device or suffix, or a state file
// that cannot be used (the reason in `error` when given).
std::unique_ptr<SimPort> MakeSimPort(std::string_view port_name, std::string* error = nullptr);

}  // namespace quillon::sim
