// Whole-chip operations against the simulated board, in each of the host's
// three modes: how many exchanges and bytes cross the link, how long the link
// would take at 230400 baud (the simulator's virtual clock), and how much host
// CPU time the engine and simulator spend.
#include <chrono>
#include <cstdio>
#include <random>
#include <string>

#include "devices/selection.h"
#include "icsp/operations.h"
#include "icsp/session.h"
#include "report/reporter.h"
#include "sim/sim_port.h"

using namespace quillon;

namespace {

struct Mode {
  const char* name;
  std::uint16_t firmware;
  bool enhanced;
};

struct Run {
  sim::Stats stats;
  double cpu_seconds;
};

template <typename Operation>
Run Measure(const std::string& device, const Mode& mode, Operation operation) {
  report::NullSink sink;
  report::ManualClock clock;
  report::Reporter reporter(sink, clock, [] { return report::kEnglishLangId; });
  report::FixedOptions options;
  options.enhanced_icsp = mode.enhanced;
  sim::BoardConfig config;
  config.device = device;
  config.firmware = mode.firmware;
  sim::SimPort port(config);
  icsp::Session session(port, reporter, options);
  session.set_firmware_version(mode.firmware);
  devices::SelectDevice(session.device(), device, reporter);
  session.BeginOperation();
  const auto start = std::chrono::steady_clock::now();
  operation(session);
  const std::chrono::duration<double> cpu = std::chrono::steady_clock::now() - start;
  return Run{port.board().stats(), cpu.count()};
}

void Print(const char* what, const std::string& device, const Mode& mode, const Run& run) {
  std::printf(
      "%-6s %-18s %-9s %9llu exchanges %10llu B out %9llu B in  link %8.1f s  host %6.3f s\n", what,
      device.c_str(), mode.name, static_cast<unsigned long long>(run.stats.exchanges),
      static_cast<unsigned long long>(run.stats.bytes_to_board),
      static_cast<unsigned long long>(run.stats.bytes_from_board), run.stats.simulated_seconds,
      run.cpu_seconds);
}

}  // namespace

int main() {
  const Mode modes[] = {
      {"batch", 0x0100, false}, {"letters", 0x0102, false}, {"enhanced", 0x0102, true}};
  const std::string devices[] = {"dsPIC30F6014", "dsPIC33FJ256GP710"};
  for (const std::string& device : devices) {
    for (const Mode& mode : modes) {
      Print("read", device, mode,
            Measure(device, mode, [](icsp::Session& s) { icsp::ReadDevice(s, BENCH_OUTPUT_DIR); }));
      Print(
          "write", device, mode, Measure(device, mode, [](icsp::Session& s) {
            // Every program word set: no row can be skipped as blank.
            std::mt19937 random(7);
            s.image().Clear(s.device());
            const std::size_t units = 2 * static_cast<std::size_t>(s.device().device.program_words);
            for (std::size_t u = 0; u < units; ++u) {
              s.image().program[u] = static_cast<std::uint16_t>(u % 2 ? random() & 0xFF : random());
            }
            icsp::WriteDevice(s);
          }));
    }
  }
  return 0;
}
