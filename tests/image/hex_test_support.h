// Helpers for the HEX tests: record lines, a scratch directory, a selected part.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "devices/selection.h"
#include "image/formats.h"
#include "image/hex_loader.h"
#include "image/memory_image.h"
#include "test_support/recording_sink.h"

namespace quillon::image::testing {

// One Intel HEX record with a correct checksum.
inline std::string Record(int type, int address, const std::vector<int>& data) {
  int sum = static_cast<int>(data.size()) + HighByte(address) + LowByte(address) + type;
  char head[16];
  std::snprintf(head, sizeof head, ":%02X%04X%02X", static_cast<unsigned>(data.size() & 0xFF),
                static_cast<unsigned>(address & 0xFFFF), static_cast<unsigned>(type));
  std::string line = head;
  for (int b : data) {
    char digits[4];
    std::snprintf(digits, sizeof digits, "%02X", static_cast<unsigned>(b & 0xFF));
    line += digits;
    sum += b & 0xFF;
  }
  char checksum[4];
  std::snprintf(checksum, sizeof checksum, "%02X",
                static_cast<unsigned>((0x100 - (sum & 0xFF)) & 0xFF));
  return line + checksum + "\r\n";
}
inline std::string Data(int address, const std::vector<int>& data) {
  return Record(0, address, data);
}
inline std::string Upper(int value) {
  return Record(4, 0, {HighByte(value), LowByte(value)});
}

// A directory of its own for each test, removed afterwards.
class TempDir {
 public:
  TempDir() {
    static int serial = 0;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::filesystem::temp_directory_path() /
            ("quillon-image-" + std::string(info->name()) + "-" + std::to_string(++serial) + "-" +
             std::to_string(std::random_device{}()));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string str() const { return path_.string(); }
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  std::string Write(const std::string& name, const std::string& contents) const {
    std::ofstream(File(name), std::ios::binary) << contents;
    return File(name);
  }

 private:
  std::filesystem::path path_;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A sink, a reporter, a part and an image, as a programming session has them.
struct Bench {
  explicit Bench(const char* part = nullptr) {
    if (part != nullptr) {
      EXPECT_TRUE(devices::SelectDevice(selection, part, *reporter));
    }
    sink.entries.clear();
  }
  LoadResult Load(const std::string& text) {
    return LoadHexText(text, image, selection, *reporter);
  }

  test_support::RecordingSink sink;
  std::unique_ptr<report::Reporter> reporter = sink.MakeReporter();
  devices::Selection selection;
  MemoryImage image;
};

}  // namespace quillon::image::testing
