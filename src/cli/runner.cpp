#include "cli/runner.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "app/application.h"
#include "cli/console_view.h"
#include "cli/device_listing.h"
#include "cli/exit_codes.h"
#include "cli/gang_console.h"
#include "cli/operation_guard.h"
#include "cli/port_factory.h"
#include "cli/production_log.h"
#include "cli/run_record.h"
#include "cli/serial_numbers.h"
#include "devices/catalogue.h"
#include "icsp/operations.h"
#include "image/hex_loader.h"
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
  app::StatusView& view;
  std::uint16_t language;
  const std::atomic<bool>* stop_request;
  SerialNumbers* serials;
  // Another part (or none) answered: the record names what answered.
  bool identity_refused = false;

  bool StopRequested() const { return stop_request != nullptr && stop_request->load(); }
  void Error(const report::MessagePair& message) {
    view.ShowStatus(report::Pick(message, language), report::StatusKind::kError);
  }
};

// Before anything touches the part, the part that answers must be the one
// selected (or remembered): a wrong part is never erased, read as blank or
// written with a program built for another. A dry run checks the same.
int ConfirmIdentity(Run& run, RunRecord& record) {
  icsp::DeviceIdReading reading;
  const icsp::Outcome read = run.app.ReadDeviceId(reading);
  if (read != icsp::Outcome::kOk) return ExitCodeFor(read);
  const IdentityVerdict verdict =
      CheckIdentity(run.app.session().device.device, reading, run.o.force);
  if (verdict.identity == Identity::kSelected) return kExitSuccess;
  run.Error(verdict.message);
  if (run.o.force) return kExitSuccess;
  run.identity_refused = true;
  if (verdict.identity == Identity::kOtherPart) {
    record.device_id = reading.value;
    if (reading.row != nullptr) record.part = std::string(devices::TrimBlanks(reading.row->name));
  }
  return kExitProblem;
}

