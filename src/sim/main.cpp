// quillon-sim: one simulated programmer board served on a pseudo-terminal.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>

#include "quillon_version.h"
#include "report/message.h"
#include "sim/board.h"
#include "sim/pty_server.h"
#include "sim/state_file.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;  // set by SIGINT/SIGTERM; a handler can reach nothing else

void OnSignal(int) {
  g_stop = 1;
}

bool ParseFirmware(const std::string& text, std::uint16_t& firmware) {
  unsigned major = 0, minor = 0;
  char dot = 0;
  if (std::sscanf(text.c_str(), "%u%c%u", &major, &dot, &minor) != 3 || dot != '.' || major > 255 ||
      minor > 255) {
    return false;
  }
  firmware = static_cast<std::uint16_t>(major << 8 | minor);
  return true;
}

// What the board's link carried and how long that took on a real link.
std::string LinkSummary(const quillon::sim::Stats& stats) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.6f", stats.simulated_seconds);
  const std::string exchanges = std::to_string(stats.exchanges);
  const std::string out = std::to_string(stats.bytes_to_board);
  const std::string in = std::to_string(stats.bytes_from_board);
  const std::uint16_t language = quillon::report::LanguageFromLocale(
      std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG"));
  return quillon::report::Pick(
      {std::string("link time ") + seconds + " s: " + exchanges + " exchanges, " + out +
           " bytes to the board, " + in + " bytes from it",
       std::string("リンク時間 ") + seconds + " 秒: やり取り " + exchanges + " 回、ボードへ " +
           out + " バイト、ボードから " + in + " バイト"},
      language);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Simulated Quillon programmer board on a pseudo-terminal", "quillon-sim"};
  app.set_version_flag("--version", "quillon-sim " QUILLON_VERSION_TEXT "\n" QUILLON_LICENSE_TEXT);
  std::string device = "dsPIC30F4013", firmware_text = "1.2", state_path, link_path, trace_path;
  bool no_executive = false, pace = false;
  app.add_option("--device", device, "target part, by catalogue name");
  app.add_option("--firmware", firmware_text, "board firmware version, e.g. 1.0 or 1.2");
  app.add_flag("--no-executive", no_executive, "no programming executive in executive memory");
  app.add_option("--state", state_path, "file that keeps the chip's memories");
  app.add_option("--link", link_path, "symlink to create to the terminal");
  app.add_option("--trace", trace_path, "file for the wire trace");
  std::optional<std::uint64_t> silent_after;
  app.add_option("--silent-after", silent_after,
                 "answer nothing more once this many commands are answered (a board that fails)");
  app.add_flag("--pace", pace,
               "answer in real time: each reply waits until its exchange has taken as long as "
               "on a real board at 230400 baud (bytes both ways, waits, erase and programming "
               "times)");
  app.footer(
      "Prints the terminal's path on the first line of standard output and, on SIGINT or "
      "SIGTERM, the link time the board modelled.");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Help and version end well; anything else is a usage error (status 2,
    // as quillon has it), not CLI11's own numbers.
    return app.exit(e) == 0 ? 0 : 2;
  }

  quillon::sim::BoardConfig config;
  config.device = device;
  config.executive = !no_executive;
  if (!ParseFirmware(firmware_text, config.firmware)) {
    std::cerr << "quillon-sim: bad firmware version " << firmware_text << '\n';
    return 2;
  }
  if (quillon::devices::FindByName(device) == nullptr) {
    std::cerr << "quillon-sim: unknown device " << device << '\n';
    return 2;
  }
  quillon::sim::Board board(config);
  board.faults().silent_after = silent_after;

  auto save = [&board, &state_path] { quillon::sim::SaveStateFile(board.target(), state_path); };
  // A path that cannot be looked at is refused: taken for "no file yet", the
  // chip would start blank and its save would fail at exit.
  std::error_code state_error;
  if (!state_path.empty() && std::filesystem::exists(state_path, state_error)) {
    std::ifstream in(state_path);
    std::string error;
    if (!quillon::sim::LoadState(board.target(), in, error)) {
      std::cerr << "quillon-sim: " << state_path << ": " << error << '\n';
      return 1;
    }
  } else if (state_error) {
    std::cerr << "quillon-sim: " << state_path << ": " << state_error.message() << '\n';
    return 1;
  }
  board.SetExitHook(save);

  std::ofstream trace;
  if (!trace_path.empty()) {
    trace.open(trace_path, std::ios::trunc);
    board.SetTrace(&trace);
  }

  quillon::sim::PtyServer server(board, pace);
  std::string error;
  if (!server.Open(error)) {
    std::cerr << "quillon-sim: " << error << '\n';
    return 1;
  }
  if (!link_path.empty()) {
    std::error_code ignored;
    std::filesystem::remove(link_path, ignored);
    std::filesystem::create_symlink(server.slave_path(), link_path, ignored);
    if (ignored) {
      std::cerr << "quillon-sim: cannot create " << link_path << ": " << ignored.message() << '\n';
      return 1;
    }
  }
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  // Whoever started us may have read the terminal's path and closed the pipe.
  std::signal(SIGPIPE, SIG_IGN);
  std::cout << server.slave_path() << std::endl;

  server.Serve(g_stop);
  save();
  if (!link_path.empty()) {
    std::error_code ignored;
    std::filesystem::remove(link_path, ignored);
  }
  std::cout << LinkSummary(board.stats()) << std::endl;
  return 0;
}
