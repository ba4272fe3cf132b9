#include "posix/settings_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

namespace quillon::posix {
namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

bool Printable(std::string_view text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

// Well-formed lines only; anything else in the file is dropped.
Entries ReadEntries(const std::filesystem::path& path) {
  Entries entries;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0 || !Printable(line)) continue;
    entries.emplace_back(line.substr(0, eq), line.substr(eq + 1));
  }
  return entries;
}

bool WriteAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::filesystem::path SettingsFile::DefaultPath(const char* xdg_config_home, const char* home) {
  if (xdg_config_home != nullptr && xdg_config_home[0] == '/') {
    return std::filesystem::path(xdg_config_home) / "quillon" / "settings";
  }
  if (home != nullptr && home[0] != '\0') {
    return std::filesystem::path(home) / ".config" / "quillon" / "settings";
  }
  return {};
}

SettingsFile SettingsFile::FromEnvironment() {
  return SettingsFile(DefaultPath(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME")));
}

std::string SettingsFile::Load(std::string_view name) {
  if (path_.empty()) return {};
  std::string found;
  for (auto& [key, value] : ReadEntries(path_)) {
    if (key == name) found = std::move(value);  // the last line for a key wins
  }
  return found.size() > kMaxSettingLength ? std::string() : found;
}

void SettingsFile::Store(std::string_view name, std::string_view value) {
  if (path_.empty() || name.empty() || name.find('=') != std::string_view::npos ||
      !Printable(name) || !Printable(value)) {
    return;
  }
  Entries entries = ReadEntries(path_);
  std::ostringstream out;
  bool replaced = false;
  for (const auto& [key, old] : entries) {
    if (key == name) {
      if (replaced) continue;
      out << key << '=' << value << '\n';
      replaced = true;
    } else {
      out << key << '=' << old << '\n';
    }
  }
  if (!replaced) out << name << '=' << value << '\n';

  std::error_code ec;
  std::filesystem::create_directories(path_.parent_path(), ec);
  const std::string temp = path_.string() + ".tmp" + std::to_string(::getpid());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return;
  const bool written = WriteAll(fd, out.str()) && ::fsync(fd) == 0;
  if (::close(fd) != 0 || !written || ::rename(temp.c_str(), path_.c_str()) != 0) {
    ::unlink(temp.c_str());
  }
}

}  // namespace quillon::posix
