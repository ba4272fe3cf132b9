#include "app/host.h"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>

#include "app/kept_words_directory.h"
#include "posix/port_list.h"
#include "posix/serial_port.h"
#include "posix/settings_file.h"
#include "report/message.h"

namespace quillon::app {
namespace {

// A handler can reach nothing but static storage; a lock-free atomic is safe
// to store from a signal handler.
std::atomic<bool> stop_requested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void OnSignal(int) {
  stop_requested.store(true);
}

}  // namespace

std::unique_ptr<link::SerialPort> MakeSerialPort() {
  return std::make_unique<posix::PosixSerialPort>();
}

std::vector<link::PortInfo> ListSerialPorts() {
  return posix::ListSerialPorts();
}

std::unique_ptr<SettingsStore> MakeSettingsStore() {
  return std::make_unique<posix::SettingsFile>(posix::SettingsFile::FromEnvironment());
}

std::unique_ptr<icsp::KeptWordsStore> MakeKeptWordsStore() {
  // Next to the settings file: $XDG_CONFIG_HOME/quillon/rows.
  const std::filesystem::path settings = posix::SettingsFile::FromEnvironment().path();
  return std::make_unique<KeptWordsDirectory>(settings.empty() ? settings
                                                               : settings.parent_path() / "rows");
}

std::filesystem::path ConfigDirectory() {
  return posix::SettingsFile::FromEnvironment().path().parent_path();
}

std::uint16_t DefaultLanguage() {
  return report::LanguageFromLocale(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"),
                                    std::getenv("LANG"));
}

std::string_view ConsoleProgramName() {
  return "quillon";
}

std::string RememberedPortName(const std::string& port_name) {
  if (port_name != "sim" && !port_name.starts_with("sim:")) {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(port_name, ec);
    if (!ec) return absolute.lexically_normal().string();
  }
  return port_name;
}

void PrepareConsole() {}

bool StderrIsTerminal() {
  return ::isatty(STDERR_FILENO) != 0;
}

const std::atomic<bool>* InstallStopHandlers() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // Console output restarts; the port's poll() returns early and its loops
  // carry on, so a request is seen within the current row.
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  return &stop_requested;
}

}  // namespace quillon::app
