// Bad input must never crash or write outside the image (these run under the
// address and undefined-behaviour sanitizers too).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "image/hex_loader.h"
#include "image/hex_test_support.h"

namespace quillon::image {
namespace {

using testing::Bench;
using testing::Data;
using testing::Upper;

void ExpectSizesKept(const MemoryImage& image) {
  EXPECT_EQ(image.program.size(), MemoryImage::kProgramUnits);
  EXPECT_EQ(image.eeprom.size(), MemoryImage::kEepromUnits);
  EXPECT_EQ(image.executive.size(), MemoryImage::kExecutiveUnits);
}

// A word record: `units` units of four digits each, at unit address `address`.
std::string WordRecord(int address, int units, int value) {
  char head[16];
  std::snprintf(head, sizeof head, ":%02X%04X00", units, address);
  int sum = units + HighByte(address) + LowByte(address);
  std::string line = head;
  for (int i = 0; i < units; ++i) line += Hex4(value), sum += HighByte(value) + LowByte(value);
  return line + Hex4(0x100 - LowByte(sum)).substr(2) + "\r\n";
}

TEST(HexLoaderBounds, RecordsAddressedPastEveryBufferAreSkippedWordByWord) {
  Bench b("dsPIC30F6014");
  const std::vector<int> full(255, 0x5A);
  const std::string text = Upper(0x0F) + Data(0xFFF0, full)      // program units 0x7FFF8 up
                           + WordRecord(0xFFFF, 255, 0x5A5A)     // all past the buffer
                           + Upper(0xFE) + Data(0, full)         // likewise
                           + Upper(0x8000) + Data(0, full)       // negative upper
                           + Upper(0xFF) + Data(0x0000, full)    // below the EEPROM
                           + WordRecord(0x8FF0, 255, 0x5A5A)     // EEPROM index 0xFF8 up
                           + WordRecord(0xFF00, 255, 0x5A5A)     // EEPROM index 0x4780 up
                           + Upper(0x100) + Data(0x1FF8, full)   // executive end and beyond
                           + Upper(0x1F0) + Data(0x0010, full);  // past register 7
  EXPECT_EQ(b.Load(text), LoadResult::kLoaded);
  ExpectSizesKept(b.image);
  EXPECT_EQ(b.image.program[0x7FFF7], 0x00FF);
  EXPECT_EQ(b.image.program[0x7FFF8], 0x5A5A);
  EXPECT_EQ(b.image.program[0x80000], 0x5A5A);  // the spare last unit
  EXPECT_EQ(b.image.program[0], 0xFFFF);
  EXPECT_EQ(b.image.eeprom[0], 0xFFFF);
  EXPECT_EQ(b.image.eeprom[0xFF7], 0xFFFF);
  EXPECT_EQ(b.image.eeprom[0xFF8], 0x5A5A);
  EXPECT_EQ(b.image.eeprom[0x1000], 0x5A5A);
  EXPECT_EQ(b.image.executive[0xFFB], 0x00FF);
  EXPECT_EQ(b.image.executive[0xFFC], 0x5A5A);
  EXPECT_EQ(b.image.executive[0x1000], 0x5A5A);
  EXPECT_EQ(b.image.config[3], 0xFFFF);
  EXPECT_EQ(b.image.config[7], 0x5A5A);
  EXPECT_EQ(b.image.config[8], 0);  // entries 8 to 17 belong to Read
}

TEST(HexLoaderBounds, LongRecordsAreStoredWhole) {
  Bench b("dsPIC33FJ256GP710");
  std::vector<int> bytes(254);
  for (int i = 0; i < 254; ++i) bytes[i] = i;
  EXPECT_EQ(b.Load(Data(0, bytes)), LoadResult::kLoaded);
  EXPECT_EQ(b.image.program[0], 0x0100);
  EXPECT_EQ(b.image.program[126], 0xFDFC);

  // A word record of 255 units (1020 digits).
  std::string line = ":FF000000";
  int sum = 0xFF;
  for (int i = 0; i < 255; ++i) line += "1201", sum += 0x12 + 0x01;
  char checksum[4];
  std::snprintf(checksum, sizeof checksum, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
  EXPECT_EQ(b.Load(line + checksum), LoadResult::kLoaded);
  EXPECT_EQ(b.image.program[254], 0x1201);
  EXPECT_EQ(b.image.program[256], 0xFFFF);
}

// An odd byte count leaves a lone low byte: it is merged into its unit, whose
// high byte and neighbours keep what the image held.
TEST(HexLoaderBounds, OddByteRecordsMergeTheLastByte) {
  Bench b("dsPIC30F4013");
  EXPECT_EQ(b.Load(Data(0, {1, 2, 3, 4, 5, 6}) + Data(0x10, {0x77}) + Upper(0xFF) +
                   Data(0xF800, {0x11, 0x22, 0, 0, 0x33})),
            LoadResult::kLoaded);
  EXPECT_EQ(b.image.program[2], 0x0605);
  EXPECT_EQ(b.image.program[8], 0xFF77);
  EXPECT_EQ(b.image.program[9], 0x00FF);
  EXPECT_EQ(b.image.eeprom[1], 0xFF33);
  EXPECT_EQ(b.image.eeprom[2], 0xFFFF);

  // The lone byte counts in the checksum like any other.
  std::string bad = Data(0x10, {0x77});
  bad[bad.size() - 3] ^= 1;
  EXPECT_EQ(b.Load(bad), LoadResult::kChecksum);
}

TEST(HexLoaderBounds, MalformedTextIsRejectedOrIgnoredSafely) {
  Bench b("dsPIC30F4013");
  const std::string good = Data(0x10, {0x02, 0x0C, 0x00, 0x00});  // ":04001000020C0000DE\r\n"
  std::string spliced = good;
  spliced.insert(spliced.size() - 2, good.substr(0, good.size() - 2));
  const struct {
    std::string text;
    LoadResult result;
  } kCases[] = {
      {":1000000000\r\n", LoadResult::kNotHex},  // data digits missing
      {":10000\r\n", LoadResult::kNotHex},
      {"garbage\r\n", LoadResult::kNotHex},
      {std::string(1, '\0') + "garbage", LoadResult::kLoaded},
      {"", LoadResult::kLoaded},
      // Characters that are not digits, even where they would read as 0 and
      // the checksum matches.
      {":04001000020CZz00DE\r\n", LoadResult::kNotHex},
      {":04001000020C 000DE\r\n", LoadResult::kNotHex},
      {":04000000ZZ0G0000GG\r\n", LoadResult::kNotHex},
      // Anything after the checksum; blanks excepted.
      {good.substr(0, good.size() - 2) + "00\r\n", LoadResult::kNotHex},
      {good.substr(0, good.size() - 2) + "x\r\n", LoadResult::kNotHex},
      {spliced, LoadResult::kNotHex},
      {good.substr(0, good.size() - 2) + " \t\r\n", LoadResult::kLoaded},
      // A count field that disagrees with the digits (neither bytes nor words).
      {":05001000020C0000DE\r\n", LoadResult::kNotHex},
      {":03001000020C0000DE\r\n", LoadResult::kNotHex},
      {":02000004000100F9\r\n", LoadResult::kNotHex},
      {":00000001FF00\r\n", LoadResult::kNotHex},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(b.Load(c.text), c.result) << c.text;
    if (c.result == LoadResult::kNotHex) {
      EXPECT_EQ(b.image.program[8], 0xFFFF) << c.text;
    }
  }

  // Random lines, most of them starting like a record.
  std::mt19937 random(12345);
  for (int round = 0; round < 300; ++round) {
    std::string text;
    const int lines = 1 + static_cast<int>(random() % 12);
    for (int l = 0; l < lines; ++l) {
      text += random() % 8 != 0 ? ":" : "";
      const int length = static_cast<int>(random() % 80);
      for (int i = 0; i < length; ++i) {
        const char hex[] = "0123456789ABCDEF0123456789abcdef:;\r\n";
        text += random() % 4 != 0 ? hex[random() % (sizeof hex - 1)]
                                  : static_cast<char>(random() % 256);
      }
      text += "\r\n";
    }
    const LoadResult result = b.Load(text);
    EXPECT_NE(result, LoadResult::kCannotOpen);
  }
  ExpectSizesKept(b.image);
}

TEST(HexLoaderFiles, FileThatCannotBeOpenedOrReadIsAnError) {
  testing::TempDir dir;
  Bench b("dsPIC30F4013");
  EXPECT_EQ(b.Load(Data(0, {1, 0, 0, 0})), LoadResult::kLoaded);
  b.sink.entries.clear();

  const std::string missing = dir.File("missing.hex");
  EXPECT_EQ(LoadHexFile(missing, b.image, b.selection, *b.reporter), LoadResult::kCannotOpen);
  EXPECT_EQ(b.sink.last_text(),
            "Error : cannot open file!\r\n" + missing + ": No such file or directory");
  EXPECT_EQ(UnreadableReason(missing), "No such file or directory");
  EXPECT_EQ(b.sink.entries.back().kind, report::StatusKind::kError);
  EXPECT_EQ(b.image.program[0], 0xFFFF);  // cleared, as every load starts
  for (const auto& e : b.sink.entries) EXPECT_NE(e.text, "Loading Successful!");

  b.sink.lang = report::kJapaneseLangId;
  EXPECT_EQ(LoadHexFile(missing, b.image, b.selection, *b.reporter), LoadResult::kCannotOpen);
  EXPECT_EQ(b.sink.last_text(),
            "ｴﾗｰ : ﾌｧｲﾙを開けません。\r\n" + missing + ": No such file or directory");

  // A directory opens on some systems but cannot be read.
  EXPECT_EQ(LoadHexFile(dir.str(), b.image, b.selection, *b.reporter), LoadResult::kCannotOpen);
  EXPECT_EQ(b.sink.entries.back().kind, report::StatusKind::kError);
#ifndef _WIN32  // where a directory opens, its read says why
  EXPECT_TRUE(b.sink.last_text().ends_with(dir.str() + ": Is a directory")) << b.sink.last_text();
  EXPECT_EQ(UnreadableReason(dir.str()), "Is a directory");
#endif
  EXPECT_EQ(UnreadableReason(dir.Write("p.hex", "")), "");
}

TEST(HexLoaderFiles, PathBlanksAreTrimmedAndEmptyFilesLoad) {
  testing::TempDir dir;
  Bench b("dsPIC30F4013");
  const std::string path = dir.Write("p.hex", Data(0, {4, 0, 0, 0}));
  EXPECT_EQ(LoadHexFile("  " + path + " ", b.image, b.selection, *b.reporter), LoadResult::kLoaded);
  EXPECT_EQ(b.image.program[0], 0x0004);
  EXPECT_EQ(LoadHexFile(dir.Write("empty.hex", ""), b.image, b.selection, *b.reporter),
            LoadResult::kLoaded);
  EXPECT_EQ(b.sink.last_text(), "Loading Successful!");
}

// Every record is parsed and checksummed; the bulk goes to a region the
// loader ignores, so the test stays quick under the sanitizers.
TEST(HexLoaderFiles, FiftyMegabyteFile) {
  testing::TempDir dir;
  std::string block;
  for (int a = 0; a < 0x10000; a += 16) block += Data(a, std::vector<int>(16, a >> 4));
  const std::string path = dir.File("big.hex");
  {
    std::ofstream out(path, std::ios::binary);
    out << Data(0, {1, 0, 0, 0}) << Upper(0x300);
    for (std::size_t written = 0; written < 50u << 20; written += block.size()) out << block;
    out << Upper(0) << Data(0xFFE0, std::vector<int>(16, 0xFE)) << std::string(1, '\0')
        << Data(0, {2, 0, 0, 0});
  }
  report::NullSink sink;
  report::ManualClock clock;
  report::Reporter reporter(sink, clock, [] { return report::kEnglishLangId; });
  Bench b("dsPIC30F4013");
  EXPECT_EQ(LoadHexFile(path, b.image, b.selection, reporter), LoadResult::kLoaded);
  EXPECT_EQ(b.image.program[0], 0x0001);  // the record after the NUL is not read
  EXPECT_EQ(b.image.program[0x7FF0], 0xFEFE);
}

// The image is blanked page by page as pages are touched: whatever came
// before (a full file, units written directly, another part's blank),
// loading a small file leaves exactly what a fresh image would hold.
TEST(HexLoaderBounds, EachLoadStartsFromBlankWhateverCameBefore) {
  const std::string small = Data(0x0200, {1, 2, 3, 4}) + Upper(0xFF) + Data(0xFC02, {5, 6, 7, 8});
  std::string full = Upper(0x100) + Data(0x0010, std::vector<int>(16, 0x77));
  for (int upper = 0; upper < 0x10; ++upper) {
    full += Upper(upper);
    for (int a = 0; a < 0x10000; a += 0x1000) full += Data(a, std::vector<int>(16, 0x5A));
  }
  for (const char* part : {"dsPIC30F4013", "PIC24FJ64GA002", "dsPIC33FJ256GP710", ""}) {
    Bench fresh(*part != '\0' ? part : nullptr);
    ASSERT_EQ(fresh.Load(small), LoadResult::kLoaded);
    Bench reused("dsPIC30F6014");
    ASSERT_EQ(reused.Load(full), LoadResult::kLoaded);
    reused.image.program[0x7FFFF] = reused.image.eeprom[7] = reused.image.executive[0x1000] = 9;
    reused.selection = fresh.selection;
    ASSERT_EQ(reused.Load(small), LoadResult::kLoaded);
    const MemoryImage& a = fresh.image;
    const MemoryImage& b = reused.image;
    EXPECT_EQ(InstructionAt(b.program, 0x100), InstructionAt(a.program, 0x100)) << part;
    EXPECT_EQ(b.program[0x7FFFF], a.program[0x7FFFF]) << part;  // pages touched one by one
    EXPECT_TRUE(b.program == a.program) << part;
    EXPECT_TRUE(b.eeprom == a.eeprom) << part;
    EXPECT_TRUE(std::equal(b.executive.begin(), b.executive.end(), a.executive.begin())) << part;
  }
}

}  // namespace
}  // namespace quillon::image
