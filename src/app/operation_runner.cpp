#include "app/operation_runner.h"

#include <optional>
#include <utility>

#include "devices/selection.h"
#include "icsp/kept_words.h"
#include "icsp/mode_driver.h"
#include "image/hex_writer.h"
#include "link/connect.h"

namespace quillon::app {

OperationRunner::OperationRunner(StatusView& view, SettingsStore& settings, link::SerialPort& port,
                                 report::Clock& clock, report::LanguageSource language)
    : view_(view),
      settings_(settings),
      reporter_(view, clock, std::move(language)),
      session_(port, reporter_, view) {
  session_.set_detection_listener(this);
}

void OperationRunner::Configure(RunnerSetup setup) {
  setup_ = std::move(setup);
  reporter_.set_error_pause(setup_.error_pause);
  session_.set_executive_dir(setup_.executive_dir);
  session_.set_executive_missing_hint(setup_.executive_missing_hint);
  session_.set_kept_words_store(setup_.kept_words);
  session_.set_console_program(setup_.console_program);
  session_.set_stop_request(setup_.stop_request);
}

bool OperationRunner::ConnectTo(const std::string& port_name) {
  session_.set_port_name(port_name);
  const link::ConnectResult result = link::Connect(session_.link(), port_name);
  if (result.connected) {
    session_.set_firmware_version(result.firmware_version);
    connected_ = true;
    view_.SetProgress(100);
  }
  Connected(result.connected);
  view_.ShowStatus(link::ConnectStatusText(result),
                   result.connected ? report::StatusKind::kResult : report::StatusKind::kError);
  return result.connected;
}

bool OperationRunner::ChooseDevice(const std::string& name, bool remember) {
  if (!devices::SelectDevice(session_.device(), name, reporter_)) return false;
  if (remember) settings_.Store(kChipSetting, name);
  return true;
}

void OperationRunner::DeviceDetected(const std::string& name) {
  Detected(name);
  settings_.Store(kChipSetting, name);
}

icsp::Outcome OperationRunner::RunOperation(std::string_view first_text,
                                            const std::function<void()>& steps) {
  FrameOpening();
  reporter_.ShowStatus(first_text);
  FrameOpened();
  session_.link().OpenPort(session_.port_name());
  session_.BeginOperation();
  steps();
  session_.link().ClosePort();
  if (session_.stopped()) session_.ReportStopped();
  FrameClosed(session_.stopped() || session_.outcome() != icsp::Outcome::kOk);
  return session_.outcome();
}

IdentityVerdict OperationRunner::JudgeIdentity(const icsp::DeviceIdReading& reading) const {
  return app::JudgeIdentity(session_.device().device, reading, setup_.identity_wording,
                            setup_.identity_forced);
}

// A part other than the selected one is never erased, read or written with
// a program built for another.
bool OperationRunner::ConfirmPart() {
  if (!setup_.confirm_part || !session_.device().selected) return true;
  const icsp::DeviceIdReading reading = icsp::ReadDeviceId(session_);
  if (session_.link().failed()) {
    session_.FinishWith({});
    return false;
  }
  const IdentityVerdict verdict = JudgeIdentity(reading);
  if (verdict.identity == Identity::kSelected) return true;
  reporter_.ReportError(verdict.message, report::FailureKind::kPart);
  session_.NoteOutcome(icsp::Outcome::kProblem);
  return false;
}

icsp::Outcome OperationRunner::Detect() {
  return RunOperation("Detecting...", [this] { icsp::DetectDevice(session_); });
}

icsp::Outcome OperationRunner::ReadDeviceId(icsp::DeviceIdReading& reading) {
  return RunOperation("Detecting...", [this, &reading] { reading = icsp::ReadDeviceId(session_); });
}

icsp::Outcome OperationRunner::Erase() {
  return RunOperation("Erasing...", [this] {
    if (ConfirmPart()) icsp::BulkErase(session_);
  });
}

icsp::Outcome OperationRunner::Check() {
  return RunOperation("Checking...", [this] {
    if (ConfirmPart()) icsp::BlankCheck(session_);
  });
}

// Each step ends the operation at its first failure: nothing after it
// reaches the part, and its report stays the last word.
bool OperationRunner::EraseAndWrite(image::MemoryImage& file) {
  // The erase takes the executive with it, so in the executive's mode its
  // file is loaded (and checked) before anything is erased.
  std::optional<image::MemoryImage> executive;
  if (session_.OpenMode().NeedsExecutive() &&
      !icsp::LoadExecutiveFile(session_, executive.emplace())) {
    return false;
  }
  reporter_.ShowStatus("Erasing...");
  if (icsp::BulkErase(session_) != icsp::Outcome::kOk) return false;
  if (!icsp::PrepareExecutive(session_, executive ? &*executive : nullptr)) return false;
  session_.image() = std::move(file);
  return icsp::WriteDevice(session_);
}

void OperationRunner::WriteLoaded(image::MemoryImage& file) {
  if (!ConfirmPart()) return;
  if (session_.OptionChecked(report::Option::kEraseBeforeWriting)) {
    report::MessagePair note;
    if (!BeforeWriteErases(note)) return;
    EraseAndWrite(file);
    AfterWrite(note);
    return;
  }
  // The preparation says why it failed and notes the outcome; without
  // the executive nothing that follows can be trusted.
  if (!icsp::PrepareExecutive(session_)) return;
  session_.image() = std::move(file);
  icsp::WriteDevice(session_);
}

void OperationRunner::WriteLoadedIncrementally(image::MemoryImage& file) {
  if (!icsp::PrepareExecutive(session_)) return;
  session_.image() = file;
  if (icsp::WriteDeviceIncremental(session_) != icsp::IncrementalResult::kProtected) return;
  // Only a bulk erase lifts the protection; it takes the executive with it.
  EraseAndWrite(file);
}

// Everything a write needs is loaded and checked before the part is
// touched: a file that cannot be written must leave the part as it was.
icsp::Outcome OperationRunner::WriteFile(const std::string& path, bool incremental) {
  return RunOperation("Loading...", [this, &path, incremental] {
    image::MemoryImage file;
    if (!icsp::LoadWriteFile(session_, path, file)) return;
    incremental ? WriteLoadedIncrementally(file) : WriteLoaded(file);
  });
}

icsp::Outcome OperationRunner::WriteImage(image::MemoryImage file, bool incremental) {
  return RunOperation("Loading...", [this, &file, incremental] {
    incremental ? WriteLoadedIncrementally(file) : WriteLoaded(file);
  });
}

icsp::WritePlan OperationRunner::PlanFor(const image::MemoryImage& file, bool incremental) const {
  return icsp::PlanWrite(session_.device().device, file, icsp::ChoicesOf(session_, incremental));
}

icsp::Outcome OperationRunner::Read(const std::string& output_dir) {
  return ReadInto({output_dir, image::kListingName, image::kHexName});
}

icsp::Outcome OperationRunner::RestoreRow(const std::string& path) {
  return RunOperation("Restoring...", [this, &path] { icsp::RestoreKeptWords(session_, path); });
}

icsp::Outcome OperationRunner::ReadInto(const icsp::ReadFiles& files) {
  return RunOperation("Reading...", [this, &files] {
    if (ConfirmPart() && icsp::PrepareExecutive(session_)) icsp::ReadDevice(session_, files);
  });
}

icsp::Outcome OperationRunner::VerifyFile(const std::string& path) {
  return RunOperation("Loading...", [this, &path] {
    // The file is checked as a write checks it before the part is touched.
    image::MemoryImage file;
    if (!icsp::LoadWriteFile(session_, path, file)) return;
    if (!icsp::PrepareExecutive(session_)) return;
    session_.image() = std::move(file);
    icsp::VerifyDevice(session_);
  });
}

}  // namespace quillon::app
