// The real main window with the application logic behind it, as quillon.exe
// builds it, but with a settings key of its own, a manual clock and time
// source, and system actions that only record.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/application.h"
#include "report/clock.h"
#include "win32/gui_program.h"
#include "win32/main_window.h"
#include "win32/registry_settings.h"
#include "win32/serial_port.h"

namespace quillon::win32 {

inline constexpr const char* kTestSettingsKey = "Software\\QuillonGuiTest";

class RecordingSystem : public app::SystemActions {
 public:
  void Launch(const std::string& file, const std::string& parameters) override {
    launched.push_back(file + " " + parameters);
  }
  void OpenWebPage(const std::string& address) override { web_pages.push_back(address); }
  std::string ChooseHexFile() override { return chosen_file; }
  void ExitProcess(int code) override { exit_codes.push_back(code); }
  std::optional<std::string> OsVersionLine() override { return "Windows NT/2000/XP/Vista/7 V6.1"; }

  std::vector<std::string> launched, web_pages;
  std::vector<int> exit_codes;
  std::string chosen_file;
};

inline void DeleteTestSettings() {
  RegDeleteTreeA(HKEY_CURRENT_USER, kTestSettingsKey);
}

// Empties the thread's queue, WM_QUIT included, so no test sees another's.
inline void DrainQueue() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message != WM_QUIT) DispatchMessageA(&message);
  }
}

class GuiTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { InitControlClasses(); }

  void SetUp() override { DeleteTestSettings(); }

  void TearDown() override {
    app_.reset();
    window_.reset();
    DrainQueue();
    DeleteTestSettings();
  }

  // Creates the window; its start-up initialisation runs inside.
  void Open() {
    window_ = std::make_unique<MainWindow>(GetModuleHandleA(nullptr));
    app_ = std::make_unique<app::Application>(*window_, settings_, system_, port_, clock_,
                                              [this] { return language_; });
    MainWindow::Hooks hooks;
    hooks.created = [this] { app_->Start(); };
    hooks.command = [this](int id, int notification) { app_->Dispatch(id, notification); };
    hooks.quit = [this] { ++quits_; };
    hooks.ticks = [this] { return ticks_; };
    ASSERT_TRUE(window_->Create(std::move(hooks)));
  }

  // WM_COMMAND through the window procedure, as a click or menu choice does.
  void Command(int id, int notification = 0) {
    SendMessageA(window_->hwnd(), WM_COMMAND, MAKEWPARAM(id, notification),
                 reinterpret_cast<LPARAM>(window_->control(id)));
  }

  std::wstring StatusText() const {
    wchar_t text[1024] = {};
    GetWindowTextW(window_->control(1008), text, 1024);
    return text;
  }

  RegistrySettings settings_{kTestSettingsKey};
  RecordingSystem system_;
  Win32SerialPort port_;
  report::ManualClock clock_;
  std::uint16_t language_ = 0x0409;
  std::uint64_t ticks_ = 1000;
  int quits_ = 0;
  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<app::Application> app_;
};

}  // namespace quillon::win32
