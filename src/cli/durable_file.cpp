#include "cli/durable_file.h"

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace quillon::cli {
namespace {

#ifdef _WIN32
std::string LastError(const char* what) {
  return std::string(what) + " Error=" + std::to_string(GetLastError());
}

bool WriteAll(HANDLE file, std::string_view text) {
  DWORD written = 0;
  return WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) != 0 &&
         written == text.size();
}
#else
std::string LastError(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}
#endif

}  // namespace

bool ReplaceFileDurably(const std::filesystem::path& path, std::string_view text,
                        std::string& error) {
  std::error_code ec;
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
  const std::filesystem::path temporary = path.string() + ".tmp";
#ifdef _WIN32
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
#else
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = LastError(temporary.c_str());
    return false;
  }
  const bool written = WriteAll(fd, text) && ::fsync(fd) == 0;
  if (!written) error = LastError(temporary.c_str());
  if (::close(fd) != 0 && written) error = LastError(temporary.c_str());
  if (!error.empty() || ::rename(temporary.c_str(), path.c_str()) != 0) {
    if (error.empty()) error = LastError(path.c_str());
    ::unlink(temporary.c_str());
    return false;
  }
  // The rename itself is on disk only once the directory is.
  const std::string directory = path.has_parent_path() ? path.parent_path().string() : ".";
  const int dir = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const bool synced = dir >= 0 && ::fsync(dir) == 0;
  if (!synced) error = LastError(directory.c_str());
  if (dir >= 0) ::close(dir);
  return synced;
#endif
}

bool AppendLineDurably(const std::filesystem::path& path, std::string_view line,
                       std::string& error) {
#ifdef _WIN32
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
#else
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = LastError(path.c_str());
    return false;
  }
  // One write(): a short one would let another writer's line in between.
  ssize_t n;
  do {
    n = ::write(fd, line.data(), line.size());
  } while (n < 0 && errno == EINTR);
  bool written = n == static_cast<ssize_t>(line.size());
  if (!written) error = n < 0 ? LastError(path.c_str()) : path.string() + ": short write";
  if (written && ::fsync(fd) != 0) {
    error = LastError(path.c_str());
    written = false;
  }
  ::close(fd);
  return written;
#endif
}

FileLock::FileLock(const std::filesystem::path& path) {
  std::error_code ec;
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
#ifdef _WIN32
  HANDLE file = CreateFileW(path.wstring().c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  OVERLAPPED whole{};
  if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole) == 0) {
    CloseHandle(file);
    return;
  }
  handle_ = file;
  locked_ = true;
#else
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) return;
  int result;
  do {
    result = ::flock(fd_, LOCK_EX);
  } while (result != 0 && errno == EINTR);
  locked_ = result == 0;
#endif
}

FileLock::~FileLock() {
#ifdef _WIN32
  if (handle_ != nullptr) CloseHandle(static_cast<HANDLE>(handle_));
#else
  if (fd_ >= 0) ::close(fd_);  // releases the lock
#endif
}

std::string HostName() {
#ifdef _WIN32
  char name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = sizeof name;
  return GetComputerNameA(name, &size) != 0 ? std::string(name, size) : "";
#else
  char name[256] = {};
  return ::gethostname(name, sizeof name - 1) == 0 ? name : "";
#endif
}

}  // namespace quillon::cli
