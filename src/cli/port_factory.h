// The ports and the settings store of the platform the tool runs on.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/front_end.h"
#include "icsp/kept_words.h"
#include "link/port_info.h"
#include "link/serial_port.h"

namespace quillon::cli {

// "sim" and "sim:DEVICE[,...]" give the in-process simulated board (nullptr
// with the reason in `error` for one that cannot be made); any other name is
// a serial port of the platform.
std::unique_ptr<link::SerialPort> MakePort(const std::string& name, std::string& error);

// The serial ports the system knows of.
std::vector<link::PortInfo> ListPorts();

// $XDG_CONFIG_HOME/quillon/settings on POSIX systems, the registry on Windows.
std::unique_ptr<app::SettingsStore> MakeSettingsStore();

// Where an erase keeps the part's own words: $XDG_CONFIG_HOME/quillon/rows,
// %APPDATA%\Quillon\rows on Windows.
std::unique_ptr<icsp::KeptWordsStore> MakeKeptWordsStore();

// Where the tool keeps its own files (serial number states): the settings'
// directory, %APPDATA%\Quillon on Windows; empty when there is none.
std::filesystem::path ConfigDirectory();

// The language identifier the messages follow by default: the locale
// variables on POSIX systems, the system default language on Windows.
std::uint16_t DefaultLanguage();

// Whether standard error is a terminal (for the progress indicator).
bool StderrIsTerminal();

}  // namespace quillon::cli
