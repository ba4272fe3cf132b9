#include "image/hex_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "image/hex_record.h"
#include "image/hex_test_support.h"

namespace quillon::image {
namespace {

using testing::Bench;
using testing::TempDir;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t end = text.find("\r\n", pos);
    EXPECT_NE(end, std::string::npos) << "every line ends with CR LF";
    if (end == std::string::npos) break;
    lines.push_back(text.substr(pos, end - pos));
    pos = end + 2;
  }
  return lines;
}

// The HEX file written for a part whose image was cleared for it.
std::vector<std::string> HexLinesFor(const char* part) {
  TempDir dir;
  Bench b(part);
  b.image.Clear(b.selection);
  EXPECT_TRUE(WriteHexFile(dir.str(), b.image, b.selection, *b.reporter));
  EXPECT_EQ(b.sink.texts().front(), "Filing...HEX");
  return Lines(testing::ReadFile(dir.File(kHexName)));
}

std::size_t CountOf(const std::vector<std::string>& lines, const std::string& line) {
  return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
}

TEST(HexRecord, UpperAddressAndDataRecords) {
  EXPECT_EQ(FormatUpperAddressRecord(0), ":020000040000FA");
  EXPECT_EQ(FormatUpperAddressRecord(0xFF), ":0200000400FFFB");
  EXPECT_EQ(FormatUpperAddressRecord(0x100), ":020000040100F9");
  EXPECT_EQ(FormatUpperAddressRecord(0x1F0), ":0200000401F009");

  HexRecord record;
  record.SetOffset(0x1FFF0);
  for (int i = 0; i < 8; ++i) record.AppendWord(i % 2 == 0 ? 0x0200 : 0x0004);
  EXPECT_EQ(record.FormatDataRecord(), ":10FFF00000020400000204000002040000020400E9");
  EXPECT_EQ(record.offset(), 0x20000);
  EXPECT_EQ(record.count(), 0);
}

TEST(HexWriter, SmallPartLayout) {
  const auto lines = HexLinesFor("dsPIC30F1010");  // 2048 words, no EEPROM, dsPIC30 executive
  ASSERT_EQ(lines.size(), 1 + 512 + 1 + 184 + 3 + 1u);
  EXPECT_EQ(lines.front(), ":020000040000FA");
  // Blank program memory: FF FF FF 00 four times in each of 512 records.
  EXPECT_EQ(lines[1], ":10000000FFFFFF00FFFFFF00FFFFFF00FFFFFF00FC");
  EXPECT_EQ(lines[512].substr(0, 9), ":101FF000");
  EXPECT_EQ(lines[513], ":020000040100F9");
  EXPECT_EQ(CountOf(lines, ":0200000400FFFB"), 0u);
  // 1472 executive units: 184 records, then two configuration records.
  EXPECT_EQ(lines[514 + 183].substr(0, 9), ":100B7000");
  EXPECT_EQ(lines[698], ":0200000401F009");
  EXPECT_EQ(lines[699], ":10000000FFFF0000FFFF0000FFFF0000FFFF0000F8");
  EXPECT_EQ(lines[700].substr(0, 9), ":10001000");
  EXPECT_EQ(lines[701], ":00000001FF");
}

TEST(HexWriter, LargePartsAndEeprom) {
  const auto big = HexLinesFor("dsPIC33FJ256GP710");  // 87552 words: byte addresses to 0x557FF
  const auto first = std::find(big.begin(), big.end(), ":020000040001F9");
  ASSERT_NE(first, big.end());
  EXPECT_EQ(first - big.begin(), 1 + 4096);  // right after the first 64 K bytes
  for (int v = 2; v <= 5; ++v) EXPECT_EQ(CountOf(big, FormatUpperAddressRecord(v)), 1u) << v;
  EXPECT_EQ(CountOf(big, FormatUpperAddressRecord(6)), 0u);
  EXPECT_EQ(CountOf(big, ":0200000401F009"), 1u);

  const auto eeprom = HexLinesFor("dsPIC30F6014");  // 4096 bytes of EEPROM
  const auto at = std::find(eeprom.begin(), eeprom.end(), ":0200000400FFFB");
  ASSERT_NE(at, eeprom.end());
  EXPECT_EQ(at[1], ":10E00000FFFF0000FFFF0000FFFF0000FFFF000018");
  EXPECT_EQ(at[512].substr(0, 9), ":10FFF000");
  EXPECT_EQ(at[513], ":020000040100F9");

  const auto pic24f = HexLinesFor("PIC24FJ64GA002");
  EXPECT_EQ(CountOf(pic24f, ":0200000401F009"), 0u);
  EXPECT_EQ(pic24f.back(), ":00000001FF");
}

