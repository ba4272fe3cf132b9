// The console commands: their options, the checks made before a board is
// touched, the run, the summary and the JSON, registered in command.cpp.
#pragma once

#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include "app/operation_runner.h"
#include "cli/cli_options.h"
#include "cli/exit_codes.h"
#include "cli/port_session.h"
#include "cli/run_record.h"
#include "cli/runner.h"
#include "devices/catalogue.h"
#include "report/message.h"

namespace quillon::cli {

// Which options a command takes; the help of each command lists exactly
// these, and an option given before a command it does not apply to is
// refused rather than silently ignored.
enum Group : unsigned {
  kBoard = 1,          // -P
  kPart = 2,           // -p
  kExecutive = 4,      // --exec-dir, --icsp
  kWriting = 8,        // --no-erase, --no-verify
  kDryRun = 16,        // -n
  kReadFiles = 32,     // -o, --listing
  kIdentity = 64,      // --force
  kIncremental = 128,  // --incremental
  kProduction = 256,   // --serial, --serial-state, --log
};

// What a command's run on one port has at hand once the board answered.
struct PortRun : PortContext {
  app::OperationRunner& app;
  // Another part (or none) answered: the record names what answered.
  bool identity_refused = false;

  bool StopRequested() const { return stop_request != nullptr && stop_request->load(); }
  void Error(const report::MessagePair& message) {
    view.ShowStatus(report::Pick(message, language), report::StatusKind::kError);
  }
};

// A command as data; a function left null does nothing.
struct ConsoleCommand {
  Command id;
  const char* name;
  unsigned groups;
  const char* help;
  const char* argument = nullptr;  // nullptr: none
  const char* argument_help = nullptr;
  bool argument_required = false;
  bool on_board = true;        // false: answered here, no port (devices, ports)
  bool needs_part = false;     // the part is detected or its identity confirmed first
  bool names_file = false;     // the argument is the file written or compared
  bool shows_results = false;  // the engine's own texts are the answer
  // Why the parsed command line cannot be run, or "".
  std::string (*refusal)(const CliOptions&) = nullptr;
  // Before any board is touched: kOk, or the result with its reason printed.
  Result (*check)(const CliOptions&, Environment&, std::size_t port_count,
                  std::uint16_t language) = nullptr;
  // A command without a board; with --json its answer is the JSON.
  Result (*run_here)(const CliOptions&, Environment&, std::uint16_t language) = nullptr;
  // On the board, after Connect (and the identity check).
  Result (*run)(PortRun&, RunRecord&) = nullptr;
  // What the summary line says after "PART: "; null: no summary.
  std::string (*summary)(const RunRecord&, std::uint16_t language) = nullptr;
  // Fields of its own in the JSON object.
  void (*json)(const RunRecord&, std::ostream&) = nullptr;
};

// Every command, in the order of the help.
std::span<const ConsoleCommand* const> Commands();
const ConsoleCommand& CommandFor(Command id);

extern const ConsoleCommand kDevices, kPorts, kConnect, kDetect, kErase, kCheck, kWrite, kVerify,
    kRead, kRestoreRow;

// `text` with ASCII letters in lower case.
std::string Lower(std::string_view text);

// Name, DeviceID (4 hex digits), socket, program words, EEPROM bytes, family.
std::string DeviceLine(const devices::DeviceRecord& row);

// Every row whose name contains `pattern`, ignoring case, as lines or as
// one JSON array; returns the count.
int ListDevices(std::string_view pattern, std::ostream& out, bool json = false);

// Prints "quillon: TEXT" and gives the status; for the checks.
Result UsageError(Environment& env, const std::string& text);
Result FileError(Environment& env, const report::MessagePair& text, std::uint16_t language);
// Refuses a file the loader cannot read, with the system's reason.
Result CheckReadable(Environment& env, const std::string& path, bool kept, std::uint16_t language);

}  // namespace quillon::cli
