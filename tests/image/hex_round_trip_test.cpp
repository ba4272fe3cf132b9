// Written HEX files load back unchanged, real toolchain files load, and both
// directions agree with an independent Intel HEX implementation.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <sstream>

#include "devices/catalogue.h"
#include "image/hex_loader.h"
#include "image/hex_test_support.h"
#include "image/hex_writer.h"

namespace quillon::image {
namespace {

using testing::Bench;
using testing::TempDir;

void FillRandom(Bench& b, std::mt19937& random) {
  const auto& d = b.selection.device;
  auto unit = [&](std::size_t u) {
    return static_cast<std::uint16_t>(random() & (u % 2 ? 0xFF : 0xFFFF));
  };
  for (std::size_t u = 0; u < 2u * d.program_words; ++u) b.image.program[u] = unit(u);
  for (int w = 0; w < d.eeprom_bytes / 2; ++w)
    b.image.eeprom[w] = static_cast<std::uint16_t>(random());
  const devices::ConfigForm& config = devices::Form(d).config;
  for (int u = 0; u < devices::Form(d).executive.read_units; ++u) b.image.executive[u] = unit(u);
  for (int k = 0; k < config.hex_registers; ++k)
    b.image.config[k] = static_cast<std::uint16_t>(random() & config.value_mask);
}

// Every unit of the regions the writer covers.
void ExpectSameRegions(const MemoryImage& written, const MemoryImage& loaded,
                       const devices::DeviceRecord& d) {
  const long units = 2L * d.program_words;
  for (long u = 0; u < units; ++u) {
    ASSERT_EQ(written.program[u], loaded.program[u]) << "program unit " << u;
  }
  for (int w = 0; w < d.eeprom_bytes / 2; ++w) {
    ASSERT_EQ(written.eeprom[w], loaded.eeprom[w]) << "EEPROM word " << w;
  }
  const devices::FamilyForm& form = devices::Form(d);
  for (int u = 0; u < form.executive.read_units; ++u) {
    ASSERT_EQ(written.executive[u], loaded.executive[u]) << "executive unit " << u;
  }
  // The file carries executive memory wherever the family has one.
  EXPECT_EQ(loaded.executive_present, form.executive.present);
  if (form.config.layout == devices::ConfigLayout::kFlashWords) {
    EXPECT_EQ(loaded.config[0], written.program[units - 2]);
    EXPECT_EQ(loaded.config[1], written.program[units - 4]);
    EXPECT_TRUE(loaded.config_present[0] && loaded.config_present[1]);
    EXPECT_FALSE(loaded.config_present[2]);
  } else {
    for (int k = 0; k < form.config.hex_registers; ++k) {
      EXPECT_EQ(written.config[k], loaded.config[k]) << "config " << k;
      EXPECT_TRUE(loaded.config_present[k]);
    }
  }
}

// Writes b's image and loads it back into a fresh image for the same part.
void ExpectRoundTrip(Bench& b) {
  TempDir dir;
  ASSERT_TRUE(WriteHexFile(dir.str(), b.image, b.selection, *b.reporter));
  MemoryImage loaded;
  ASSERT_EQ(LoadHexFile(JoinPath(dir.str(), kHexName), loaded, b.selection, *b.reporter),
            LoadResult::kLoaded);
  ExpectSameRegions(b.image, loaded, b.selection.device);
}

TEST(HexRoundTrip, RandomImagesOfEveryFamilyLoadBackUnchanged) {
  std::mt19937 random(2024);
  for (const char* part : {"dsPIC30F6014", "dsPIC30F1010", "dsPIC33FJ256GP710", "PIC24HJ256GP610",
                           "PIC24FJ64GA002", "PIC24FJ256DA210", "PIC24F16KA102"}) {
    SCOPED_TRACE(part);
    Bench b(part);
    b.image.Clear(b.selection);
    FillRandom(b, random);
    ExpectRoundTrip(b);
  }
}

// Files built by Microchip toolchains, named after their part.
TEST(HexRoundTrip, ToolchainFilesLoadForTheirPart) {
  const std::filesystem::path corpus = std::filesystem::path(QUILLON_SHARED_DIR) / "hexcorpus";
  if (!std::filesystem::is_directory(corpus)) GTEST_SKIP() << "no " << corpus;
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    if (entry.path().extension() != ".hex") continue;
    const std::string name = entry.path().filename().string();
    SCOPED_TRACE(name);
    ++files;
    Bench b(name.substr(0, name.find("__")).c_str());
    ASSERT_TRUE(b.selection.selected);
    ASSERT_EQ(LoadHexFile(entry.path().string(), b.image, b.selection, *b.reporter),
              LoadResult::kLoaded);
    EXPECT_EQ(UpperByte(InstructionAt(b.image.program, 0)), 0x04) << "GOTO at the reset address";
    ExpectRoundTrip(b);
  }
  EXPECT_GT(files, 0);
}

// The project's own samples load for the part their name ends with.
TEST(HexRoundTrip, ExampleFilesLoad) {
  const std::filesystem::path examples = std::filesystem::path(QUILLON_SOURCE_DIR) / "examples";
  if (!std::filesystem::is_directory(examples)) GTEST_SKIP() << "no " << examples;
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(examples)) {
    if (entry.path().extension() != ".hex") continue;
    const std::string stem = entry.path().stem().string();
    SCOPED_TRACE(stem);
    ++files;
    Bench b(stem.substr(stem.rfind('-') + 1).c_str());
    ASSERT_EQ(LoadHexFile(entry.path().string(), b.image, b.selection, *b.reporter),
              LoadResult::kLoaded);
    EXPECT_EQ(UpperByte(InstructionAt(b.image.program, 0)), 0x04);
    if (stem.starts_with("blink-")) {
      EXPECT_EQ(InstructionAt(b.image.program, 0x80), 0xEF02C6u);  // CLR TRISB at 0x100
      EXPECT_EQ(b.image.eeprom[3], 0xDEF0);
      EXPECT_EQ(b.image.config[0], 0xC100);
      EXPECT_EQ(b.image.config[5], 0x310F);
    }
    if (stem.starts_with("counter-")) {
      EXPECT_EQ(b.image.config[0], 0x3F7F);
      EXPECT_EQ(b.image.config[1], 0xF9DF);
    }
  }
  EXPECT_EQ(files, 3);
}

