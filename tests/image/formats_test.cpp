#include "image/formats.h"

#include <gtest/gtest.h>

#include "image/sha256.h"

namespace quillon::image {
namespace {

TEST(Formats, Hex4KeepsTheLastFourDigits) {
  EXPECT_EQ(Hex4(0x800008), "0008");
  EXPECT_EQ(Hex4(-4), "FFFC");
  EXPECT_EQ(Hex4(0xA), "000A");
  EXPECT_EQ(Hex4(0x155C0), "55C0");
}

TEST(Formats, HexValueReadsTheLeadingRunOfDigits) {
  EXPECT_EQ(HexValue("FC"), 252);
  EXPECT_EQ(HexValue("1F0"), 496);
  EXPECT_EQ(HexValue(""), 0);
  EXPECT_EQ(HexValue("12G4"), 0x12);
  EXPECT_EQ(HexValue("ab"), 0xAB);
  EXPECT_EQ(HexValue("G1"), 0);
  EXPECT_EQ(HexValue("123456"), 0x3456);
}

TEST(Formats, Sha256KnownDigestsAcrossBlockEdges) {
  const struct {
    std::string data;
    const char* digest;
  } rows[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",  // 56: a second tail block
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000, 'a'), "41edece42d63e8d9bf515a9ba6932e1c20cbc9f5a5d134645adb5db1b9737ea3"},
  };
  for (const auto& row : rows) EXPECT_EQ(Sha256Hex(row.data), row.digest) << row.data.size();
  EXPECT_FALSE(FileSha256Hex("/nonexistent/quillon.hex"));
}

TEST(Formats, ByteSplitting) {
  EXPECT_EQ(LowByte(0x1234), 0x34);
  EXPECT_EQ(HighByte(0x1234), 0x12);
  EXPECT_EQ(UpperByte(0x040200), 0x04);
}

TEST(Formats, ClockTexts) {
  report::ManualClock clock({9, 5, 3});
  EXPECT_EQ(TimeOfDay(clock), "09:05:03");
  EXPECT_EQ(ElapsedTime("23:59:50", "00:00:05"), "00:00:15");
  EXPECT_EQ(ElapsedTime("12:34:56", "12:34:56"), "00:00:00");
  EXPECT_EQ(ElapsedTime("01:00:00", "03:02:01"), "02:02:01");
}

}  // namespace
}  // namespace quillon::image
