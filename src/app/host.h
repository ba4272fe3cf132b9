// What the system around a front-end provides: ports, the remembered
// settings, where files are kept, the language and the console. Declared
// here once; each platform library (src/posix, src/win32) defines it, and
// the build links the one of the system it targets.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/front_end.h"
#include "icsp/kept_words.h"
#include "link/port_info.h"
#include "link/serial_port.h"

namespace quillon::app {

// A serial port of the platform, not yet open.
std::unique_ptr<link::SerialPort> MakeSerialPort();

// The serial ports the system knows of.
std::vector<link::PortInfo> ListSerialPorts();

// $XDG_CONFIG_HOME/quillon/settings on POSIX systems, the registry on Windows.
std::unique_ptr<SettingsStore> MakeSettingsStore();

// Where an erase keeps the part's own words: $XDG_CONFIG_HOME/quillon/rows,
// %APPDATA%\Quillon\rows on Windows.
std::unique_ptr<icsp::KeptWordsStore> MakeKeptWordsStore();

// Where the tool keeps its own files (serial number states): the settings'
// directory, %APPDATA%\Quillon on Windows; empty when there is none.
std::filesystem::path ConfigDirectory();

// The language identifier the messages follow by default: the locale
// variables on POSIX systems, the system default language on Windows.
std::uint16_t DefaultLanguage();

// The console tool's program name, as a hint to run it is spelled.
std::string_view ConsoleProgramName();

// A port name as it is remembered: a relative device path made absolute,
// so that a run from another directory reaches the same port (Windows
// port names are no paths).
std::string RememberedPortName(const std::string& port_name);

// Console output takes the UTF-8 of the Japanese messages.
void PrepareConsole();

// Whether standard error is a terminal (for the progress indicator).
bool StderrIsTerminal();

// Installs the handlers (SIGINT and SIGTERM; the console control handler on
// Windows) and returns the flag they raise. The process keeps running: the
// operation stops at its next safe point.
const std::atomic<bool>* InstallStopHandlers();

}  // namespace quillon::app
