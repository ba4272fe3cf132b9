#include "sim/sim_port.h"

#include <charconv>
#include <filesystem>
#include <fstream>

#include "sim/state_file.h"

namespace quillon::sim {
namespace {

// The host's read time-out: 1280 + 2n ms in all, 20 ms between bytes.
std::uint64_t TimeoutNs(std::size_t asked, std::size_t received) {
  if (received > 0) return 21 * kMillisecond;
  return (1280 + 2 * static_cast<std::uint64_t>(asked)) * kMillisecond;
}

}  // namespace

SimPort::SimPort(BoardConfig config) : board_(std::move(config)) {}

SimPort::~SimPort() {
  SaveStateFile(board_.target(), state_path_);
}

bool SimPort::KeepStateIn(const std::string& path, std::string& error) {
  std::error_code ec;
  if (std::filesystem::exists(path, ec)) {
    std::ifstream in(path);
    if (!in || !LoadState(board_.target(), in, error)) {
      if (error.empty()) error = "cannot read the file";
      return false;
    }
  } else if (ec) {
    error = ec.message();
    return false;
  }
  state_path_ = path;
  return true;
}

std::vector<std::string> SimPort::Open(const std::string&) {
  return {};
}

std::vector<std::string> SimPort::Close() {
  SaveStateFile(board_.target(), state_path_);
  return {};
}

link::Transfer SimPort::Write(const std::uint8_t* data, std::size_t n) {
  board_.Receive(data, n);
  return {n, {}};
}

link::Transfer SimPort::Read(std::uint8_t* data, std::size_t n) {
  std::size_t count = board_.Take(data, n);
  if (count < n) {
    board_.AdvanceTime(TimeoutNs(n, count));
  }
  return {count, {}};
}

std::unique_ptr<SimPort> MakeSimPort(std::string_view port_name, std::string* error) {
  if (port_name != "sim" && !port_name.starts_with("sim:")) return nullptr;
  BoardConfig config;
  std::string state_path;
  if (port_name.size() > 4) {
    std::string_view rest = port_name.substr(4);
    for (bool first = true; first || !rest.empty(); first = false) {
      const std::size_t comma = rest.find(',');
      const std::string_view item = rest.substr(0, comma);
      rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
      if (first) {
        if (devices::FindByName(item) == nullptr) return nullptr;
        config.device = std::string(item);
      } else if (item == "fw=1.0") {
        config.firmware = 0x0100;
      } else if (item == "fw=1.2") {
        config.firmware = 0x0102;
      } else if (item == "noexec") {
        config.executive = false;
      } else if (item == "notarget") {
        config.target_present = false;
      } else if (item.starts_with("id=") && item.size() == 7) {
        unsigned value = 0;
        const auto [end, error] = std::from_chars(item.data() + 3, item.data() + 7, value, 16);
        if (error != std::errc{} || end != item.data() + 7) return nullptr;
        config.device_id_override = static_cast<std::uint16_t>(value);
      } else if (item.starts_with("state=") && item.size() > 6) {
        state_path = std::string(item.substr(6));
      } else {
        return nullptr;
      }
    }
  }
  auto port = std::make_unique<SimPort>(std::move(config));
  std::string reason;
  if (!state_path.empty() && !port->KeepStateIn(state_path, reason)) {
    if (error != nullptr) *error = state_path + ": " + reason;
    return nullptr;
  }
  return port;
}

}  // namespace quillon::sim
