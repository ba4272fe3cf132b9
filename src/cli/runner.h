// Runs one command of the console tool against the application logic.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/front_end.h"
#include "cli/cli_options.h"
#include "icsp/kept_words.h"
#include "link/port_info.h"
#include "link/serial_port.h"
#include "report/clock.h"

namespace quillon::cli {

// What a run needs from the world; tests supply fakes and the simulator.
struct Environment {
  app::SettingsStore& settings;
  std::ostream& out;
  std::ostream& err;
  report::Clock& clock;
  // nullptr (with the reason when known) for a port name that cannot be used.
  std::function<std::unique_ptr<link::SerialPort>(const std::string&, std::string&)> make_port;
  std::uint16_t locale_language;
  bool progress_on_terminal = false;
  std::function<std::int64_t()> now_ms = nullptr;  // for the verbose throttle
  // Raised by Ctrl-C / SIGTERM; nullptr: never.
  const std::atomic<bool>* stop_request = nullptr;
  std::function<std::vector<link::PortInfo>()> list_ports = nullptr;
  // Where an erase keeps the part's own words first; nullptr: nowhere.
  icsp::KeptWordsStore* kept_words = nullptr;
  // A clock for each of several ports run side by side; nullptr: they
  // share `clock` (which must then be safe to share).
  std::function<std::unique_ptr<report::Clock>()> make_clock = nullptr;
  // Where serial number states live unless --serial-state says; "": nowhere.
  std::filesystem::path config_dir = {};
};

// The exit status of the run.
Result RunCommand(const CliOptions& options, Environment& env);

}  // namespace quillon::cli
