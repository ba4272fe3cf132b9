#include "cli/port_session.h"

#include <cerrno>

#include "app/host.h"
#include "app/operation_runner.h"
#include "cli/command.h"
#include "devices/catalogue.h"
#include "devices/selection.h"
#include "image/sha256.h"

namespace quillon::cli {
namespace {

// "sim:dsPIC30F4013,state=..." names the part in its socket.
std::string SimulatedPart(const std::string& port_name) {
  if (!port_name.starts_with("sim:")) return "";
  return port_name.substr(4, port_name.find(',') - 4);
}

// Before anything touches the part, the part that answers must be the one
// selected (or remembered): a wrong part is never erased, read as blank or
// written with a program built for another. A dry run checks the same.
Result ConfirmIdentity(PortRun& run, RunRecord& record) {
  icsp::DeviceIdReading reading;
  const icsp::Outcome read = run.app.ReadDeviceId(reading);
  if (read != icsp::Outcome::kOk) return ResultFor(read);
  const app::IdentityVerdict verdict = run.app.JudgeIdentity(reading);
  if (verdict.identity == app::Identity::kSelected) {
    record.identified = true;
    return Result::kOk;
  }
  run.Error(verdict.message);
  if (run.o.force) return Result::kOk;
  run.identity_refused = true;
  if (verdict.identity == app::Identity::kOtherPart) {
    record.identified = true;
    record.device_id = reading.value;
    if (reading.row != nullptr) record.part = std::string(devices::TrimBlanks(reading.row->name));
  }
  return Result::kProblem;
}

// After a successful Connect: the part's identity when the command needs
// it, then the command itself.
Result RunCommandOn(PortRun& run, RunRecord& record) {
  const ConsoleCommand& command = CommandFor(run.o.command);
  if (command.needs_part) {
    app::OperationRunner& app = run.app;
    if (!app.device().selected) {
      const icsp::Outcome detected = app.Detect();
      if (detected != icsp::Outcome::kOk) return ResultFor(detected);
      if (!app.device().selected) return Result::kProblem;
      record.identified = true;
    } else if (const Result code = ConfirmIdentity(run, record); code != Result::kOk) {
      return code;
    }
    if (run.StopRequested()) {
      run.Error(StoppedBeforeMessage(command.name));
      return Result::kStopped;
    }
  }
  return command.run != nullptr ? command.run(run, record) : Result::kOk;
}

}  // namespace

report::MessagePair StoppedBeforeMessage(std::string_view command) {
  const std::string c(command);
  return {"Stopped on request before " + c + " began: nothing of it was done.",
          "要求により " + c + " の開始前に中断しました。何も実行していません。"};
}

report::MessagePair StoppedAfterMessage(std::string_view command) {
  const std::string c(command);
  return {"Stop requested after " + c + " had completed: it is complete.",
          "中断の要求より前に " + c + " は完了しています。"};
}

report::MessagePair CannotOpenMessage(std::string_view port, std::string_view error) {
  // POSIX texts end in "(description)"; Windows ones are "Call Error=n".
  std::string reason(error);
  const std::size_t open = reason.rfind(" (");
  bool denied = false;
  if (open != std::string::npos && reason.ends_with(')')) {
    denied = reason.find(" Error=" + std::to_string(EACCES) + " (") != std::string::npos;
    reason = reason.substr(open + 2, reason.size() - open - 3);
  }
  const std::string p(port);
  report::MessagePair message{"quillon: cannot open " + p + ": " + reason,
                              "quillon: " + p + " を開けません: " + reason};
  // Serial devices belong to a group (dialout on Debian and Ubuntu) that a
  // new user is not in; the error alone does not say so.
  if (denied) {
    message.english +=
        " (on Linux: sudo usermod -aG dialout $USER, then log in again; or a udev rule, see "
        "docs/cli.md)";
    message.japanese +=
        " (Linux では sudo usermod -aG dialout $USER の後にログインし直すか、udev ルールを"
        "設定してください。docs/cli.md 参照)";
  }
  return message;
}

Result RunOnPort(const PortContext& c, link::SerialPort& port, RunRecord& record,
                 const std::function<void()>& selected) {
  const CliOptions& o = c.o;
  const std::int64_t start_ms = c.now_ms();
  app::OperationRunner app(c.view, c.settings, port, c.clock,
                           [language = c.language] { return language; });
  app.Configure({
      .executive_dir = o.exec_dir,
      .executive_missing_hint =
          {"Give the folder that holds it with --exec-dir DIR, or program with plain ICSP: --icsp.",
           "--exec-dir DIR でﾌｧｲﾙのあるﾌｫﾙﾀﾞを指定するか、--icsp で通常のICSPを使ってください。"},
      .kept_words = c.kept_words,
      .console_program = std::string(app::ConsoleProgramName()),
      .stop_request = c.stop_request,
      .error_pause = false,  // a console keeps its errors on screen
      .identity_wording = app::IdentityWording::kConsole,
      .identity_forced = o.force,
  });

  // An explicit device (-p, or the part a simulated board names) is chosen
  // and remembered; otherwise the remembered one is used when the catalogue
  // still knows it, else detection decides.
  const std::string remembered_chip = c.settings.Load(app::kChipSetting);
  const std::string device = !o.device.empty() ? o.device : SimulatedPart(c.port_name);
  if (!device.empty()) {
    app.ChooseDevice(device);
  } else if (!remembered_chip.empty() && devices::FindByName(remembered_chip) != nullptr) {
    app.ChooseDevice(remembered_chip, false);
  }

  if (selected) selected();

  // Connect fixes the port and the firmware version the engine works with.
  record.command = o.command;
  record.port = c.port_name;
  record.dry_run = o.dry_run;
  record.incremental = o.incremental;
  record.erase_first = o.dry_run && !o.no_erase;
  record.verified = o.dry_run && !o.no_verify;
  if (CommandFor(o.command).names_file) record.file = o.argument;
  Result code = Result::kLinkFailure;
  bool refused = false;
  if (app.ConnectTo(c.port_name)) {
    // Only a port with a board that answered is remembered: a mistyped -P
    // must not replace the working one.
    if (c.remember_port) c.settings.Store(app::kComSetting, app::RememberedPortName(c.port_name));
    const std::uint16_t fw = app.firmware_version();
    record.firmware = std::to_string(fw >> 8) + "." + std::to_string(fw & 0xFF);
    PortRun run{c, app};
    code = RunCommandOn(run, record);
    if (code == Result::kOk && run.StopRequested()) {
      // Ctrl-C came too late to stop anything: say so, and still end as
      // interrupted so that a calling script stops too.
      run.Error(StoppedAfterMessage(CommandName(o.command)));
      code = Result::kStopped;
    }
    refused = run.identity_refused;
  }
  // A part that the socket refused must not become the next run's choice.
  if (refused && !device.empty()) c.settings.Store(app::kChipSetting, remembered_chip);
  if (app.device().selected && !refused) {
    record.part = std::string(devices::TrimBlanks(app.device().device.name));
    record.device_id = app.device().device.device_id;
  }
  if (!record.file.empty() && (o.command != Command::kRead || code == Result::kOk)) {
    record.sha256 = image::FileSha256Hex(record.file);
  }
  record.elapsed_ms = c.now_ms() - start_ms;
  record.exit_status = code;
  return code;
}

}  // namespace quillon::cli
