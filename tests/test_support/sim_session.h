// A programming session wired to the simulated board and chip, with a
// recording status line and fixed option marks ("Enhanced ICSP" off until a
// test turns it on).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "devices/selection.h"
#include "icsp/session.h"
#include "sim/sim_port.h"
#include "test_support/recording_sink.h"

namespace quillon::test_support {

inline constexpr std::uint16_t kFirmware10 = 0x0100;  // batch words only
inline constexpr std::uint16_t kFirmware12 = 0x0102;  // board letters

inline sim::BoardConfig BoardFor(const std::string& device, std::uint16_t firmware = kFirmware12,
                                 bool executive = true) {
  sim::BoardConfig config;
  config.device = device;
  config.firmware = firmware;
  config.executive = executive;
  return config;
}

// The three ways a session reaches a part: the board's batch words (old
// firmware), the board's letters, and the programming executive.
enum class SimMode { kBatch, kLetters, kEnhanced };

inline const char* SimModeName(SimMode mode) {
  static const char* const kNames[] = {"Batch", "Letters", "Enhanced"};
  return kNames[static_cast<int>(mode)];
}

class SimSession {
 public:
  // The host believes the firmware version the board reports.
  explicit SimSession(const sim::BoardConfig& config) : port(config) {
    options.enhanced_icsp = false;
    session.set_firmware_version(config.firmware);
    session.BeginOperation();
  }

  // Selects a part the way the device list does; the socket text is dropped.
  bool Select(const std::string& name) {
    const bool ok = devices::SelectDevice(session.device(), name, *reporter);
    sink.entries.clear();
    return ok;
  }
  // Selects the part the simulated chip is.
  bool SelectSimulated() { return Select(port.board().config().device); }

  sim::Target& target() { return port.target(); }
  std::vector<std::string> Errors() const { return sink.texts_of(report::StatusKind::kError); }
  std::vector<std::string> Results() const { return sink.texts_of(report::StatusKind::kResult); }

  RecordingSink sink;
  std::unique_ptr<report::Reporter> reporter = sink.MakeReporter();
  report::FixedOptions options;
  sim::SimPort port;
  icsp::Session session{port, *reporter, options};
};

}  // namespace quillon::test_support
