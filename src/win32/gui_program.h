// The whole windowed program: the window, the application logic behind it,
// the settings, the serial port and the message loop.
#pragma once

#include <windows.h>

#include <cstdint>

namespace quillon::win32 {

// Registers every common control class (the progress bar among them).
void InitControlClasses();

// Runs until the window is closed; returns the process's exit code.
int RunGui(HINSTANCE instance);

// The system's default language, asked again for every message.
std::uint16_t SystemLanguage();

}  // namespace quillon::win32
