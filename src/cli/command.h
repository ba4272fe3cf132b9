// One console command: its options, the checks it makes before a board is
// touched, its run, its summary and its JSON. Each command lives in a file
// of its own (command_*.cpp) and is registered in the one table of
// command.cpp.
#pragma once

#include <atomic>
#include <cstdint>
#include <ostream>
#include <span>
#include <string>

#include "app/operation_runner.h"
#include "cli/cli_options.h"
#include "cli/exit_codes.h"
#include "cli/run_record.h"
#include "cli/runner.h"
#include "cli/serial_numbers.h"
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
struct PortRun {
  const CliOptions& o;
  app::OperationRunner& app;
  app::StatusView& view;
  std::uint16_t language;
  const std::atomic<bool>* stop_request;
  SerialNumbers* serials;
  // Another part (or none) answered: the record names what answered.
  bool identity_refused = false;

  bool StopRequested() const { return stop_request != nullptr && stop_request->load(); }
  void Error(const report::MessagePair& message) {
    view.ShowStatus(report::Pick(message, language), report::StatusKind::kError);
  }
  // The words of the HEX file at `path` into the record, whatever the
  // operation left in the image; false when it does not load.
  bool CountFile(const std::string& path, RunRecord& record) const;
};

class ConsoleCommand {
 public:
  struct Definition {
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
  };

  explicit ConsoleCommand(Definition definition) : d(definition) {}
  virtual ~ConsoleCommand() = default;

  // Why the parsed command line cannot be run, or "".
  virtual std::string Refusal(const CliOptions&) const { return ""; }
  // Before any board is touched: kOk, or the result once the reason is
  // printed.
  virtual Result Check(const CliOptions&, Environment&, std::size_t /*port_count*/,
                       std::uint16_t /*language*/) const {
    return Result::kOk;
  }
  // A command without a board; with --json its answer is the JSON.
  virtual Result RunHere(const CliOptions&, Environment&, std::uint16_t /*language*/) const {
    return Result::kOk;
  }
  // On the board, after Connect (and the identity check).
  virtual Result Run(PortRun&, RunRecord&) const { return Result::kOk; }
  // What the summary line says after "PART: ", or "" for no summary.
  virtual std::string Summary(const RunRecord&, std::uint16_t /*language*/) const { return ""; }
  // Fields of its own in the JSON object.
  virtual void Json(const RunRecord&, std::ostream&) const {}

  const Definition d;
};

// Every command, in the order of the help.
std::span<const ConsoleCommand* const> Commands();
const ConsoleCommand& CommandFor(Command id);

const ConsoleCommand& DevicesCommand();
const ConsoleCommand& PortsCommand();
const ConsoleCommand& ConnectCommand();
const ConsoleCommand& DetectCommand();
const ConsoleCommand& EraseCommand();
const ConsoleCommand& CheckCommand();
const ConsoleCommand& WriteCommand();
const ConsoleCommand& VerifyCommand();
const ConsoleCommand& ReadCommand();
const ConsoleCommand& RestoreRowCommand();

// Prints "quillon: TEXT" and gives the status; for the checks.
Result UsageError(Environment& env, const std::string& text);
Result FileError(Environment& env, const report::MessagePair& text, std::uint16_t language);
// Refuses a file the loader cannot read, with the system's reason.
Result CheckReadable(Environment& env, const std::string& path, bool kept, std::uint16_t language);

}  // namespace quillon::cli
