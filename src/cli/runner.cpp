#include "cli/runner.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "app/connection.h"
#include "app/durable_file.h"
#include "cli/command.h"
#include "cli/console_view.h"
#include "cli/exit_codes.h"
#include "cli/gang_console.h"
#include "cli/port_session.h"
#include "cli/production_log.h"
#include "cli/run_record.h"
#include "cli/serial_numbers.h"
#include "devices/catalogue.h"
#include "image/sha256.h"
#include "report/message.h"

namespace quillon::cli {
namespace {

// The remembered executive directory; the one given with the simulated
// board is kept apart, so that its stand-in files never reach a real part.
constexpr std::string_view kExecDirSetting = "EXEC_DIR";
constexpr std::string_view kSimExecDirSetting = "SIM_EXEC_DIR";

// The catalogue's spelling of a part name given in any case, or "".
std::string CanonicalPartName(std::string_view name) {
  for (const devices::DeviceRecord& row : devices::Catalogue()) {
    const std::string_view known = devices::TrimBlanks(row.name);
    if (Lower(known) == Lower(name)) return std::string(known);
  }
  return "";
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

// "sim:DEVICE,..." with the part in the catalogue's spelling and the state
// file made absolute, so that the remembered port names the same chip from
// any directory; "" with a usage error printed when the part is unknown.
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

// The line's record of a part; a log that cannot take it turns a success
// into a failure, since the part would go out unrecorded.
Result LogRecord(ProductionLog* log, const RunRecord& record, const CliOptions& o,
                 const std::function<void(const report::MessagePair&)>& error) {
  if (log == nullptr || o.dry_run) return record.exit_status;
  report::MessagePair why;
  if (log->Append(record, why)) return record.exit_status;
  error(why);
  return MostSevere(record.exit_status, Result::kFileRejected);
}

// The settings and the kept-words store, shared by the sessions of a gang.
// Each session starts from the values as they were when the run began: a
// part one board detected must not become the selection of its neighbours.
class GangSettings : public app::SettingsStore {
 public:
  explicit GangSettings(app::SettingsStore& store) : store_(store) {
    for (std::string_view name :
         {app::kChipSetting, app::kComSetting, kExecDirSetting, kSimExecDirSetting}) {
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
  std::string Save(icsp::KeptWords words, std::string& why) override {
    std::lock_guard lock(mutex_);
    return store_.Save(std::move(words), why);
  }
  std::vector<std::string> List(std::uint16_t device_id, const std::string& port) override {
    std::lock_guard lock(mutex_);
    return store_.List(device_id, port);
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

Result RunSinglePort(Shared& s, const std::string& port_name, bool& answered) {
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
  app::Connection connection(*port);
  if (const std::vector<std::string> errors = connection.Open(port_name); !errors.empty()) {
    env.err << report::Pick(CannotOpenMessage(port_name, errors.front()), s.language) << '\n';
    RunRecord record;
    record.command = o.command;
    record.port = port_name;
    record.file = o.argument;
    record.exit_status = Result::kLinkFailure;
    return LogRecord(s.log, record, o, log_error);
  }
  answered = true;

  ConsoleView view(env.out, env.err, o.verbosity, env.progress_on_terminal, env.now_ms);
  view.set_language(s.language);
  view.marks().erase_before_writing = !o.no_erase;
  view.marks().verify_after_writing = !o.no_verify;
  view.marks().enhanced_icsp = !o.plain_icsp;
  RunRecord record;
  const PortContext context{o,         port_name,       env.settings,     env.clock,
                            view,      s.language,      env.stop_request, env.kept_words,
                            s.serials, !o.port.empty(), s.now_ms};
  // The socket the selection names comes again with detection; only the
  // step texts show it.
  view.set_results_shown(o.verbosity == Verbosity::kVerbose);
  RunOnPort(context, connection, record, [&view, &o] {
    // The engine's texts answer where the command has no summary line.
    view.set_results_shown(
        !o.json && (o.verbosity == Verbosity::kVerbose || CommandFor(o.command).shows_results));
  });
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
Result RunGang(Shared& s, const std::vector<std::string>& port_names) {
  const CliOptions& o = s.o;
  Environment& env = s.env;
  GangConsole console(env.err, port_names, env.progress_on_terminal,
                      o.verbosity == Verbosity::kQuiet, s.language, s.now_ms);
  GangSettings settings(env.settings);
  std::optional<LockedKeptWords> kept;
  if (env.kept_words != nullptr) kept.emplace(*env.kept_words);
  std::vector<RunRecord> records(port_names.size());

  auto run_port = [&](std::size_t i) {
    const std::string& name = port_names[i];
    RunRecord& record = records[i];
    record.command = o.command;
    record.port = name;
    record.file = o.argument;  // named also when the port cannot be used
    record.exit_status = Result::kLinkFailure;
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
      std::optional<app::Connection> connection;
      if (port) connection.emplace(*port);
      if (!port) {
        error({"cannot use this port" + (port_error.empty() ? "" : ": " + port_error),
               "このポートは使えません" + (port_error.empty() ? "" : ": " + port_error)});
      } else if (const std::vector<std::string> errors = connection->Open(name); !errors.empty()) {
        error(CannotOpenMessage(name, errors.front()));
      } else {
        const PortContext context{
            o,         name,       settings,         own_clock ? *own_clock : env.clock,
            view,      s.language, env.stop_request, kept ? &*kept : nullptr,
            s.serials,
            false,  // a list of ports is never remembered
            s.now_ms};
        RunOnPort(context, *connection, record);
      }
    } catch (const std::exception& e) {
      // One session's failure must not end the others (an exception leaving
      // a thread would end the process).
      error({std::string("internal error: ") + e.what(), std::string("内部エラー: ") + e.what()});
      record.exit_status = Result::kLinkFailure;
    }
    record.exit_status = LogRecord(s.log, record, o, error);
    console.Done(i, record.exit_status);
  };

  std::vector<std::thread> threads;
  threads.reserve(port_names.size());
  for (std::size_t i = 0; i < port_names.size(); ++i) threads.emplace_back(run_port, i);
  for (std::thread& thread : threads) thread.join();
  console.Finish();

  Result code = Result::kOk;
  for (const RunRecord& record : records) {
    code = MostSevere(code, record.exit_status);
    if (o.json) WriteJson(record, env.out, true);
  }
  if (!o.json) WriteGangTable(records, s.language, env.out);
  return code;
}

// `answered`: standard output already carries the run's JSON.
Result RunChecked(const CliOptions& given, Environment& env, bool& answered) {
  CliOptions o = given;
  const std::uint16_t language = o.lang == "ja"   ? report::kJapaneseLangId
                                 : o.lang == "en" ? report::kEnglishLangId
                                                  : env.locale_language;
  const ConsoleCommand& command = CommandFor(o.command);
  if (!command.on_board) {
    answered = o.json;
    return command.run_here(o, env, language);
  }

  // Everything that can be refused without the board is refused before it
  // is touched: a wrong file name must not cost an erased part.
  if (o.ports.empty() && !o.port.empty()) o.ports.push_back(o.port);
  std::vector<std::string> port_names = o.ports;
  if (port_names.empty()) {
    const std::string remembered = env.settings.Load(app::kComSetting);
    if (remembered.empty()) {
      return UsageError(env,
                        "no port given and none remembered; use -P PORT (a device path, "
                        "or sim for the simulated board)");
    }
    port_names.push_back(remembered);
  }
  for (std::string& name : port_names) {
    if (devices::TrimBlanks(name).empty())
      return UsageError(
          env, report::Pick({"-P: the port name is empty", "-P: ポート名が空です"}, language));
    name = SimPortName(env, name);
    if (name.empty()) return Result::kUsage;
  }
  // Two sessions on one port would garble each other's commands; a link
  // (/dev/serial/by-id/...) names the device it points to.
  std::vector<std::string> devices;
  for (std::size_t i = 0; i < port_names.size(); ++i) {
    const std::string& name = port_names[i];
    std::error_code ec;
    const std::filesystem::path real = name.starts_with("sim")
                                           ? std::filesystem::path(name)
                                           : std::filesystem::weakly_canonical(name, ec);
    devices.push_back(ec ? name : real.string());
    for (std::size_t j = 0; j < i; ++j) {
      if (devices[i] == devices[j]) {
        return UsageError(
            env, "-P " + port_names[j] + " and -P " + port_names[i] + " are the same port");
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
  const bool simulated = std::all_of(port_names.begin(), port_names.end(), [](const auto& name) {
    return name == "sim" || name.starts_with("sim:");
  });
  const std::string_view exec_dir_setting = simulated ? kSimExecDirSetting : kExecDirSetting;
  if (!exec_dir_given) o.exec_dir = env.settings.Load(exec_dir_setting);
  if (!o.exec_dir.empty() && !std::filesystem::is_directory(o.exec_dir)) {
    // A remembered directory that has gone is forgotten quietly: the
    // executive may not even be needed.
    if (exec_dir_given) return UsageError(env, "--exec-dir: no such directory: " + o.exec_dir);
    o.exec_dir.clear();
  }
  if (command.check != nullptr) {
    if (const Result code = command.check(o, env, port_names.size(), language);
        code != Result::kOk) {
      return code;
    }
  }
  for (const std::string& name : port_names) {
    if (CannotBeAPort(name)) return UsageError(env, "not a serial port: " + name);
  }
  std::optional<SerialNumbers> serials;
  if (!o.serial.empty()) {
    std::string why;
    const std::optional<SerialPlan> plan = ParseSerialPlan(o.serial, why);
    if (!plan) return UsageError(env, why);
    std::filesystem::path state = o.serial_state;
    if (state.empty()) {
      if (env.config_dir.empty()) {
        return UsageError(env, "--serial: no configuration directory; give --serial-state FILE");
      }
      state = DefaultSerialState(env.config_dir, plan->address);
    }
    serials.emplace(*plan, state);
  }
  std::optional<ProductionLog> log;
  if (!o.log.empty()) {
    // A log that cannot be written is found before any part is programmed.
    if (std::string why; !o.dry_run && !app::AppendLineDurably(o.log, "", why)) {
      env.err << "quillon: --log: " << why << '\n';
      return Result::kFileRejected;
    }
    log.emplace(o.log);
  }
  if (exec_dir_given) {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(o.exec_dir, ec);
    env.settings.Store(exec_dir_setting, ec ? o.exec_dir : absolute.string());
  }

  Shared shared{o,
                env,
                language,
                env.now_ms ? env.now_ms : std::function<std::int64_t()>(SteadyMs),
                serials ? &*serials : nullptr,
                log ? &*log : nullptr};
  return port_names.size() == 1 ? RunSinglePort(shared, port_names.front(), answered)
                                : (answered = true, RunGang(shared, port_names));
}

}  // namespace

// Scripts get one JSON object for every run, also one that ended before
// any operation began.
Result RunCommand(const CliOptions& options, Environment& env) {
  bool answered = false;
  const Result code = RunChecked(options, env, answered);
  if (options.json && !answered) {
    RunRecord record;
    record.command = options.command;
    record.exit_status = code;
    if (CommandFor(options.command).names_file) {
      record.file = options.argument;
      record.sha256 = image::FileSha256Hex(options.argument);
    }
    WriteJson(record, env.out);
  }
  return code;
}

}  // namespace quillon::cli
