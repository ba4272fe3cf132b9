// The main message loop and the pump that keeps the window alive while a
// command runs inside the window procedure. Both give the window's keys to
// IsDialogMessage first: Tab between the controls, Enter and Space on buttons.
#pragma once

#include <windows.h>

namespace quillon::win32 {

// Drains the queue. Returns false, leaving the rest of the queue, when it
// meets WM_QUIT (the window was closed while a command ran); the window then
// ends the process at once.
bool PumpMessages(HWND window = nullptr);

// GetMessage, TranslateMessage, DispatchMessage until WM_QUIT or an error.
int RunMessageLoop(HWND window = nullptr);

}  // namespace quillon::win32
