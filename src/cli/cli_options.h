// The command line of the console tool.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/console_view.h"

namespace quillon::cli {

struct CliOptions {
  std::string command;   // devices, connect, detect, erase, check, write, read, restore-row
  std::string argument;  // PATTERN, FILE or DIR
  std::string port;      // -P
  std::string device;    // -p
  bool no_erase = false;
  bool no_verify = false;
  bool incremental = false;  // write: only what differs, no bulk erase
  bool plain_icsp = false;   // --icsp: "Enhanced ICSP" unchecked
  bool force = false;        // go on when another part (or none) answers
  std::string exec_dir;      // "" = the current directory
  std::string lang;          // "", "en" or "ja"
  Verbosity verbosity = Verbosity::kNormal;
};

struct ParseOutcome {
  std::optional<CliOptions> options;  // empty: stop with `exit_code`
  int exit_code = 0;
};

// Parses argv; help and usage errors are printed here.
ParseOutcome ParseCommandLine(const std::vector<std::string>& args, std::ostream& out,
                              std::ostream& err);

}  // namespace quillon::cli
