// The tool's exit statuses and the results they are made from, in one place.
#pragma once

#include "icsp/session.h"

namespace quillon::cli {

// How a run ended, valued as its exit status. Only the process's entry
// point makes it a number (ExitStatus); the JSON object and the log name it.
enum class Result {
  kOk = 0,
  kProblem = 1,       // not blank, mismatch, unknown device, no DeviceID
  kUsage = 2,         // bad command line, no port, unknown device name
  kLinkFailure = 3,   // port or link failure, Connect failed
  kFileRejected = 4,  // HEX file rejected or unreadable
  kWordsNotKept = 5,  // the part's own words could not be kept
  kStopped = 130,     // Ctrl-C or SIGTERM: stopped at a safe point
};

constexpr int ExitStatus(Result result) {
  return static_cast<int>(result);
}

inline constexpr int kExitSuccess = ExitStatus(Result::kOk);
inline constexpr int kExitProblem = ExitStatus(Result::kProblem);
inline constexpr int kExitUsage = ExitStatus(Result::kUsage);
inline constexpr int kExitLinkFailure = ExitStatus(Result::kLinkFailure);
inline constexpr int kExitFileRejected = ExitStatus(Result::kFileRejected);
inline constexpr int kExitWordsNotKept = ExitStatus(Result::kWordsNotKept);
inline constexpr int kExitStopped = ExitStatus(Result::kStopped);

// The engine's outcomes carry the values of the results they end in.
static_assert(static_cast<int>(icsp::Outcome::kProblem) == kExitProblem &&
              static_cast<int>(icsp::Outcome::kLinkFailure) == kExitLinkFailure &&
              static_cast<int>(icsp::Outcome::kFileRejected) == kExitFileRejected &&
              static_cast<int>(icsp::Outcome::kWordsNotKept) == kExitWordsNotKept &&
              static_cast<int>(icsp::Outcome::kStopped) == kExitStopped);
inline Result ResultFor(icsp::Outcome outcome) {
  return static_cast<Result>(outcome);
}

// Several ports end with the most severe of their results: a stop request
// first (the operator asked), then what concerns the line rather than one
// part (board or link, file, command line), then a part's problem.
inline int Severity(Result result) {
  switch (result) {
    case Result::kOk:
      return 0;
    case Result::kProblem:
      return 1;
    case Result::kUsage:
      return 2;
    case Result::kFileRejected:
    case Result::kWordsNotKept:
      return 3;
    case Result::kLinkFailure:
      return 4;
    case Result::kStopped:
      return 6;
  }
  return 5;
}

inline Result MostSevere(Result a, Result b) {
  return Severity(b) > Severity(a) ? b : a;
}

// For --help and the documentation.
inline constexpr const char* kExitCodeHelp =
    "Exit status:\n"
    "  0  success\n"
    "  1  the operation found a problem (not blank, verification mismatch,\n"
    "     unknown device, no DeviceID, no target responds, or a different part\n"
    "     than the one selected answers; --force goes on regardless)\n"
    "  2  usage error (bad arguments, no port, unknown device name)\n"
    "  3  port or link failure, including a failed connect (\"disconnected!\")\n"
    "  4  a file could not be used: the HEX or executive file was rejected\n"
    "     or unreadable, or read could not write its output files\n"
    "  5  the part's own words in executive memory (calibration or unit ID\n"
    "     words) could not be kept in a file: nothing was erased or written\n"
    "  130  stopped by Ctrl-C (SIGINT) or SIGTERM: the row in progress is\n"
    "       finished, programming mode left and the port closed\n"
    "With several -P ports: 0 only if every port succeeded, otherwise the most\n"
    "severe of the ports' statuses, in this order: 130, 3, 4 or 5, 2, 1.\n";

}  // namespace quillon::cli
