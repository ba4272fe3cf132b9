#include "cli/runner.h"

#include <cstdio>
#include <filesystem>
#include <vector>

#include "app/application.h"
#include "cli/console_view.h"
#include "cli/device_listing.h"
#include "cli/exit_codes.h"
#include "cli/operation_guard.h"
#include "devices/catalogue.h"
#include "report/message.h"

namespace quillon::cli {
namespace {

// No dialogs, browsers or batch files on a console.
class ConsoleSystem : public app::SystemActions {
 public:
  void Launch(const std::string&, const std::string&) override {}
  void OpenWebPage(const std::string&) override {}
  std::string ChooseHexFile() override { return {}; }
  void ExitProcess(int code) override { std::exit(code); }
};

int UsageError(Environment& env, const std::string& text) {
  env.err << "quillon: " << text << '\n';
  return kExitUsage;
}

// The same test the loader will meet: it opens the name without its outer
// blanks, and a directory opens on some systems but cannot be read.
bool Readable(const std::string& path) {
  const std::string trimmed(devices::TrimBlanks(path));
  std::error_code ec;
  if (std::filesystem::is_directory(trimmed, ec)) return false;
  std::FILE* file = std::fopen(trimmed.c_str(), "rb");
  if (file == nullptr) return false;
  std::fclose(file);
  return true;
}

// Ordinary files, directories and disks are never a programmer board; the
// port would open them read-write and write the board's commands into them.
bool CannotBeAPort(const std::string& name) {
  if (name == "sim" || name.starts_with("sim:")) return false;
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(name, ec);
  if (ec) return false;  // missing: the port reports why it cannot open it
  using std::filesystem::file_type;
  return status.type() == file_type::regular || status.type() == file_type::directory ||
         status.type() == file_type::block;
}

bool NeedsDevice(const std::string& command) {
  return command == "erase" || command == "check" || command == "write" || command == "read";
}

// What one run has at hand once the board answered.
struct Run {
  const CliOptions& o;
  app::Application& app;
  ConsoleView& view;
  std::uint16_t language;
  const std::atomic<bool>* stop_request;

