// Files a production line relies on after a crash or a power cut: a state
// that is replaced whole and on disk before anything depends on it, and a
// log that only ever grows by whole lines. Each platform library defines
// these.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace quillon::app {

// Writes `text` to a temporary file beside `path`, flushes it to disk,
// renames it over `path` and flushes the directory: afterwards the file
// holds the old text or the new one, never a mix. False with the reason.
bool ReplaceFileDurably(const std::filesystem::path& path, std::string_view text,
                        std::string& error);

// Appends `line` (ending in a newline) with one write on a descriptor opened
// for appending, so that lines of several writers never interleave and
// nothing already in the file is rewritten; then flushes it to disk.
bool AppendLineDurably(const std::filesystem::path& path, std::string_view line,
                       std::string& error);

// An exclusive lock on `path` (created if missing) for the object's
// lifetime, between processes; locked() is false when it could not be had.
class FileLock {
 public:
  explicit FileLock(const std::filesystem::path& path);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool locked() const { return locked_; }

 private:
  bool locked_ = false;
  std::intptr_t handle_ = -1;  // a descriptor, or a Windows HANDLE
};

// This computer's name, for the log; "" when the system does not say.
std::string HostName();

}  // namespace quillon::app
