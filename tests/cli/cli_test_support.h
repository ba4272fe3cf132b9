// Helpers shared by the console tool's tests: temporary folders and HEX files.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "devices/selection.h"
#include "image/hex_loader.h"
#include "image/memory_image.h"
#include "report/clock.h"
#include "report/reporter.h"
#include "report/status_sink.h"

namespace quillon::cli::cli_test {

// The stand-in executive files the examples ship, for runs on simulated parts.
inline const std::string kExecDir = QUILLON_SOURCE_DIR "/examples/executive";

inline std::filesystem::path TempDir(const std::string& tag) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const auto dir =
      std::filesystem::temp_directory_path() /
      ("quillon_cli_" + tag + "_" + std::to_string(::getpid()) + "_" + (info ? info->name() : "x"));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

// One Intel HEX record.
inline std::string Record(int type, unsigned address, const std::vector<int>& data) {
  unsigned sum = static_cast<unsigned>(data.size()) + (address >> 8) + (address & 0xFF) +
                 static_cast<unsigned>(type);
  char buf[16];
  std::snprintf(buf, sizeof buf, ":%02X%04X%02X", static_cast<unsigned>(data.size()), address,
                static_cast<unsigned>(type));
  std::string line = buf;
  for (int b : data) {
    std::snprintf(buf, sizeof buf, "%02X", b);
    line += buf;
    sum += static_cast<unsigned>(b);
  }
  std::snprintf(buf, sizeof buf, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
  return line + buf + "\n";
}

// A small program: a GOTO at the reset vector and a few rows of instructions
// at 0x100 and at 0x1000 (program addresses).
inline std::string WriteSampleHex(const std::filesystem::path& path) {
  std::string text = Record(4, 0, {0, 0});
  text += Record(0, 0x0000, {0x00, 0x01, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00});
  for (unsigned row = 0; row < 8; ++row) {
    std::vector<int> data;
    for (int i = 0; i < 4; ++i) {
      const unsigned word = 0x100 + row * 4 + static_cast<unsigned>(i);
      data.insert(data.end(), {static_cast<int>(word & 0xFF), 0x5A, static_cast<int>(row), 0});
    }
    text += Record(0, 0x200 + row * 16, data);
    text += Record(0, 0x2000 + row * 16, data);
  }
  text += Record(1, 0, {});
  std::ofstream(path, std::ios::binary) << text;
  return path.string();
}

// Instruction i of WriteFilledHex: a value of its own, never blank.
inline std::uint32_t FilledWord(unsigned i) {
  return 0xA500u | (i & 0xFF) | (i >> 8) << 16;
}

// The first `count` instructions of program memory, each FilledWord(i).
inline std::string WriteFilledHex(const std::filesystem::path& path, unsigned count) {
  std::string text;
  for (unsigned i = 0; i < count; i += 4) {
    if (i % 0x4000 == 0) text += Record(4, 0, {0, int(i >> 14)});
    std::vector<int> data;
    for (unsigned k = i; k < i + 4; ++k)
      data.insert(data.end(), {int(k & 0xFF), 0xA5, int(k >> 8), 0});
    text += Record(0, (4 * i) & 0xFFFF, data);
  }
  std::ofstream(path, std::ios::binary) << text + Record(1, 0, {});
  return path.string();
}

// After an interrupted write of WriteFilledHex: the number of whole rows from
// the start, all later ones blank; -1 when any row is written in part.
template <typename Instruction>
int WholeRowsFromStart(Instruction instruction, unsigned rows, unsigned row) {
  unsigned whole = 0;
  for (unsigned r = 0; r < rows; ++r) {
    unsigned same = 0;
    for (unsigned i = r * row; i < (r + 1) * row; ++i) same += instruction(i) == FilledWord(i);
    if (same != (whole == r && same == row ? row : 0)) return -1;
    whole += whole == r && same == row;
  }
  return static_cast<int>(whole);
}

// Both files, loaded for `device`, hold the same program memory.
inline void ExpectSameProgram(const std::string& expected_path, const std::string& actual_path,
                              const char* device) {
  report::NullSink sink;
  report::ManualClock clock;
  report::Reporter reporter(sink, clock, nullptr);
  devices::Selection selection;
  ASSERT_TRUE(devices::SelectDevice(selection, device, reporter));
  image::MemoryImage expected, actual;
  ASSERT_EQ(image::LoadHexFile(expected_path, expected, selection, reporter),
            image::LoadResult::kLoaded);
  ASSERT_EQ(image::LoadHexFile(actual_path, actual, selection, reporter),
            image::LoadResult::kLoaded);
  const std::size_t units = 2 * static_cast<std::size_t>(selection.device.program_words);
  std::size_t differences = 0;
  for (std::size_t i = 0; i < units; ++i) {
    if (expected.program[i] != actual.program[i] && differences++ < 5) {
      ADD_FAILURE() << "program unit " << std::hex << i << ": " << expected.program[i] << " vs "
                    << actual.program[i];
    }
  }
  EXPECT_EQ(differences, 0u);
}

// The file, loaded for `device`, holds a blank program memory.
inline void ExpectBlankProgram(const std::string& path, const char* device) {
  report::NullSink sink;
  report::ManualClock clock;
  report::Reporter reporter(sink, clock, nullptr);
  devices::Selection selection;
  ASSERT_TRUE(devices::SelectDevice(selection, device, reporter));
  image::MemoryImage image;
  ASSERT_EQ(image::LoadHexFile(path, image, selection, reporter), image::LoadResult::kLoaded);
  const std::size_t units = 2 * static_cast<std::size_t>(selection.device.program_words);
  for (std::size_t i = 0; i < units; ++i) {
    ASSERT_EQ(image.program[i], i % 2 == 0 ? 0xFFFF : 0x00FF) << "unit " << i;
  }
}

}  // namespace quillon::cli::cli_test
