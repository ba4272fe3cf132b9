#include "app/application.h"

#include "app/ids.h"
#include "devices/catalogue.h"
#include "devices/selection.h"
#include "report/message.h"

namespace quillon::app {

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

Application::Application(View& view, SettingsStore& settings, SystemActions& system,
                         link::SerialPort& port, report::Clock& clock,
                         report::LanguageSource language)
    : view_(view),
      settings_(settings),
      system_(system),
      reporter_(view, clock, std::move(language)),
      session_(port, reporter_, view) {
  session_.detection_listener = this;
}

void Application::Start() {
  for (int n = 1; n <= 9; ++n) view_.AddComPort("COM" + std::to_string(n));
  view_.SelectComIndex(0);
  const int stored_com = LoadCom(settings_);
  if (stored_com >= 0) view_.SelectComIndex(stored_com - 1);

  view_.ResetProgress();

  view_.EnableControl(kConnectButton, true);
  SetOperationControls(false);
  view_.EnableControl(kDeviceList, false);

  for (const devices::DeviceRecord& row : devices::Catalogue()) view_.AddDeviceName(row.name);

  // The remembered device is selected but not stored again.
  const std::string chip = LoadChip(settings_);
  if (!chip.empty()) {
    view_.SelectDeviceName(chip);
    devices::SelectDevice(session_.device, chip, reporter_);
  }

  About();
}

void Application::Dispatch(int command_id, int notification) {
  switch (command_id) {
    case kComList:
      if (notification == kSelectionChange) ComSelected();
      return;
    case kConnectButton:
      if (notification == kButtonClicked) Connect();
      return;
    case kDeviceList:
      if (notification == kSelectionChange) DeviceListChanged();
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
      Update();
      return;
    case kMenuExit:
      Exit();
      return;
    case kMenuWideVdd:
      view_.ToggleOption(report::Option::kWideVdd);
      return;
    case kMenuEraseBeforeWriting:
      view_.ToggleOption(report::Option::kEraseBeforeWriting);
      return;
    case kMenuVerifyAfterWriting:
      view_.ToggleOption(report::Option::kVerifyAfterWriting);
      return;
    case kMenuEnhancedIcsp:
      view_.ToggleOption(report::Option::kEnhancedIcsp);
      return;
    case kMenuWebHome:
      WebHome();
      return;
    case kMenuAbout:
      About();
      return;
    default:
      return;  // Calibrate, the status text and unknown ids
  }
}

void Application::ComSelected() {
  const int index = view_.SelectedComIndex();
  if (index >= 0) StoreCom(settings_, index + 1);
}

void Application::DeviceListChanged() {
  ChooseDevice(view_.SelectedDeviceName());
}

bool Application::ChooseDevice(const std::string& name) {
  if (!devices::SelectDevice(session_.device, name, reporter_)) return false;
  StoreChip(settings_, name);
  return true;
}

void Application::DeviceDetected(const std::string& name) {
  view_.SelectDeviceName(name);
  StoreChip(settings_, name);
}

void Application::Update() {
  const int index = view_.SelectedComIndex();
  if (index < 0) return;
  system_.Launch(std::string(kUpdateBatch),
                 std::string(kUpdateParameters) + std::to_string(index + 1));
}

void Application::WebHome() {
  system_.OpenWebPage(std::string(kWebAddress));
}

void Application::About() {
  view_.ShowStatus(AboutText(system_.OsVersionLine()), report::StatusKind::kResult);
}

void Application::Exit() {
  system_.ExitProcess(0);
}

}  // namespace quillon::app
