#include "app/application.h"

#include "app/ids.h"
#include "devices/catalogue.h"
#include "report/message.h"

namespace quillon::app {

int LoadCom(SettingsStore& store) {
  // Only the last character counts ("COM3" gives 3); anything but COM1..COM9
  // reads as nothing stored, so the list keeps its first entry selected.
  const std::string value = store.Load(kComSetting);
  if (value.empty()) return -1;
  const char last = value.back();
  if (last < '1' || last > '9') return -1;
  return last - '0';
}

std::string AboutText(const std::optional<std::string>& os_line) {
  const std::string_view br = report::kLineBreak;
  std::string text;
  for (std::string_view line :
       {kVersionLine, std::string_view("Host programmer for dsPIC30F, dsPIC33F, PIC24F and PIC24H"),
        std::string_view("by the Quillon developers"), kWebAddress}) {
    text.append(line).append(br);
  }
  text.append(br);
  if (os_line) text += *os_line;
  return text;
}

Application::Application(View& window, SettingsStore& settings, SystemActions& system,
                         link::SerialPort& port, report::Clock& clock,
                         report::LanguageSource language, RunnerSetup setup)
    : OperationRunner(window, settings, port, clock, std::move(language)),
      window_(window),
      system_(system) {
  setup.stop_request = &stop_flag_;
  Configure(std::move(setup));
}

void Application::Start() {
  for (int n = 1; n <= 9; ++n) window_.AddComPort("COM" + std::to_string(n));
  window_.SelectComIndex(0);
  const int stored_com = LoadCom(settings_);
  if (stored_com >= 0) window_.SelectComIndex(stored_com - 1);

  window_.ResetProgress();

  window_.EnableControl(kConnectButton, true);
  SetOperationControls(false);
  window_.EnableControl(kDeviceList, false);

  for (const devices::DeviceRecord& row : devices::Catalogue()) window_.AddDeviceName(row.name);

  // The remembered device is selected but not stored again.
  const std::string chip = settings_.Load(kChipSetting);
  if (!chip.empty()) {
    window_.SelectDeviceName(chip);
    ChooseDevice(chip, false);
  }

  About();
}

void Application::Dispatch(int command_id, int notification) {
  switch (command_id) {
    case kComList:
      if (notification != kSelectionChange) return;
      if (const int index = window_.SelectedComIndex(); index >= 0) {
        settings_.Store(kComSetting, "COM" + std::to_string(index + 1));
      }
      return;
    case kConnectButton:
      if (notification == kButtonClicked) Connect();
      return;
    case kDeviceList:
      if (notification == kSelectionChange) ChooseDevice(window_.SelectedDeviceName());
      return;
    case kDetectButton:
      if (notification == kButtonClicked) Detect();
      return;
    case kEraseButton:
      if (notification == kButtonClicked) Erase();
      return;
    case kCheckButton:
      if (notification == kButtonClicked) Check();
      return;
    case kWriteButton:
      if (notification == kButtonClicked) Write();
      return;
    case kReadButton:
      if (notification == kButtonClicked) Read();
      return;
    case kMenuUpdate:
      if (const int index = window_.SelectedComIndex(); index >= 0) {
        system_.Launch(std::string(kUpdateBatch),
                       std::string(kUpdateParameters) + std::to_string(index + 1));
      }
      return;
    case kMenuExit:
      Exit();
      return;
    case kMenuWideVdd:
      window_.ToggleOption(report::Option::kWideVdd);
      return;
    case kMenuEraseBeforeWriting:
      window_.ToggleOption(report::Option::kEraseBeforeWriting);
      return;
    case kMenuVerifyAfterWriting:
      window_.ToggleOption(report::Option::kVerifyAfterWriting);
      return;
    case kMenuEnhancedIcsp:
      window_.ToggleOption(report::Option::kEnhancedIcsp);
      return;
    case kMenuWebHome:
      system_.OpenWebPage(std::string(kWebAddress));
      return;
    case kMenuAbout:
      About();
      return;
    default:
      return;  // Calibrate, the status text and unknown ids
  }
}

bool Application::Connect() {
  return ConnectTo("COM" + std::to_string(window_.SelectedComIndex() + 1));
}

void Application::Connected(bool ok) {
  window_.EnableControl(kConnectButton, !ok);
  if (ok) SetOperationControls(true);
  window_.EnableControl(kComList, !ok);
  if (!ok) SetOperationControls(false);
  window_.EnableControl(kDeviceList, ok);
}

void Application::Detected(const std::string& name) {
  window_.SelectDeviceName(name);
}

void Application::Write() {
  const std::string path = system_.ChooseHexFile();
  if (path.empty()) return;
  WriteFile(path);
}

void Application::SetOperationControls(bool enabled) {
  for (int id = kDetectButton; id <= kReadButton; ++id) window_.EnableControl(id, enabled);
}

void Application::FrameOpening() {
  running_ = true;
  if (!close_pending_) stop_flag_ = false;
}

void Application::FrameOpened() {
  window_.EnableControl(kConnectButton, false);
  SetOperationControls(false);
  window_.EnableControl(kDeviceList, false);
  window_.Pump();
  system_.BeginTimerResolution();
}

void Application::FrameClosed(bool failed) {
  // A full bar under an error would read as done.
  if (failed) window_.ResetProgress();
  system_.EndTimerResolution();
  window_.EnableControl(kConnectButton, false);
  SetOperationControls(true);
  window_.EnableControl(kDeviceList, true);
  window_.Pump();
  running_ = false;
  // The user closed the window while it ran; the part is in a known state now.
  if (close_pending_) system_.ExitProcess(0);
}

void Application::About() {
  view_.ShowStatus(AboutText(system_.OsVersionLine()), report::StatusKind::kResult);
}

void Application::Exit() {
  if (MayClose()) system_.ExitProcess(0);
}

// Closing at once would leave the part half erased or without its kept
// words; the operation stops where a stop is safe and the frame ends the
// process.
bool Application::MayClose() {
  if (!running_) return true;
  if (close_pending_ || asking_) return false;
  asking_ = true;
  const bool stop = system_.Ask(
      reporter().Pick({"An operation is running. Stop it at the next safe point and close Quillon?",
                       "処理の実行中です。次の区切りで中断して Quillon を終了しますか?"}));
  asking_ = false;
  // The operation may have ended while the question was open.
  if (stop && !running_) {
    system_.ExitProcess(0);
  } else if (stop) {
    close_pending_ = true;
    stop_flag_ = true;
  }
  return false;
}

}  // namespace quillon::app
