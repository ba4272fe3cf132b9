#include "app/application.h"
#include "app/ids.h"
#include "icsp/operations.h"

namespace quillon::app {

bool Application::Connect() {
  return ConnectTo("COM" + std::to_string(view_.SelectedComIndex() + 1));
}

bool Application::ConnectTo(const std::string& port_name) {
  port_name_ = port_name;
  const link::ConnectResult result = link::Connect(session_.link, port_name);
  if (result.connected) {
    session_.firmware_version = result.firmware_version;
    connected_ = true;
    view_.SetProgress(100);
    view_.EnableControl(kConnectButton, false);
    SetOperationControls(true);
    view_.EnableControl(kComList, false);
    view_.EnableControl(kDeviceList, true);
    view_.ShowStatus(link::ConnectStatusText(result), report::StatusKind::kResult);
  } else {
    view_.EnableControl(kConnectButton, true);
    view_.EnableControl(kComList, true);
    SetOperationControls(false);
    view_.EnableControl(kDeviceList, false);
    view_.ShowStatus(link::ConnectStatusText(result), report::StatusKind::kError);
  }
  return result.connected;
}

void Application::SetOperationControls(bool enabled) {
  for (int id = kDetectButton; id <= kReadButton; ++id) view_.EnableControl(id, enabled);
}

void Application::BeginOperationControls() {
  view_.EnableControl(kConnectButton, false);
  SetOperationControls(false);
  view_.EnableControl(kDeviceList, false);
  view_.Pump();
}

void Application::EndOperationControls() {
  view_.EnableControl(kConnectButton, false);
  SetOperationControls(true);
  view_.EnableControl(kDeviceList, true);
  view_.Pump();
}

icsp::Outcome Application::RunOperation(std::string_view first_text,
                                        const std::function<void()>& steps) {
  reporter_.ShowStatus(first_text);
  BeginOperationControls();
  system_.BeginTimerResolution();
  session_.link.OpenPort(port_name_);
  session_.BeginOperation();
  steps();
  session_.link.ClosePort();
  if (session_.stopped()) reporter_.ReportError(icsp::StoppedMessage(session_.stopped_at()));
  system_.EndTimerResolution();
  EndOperationControls();
  return session_.outcome();
}

bool Application::PrepareExecutive() {
  if (icsp::PrepareExecutive(session_)) return true;
  // The preparation has said why; without the executive file nothing that
  // follows can be trusted, so the operation must not end as a success.
  session_.NoteOutcome(icsp::Outcome::kFileRejected);
  return false;
}

icsp::Outcome Application::Detect() {
  return RunOperation("Detecting...", [this] { icsp::DetectDevice(session_); });
}

icsp::Outcome Application::ReadDeviceId(icsp::DeviceIdReading& reading) {
  return RunOperation("Detecting...", [this, &reading] { reading = icsp::ReadDeviceId(session_); });
}

icsp::Outcome Application::Erase() {
  return RunOperation("Erasing...", [this] { icsp::BulkErase(session_); });
}

icsp::Outcome Application::Check() {
  return RunOperation("Checking...", [this] {
    if (PrepareExecutive()) icsp::BlankCheck(session_);
  });
}

void Application::Write() {
  const std::string path = system_.ChooseHexFile();
  if (path.empty()) return;
  WriteFile(path);
}

bool Application::PrepareAndLoad(const std::string& path) {
  if (!PrepareExecutive()) return false;
  // A file the loader rejected or could not read leaves a cleared or partial
  // image; programming that would wipe the part with a result reported as
  // success, so the write stops here.
  return icsp::LoadHexFile(session_, path) == image::LoadResult::kLoaded;
}

icsp::Outcome Application::WriteFile(const std::string& path) {
  return RunOperation("Loading...", [this, &path] {
    if (session_.OptionChecked(report::Option::kEraseBeforeWriting)) {
      reporter_.ShowStatus("Erasing...");
      icsp::BulkErase(session_);
    }
    if (PrepareAndLoad(path)) icsp::WriteDevice(session_);
  });
}

icsp::Outcome Application::WriteFileIncremental(const std::string& path) {
  return RunOperation("Loading...", [this, &path] {
    if (!PrepareAndLoad(path)) return;
    if (icsp::WriteDeviceIncremental(session_) != icsp::IncrementalResult::kProtected) return;
    // Only a bulk erase lifts the protection; it takes the executive with it.
    reporter_.ShowStatus("Erasing...");
    icsp::BulkErase(session_);
    if (PrepareAndLoad(path)) icsp::WriteDevice(session_);
  });
}

icsp::Outcome Application::Read(const std::string& output_dir) {
  return RunOperation("Reading...", [this, &output_dir] {
    if (PrepareExecutive()) icsp::ReadDevice(session_, output_dir);
  });
}

}  // namespace quillon::app
