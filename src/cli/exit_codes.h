// The tool's exit statuses, mapped from an operation's outcome in one place.
#pragma once

#include "icsp/session.h"

namespace quillon::cli {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitProblem = 1;       // not blank, mismatch, unknown device, no DeviceID
inline constexpr int kExitUsage = 2;         // bad command line, no port, unknown device name
inline constexpr int kExitLinkFailure = 3;   // port or link failure, Connect failed
inline constexpr int kExitFileRejected = 4;  // HEX file rejected or unreadable

inline int ExitCodeFor(icsp::Outcome outcome) {
  switch (outcome) {
    case icsp::Outcome::kOk:
      return kExitSuccess;
    case icsp::Outcome::kProblem:
      return kExitProblem;
    case icsp::Outcome::kLinkFailure:
      return kExitLinkFailure;
    case icsp::Outcome::kFileRejected:
      return kExitFileRejected;
  }
  return kExitProblem;
}

// For --help and the documentation.
inline constexpr const char* kExitCodeHelp =
    "Exit status:\n"
    "  0  success\n"
    "  1  the operation found a problem (not blank, verification mismatch,\n"
    "     unknown device, no DeviceID)\n"
    "  2  usage error (bad arguments, no port, unknown device name)\n"
    "  3  port or link failure, including a failed connect (\"disconnected!\")\n"
    "  4  a file could not be used: the HEX or executive file was rejected\n"
    "     or unreadable, or read could not write its output files\n";

}  // namespace quillon::cli
