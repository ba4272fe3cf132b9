#include "cli/stop_request.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#endif

namespace quillon::cli {
namespace {

// A handler can reach nothing but static storage; a lock-free atomic is safe
// to store from a signal handler and from Windows' handler thread.
std::atomic<bool> stop_requested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

#ifdef _WIN32
BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  stop_requested.store(true);
  return TRUE;
}
#else
void OnSignal(int) {
  stop_requested.store(true);
}
#endif

}  // namespace

const std::atomic<bool>* InstallStopHandlers() {
#ifdef _WIN32
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
#else
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // Console output restarts; the port's poll() returns early and its loops
  // carry on, so a request is seen within the current row.
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
#endif
  return &stop_requested;
}

}  // namespace quillon::cli
