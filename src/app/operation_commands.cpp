#include <optional>
#include <utility>

#include "app/application.h"
#include "app/ids.h"
#include "icsp/kept_words.h"
#include "icsp/mode_driver.h"
#include "icsp/operations.h"

namespace quillon::app {

bool Application::Connect() {
  return ConnectTo("COM" +
                   std::to_string((window_ != nullptr ? window_->SelectedComIndex() : 0) + 1));
}

bool Application::ConnectTo(const std::string& port_name) {
  port_name_ = port_name;
  session_.set_port_name(port_name);
  const link::ConnectResult result = link::Connect(session_.link(), port_name);
  if (result.connected) {
    session_.set_firmware_version(result.firmware_version);
    connected_ = true;
    view_.SetProgress(100);
    EnableControl(kConnectButton, false);
    SetOperationControls(true);
    EnableControl(kComList, false);
    EnableControl(kDeviceList, true);
    view_.ShowStatus(link::ConnectStatusText(result), report::StatusKind::kResult);
  } else {
    EnableControl(kConnectButton, true);
    EnableControl(kComList, true);
    SetOperationControls(false);
    EnableControl(kDeviceList, false);
    view_.ShowStatus(link::ConnectStatusText(result), report::StatusKind::kError);
  }
  return result.connected;
}

void Application::EnableControl(int control_id, bool enabled) {
  if (window_ != nullptr) window_->EnableControl(control_id, enabled);
}

void Application::SetOperationControls(bool enabled) {
  for (int id = kDetectButton; id <= kReadButton; ++id) EnableControl(id, enabled);
}

void Application::BeginOperationControls() {
  EnableControl(kConnectButton, false);
  SetOperationControls(false);
  EnableControl(kDeviceList, false);
  view_.Pump();
}

void Application::EndOperationControls() {
  EnableControl(kConnectButton, false);
  SetOperationControls(true);
  EnableControl(kDeviceList, true);
  view_.Pump();
}

icsp::Outcome Application::RunOperation(std::string_view first_text,
                                        const std::function<void()>& steps) {
  running_ = true;
  if (!close_pending_) stop_flag_ = false;
  reporter_.ShowStatus(first_text);
  BeginOperationControls();
  if (system_ != nullptr) system_->BeginTimerResolution();
  session_.link().OpenPort(port_name_);
  session_.BeginOperation();
  steps();
  session_.link().ClosePort();
  if (session_.stopped()) session_.ReportStopped();
  // A full bar under an error would read as done.
  if (window_ != nullptr && (session_.stopped() || session_.outcome() != icsp::Outcome::kOk)) {
    window_->ResetProgress();
  }
  if (system_ != nullptr) system_->EndTimerResolution();
  EndOperationControls();
  running_ = false;
  // The user closed the window while it ran; the part is in a known state now.
  if (close_pending_ && system_ != nullptr) system_->ExitProcess(0);
  return session_.outcome();
}

bool Application::PrepareExecutive() {
  // The preparation has said why and noted the outcome; without the
  // executive nothing that follows can be trusted.
  return icsp::PrepareExecutive(session_);
}

icsp::Outcome Application::Detect() {
  return RunOperation("Detecting...", [this] { icsp::DetectDevice(session_); });
}

icsp::Outcome Application::ReadDeviceId(icsp::DeviceIdReading& reading) {
  return RunOperation("Detecting...", [this, &reading] { reading = icsp::ReadDeviceId(session_); });
}

icsp::Outcome Application::Erase() {
  return RunOperation("Erasing...", [this] {
    if (ConfirmPart()) icsp::BulkErase(session_);
  });
}

icsp::Outcome Application::Check() {
  return RunOperation("Checking...", [this] {
    if (ConfirmPart()) icsp::BlankCheck(session_);
  });
}

void Application::Write() {
  const std::string path = system_ != nullptr ? system_->ChooseHexFile() : "";
  if (path.empty()) return;
  WriteFile(path);
}

// Each step ends the operation at its first failure: nothing after it
// reaches the part, and its report stays the last word.
bool Application::EraseAndWrite(image::MemoryImage& file) {
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

icsp::Outcome Application::WriteFile(const std::string& path) {
  return RunOperation("Loading...", [this, &path] {
    // Everything the write needs is loaded and checked before the part is
    // touched: a file that cannot be written must leave the part as it was.
    image::MemoryImage file;
    if (!icsp::LoadWriteFile(session_, path, file)) return;
    if (!ConfirmPart()) return;
    if (session_.OptionChecked(report::Option::kEraseBeforeWriting)) {
      report::MessagePair note;
      if (!OfferKeptCopy(note)) return;
      EraseAndWrite(file);
      // The copy was not put back: where it is stays on the status.
      if (!note.english.empty() && window_ != nullptr) {
        view_.ShowStatus(
            window_->StatusText() + std::string(report::kLineBreak) + reporter_.Pick(note),
            report::StatusKind::kNotice);
      }
      return;
    }
    if (!icsp::PrepareExecutive(session_)) return;
    session_.image() = std::move(file);
    icsp::WriteDevice(session_);
  });
}

icsp::Outcome Application::WriteFileIncremental(const std::string& path) {
  return RunOperation("Loading...", [this, &path] {
    image::MemoryImage file;
    if (!icsp::LoadWriteFile(session_, path, file)) return;
    if (!icsp::PrepareExecutive(session_)) return;
    session_.image() = file;
    if (icsp::WriteDeviceIncremental(session_) != icsp::IncrementalResult::kProtected) return;
    // Only a bulk erase lifts the protection; it takes the executive with it.
    EraseAndWrite(file);
  });
}

icsp::Outcome Application::Read(const std::string& output_dir) {
  return RunOperation("Reading...", [this, &output_dir] {
    if (ConfirmPart() && PrepareExecutive()) icsp::ReadDevice(session_, output_dir);
  });
}

icsp::Outcome Application::RestoreRow(const std::string& path) {
  return RunOperation("Restoring...", [this, &path] { icsp::RestoreKeptWords(session_, path); });
}

icsp::Outcome Application::ReadInto(const icsp::ReadFiles& files) {
  return RunOperation("Reading...", [this, &files] {
    if (PrepareExecutive()) icsp::ReadDevice(session_, files);
  });
}

icsp::Outcome Application::VerifyFile(const std::string& path) {
  return RunOperation("Loading...", [this, &path] {
    // The file is checked as a write checks it before the part is touched.
    image::MemoryImage file;
    if (!icsp::LoadWriteFile(session_, path, file)) return;
    if (!PrepareExecutive()) return;
    session_.image() = std::move(file);
    icsp::VerifyDevice(session_);
  });
}

}  // namespace quillon::app
