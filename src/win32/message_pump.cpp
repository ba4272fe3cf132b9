#include "win32/message_pump.h"

#include <windows.h>

namespace quillon::win32 {

namespace {

bool KeyboardNavigation(HWND window, MSG& message) {
  return window != nullptr && IsWindow(window) && IsDialogMessageA(window, &message);
}

}  // namespace

bool PumpMessages(HWND window) {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) return false;
    if (KeyboardNavigation(window, message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return true;
}

int RunMessageLoop(HWND window) {
  MSG message;
  BOOL result;
  while ((result = GetMessageA(&message, nullptr, 0, 0)) != 0 && result != -1) {
    if (KeyboardNavigation(window, message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return result == 0 ? static_cast<int>(message.wParam) : 0;
}

}  // namespace quillon::win32
