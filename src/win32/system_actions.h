// The operating system around the window: starting programs, the web page,
// the file-open dialog, questions, ending the process, timer resolution, the
// OS line.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "app/front_end.h"

namespace quillon::win32 {

// The About text's last line for a GetVersionExA result; nothing for an
// unknown platform.
std::optional<std::string> OsLineFor(unsigned long platform_id, unsigned long major,
                                     unsigned long minor);

// "<ProgramFiles>\Internet Explorer\IEXPLORE.EXE"; `program_files` may be "".
std::string InternetExplorerPath(const std::string& program_files);

class Win32SystemActions : public app::SystemActions {
 public:
  // The owner of ShellExecute and of the dialog; may be set once the window exists.
  void set_owner(HWND owner) { owner_ = owner; }

  void Launch(const std::string& file, const std::string& parameters) override;
  void OpenWebPage(const std::string& address) override;
  std::string ChooseHexFile() override;
  bool Ask(const std::string& question) override;
  void ExitProcess(int code) override;
  void BeginTimerResolution() override;
  void EndTimerResolution() override;
  std::optional<std::string> OsVersionLine() override;

 private:
  HWND owner_ = nullptr;
};

}  // namespace quillon::win32
