// Ctrl-C and termination requests, turned into a flag the engine polls at
// row boundaries.
#pragma once

#include <atomic>

namespace quillon::cli {

// Installs the handlers (SIGINT and SIGTERM; the console control handler on
// Windows) and returns the flag they raise. The process keeps running: the
// operation stops at its next safe point.
const std::atomic<bool>* InstallStopHandlers();

}  // namespace quillon::cli
