#include "cli/runner.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <utility>
#include <vector>

#include "app/application.h"
#include "cli/console_view.h"
#include "cli/device_listing.h"
#include "cli/exit_codes.h"
#include "cli/operation_guard.h"
#include "cli/port_factory.h"
#include "cli/run_record.h"
#include "devices/catalogue.h"
#include "icsp/operations.h"
#include "image/hex_writer.h"
#include "image/sha256.h"
#include "report/message.h"

namespace quillon::cli {
namespace {

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

std::int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool EndsWithIgnoringCase(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() &&
         std::equal(tail.begin(), tail.end(), text.end() - static_cast<std::ptrdiff_t>(tail.size()),
                    [](char a, char b) {
                      return std::tolower(static_cast<unsigned char>(a)) ==
                             std::tolower(static_cast<unsigned char>(b));
                    });
}

// The files `read` leaves: -o and --listing name them; otherwise today's
// two files in DIR, the listing possibly renamed.
icsp::ReadFiles ReadFilesFor(const CliOptions& o) {
  if (!o.output.empty()) {
    return {"", o.listing, EndsWithIgnoringCase(o.output, ".hex") ? o.output : ""};
  }
  if (!o.listing.empty()) {
    return {"", o.listing, image::JoinPath(o.argument, image::kHexName)};
  }
  return {o.argument, image::kListingName, image::kHexName};
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
// written with a program built for another. A dry run checks the same.
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

// After a successful Connect: the command itself, noting what it did.
int RunOperation(Run& run, RunRecord& record) {
  const CliOptions& o = run.o;
  app::Application& app = run.app;
  icsp::Session& session = app.session();
  if (o.command == Command::kConnect) return kExitSuccess;
  if (o.command == Command::kDetect) return ExitCodeFor(app.Detect());
  // The part is checked against the DeviceID in the file, not the selection.
  if (o.command == Command::kRestoreRow) return ExitCodeFor(app.RestoreRow(o.argument));

  if (NeedsPart(o.command)) {
    if (!session.device.selected) {
      const icsp::Outcome detected = app.Detect();
      if (detected != icsp::Outcome::kOk) return ExitCodeFor(detected);
      if (!session.device.selected) return kExitProblem;
    } else if (const int code = ConfirmIdentity(run); code != kExitSuccess) {
      return code;
    }
    if (run.StopRequested()) {
      run.Error(StoppedBeforeMessage(CommandName(o.command)));
      return kExitStopped;
    }
  }
  const devices::DeviceRecord& part = session.device.device;
  auto count_image = [&] {
    record.counts = CountImageWords(session.image, part.program_words, part.eeprom_bytes,
                                    session.form().config.written);
  };
  if (o.dry_run) {
    if (o.command == Command::kWrite) {
      // The write's own file checks (data, end record, room in the part),
      // into the session's image only.
      image::MemoryImage file;
      if (!icsp::LoadWriteFile(session, o.argument, file)) return kExitFileRejected;
      session.image = std::move(file);
      count_image();
    }
    return kExitSuccess;
  }
  switch (o.command) {
    case Command::kErase:
      return ExitCodeFor(app.Erase());
    case Command::kCheck:
      return ExitCodeFor(app.Check());
    case Command::kWrite: {
      const int code = ExitCodeFor(o.incremental ? app.WriteFileIncremental(o.argument)
                                                 : app.WriteFile(o.argument));
      count_image();
      record.verified = code == kExitSuccess && !o.no_verify;
      return code;
    }
    case Command::kVerify: {
      const int code = ExitCodeFor(app.VerifyFile(o.argument));
      count_image();
      return code;
    }
    case Command::kRead: {
      const icsp::ReadFiles files = ReadFilesFor(o);
      int code = ExitCodeFor(app.ReadInto(files));
      if (code == kExitSuccess && !o.output.empty() && files.hex.empty() &&
          !image::WriteProgramBinary(o.output, session.image, session.device, app.reporter())) {
        code = kExitFileRejected;
      }
      record.counts = WordCounts{part.program_words, part.eeprom_bytes / 2, 0};
      record.file = !o.output.empty() ? o.output : image::JoinPath(files.directory, files.hex);
      return code;
    }
    default:
      return kExitUsage;
  }
}

int PrintPorts(Environment& env, std::uint16_t language) {
  const std::vector<link::PortInfo> ports = env.list_ports ? env.list_ports() : ListPorts();
  if (ports.empty()) {
    env.err << report::Pick({"no serial ports found", "シリアルポートが見つかりません"}, language)
            << '\n';
    return kExitSuccess;
  }
  for (const link::PortInfo& port : ports) {
    env.out << port.name;
    for (const std::string* field :
         {&port.usb_id, &port.maker, &port.product, &port.serial, &port.alias}) {
      if (field->empty()) continue;
      env.out << "  " << (field == &port.serial ? "serial " : "") << *field;
    }
    env.out << '\n';
  }
  return kExitSuccess;
}

// "sim:DEVICE,..." with the part in the catalogue's spelling and the state
// file as an absolute path (the port is remembered: run from another
// directory it must still name the same chip); "" with a usage error
// printed when the part is unknown.
std::string SimPortName(Environment& env, const std::string& name) {
  if (!name.starts_with("sim:")) return name;
  const std::size_t comma = name.find(',');
  const std::string part = name.substr(4, comma == std::string::npos ? comma : comma - 4);
  const std::string canonical = CanonicalPartName(part);
  if (canonical.empty()) {
    UsageError(env, "unknown part \"" + part + "\" in -P " + name + " (see: quillon devices)");
    return "";
  }
  std::string result = "sim:" + canonical;
  for (std::size_t at = comma; at != std::string::npos;) {
    const std::size_t next = name.find(',', at + 1);
    std::string item = name.substr(at + 1, next == std::string::npos ? next : next - at - 1);
    if (item.starts_with("state=") && item.size() > 6) {
      std::error_code ec;
      const std::filesystem::path absolute = std::filesystem::absolute(item.substr(6), ec);
      if (!ec) item = "state=" + absolute.lexically_normal().string();
    }
    result += "," + item;
    at = next;
  }
  return result;
}

}  // namespace

std::string CanonicalPartName(std::string_view name) {
  for (const devices::DeviceRecord& row : devices::Catalogue()) {
    const std::string_view known = devices::TrimBlanks(row.name);
    if (known.size() == name.size() &&
        std::equal(known.begin(), known.end(), name.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) ==
                 std::tolower(static_cast<unsigned char>(b));
        })) {
      return std::string(known);
    }
  }
  return "";
}

