// The two remembered choices as REG_SZ values under HKEY_CURRENT_USER.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "app/front_end.h"

namespace quillon::win32 {

inline constexpr const char* kSettingsKey = "Software\\Quillon";

class RegistrySettings : public app::SettingsStore {
 public:
  // Reads accept at most this many bytes, the terminating zero included.
  static constexpr unsigned long kReadLimit = 63;

  // `sub_key` under HKEY_CURRENT_USER; tests use a key of their own.
  explicit RegistrySettings(std::string sub_key = kSettingsKey) : sub_key_(std::move(sub_key)) {}

  // Creates the key when missing; writes the value with its terminating zero.
  void Store(std::string_view name, std::string_view value) override;
  // "" when the key or value is missing, not a string, or too long.
  std::string Load(std::string_view name) override;

  const std::string& sub_key() const { return sub_key_; }

 private:
  std::string sub_key_;
};

// Where an erase keeps the part's own words: %APPDATA%\Quillon\rows (empty
// when APPDATA is not set, and then nothing is erased that could not be kept).
std::filesystem::path KeptWordsPath();

}  // namespace quillon::win32
