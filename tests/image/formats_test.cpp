#include "image/formats.h"

#include <gtest/gtest.h>

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
