#include "win32/system_actions.h"

#include <commdlg.h>
#include <mmsystem.h>
#include <shellapi.h>

#include <vector>

#include "win32/wide_text.h"

namespace quillon::win32 {

std::optional<std::string> OsLineFor(unsigned long platform_id, unsigned long major,
                                     unsigned long minor) {
  const char* name = nullptr;
  switch (platform_id) {
    case 2:
      name = "Windows NT/2000/XP/Vista/7";
      break;
    case 1:
      name = "on Windows 95/98/Me";
      break;
    case 0:
      name = "on Windows 3.1";
      break;
    default:
      return std::nullopt;
  }
  return std::string(name) + " V" + std::to_string(major) + "." + std::to_string(minor);
}

std::string InternetExplorerPath(const std::string& program_files) {
  return program_files + "\\Internet Explorer\\IEXPLORE.EXE";
}

void Win32SystemActions::Launch(const std::string& file, const std::string& parameters) {
  ShellExecuteA(owner_, nullptr, file.c_str(), parameters.c_str(), nullptr, SW_SHOWDEFAULT);
}

void Win32SystemActions::OpenWebPage(const std::string& address) {
  char buffer[128] = {};
  const DWORD length = GetEnvironmentVariableA("ProgramFiles", buffer, sizeof(buffer));
  // A value that does not fit reports the size it needs, not a length.
  const std::string program_files = length < sizeof(buffer) ? std::string(buffer, length) : "";
  const std::string browser = InternetExplorerPath(program_files);
  // Current Windows no longer ships that browser; the address then goes to
  // whatever browser the user has chosen.
  if (!program_files.empty() && GetFileAttributesA(browser.c_str()) != INVALID_FILE_ATTRIBUTES) {
    ShellExecuteA(owner_, nullptr, browser.c_str(), address.c_str(), nullptr, SW_SHOWDEFAULT);
  } else {
    ShellExecuteA(owner_, nullptr, address.c_str(), nullptr, nullptr, SW_SHOWDEFAULT);
  }
}

std::string Win32SystemActions::ChooseHexFile() {
  static constexpr char kFilter[] = "HEX(*.hex)\0*.hex\0ALL(*.*)\0*.*\0";  // ends in two zeros
  char file[256] = {};
  char title[256] = {};
  OPENFILENAMEA dialog{};
  dialog.lStructSize = sizeof(dialog);
  dialog.hwndOwner = owner_;
  dialog.lpstrFilter = kFilter;
  dialog.nFilterIndex = 0;
  dialog.lpstrFile = file;
  dialog.nMaxFile = sizeof(file);
  dialog.lpstrFileTitle = title;
  dialog.nMaxFileTitle = sizeof(title);
  dialog.lpstrTitle = "File Open";
  dialog.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;

  // Browsing may move the process's current directory to the chosen file's
  // folder; the executive files and the Read output belong to the directory
  // the tool was started in, so it is put back.
  std::vector<char> start_dir(GetCurrentDirectoryA(0, nullptr) + 1, '\0');
  const bool have_dir =
      GetCurrentDirectoryA(static_cast<DWORD>(start_dir.size()), start_dir.data()) > 0;
  const BOOL chosen = GetOpenFileNameA(&dialog);
  if (have_dir) SetCurrentDirectoryA(start_dir.data());
  return chosen ? std::string(file) : std::string();
}

bool Win32SystemActions::Ask(const std::string& question) {
  return MessageBoxW(owner_, Utf8ToWide(question).c_str(), L"Quillon",
                     MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void Win32SystemActions::ExitProcess(int code) {
  ::ExitProcess(static_cast<UINT>(code));
}

void Win32SystemActions::BeginTimerResolution() {
  timeBeginPeriod(1);
}

void Win32SystemActions::EndTimerResolution() {
  timeEndPeriod(1);
}

std::optional<std::string> Win32SystemActions::OsVersionLine() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof(info);
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
  const BOOL ok = GetVersionExA(&info);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
  if (!ok) return std::nullopt;
  return OsLineFor(info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion);
}

}  // namespace quillon::win32