  bool StopRequested() const { return stop_request != nullptr && stop_request->load(); }
  void Error(const report::MessagePair& message) {
    view.ShowStatus(report::Pick(message, language), report::StatusKind::kError);
  }
};

// Before anything touches the part, the part that answers must be the one
// selected (or remembered): a wrong part is never erased, read as blank or
// written with a program built for another.
int ConfirmIdentity(Run& run) {
  icsp::DeviceIdReading reading;
  const icsp::Outcome read = run.app.ReadDeviceId(reading);
  if (read != icsp::Outcome::kOk) return ExitCodeFor(read);
  const IdentityVerdict verdict =
      CheckIdentity(run.app.session().device.device, reading, run.o.force);
  if (verdict.identity == Identity::kSelected) return kExitSuccess;
  run.Error(verdict.message);
  return run.o.force ? kExitSuccess : kExitProblem;
}

// After a successful Connect: the command itself.
int RunOperation(Run& run) {
  const CliOptions& o = run.o;
  app::Application& app = run.app;
  const icsp::Session& session = app.session();
  if (o.command == "connect") return kExitSuccess;
  if (o.command == "detect") return ExitCodeFor(app.Detect());
  // The part is checked against the DeviceID in the file, not the selection.
  if (o.command == "restore-row") return ExitCodeFor(app.RestoreRow(o.argument));

  if (NeedsDevice(o.command)) {
    if (!session.device.selected) {
      const icsp::Outcome detected = app.Detect();
      if (detected != icsp::Outcome::kOk) return ExitCodeFor(detected);
      if (!session.device.selected) return kExitProblem;
    } else if (const int code = ConfirmIdentity(run); code != kExitSuccess) {
      return code;
    }
    if (run.StopRequested()) {
      run.Error(StoppedBeforeMessage(o.command));
      return kExitStopped;
    }
  }
  if (o.command == "erase") return ExitCodeFor(app.Erase());
  if (o.command == "check") return ExitCodeFor(app.Check());
  if (o.command == "write") {
    return ExitCodeFor(o.incremental ? app.WriteFileIncremental(o.argument)
                                     : app.WriteFile(o.argument));
  }
  if (o.command == "read") return ExitCodeFor(app.Read(o.argument));
  return kExitUsage;
}

}  // namespace

int RunCommand(const CliOptions& o, Environment& env) {
  if (o.command == "devices") {
    ListDevices(o.argument, env.out);
    return kExitSuccess;
  }

  // Everything that can be refused without the board is refused before it
  // is touched: a wrong file name must not cost an erased part.
  std::string port_name = o.port.empty() ? env.settings.Load(app::kComSetting) : o.port;
  if (port_name.empty()) {
    return UsageError(env,
                      "no port given and none remembered; use -P PORT (a device path, "
                      "or sim for the simulated board)");
  }
  if (!o.device.empty() && devices::FindByName(o.device) == nullptr) {
    return UsageError(env, "unknown device \"" + o.device + "\" (see: quillon devices)");
  }
  if (!o.exec_dir.empty() && !std::filesystem::is_directory(o.exec_dir)) {
    return UsageError(env, "--exec-dir: no such directory: " + o.exec_dir);
  }
  if (o.command == "read" && !o.argument.empty() && !std::filesystem::is_directory(o.argument)) {
    return UsageError(env, "read: no such directory: " + o.argument);
  }
  if (o.command == "write" && !Readable(o.argument)) {
    env.err << "quillon: cannot read HEX file: " << o.argument << '\n';
    return kExitFileRejected;
  }
  if (o.command == "restore-row" && !Readable(o.argument)) {
    env.err << "quillon: cannot read kept file: " << o.argument << '\n';
    return kExitFileRejected;
  }
  if (CannotBeAPort(port_name)) {
    return UsageError(env, "not a serial port: " + port_name);
  }
  std::unique_ptr<link::SerialPort> port = env.make_port(port_name);
  if (!port) return UsageError(env, "cannot use port \"" + port_name + "\"");

  const std::uint16_t language = o.lang == "ja"   ? report::kJapaneseLangId
                                 : o.lang == "en" ? report::kEnglishLangId
                                                  : env.locale_language;
  // A port that cannot be opened is named once, with the reason; going on
  // would only add write, read and flush errors on a handle that is not there.
  if (const std::vector<std::string> errors = port->Open(port_name); !errors.empty()) {
    env.err << report::Pick(CannotOpenMessage(port_name, errors.front()), language) << '\n';
    return kExitLinkFailure;
  }
  port->Close();
  ConsoleView view(env.out, env.err, o.verbosity, env.progress_on_terminal, env.now_ms);
  view.marks().erase_before_writing = !o.no_erase;
  view.marks().verify_after_writing = !o.no_verify;
  view.marks().enhanced_icsp = !o.plain_icsp;
  ConsoleSystem system;
  app::Application app(view, env.settings, system, *port, env.clock,
                       [language] { return language; });
  app.session().executive_dir = o.exec_dir;
  app.session().kept_words_store = env.kept_words;

  // An explicit device is chosen (and remembered); otherwise the remembered
  // one is used when the catalogue still knows it, else detection decides.
  if (!o.device.empty()) {
    app.ChooseDevice(o.device);
  } else {
    const std::string chip = app::LoadChip(env.settings);
    if (!chip.empty() && devices::FindByName(chip) != nullptr) {
      devices::SelectDevice(app.session().device, chip, app.reporter());
    }
  }

  // Connect fixes the port and the firmware version the engine works with.
  // Only a port with a board that answered is remembered: a mistyped -P must
  // not replace the working one.
  app.session().stop_request = env.stop_request;
  int code = kExitLinkFailure;
  if (app.ConnectTo(port_name)) {
    if (!o.port.empty()) env.settings.Store(app::kComSetting, o.port);
    Run run{o, app, view, language, env.stop_request};
    code = RunOperation(run);
    if (code == kExitSuccess && run.StopRequested()) {
      // Ctrl-C came too late to stop anything: say so, and still end as
      // interrupted so that a calling script stops too.
      run.Error(StoppedAfterMessage(o.command));
      code = kExitStopped;
    }
  }
  view.Finish();
  return code;
}

}  // namespace quillon::cli
