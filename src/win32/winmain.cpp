// Entry point of quillon.exe, the windowed programmer.
#include "win32/gui_program.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  return quillon::win32::RunGui(instance);
}
