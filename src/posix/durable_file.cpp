#include "app/durable_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quillon::app {
namespace {

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

}  // namespace

bool ReplaceFileDurably(const std::filesystem::path& path, std::string_view text,
                        std::string& error) {
  std::error_code ec;
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
  const std::filesystem::path temporary = path.string() + ".tmp";
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
}

bool AppendLineDurably(const std::filesystem::path& path, std::string_view line,
                       std::string& error) {
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
}

FileLock::FileLock(const std::filesystem::path& path) {
  std::error_code ec;
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  handle_ = fd;
  int result;
  do {
    result = ::flock(fd, LOCK_EX);
  } while (result != 0 && errno == EINTR);
  locked_ = result == 0;
}

FileLock::~FileLock() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));  // releases the lock
}

std::string HostName() {
  char name[256] = {};
  return ::gethostname(name, sizeof name - 1) == 0 ? name : "";
}

}  // namespace quillon::app
