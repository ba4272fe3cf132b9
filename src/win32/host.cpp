#include "app/host.h"

#include <io.h>
#include <windows.h>

#include <cstdio>

#include "app/kept_words_directory.h"
#include "win32/port_list.h"
#include "win32/registry_settings.h"
#include "win32/serial_port.h"

namespace quillon::app {
namespace {

// The handler runs on a thread of its own and reaches only static storage.
std::atomic<bool> stop_requested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  stop_requested.store(true);
  return TRUE;
}

}  // namespace

std::unique_ptr<link::SerialPort> MakeSerialPort() {
  return std::make_unique<win32::Win32SerialPort>();
}

std::vector<link::PortInfo> ListSerialPorts() {
  return win32::ListSerialPorts();
}

std::unique_ptr<SettingsStore> MakeSettingsStore() {
  return std::make_unique<win32::RegistrySettings>();
}

std::unique_ptr<icsp::KeptWordsStore> MakeKeptWordsStore() {
  return std::make_unique<KeptWordsDirectory>(win32::KeptWordsPath());
}

std::filesystem::path ConfigDirectory() {
  return win32::KeptWordsPath().parent_path();
}

std::uint16_t DefaultLanguage() {
  // The windowed program's rule: the system's default language identifier.
  return GetSystemDefaultLangID();
}

// quillon.exe is the window.
std::string_view ConsoleProgramName() {
  return "quillon-cli";
}

std::string RememberedPortName(const std::string& port_name) {
  return port_name;
}

void PrepareConsole() {
  SetConsoleOutputCP(CP_UTF8);
}

bool StderrIsTerminal() {
  return _isatty(_fileno(stderr)) != 0;
}

const std::atomic<bool>* InstallStopHandlers() {
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  return &stop_requested;
}

}  // namespace quillon::app