// Checks that the serial number fits the part and the file, then takes one
// and writes the file with it into `with_serial` (a dry run only looks at
// the number it would get). A file that does not load takes no number: the
// write refuses it itself.
int PlaceSerial(Run& run, RunRecord& record, std::filesystem::path& with_serial) {
  icsp::Session& session = run.app.session();
  report::NullSink quiet;
  report::ManualClock no_pause;
  report::Reporter reporter(quiet, no_pause, nullptr);
  image::MemoryImage file;
  image::LoadSummary summary;
  if (image::LoadHexFile(run.o.argument, file, session.device, reporter, &summary) !=
      image::LoadResult::kLoaded) {
    return kExitSuccess;
  }
  const SerialSpec& spec = run.serials->spec();
  if (const auto problem = SerialPlaceProblem(spec, session.device.device.program_words, summary)) {
    run.Error(*problem);
    return kExitUsage;
  }
  report::MessagePair error;
  const std::optional<std::uint64_t> number =
      run.o.dry_run ? run.serials->Peek(error) : run.serials->Take(error);
  if (!number) {
    run.Error(error);
    return kExitFileRejected;
  }
  record.serial = number;
  if (run.o.dry_run) return kExitSuccess;
  char name[64];
  std::snprintf(name, sizeof name, "quillon-serial-%06X-%llu.hex",
                static_cast<unsigned>(spec.address), static_cast<unsigned long long>(*number));
  // Beside the state, not in a shared temporary directory, where another
  // user could put a link under the foreseeable name.
  with_serial = run.serials->state().parent_path() / name;
  if (!WriteFileWithSerial(run.o.argument, spec, *number, with_serial)) {
    run.Error({"cannot write " + with_serial.string(), with_serial.string() + " に書けません"});
    return kExitFileRejected;
  }
  return kExitSuccess;
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
    } else if (const int code = ConfirmIdentity(run, record); code != kExitSuccess) {
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
      if (run.serials != nullptr) {
        std::filesystem::path unused;
        return PlaceSerial(run, record, unused);
      }
    }
    return kExitSuccess;
  }
  switch (o.command) {
    case Command::kErase:
      return ExitCodeFor(app.Erase());
    case Command::kCheck:
      return ExitCodeFor(app.Check());
    case Command::kWrite: {
      std::filesystem::path with_serial;
      if (run.serials != nullptr) {
        if (const int code = PlaceSerial(run, record, with_serial); code != kExitSuccess) {
          return code;
        }
      }
      const std::string path = with_serial.empty() ? o.argument : with_serial.string();
      const int code =
          ExitCodeFor(o.incremental ? app.WriteFileIncremental(path) : app.WriteFile(path));
      if (!with_serial.empty()) {
        std::error_code ignored;
        std::filesystem::remove(with_serial, ignored);
      }
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

namespace {

// What one port's session needs from the run around it.
struct PortContext {
  const CliOptions& o;
  const std::string& port_name;
  app::SettingsStore& settings;
  report::Clock& clock;
  app::StatusView& view;
  std::uint16_t language;
  const std::atomic<bool>* stop_request;
  icsp::KeptWordsStore* kept_words;
  SerialNumbers* serials;
  bool remember_port;
  std::function<std::int64_t()> now_ms;
};

// One session on one opened port, from Connect to the record of what it did.
int RunOnPort(const PortContext& c, link::SerialPort& port, RunRecord& record) {
  const CliOptions& o = c.o;
  const std::int64_t start_ms = c.now_ms();
  const std::uint16_t language = c.language;
  app::Application app(c.view, c.settings, port, c.clock, [language] { return language; });
  app.reporter().set_error_pause(false);  // a console keeps its errors on screen
  app.session().executive_dir = o.exec_dir;
  app.session().kept_words_store = c.kept_words;

  // An explicit device is chosen (and remembered); otherwise the remembered
  // one is used when the catalogue still knows it, else detection decides.
  if (!o.device.empty()) {
    app.ChooseDevice(o.device);
  } else {
    const std::string chip = app::LoadChip(c.settings);
    if (!chip.empty() && devices::FindByName(chip) != nullptr) {
      devices::SelectDevice(app.session().device, chip, app.reporter());
    }
  }

  // Connect fixes the port and the firmware version the engine works with.
  record.command = o.command;
  record.port = c.port_name;
  record.dry_run = o.dry_run;
  record.incremental = o.incremental;
  record.erase_first = o.dry_run && !o.no_erase;
  record.verified = o.dry_run && !o.no_verify;
  if (o.command == Command::kWrite || o.command == Command::kVerify) record.file = o.argument;
  app.session().stop_request = c.stop_request;
  int code = kExitLinkFailure;
  bool refused = false;
  if (app.ConnectTo(c.port_name)) {
    // Only a port with a board that answered is remembered: a mistyped -P
    // must not replace the working one.
    if (c.remember_port) c.settings.Store(app::kComSetting, c.port_name);
    const std::uint16_t fw = app.session().firmware_version;
    record.firmware = std::to_string(fw >> 8) + "." + std::to_string(fw & 0xFF);
    Run run{o, app, c.view, language, c.stop_request, c.serials};
    code = RunOperation(run, record);
    if (code == kExitSuccess && run.StopRequested()) {
      // Ctrl-C came too late to stop anything: say so, and still end as
      // interrupted so that a calling script stops too.
      run.Error(StoppedAfterMessage(CommandName(o.command)));
      code = kExitStopped;
    }
    refused = run.identity_refused;
  }
  if (app.session().device.selected && !refused) {
    record.part = std::string(devices::TrimBlanks(app.session().device.device.name));
    record.device_id = app.session().device.device.device_id;
  }
  if (!record.file.empty() && (o.command != Command::kRead || code == kExitSuccess)) {
    record.sha256 = image::FileSha256Hex(record.file);
  }
  record.elapsed_ms = c.now_ms() - start_ms;
  record.exit_status = code;
  return code;
}

// The line's record of a part; a log that cannot take it turns a success
// into a failure, since the part would go out unrecorded.
int LogRecord(ProductionLog* log, const RunRecord& record, const CliOptions& o,
              const std::function<void(const report::MessagePair&)>& error) {
  if (log == nullptr || o.dry_run) return record.exit_status;
  report::MessagePair why;
  if (log->Append(record, why)) return record.exit_status;
  error(why);
  return MostSevere(record.exit_status, kExitFileRejected);
}

// The settings and the kept-words store, shared by the sessions of a gang.
// Each session starts from the values as they were when the run began: a
// part one board detected must not become the selection of its neighbours.
class GangSettings : public app::SettingsStore {
 public:
  explicit GangSettings(app::SettingsStore& store) : store_(store) {
    for (std::string_view name : {app::kChipSetting, app::kComSetting, kExecDirSetting}) {
      at_start_[std::string(name)] = store.Load(name);
    }
  }
  void Store(std::string_view name, std::string_view value) override {
    std::lock_guard lock(mutex_);
    store_.Store(name, value);
  }
  std::string Load(std::string_view name) override {
    std::lock_guard lock(mutex_);
    const auto kept = at_start_.find(std::string(name));
    return kept != at_start_.end() ? kept->second : store_.Load(name);
  }

 private:
  app::SettingsStore& store_;
  std::map<std::string, std::string> at_start_;
  std::mutex mutex_;
};

class LockedKeptWords : public icsp::KeptWordsStore {
 public:
  explicit LockedKeptWords(icsp::KeptWordsStore& store) : store_(store) {}
  std::string Save(std::uint16_t device_id, const std::string& text) override {
    std::lock_guard lock(mutex_);
    return store_.Save(device_id, text);
  }
  std::vector<std::string> List(std::uint16_t device_id) override {
    std::lock_guard lock(mutex_);
    return store_.List(device_id);
  }
  std::optional<std::string> Load(const std::string& name) override {
    std::lock_guard lock(mutex_);
    return store_.Load(name);
  }

 private:
  icsp::KeptWordsStore& store_;
  std::mutex mutex_;
};

// What every port of the run shares.
struct Shared {
  const CliOptions& o;
  Environment& env;
  std::uint16_t language;
  std::function<std::int64_t()> now_ms;
  SerialNumbers* serials;
  ProductionLog* log;
};

int RunSinglePort(Shared& s, const std::string& port_name) {
  const CliOptions& o = s.o;
  Environment& env = s.env;
  std::string port_error;
  std::unique_ptr<link::SerialPort> port = env.make_port(port_name, port_error);
  if (!port) {
    return UsageError(env, "cannot use port \"" + port_name + "\"" +
                               (port_error.empty() ? "" : ": " + port_error));
  }
  // A port that cannot be opened is named once, with the reason; going on
  // would only add write, read and flush errors on a handle that is not there.
  auto log_error = [&](const report::MessagePair& why) {
    env.err << "quillon: " << report::Pick(why, s.language) << '\n';
  };
  if (const std::vector<std::string> errors = port->Open(port_name); !errors.empty()) {
    env.err << report::Pick(CannotOpenMessage(port_name, errors.front()), s.language) << '\n';
    RunRecord record;
    record.command = o.command;
    record.port = port_name;
    record.file = o.argument;
    record.exit_status = kExitLinkFailure;
    return LogRecord(s.log, record, o, log_error);
  }
  port->Close();

  ConsoleView view(env.out, env.err, o.verbosity, env.progress_on_terminal, env.now_ms);
  view.set_language(s.language);
  // Connect and detect answer with the engine's texts; the operations with
  // a summary line of their own (and --json with its object).
  // An incremental write says what it compared and wrote; restore-row what
  // it found.
  view.set_results_shown(!o.json &&
                         (o.verbosity == Verbosity::kVerbose || o.command == Command::kConnect ||
                          o.command == Command::kDetect || o.command == Command::kRestoreRow ||
                          o.incremental));
  view.marks().erase_before_writing = !o.no_erase;
  view.marks().verify_after_writing = !o.no_verify;
  view.marks().enhanced_icsp = !o.plain_icsp;
  RunRecord record;
  const PortContext context{o,         port_name,       env.settings,     env.clock,
                            view,      s.language,      env.stop_request, env.kept_words,
                            s.serials, !o.port.empty(), s.now_ms};
  RunOnPort(context, *port, record);
  view.Finish();
  record.exit_status = LogRecord(s.log, record, o, log_error);
  if (o.json) {
    WriteJson(record, env.out);
  } else if (const std::string line = SummaryLine(record, s.language); !line.empty()) {
    env.out << line << '\n';
  }
  return record.exit_status;
}

// One session per port, side by side; no port's failure reaches another.
// A stop request reaches all of them through the one flag they poll.
int RunGang(Shared& s, const std::vector<std::string>& port_names) {
  const CliOptions& o = s.o;
  Environment& env = s.env;
  GangConsole console(env.err, port_names, env.progress_on_terminal,
                      o.verbosity == Verbosity::kQuiet || o.json, s.language, s.now_ms);
  GangSettings settings(env.settings);
  std::optional<LockedKeptWords> kept;
  if (env.kept_words != nullptr) kept.emplace(*env.kept_words);
  std::vector<RunRecord> records(port_names.size());

  auto run_port = [&](std::size_t i) {
    const std::string& name = port_names[i];
    RunRecord& record = records[i];
    record.command = o.command;
    record.port = name;
    record.exit_status = kExitLinkFailure;
    GangPortView view(console, i);
    view.marks().erase_before_writing = !o.no_erase;
    view.marks().verify_after_writing = !o.no_verify;
    view.marks().enhanced_icsp = !o.plain_icsp;
    auto error = [&](const report::MessagePair& why) {
      view.ShowStatus(report::Pick(why, s.language), report::StatusKind::kError);
    };
    try {
      const std::unique_ptr<report::Clock> own_clock = env.make_clock ? env.make_clock() : nullptr;
      std::string port_error;
      const std::unique_ptr<link::SerialPort> port = env.make_port(name, port_error);
      if (!port) {
        error({"cannot use this port" + (port_error.empty() ? "" : ": " + port_error),
               "このポートは使えません" + (port_error.empty() ? "" : ": " + port_error)});
      } else if (const std::vector<std::string> errors = port->Open(name); !errors.empty()) {
        error(CannotOpenMessage(name, errors.front()));
      } else {
        port->Close();
        const PortContext context{
            o,         name,       settings,         own_clock ? *own_clock : env.clock,
            view,      s.language, env.stop_request, kept ? &*kept : nullptr,
            s.serials,
            false,  // a list of ports is never remembered
            s.now_ms};
        RunOnPort(context, *port, record);
      }
    } catch (const std::exception& e) {
      // One session's failure must not end the others (an exception leaving
      // a thread would end the process).
      error({std::string("internal error: ") + e.what(), std::string("内部エラー: ") + e.what()});
      record.exit_status = kExitLinkFailure;
    }
    record.exit_status = LogRecord(s.log, record, o, error);
    console.Done(i, record.exit_status);
  };

  std::vector<std::thread> threads;
  threads.reserve(port_names.size());
  for (std::size_t i = 0; i < port_names.size(); ++i) threads.emplace_back(run_port, i);
  for (std::thread& thread : threads) thread.join();
  console.Finish();

  int code = kExitSuccess;
  for (const RunRecord& record : records) {
    code = MostSevere(code, record.exit_status);
    if (o.json) WriteJson(record, env.out, true);
  }
  if (!o.json) WriteGangTable(records, s.language, env.out);
  return code;
}

}  // namespace

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
  if (o.ports.empty() && !o.port.empty()) o.ports.push_back(o.port);
  std::vector<std::string> port_names;
  if (o.ports.empty()) {
    const std::string remembered = env.settings.Load(app::kComSetting);
    if (remembered.empty()) {
      return UsageError(env,
                        "no port given and none remembered; use -P PORT (a device path, "
                        "or sim for the simulated board)");
    }
    port_names.push_back(remembered);
  } else {
    port_names = o.ports;
  }
  for (std::string& name : port_names) {
    name = SimPortName(env, name);
    if (name.empty()) return kExitUsage;
  }
  for (std::size_t i = 0; i < port_names.size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      if (port_names[i] == port_names[j]) {
        return UsageError(env, "-P " + port_names[i] + " is given twice");
      }
    }
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
  for (const std::string* file : {&o.output, &o.listing, &o.log}) {
    if (file->empty()) continue;
    const std::filesystem::path parent = std::filesystem::path(*file).parent_path();
    if (!parent.empty() && !std::filesystem::is_directory(parent)) {
      return UsageError(env, (file == &o.log ? "--log" : "read") +
                                 std::string(": no such directory: ") + parent.string());
    }
  }
  if (!o.output.empty() && !EndsWithIgnoringCase(o.output, ".hex") &&
      !EndsWithIgnoringCase(o.output, ".bin")) {
    return UsageError(env, "read -o: the file name must end in .hex or .bin: " + o.output);
  }
  // Several ports write the same files side by side.
  if (port_names.size() > 1 && o.command == Command::kRead) {
    return UsageError(env, "read takes one -P port");
  }
  if ((o.command == Command::kWrite || o.command == Command::kVerify) && !Readable(o.argument)) {
    env.err << "quillon: cannot read HEX file: " << o.argument << '\n';
    return kExitFileRejected;
  }
  if (o.command == Command::kRestoreRow && !Readable(o.argument)) {
    env.err << "quillon: cannot read kept file: " << o.argument << '\n';
    return kExitFileRejected;
  }
  for (const std::string& name : port_names) {
    if (CannotBeAPort(name)) return UsageError(env, "not a serial port: " + name);
  }
  std::optional<SerialNumbers> serials;
  if (!o.serial.empty()) {
    std::string why;
    const std::optional<SerialSpec> spec = ParseSerialSpec(o.serial, why);
    if (!spec) return UsageError(env, why);
    std::filesystem::path state = o.serial_state;
    if (state.empty()) {
      if (env.config_dir.empty()) {
        return UsageError(env, "--serial: no configuration directory; give --serial-state FILE");
      }
      state = DefaultSerialState(env.config_dir, spec->address);
    }
    serials.emplace(*spec, state);
  }
  std::optional<ProductionLog> log;
  if (!o.log.empty()) log.emplace(o.log);
  if (exec_dir_given) {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(o.exec_dir, ec);
    env.settings.Store(kExecDirSetting, ec ? o.exec_dir : absolute.string());
  }

  Shared shared{o,
                env,
                language,
                env.now_ms ? env.now_ms : std::function<std::int64_t()>(SteadyMs),
                serials ? &*serials : nullptr,
                log ? &*log : nullptr};
  return port_names.size() == 1 ? RunSinglePort(shared, port_names.front())
                                : RunGang(shared, port_names);
}

}  // namespace quillon::cli
