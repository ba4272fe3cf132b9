#include "app/durable_file.h"

#include <windows.h>

namespace quillon::app {
namespace {

std::string LastError(const char* what) {
  return std::string(what) + " Error=" + std::to_string(GetLastError());
}

bool WriteAll(HANDLE file, std::string_view text) {
  DWORD written = 0;
  return WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) != 0 &&
         written == text.size();
}

}  // namespace

bool ReplaceFileDurably(const std::filesystem::path& path, std::string_view text,
                        std::string& error) {
  std::error_code ec;
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
  const std::filesystem::path temporary = path.string() + ".tmp";
  HANDLE file = CreateFileW(temporary.wstring().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = LastError("CreateFile");
    return false;
  }
  const bool written = WriteAll(file, text) && FlushFileBuffers(file) != 0;
  CloseHandle(file);
  if (!written || MoveFileExW(temporary.wstring().c_str(), path.wstring().c_str(),
                              MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
    error = LastError(written ? "MoveFileEx" : "WriteFile");
    DeleteFileW(temporary.wstring().c_str());
    return false;
  }
  return true;
}

bool AppendLineDurably(const std::filesystem::path& path, std::string_view line,
                       std::string& error) {
  // FILE_APPEND_DATA alone: every write goes to the end of the file.
  HANDLE file =
      CreateFileW(path.wstring().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = LastError("CreateFile");
    return false;
  }
  const bool written = WriteAll(file, line) && FlushFileBuffers(file) != 0;
  if (!written) error = LastError("WriteFile");
  CloseHandle(file);
  return written;
}

FileLock::FileLock(const std::filesystem::path& path) {
  std::error_code ec;
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
  HANDLE file = CreateFileW(path.wstring().c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  OVERLAPPED whole{};
  if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole) == 0) {
    CloseHandle(file);
    return;
  }
  handle_ = reinterpret_cast<std::intptr_t>(file);
  locked_ = true;
}

FileLock::~FileLock() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

std::string HostName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = sizeof name;
  return GetComputerNameA(name, &size) != 0 ? std::string(name, size) : "";
}

}  // namespace quillon::app
