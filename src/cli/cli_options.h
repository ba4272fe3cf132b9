// The command line of the console tool.
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/console_view.h"
#include "cli/exit_codes.h"

namespace CLI {
class App;
}

namespace quillon::cli {

enum class Command {
  kDevices,
  kPorts,
  kConnect,
  kDetect,
  kErase,
  kCheck,
  kWrite,
  kVerify,
  kRead,
  kRestoreRow,
};

std::string_view CommandName(Command command);

struct CliOptions {
  Command command = Command::kDevices;
  std::string argument;            // PATTERN, FILE or DIR
  std::string port;                // -P: the first one given
  std::vector<std::string> ports;  // every -P, in order: several run side by side
  std::string device;              // -p
  bool no_erase = false;
  bool no_verify = false;
  bool incremental = false;  // write: only what differs, no bulk erase
  bool plain_icsp = false;   // --icsp: "Enhanced ICSP" unchecked
  bool force = false;        // go on when another part (or none) answers
  bool dry_run = false;      // -n
  bool json = false;         // --json
  std::string exec_dir;      // "" = the remembered one, else the current directory
  std::string output;        // read -o FILE
  std::string listing;       // read --listing FILE
  std::string lang;          // "", "en" or "ja"
  std::string serial;        // write --serial ADDR[:START[:STEP]][:W=N]
  std::string serial_state;  // --serial-state FILE; "" = beside the settings
  std::string log;           // write --log FILE
  Verbosity verbosity = Verbosity::kNormal;
};

struct ParseOutcome {
  std::optional<CliOptions> options;  // empty: stop with `result`
  Result result = Result::kOk;
};

// Parses argv; help, version and usage errors are printed here.
ParseOutcome ParseCommandLine(const std::vector<std::string>& args, std::ostream& out,
                              std::ostream& err);

// Builds the tool's command line and hands it to `use`, so that the manual
// page and the completion script follow the same definitions as --help.
void WithCommandLine(const std::function<void(const CLI::App&)>& use);

// The manual page in roff, and the bash completion script (man_page.cpp).
void WriteManPage(std::ostream& out);
void WriteBashCompletion(std::ostream& out);

}  // namespace quillon::cli
