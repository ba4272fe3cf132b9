// The settings kept between runs, as a small text file of "KEY=value" lines
// in the user's configuration directory.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "app/front_end.h"

namespace quillon::posix {

// Values longer than this read as nothing stored. The file keeps whole port
// paths (a /dev/serial/by-id/... name easily passes the registry's 63 bytes).
inline constexpr std::size_t kMaxSettingLength = 4095;

class SettingsFile : public app::SettingsStore {
 public:
  // An empty path keeps nothing: loads give "" and stores are dropped.
  explicit SettingsFile(std::filesystem::path path) : path_(std::move(path)) {}

  // $XDG_CONFIG_HOME/quillon/settings, else ~/.config/quillon/settings, else
  // empty. Relative XDG_CONFIG_HOME values are ignored, as the XDG rules say.
  static std::filesystem::path DefaultPath(const char* xdg_config_home, const char* home);
  static SettingsFile FromEnvironment();

  // Rewrites the whole file through a temporary and a rename, so a crash or
  // a full disk leaves either the old file or the new one. Names and values
  // that would break the line format are not stored.
  void Store(std::string_view name, std::string_view value) override;
  // "" for a missing file, a missing or over-long value, or garbled contents.
  std::string Load(std::string_view name) override;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace quillon::posix