int RunCommand(const CliOptions& given, Environment& env) {
  CliOptions o = given;
  const std::uint16_t language = o.lang == "ja"   ? report::kJapaneseLangId
                                 : o.lang == "en" ? report::kEnglishLangId
                                                  : env.locale_language;
  if (o.command == Command::kDevices) {
    ListDevices(o.argument, env.out);
    return kExitSuccess;
  }
  if (o.command == Command::kPorts) return PrintPorts(env, language);

  // Everything that can be refused without the board is refused before it
  // is touched: a wrong file name must not cost an erased part.
  std::string port_name =
      SimPortName(env, o.port.empty() ? env.settings.Load(app::kComSetting) : o.port);
  if (port_name.empty()) {
    if (!o.port.empty()) return kExitUsage;
    return UsageError(env,
                      "no port given and none remembered; use -P PORT (a device path, "
                      "or sim for the simulated board)");
  }
  if (!o.device.empty()) {
    const std::string canonical = CanonicalPartName(o.device);
    if (canonical.empty()) {
      return UsageError(env, "unknown device \"" + o.device + "\" (see: quillon devices)");
    }
    o.device = canonical;
  }
  const bool exec_dir_given = !o.exec_dir.empty();
  if (!exec_dir_given) o.exec_dir = env.settings.Load(kExecDirSetting);
  if (!o.exec_dir.empty() && !std::filesystem::is_directory(o.exec_dir)) {
    // A remembered directory that has gone is forgotten quietly: the
    // executive may not even be needed.
    if (!exec_dir_given) {
      o.exec_dir.clear();
    } else {
      return UsageError(env, "--exec-dir: no such directory: " + o.exec_dir);
    }
  }
  if (o.command == Command::kRead && !o.argument.empty() &&
      !std::filesystem::is_directory(o.argument)) {
    return UsageError(env, "read: no such directory: " + o.argument);
  }
  for (const std::string* file : {&o.output, &o.listing}) {
    if (file->empty()) continue;
    const std::filesystem::path parent = std::filesystem::path(*file).parent_path();
    if (!parent.empty() && !std::filesystem::is_directory(parent)) {
      return UsageError(env, "read: no such directory: " + parent.string());
    }
  }
  if (!o.output.empty() && !EndsWithIgnoringCase(o.output, ".hex") &&
      !EndsWithIgnoringCase(o.output, ".bin")) {
    return UsageError(env, "read -o: the file name must end in .hex or .bin: " + o.output);
  }
  if ((o.command == Command::kWrite || o.command == Command::kVerify) && !Readable(o.argument)) {
    env.err << "quillon: cannot read HEX file: " << o.argument << '\n';
    return kExitFileRejected;
  }
  if (o.command == Command::kRestoreRow && !Readable(o.argument)) {
    env.err << "quillon: cannot read kept file: " << o.argument << '\n';
    return kExitFileRejected;
  }
  if (CannotBeAPort(port_name)) {
    return UsageError(env, "not a serial port: " + port_name);
  }
  std::string port_error;
  std::unique_ptr<link::SerialPort> port = env.make_port(port_name, port_error);
  if (!port) {
    return UsageError(env, "cannot use port \"" + port_name + "\"" +
                               (port_error.empty() ? "" : ": " + port_error));
  }
  // A port that cannot be opened is named once, with the reason; going on
  // would only add write, read and flush errors on a handle that is not there.
  if (const std::vector<std::string> errors = port->Open(port_name); !errors.empty()) {
    env.err << report::Pick(CannotOpenMessage(port_name, errors.front()), language) << '\n';
    return kExitLinkFailure;
  }
  port->Close();
  if (exec_dir_given) {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(o.exec_dir, ec);
    env.settings.Store(kExecDirSetting, ec ? o.exec_dir : absolute.string());
  }

  const auto now_ms = env.now_ms ? env.now_ms : std::function<std::int64_t()>(SteadyMs);
  const std::int64_t start_ms = now_ms();
  ConsoleView view(env.out, env.err, o.verbosity, env.progress_on_terminal, env.now_ms);
  view.set_language(language);
  view.marks().erase_before_writing = !o.no_erase;
  view.marks().verify_after_writing = !o.no_verify;
  view.marks().enhanced_icsp = !o.plain_icsp;
  app::Application app(view, env.settings, *port, env.clock, [language] { return language; });
  app.reporter().set_error_pause(false);  // a console keeps its errors on screen
  app.session().executive_dir = o.exec_dir;
  app.session().kept_words_store = env.kept_words;
#ifdef _WIN32
  app.session().console_program = "quillon-cli";
#endif

  // The socket the selection names comes again with detection; only the
  // step texts show it.
  view.set_results_shown(o.verbosity == Verbosity::kVerbose);
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

  // Connect and detect answer with the engine's texts; the operations with
  // a summary line of their own (and --json with its object).
  // An incremental write says what it compared and wrote; restore-row what
  // it found.
  view.set_results_shown(!o.json &&
                         (o.verbosity == Verbosity::kVerbose || o.command == Command::kConnect ||
                          o.command == Command::kDetect || o.command == Command::kRestoreRow ||
                          o.incremental));

  // Connect fixes the port and the firmware version the engine works with.
  RunRecord record;
  record.command = o.command;
  record.dry_run = o.dry_run;
  record.incremental = o.incremental;
  record.erase_first = o.dry_run && !o.no_erase;
  record.verified = o.dry_run && !o.no_verify;
  if (o.command == Command::kWrite || o.command == Command::kVerify) record.file = o.argument;
  // Only a port with a board that answered is remembered: a mistyped -P must
  // not replace the working one.
  app.session().stop_request = env.stop_request;
  int code = kExitLinkFailure;
  if (app.ConnectTo(port_name)) {
    if (!o.port.empty()) env.settings.Store(app::kComSetting, port_name);
    const std::uint16_t fw = app.session().firmware_version;
    record.firmware = std::to_string(fw >> 8) + "." + std::to_string(fw & 0xFF);
    Run run{o, app, view, language, env.stop_request};
    code = RunOperation(run, record);
    if (code == kExitSuccess && run.StopRequested()) {
      // Ctrl-C came too late to stop anything: say so, and still end as
      // interrupted so that a calling script stops too.
      run.Error(StoppedAfterMessage(CommandName(o.command)));
      code = kExitStopped;
    }
  }
  view.Finish();
  if (app.session().device.selected) {
    record.part = std::string(devices::TrimBlanks(app.session().device.device.name));
    record.device_id = app.session().device.device.device_id;
  }
  if (!record.file.empty() && (o.command != Command::kRead || code == kExitSuccess)) {
    record.sha256 = image::FileSha256Hex(record.file);
  }
  record.elapsed_ms = now_ms() - start_ms;
  record.exit_status = code;
  if (o.json) {
    WriteJson(record, env.out);
  } else if (const std::string line = SummaryLine(record, language); !line.empty()) {
    env.out << line << '\n';
  }
  return code;
}

}  // namespace quillon::cli
