// Kept words as small text files in one directory, named by DeviceID, port
// and the time they were kept (UTC), so that a listing sorts newest last.
// Nothing here deletes a copy: they stay until the user removes them.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>

#include "icsp/kept_words.h"

namespace quillon::app {

class KeptWordsDirectory : public icsp::KeptWordsStore {
 public:
  using Now = std::function<std::chrono::system_clock::time_point()>;
  // An empty directory keeps nothing: every Save fails, so nothing is erased
  // that could not be kept.
  explicit KeptWordsDirectory(std::filesystem::path dir, Now now = std::chrono::system_clock::now)
      : dir_(std::move(dir)), now_(std::move(now)) {}

  // Writes a temporary file of a name unique to this call and links it to
  // the final name only if no one has taken that name, so that a crash
  // leaves either no file or the whole one, and two runs never share one.
  std::string Save(icsp::KeptWords words, std::string& why) override;
  std::vector<std::string> List(std::uint16_t device_id, const std::string& port) override;
  // Any path the user names; files larger than a kept file ever is are refused.
  std::optional<std::string> Load(const std::string& name) override;

  const std::filesystem::path& dir() const { return dir_; }

 private:
  std::filesystem::path dir_;
  Now now_;
};

}  // namespace quillon::app
