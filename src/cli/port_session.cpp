#include "cli/port_session.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "app/application.h"
#include "cli/exit_codes.h"
#include "cli/operation_guard.h"
#include "devices/catalogue.h"
#include "icsp/erase_units.h"
#include "icsp/operations.h"
#include "image/hex_loader.h"
#include "image/hex_writer.h"
#include "image/sha256.h"
#include "report/message.h"

namespace quillon::cli {

bool EndsWithIgnoringCase(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() &&
         std::equal(tail.begin(), tail.end(), text.end() - static_cast<std::ptrdiff_t>(tail.size()),
                    [](char a, char b) {
                      return std::tolower(static_cast<unsigned char>(a)) ==
                             std::tolower(static_cast<unsigned char>(b));
                    });
}

namespace {

// "sim:dsPIC30F4013,state=..." names the part in its socket.
std::string SimulatedPart(const std::string& port_name) {
  if (!port_name.starts_with("sim:")) return "";
  return port_name.substr(4, port_name.find(',') - 4);
}

// A relative device path is remembered whole, like a simulated board's
// state file: a run from another directory must reach the same port.
// Windows port names (COM3) are no paths.
std::string RememberedPortName(const std::string& port_name) {
#ifndef _WIN32
  if (port_name != "sim" && !port_name.starts_with("sim:")) {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(port_name, ec);
    if (!ec) return absolute.lexically_normal().string();
  }
#endif
  return port_name;
}

// The erase units of program memory an incremental write of `file` compares.
UnitTally TouchedUnits(const image::MemoryImage& file, const devices::DeviceRecord& part) {
  const icsp::EraseUnitRules rules = icsp::EraseUnitRulesFor(part);
  UnitTally units{std::string(rules.unit_name), std::string(rules.unit_name_ja)};
  const auto words = static_cast<std::uint32_t>(part.program_words);
  for (std::uint32_t first = 0; rules.unit_instructions > 0 && first < words;
       first += rules.unit_instructions) {
    for (std::uint32_t i = first; i < std::min(words, first + rules.unit_instructions); ++i) {
      if (image::InstructionAt(file.program, i) != 0xFFFFFF) {
        ++units.compared;
        break;
      }
    }
  }
  return units;
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
      CheckIdentity(run.app.session().device().device, reading, run.o.force);
  if (verdict.identity == Identity::kSelected) {
    record.identified = true;
    return kExitSuccess;
  }
  run.Error(verdict.message);
  if (run.o.force) return kExitSuccess;
  run.identity_refused = true;
  if (verdict.identity == Identity::kOtherPart) {
    record.identified = true;
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
  if (image::LoadHexFile(run.o.argument, file, session.device(), reporter, &summary) !=
      image::LoadResult::kLoaded) {
    return kExitSuccess;
  }
  const SerialPlan& plan = run.serials->plan();
  if (const auto problem =
          SerialPlaceProblem(plan, session.device().device.program_words, summary)) {
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
                static_cast<unsigned>(plan.address), static_cast<unsigned long long>(*number));
  // Beside the state, not in a shared temporary directory, where another
  // user could put a link under the foreseeable name.
  with_serial = run.serials->state().parent_path() / name;
  if (!WriteFileWithSerial(run.o.argument, plan, *number, with_serial)) {
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
  if (o.command == Command::kDetect) {
    const int code = ExitCodeFor(app.Detect());
    record.identified = code == kExitSuccess && session.device().selected;
    return code;
  }
  // The part is checked against the DeviceID in the file, not the selection.
  if (o.command == Command::kRestoreRow) return ExitCodeFor(app.RestoreRow(o.argument));

  if (NeedsPart(o.command)) {
    if (!session.device().selected) {
      const icsp::Outcome detected = app.Detect();
      if (detected != icsp::Outcome::kOk) return ExitCodeFor(detected);
      if (!session.device().selected) return kExitProblem;
      record.identified = true;
    } else if (const int code = ConfirmIdentity(run, record); code != kExitSuccess) {
      return code;
    }
    if (run.StopRequested()) {
      run.Error(StoppedBeforeMessage(CommandName(o.command)));
      return kExitStopped;
    }
  }
  const devices::DeviceRecord& part = session.device().device;
  // The file's own words, whatever the operation left in the image.
  auto count_file = [&](const std::string& path) {
    report::NullSink quiet;
    report::ManualClock no_pause;
    report::Reporter reporter(quiet, no_pause, nullptr);
    image::MemoryImage file;
    if (image::LoadHexFile(path, file, session.device(), reporter) != image::LoadResult::kLoaded) {
      return;
    }
    record.counts =
        CountImageWords(file, part.program_words, part.eeprom_bytes, session.form().config.written);
    if (o.incremental && o.dry_run) record.units = TouchedUnits(file, part);
  };
  if (o.dry_run) {
    if (o.command == Command::kWrite) {
      // The write's own file checks (data, end record, room in the part),
      // into the session's image only.
      image::MemoryImage file;
      if (!icsp::LoadWriteFile(session, o.argument, file)) return kExitFileRejected;
      session.image() = std::move(file);
      count_file(o.argument);
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
      count_file(path);
      if (!with_serial.empty()) {
        std::error_code ignored;
        std::filesystem::remove(with_serial, ignored);
      }
      if (o.incremental && code == kExitSuccess && session.incremental_tally()) {
        const icsp::IncrementalTally& t = *session.incremental_tally();
        UnitTally units = TouchedUnits(session.image(), part);
        units.compared = t.compared;
        units.written = t.written;
        units.eeprom_words = t.eeprom_words;
        units.config_registers = t.config_registers;
        record.units = units;
      }
      record.verified = code == kExitSuccess && !o.no_verify;
      return code;
    }
    case Command::kVerify: {
      const int code = ExitCodeFor(app.VerifyFile(o.argument));
      count_file(o.argument);
      return code;
    }
    case Command::kRead: {
      const icsp::ReadFiles files = ReadFilesFor(o);
      int code = ExitCodeFor(app.ReadInto(files));
      if (code == kExitSuccess && !o.output.empty() && files.hex.empty() &&
          !image::WriteProgramBinary(o.output, session.image(), session.device(), app.reporter())) {
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

}  // namespace

int RunOnPort(const PortContext& c, link::SerialPort& port, RunRecord& record,
              const std::function<void()>& selected) {
  const CliOptions& o = c.o;
  const std::int64_t start_ms = c.now_ms();
  const std::uint16_t language = c.language;
  app::Application app(c.view, c.settings, port, c.clock, [language] { return language; });
  app.reporter().set_error_pause(false);  // a console keeps its errors on screen
  app.session().set_executive_dir(o.exec_dir);
  app.session().set_executive_missing_hint(
      {"Give the folder that holds it with --exec-dir DIR, or program with plain ICSP: --icsp.",
       "--exec-dir DIR でﾌｧｲﾙのあるﾌｫﾙﾀﾞを指定するか、--icsp で通常のICSPを使ってください。"});
  app.session().set_kept_words_store(c.kept_words);
#ifdef _WIN32
  app.session().set_console_program("quillon-cli");
#endif

  // An explicit device (-p, or the part a simulated board names) is chosen
  // and remembered; otherwise the remembered one is used when the catalogue
  // still knows it, else detection decides.
  const std::string remembered_chip = c.settings.Load(app::kChipSetting);
  const std::string device = !o.device.empty() ? o.device : SimulatedPart(c.port_name);
  if (!device.empty()) {
    app.ChooseDevice(device);
  } else {
    const std::string chip = app::LoadChip(c.settings);
    if (!chip.empty() && devices::FindByName(chip) != nullptr) {
      devices::SelectDevice(app.session().device(), chip, app.reporter());
    }
  }

  if (selected) selected();

  // Connect fixes the port and the firmware version the engine works with.
  record.command = o.command;
  record.port = c.port_name;
  record.dry_run = o.dry_run;
  record.incremental = o.incremental;
  record.erase_first = o.dry_run && !o.no_erase;
  record.verified = o.dry_run && !o.no_verify;
  if (o.command == Command::kWrite || o.command == Command::kVerify) record.file = o.argument;
  app.session().set_stop_request(c.stop_request);
  int code = kExitLinkFailure;
  bool refused = false;
  if (app.ConnectTo(c.port_name)) {
    // Only a port with a board that answered is remembered: a mistyped -P
    // must not replace the working one.
    if (c.remember_port) c.settings.Store(app::kComSetting, RememberedPortName(c.port_name));
    const std::uint16_t fw = app.session().firmware_version();
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
  // A part that the socket refused must not become the next run's choice.
  if (refused && !device.empty()) c.settings.Store(app::kChipSetting, remembered_chip);
  if (app.session().device().selected && !refused) {
    record.part = std::string(devices::TrimBlanks(app.session().device().device.name));
    record.device_id = app.session().device().device.device_id;
  }
  if (!record.file.empty() && (o.command != Command::kRead || code == kExitSuccess)) {
    record.sha256 = image::FileSha256Hex(record.file);
  }
  record.elapsed_ms = c.now_ms() - start_ms;
  record.exit_status = code;
  return code;
}

}  // namespace quillon::cli