// --- python3-intelhex, an independent reader and writer ---

std::string PythonWithIntelHex() {
#if defined(_WIN32)
  return "";
#else
  for (const char* python : {"python3", "/usr/bin/python3"}) {
    const std::string probe = std::string(python) + " -c 'import intelhex' >/dev/null 2>&1";
    if (std::system(probe.c_str()) == 0) return python;
  }
  return "";
#endif
}

// Runs a script; its output is returned when it fails.
bool RunPython(const std::string& python, const TempDir& dir, const std::string& script,
               std::string& output) {
  const std::string path = dir.Write("check.py", script);
  const std::string log = dir.File("python.log");
  const int status = std::system((python + " '" + path + "' >'" + log + "' 2>&1").c_str());
  output = testing::ReadFile(log);
  return status == 0;
}

TEST(HexInterop, IntelHexReadsTheWrittenBytesAtTheirAddresses) {
  const std::string python = PythonWithIntelHex();
  if (python.empty()) GTEST_SKIP() << "python3 with intelhex not available";
  TempDir dir;
  Bench b("dsPIC30F2010");  // 4096 words, 1024 bytes of EEPROM, 1472 executive units
  std::mt19937 random(7);
  b.image.Clear(b.selection);
  FillRandom(b, random);
  ASSERT_TRUE(WriteHexFile(dir.str(), b.image, b.selection, *b.reporter));

  std::ostringstream checks;  // (byte address, byte)
  auto unit_at = [&](long address, std::uint16_t v) {
    checks << "(" << address << "," << LowByte(v) << "),(" << address + 1 << "," << HighByte(v)
           << "),";
  };
  for (long u : {0L, 1L, 2L, 0x155L, 8190L, 8191L}) unit_at(2 * u, b.image.program[u]);
  for (long w : {0L, 1L, 511L}) {
    unit_at(0xFFF800 + 4 * w, b.image.eeprom[w]);
    unit_at(0xFFF800 + 4 * w + 2, 0);
  }
  for (long u : {0L, 1L, 1471L}) unit_at(0x1000000 + 2 * u, b.image.executive[u]);
  for (long k : {0L, 7L}) unit_at(0x1F00000 + 4 * k, b.image.config[k]);
  const long total = 4 * 4096 + 4 * 512 + 2 * 1472 + 32;

  std::string output;
  EXPECT_TRUE(RunPython(python, dir,
                        "import sys\nfrom intelhex import IntelHex\n"
                        "ih = IntelHex('" +
                            JoinPath(dir.str(), kHexName) +
                            "')\n"
                            "checks = [" +
                            checks.str() +
                            "]\n"
                            "bad = [(hex(a), v, ih[a]) for a, v in checks if ih[a] != v]\n"
                            "if bad or len(ih) != " +
                            std::to_string(total) +
                            ":\n"
                            "    sys.exit('mismatch %s, %d bytes' % (bad, len(ih)))\n",
                        output))
      << output;
}

TEST(HexInterop, FilesWrittenByIntelHexLoad) {
  const std::string python = PythonWithIntelHex();
  if (python.empty()) GTEST_SKIP() << "python3 with intelhex not available";
  TempDir dir;
  const std::string path = dir.File("made.hex");
  std::string output;
  ASSERT_TRUE(RunPython(python, dir,
                        "from intelhex import IntelHex\nih = IntelHex()\n"
                        "ih.puts(0, bytes([0x00, 0x02, 0x04, 0x00, 0x11, 0x22, 0x33, 0x00]))\n"
                        "ih.puts(0x12340, bytes([0xAA, 0xBB, 0xCC, 0x00]))\n"
                        "ih[0x40] = 0x99\n"
                        "ih.puts(0xFFF800, bytes([0x34, 0x12, 0, 0, 0x78, 0x56, 0, 0]))\n"
                        "ih.puts(0x1000010, bytes([1, 2, 3, 0]))\n"
                        "ih.puts(0x1F00000, bytes([0xAB, 0xCD, 0, 0]))\n"
                        "ih.write_hex_file('" +
                            path + "')\n",
                        output))
      << output;
  Bench b("dsPIC30F2010");
  ASSERT_EQ(LoadHexFile(path, b.image, b.selection, *b.reporter), LoadResult::kLoaded);
  EXPECT_EQ(InstructionAt(b.image.program, 0), 0x040200u);
  EXPECT_EQ(InstructionAt(b.image.program, 1), 0x332211u);
  EXPECT_EQ(b.image.program[0x91A0], 0xBBAA);
  EXPECT_EQ(b.image.program[0x20], 0xFF99);  // a lone byte keeps the blank high byte
  EXPECT_EQ(b.image.eeprom[0], 0x1234);
  EXPECT_EQ(b.image.eeprom[1], 0x5678);
  EXPECT_EQ(b.image.executive[8], 0x0201);
  EXPECT_TRUE(b.image.executive_present);
  EXPECT_EQ(b.image.config[0], 0xCDAB);
  EXPECT_TRUE(b.image.config_present[0]);
  EXPECT_FALSE(b.image.config_present[1]);
}

}  // namespace
}  // namespace quillon::image
