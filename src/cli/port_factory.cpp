#include "cli/port_factory.h"

#include <cstdlib>

#include "app/kept_words_directory.h"
#include "report/message.h"
#include "sim/sim_port.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "win32/port_list.h"
#include "win32/registry_settings.h"
#include "win32/serial_port.h"
#else
#include <unistd.h>

#include "posix/port_list.h"
#include "posix/serial_port.h"
#include "posix/settings_file.h"
#endif

namespace quillon::cli {

std::unique_ptr<link::SerialPort> MakePort(const std::string& name, std::string& error) {
  if (name == "sim" || name.starts_with("sim:")) return sim::MakeSimPort(name, &error);
#ifdef _WIN32
  return std::make_unique<win32::Win32SerialPort>();
#else
  return std::make_unique<posix::PosixSerialPort>();
#endif
}

std::vector<link::PortInfo> ListPorts() {
#ifdef _WIN32
  return win32::ListSerialPorts();
#else
  return posix::ListSerialPorts();
#endif
}

std::unique_ptr<app::SettingsStore> MakeSettingsStore() {
#ifdef _WIN32
  return std::make_unique<win32::RegistrySettings>();
#else
  return std::make_unique<posix::SettingsFile>(posix::SettingsFile::FromEnvironment());
#endif
}

std::unique_ptr<icsp::KeptWordsStore> MakeKeptWordsStore() {
#ifdef _WIN32
  return std::make_unique<app::KeptWordsDirectory>(win32::KeptWordsPath());
#else
  // Next to the settings file: $XDG_CONFIG_HOME/quillon/rows.
  const std::filesystem::path settings = posix::SettingsFile::FromEnvironment().path();
  return std::make_unique<app::KeptWordsDirectory>(
      settings.empty() ? settings : settings.parent_path() / "rows");
#endif
}

std::filesystem::path ConfigDirectory() {
#ifdef _WIN32
  return win32::KeptWordsPath().parent_path();
#else
  return posix::SettingsFile::FromEnvironment().path().parent_path();
#endif
}

std::uint16_t DefaultLanguage() {
#ifdef _WIN32
  // The windowed program's rule: the system's default language identifier.
  return GetSystemDefaultLangID();
#else
  return report::LanguageFromLocale(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"),
                                    std::getenv("LANG"));
#endif
}

bool StderrIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return ::isatty(STDERR_FILENO) != 0;
#endif
}

}  // namespace quillon::cli