TEST(ListingWriter, SectionsInOrderWithReadBackConfiguration) {
  TempDir dir;
  Bench b("dsPIC30F2010");  // 4096 words, 1024 bytes of EEPROM
  b.image.Clear(b.selection);
  b.image.program[0] = 0x1234;
  b.image.program[0x1FFF] = 0x0056;
  b.image.eeprom[511] = 0xBEEF;
  b.image.executive[1471] = 0x00AB;
  std::array<std::uint16_t, 16> readback{};
  for (int k = 0; k < 16; ++k) readback[k] = static_cast<std::uint16_t>(0xC000 + k);

  ListingWriter listing(dir.str(), b.selection, *b.reporter);
  EXPECT_EQ(listing.path(), JoinPath(dir.str(), "$Quill$.txt"));
  listing.WriteFlash(b.image);
  listing.WriteData(b.image);
  listing.WriteExecutive(b.image);
  listing.WriteConfig(b.image, readback);
  EXPECT_TRUE(listing.ok());
  EXPECT_EQ(b.image.config[15], 0xC00F);  // copied for the HEX file as well

  const auto lines = Lines(testing::ReadFile(listing.path()));
  ASSERT_EQ(lines.size(), 1 + 8192 + 1 + 512 + 1 + 1472 + 1 + 16u);
  EXPECT_EQ(lines[0], "Flash");
  EXPECT_EQ(lines[1], "0000\t1234");
  EXPECT_EQ(lines[8192], "1FFF\t0056");
  EXPECT_EQ(lines[8193], "Data");
  EXPECT_EQ(lines[8194 + 511], "03FE\tBEEF");
  EXPECT_EQ(lines[8706], "ExecutiveCode");
  EXPECT_EQ(lines[8707 + 1471], "05BF\t00AB");
  EXPECT_EQ(lines[10179], "ID and Config");
  EXPECT_EQ(lines.back(), "000F\tC00F");

  const std::vector<std::string> expected{"Filing...Prg", "Filing...Dat", "Filing...Exe"};
  EXPECT_EQ(b.sink.texts(), expected);
  EXPECT_EQ(b.sink.progress.back(), 100);
  EXPECT_EQ(std::count(b.sink.progress.begin(), b.sink.progress.end(), 100), 3);
}

TEST(ListingWriter, NoDataSectionWithoutEeprom) {
  TempDir dir;
  Bench b("dsPIC33FJ12GP201");  // 4096 executive units
  ListingWriter listing(dir.str(), b.selection, *b.reporter);
  listing.WriteFlash(b.image);
  listing.WriteData(b.image);
  listing.WriteExecutive(b.image);
  listing.WriteConfig(b.image, {});
  const auto lines = Lines(testing::ReadFile(listing.path()));
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Data"), 0);
  ASSERT_EQ(lines.size(), 1 + 8192 + 1 + 4096 + 1 + 16u);
  EXPECT_EQ(lines[8194 + 4095], "0FFF\t0000");
}

TEST(HexWriterFailures, UnwritableFilesAreReportedOnceAndNamed) {
  TempDir dir;
  Bench b("dsPIC30F1010");
  const std::string nowhere = dir.File("no-such-dir");
  EXPECT_FALSE(WriteHexFile(nowhere, b.image, b.selection, *b.reporter));
  EXPECT_EQ(b.sink.last_text(), "Error : cannot write file!\r\n" + JoinPath(nowhere, kHexName));
  EXPECT_EQ(b.sink.entries.back().kind, report::StatusKind::kError);
  EXPECT_EQ(b.sink.clock.ElapsedMs(), 1000);

  b.sink.entries.clear();
  b.sink.lang = report::kJapaneseLangId;
  ListingWriter listing(nowhere, b.selection, *b.reporter);
  listing.WriteFlash(b.image);
  listing.WriteData(b.image);
  listing.WriteExecutive(b.image);
  listing.WriteConfig(b.image, {});
  EXPECT_FALSE(listing.ok());
  ASSERT_EQ(b.sink.entries.size(), 1u);
  EXPECT_EQ(b.sink.last_text(), "ｴﾗｰ : ﾌｧｲﾙに書き込めません。\r\n" + listing.path());
}

TEST(HexWriter, JoinPath) {
  EXPECT_EQ(JoinPath("", kHexName), "$Quill$.hex");
  EXPECT_EQ(JoinPath("out", kHexName), "out/$Quill$.hex");
  EXPECT_EQ(JoinPath("out/", kListingName), "out/$Quill$.txt");
  EXPECT_EQ(JoinPath("C:\\work\\", kListingName), "C:\\work\\$Quill$.txt");
}

}  // namespace
}  // namespace quillon::image
