#include "win32/gui_program.h"

#include <commctrl.h>

#include "app/application.h"
#include "app/host.h"
#include "app/kept_words_directory.h"
#include "report/clock.h"
#include "win32/main_window.h"
#include "win32/message_pump.h"
#include "win32/registry_settings.h"
#include "win32/serial_port.h"
#include "win32/system_actions.h"

namespace quillon::win32 {

std::uint16_t SystemLanguage() {
  return GetSystemDefaultLangID();
}

void InitControlClasses() {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof(controls);
  controls.dwICC = 0xFF;
  InitCommonControlsEx(&controls);
}

int RunGui(HINSTANCE instance) {
  // The layout scales itself; without this the system would stretch it blurred
  // (the manifest says the same for systems that read it).
  SetProcessDPIAware();
  InitControlClasses();

  MainWindow window(instance);
  RegistrySettings settings;
  Win32SystemActions system;
  Win32SerialPort port;
  report::SystemClock clock;
  app::KeptWordsDirectory kept_words(KeptWordsPath());
  app::RunnerSetup setup;
  setup.kept_words = &kept_words;
  setup.console_program = std::string(app::ConsoleProgramName());
  setup.confirm_part = true;
  app::Application application(window, settings, system, port, clock, &SystemLanguage,
                               std::move(setup));

  MainWindow::Hooks hooks;
  hooks.created = [&] {
    system.set_owner(window.hwnd());
    application.Start();
  };
  hooks.command = [&](int id, int notification) { application.Dispatch(id, notification); };
  hooks.close = [&] { return application.MayClose(); };
  if (!window.Create(std::move(hooks))) return 1;
  return RunMessageLoop(window.hwnd());
}

}  // namespace quillon::win32
