#include "image/hex_loader.h"

#include <gtest/gtest.h>

#include <cctype>

#include "image/hex_test_support.h"

namespace quillon::image {
namespace {

using report::StatusKind;
using testing::Bench;
using testing::Data;
using testing::Upper;

std::vector<int> Bytes(int n, int first = 0) {
  std::vector<int> out;
  for (int i = 0; i < n; ++i) out.push_back((first + i) & 0xFF);
  return out;
}

TEST(HexLoader, WorkedExampleFillsUnitsAndShowsEachAddress) {
  Bench b("dsPIC30F4013");
  std::vector<int> data = Bytes(16, 0x10);
  data[0] = 0x00, data[1] = 0x02, data[2] = 0x04, data[3] = 0x00;
  EXPECT_EQ(b.Load(Data(0, data) + ":00000001FF\r\n"), LoadResult::kLoaded);
  EXPECT_EQ(b.image.program[0], 0x0200);
  EXPECT_EQ(b.image.program[1], 0x0004);
  EXPECT_EQ(InstructionAt(b.image.program, 0), 0x040200u);
  EXPECT_EQ(b.image.program[7], 0x1F1E);
  EXPECT_EQ(b.image.program[8], 0xFFFF);  // untouched blank
  const auto routine = b.sink.texts_of(StatusKind::kStep);
  ASSERT_EQ(routine.size(), 8u);
  EXPECT_EQ(routine.front(), "Loading:Prg Adr 0000");
  EXPECT_EQ(routine.back(), "Loading:Prg Adr 0007");
  EXPECT_EQ(b.sink.last_text(), "Loading Successful!");
  EXPECT_EQ(b.sink.entries.back().kind, StatusKind::kResult);

  b.sink.lang = report::kJapaneseLangId;
  EXPECT_EQ(b.Load(""), LoadResult::kLoaded);
  EXPECT_EQ(b.sink.last_text(), "Loading成功!");
  EXPECT_EQ(b.image.program[0], 0xFFFF);  // every load starts from a cleared image
}

TEST(HexLoader, LineEndsCaseCommentsAndRecordTypes) {
  Bench b("dsPIC30F4013");
  std::string rec = Data(0, {0xAA, 0xBB, 0xCC, 0});
  for (char& c : rec) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  rec.resize(rec.size() - 2);
  // CR, LF, CR LF, blank and ";" lines, no line end at the end of the file.
  EXPECT_EQ(b.Load(Upper(1) + "\r\r\n;note\n" + Data(0x10, {1, 2, 3, 0}) + "\r" + rec),
            LoadResult::kLoaded);
  EXPECT_EQ(b.image.program[0x8000 + 8], 0x0201);  // upper survived the blank and ";" lines
  EXPECT_EQ(b.image.program[0x8000], 0xBBAA);      // still upper 1
  EXPECT_EQ(b.image.program[0x8001], 0x00CC);

  // End record does not stop the load; type 02 does not move data.
  EXPECT_EQ(b.Load(":00000001FF\n" + testing::Record(2, 0, {0x10, 0x00}) + Data(4, {9, 8, 7, 0})),
            LoadResult::kLoaded);
  EXPECT_EQ(b.image.program[2], 0x0809);
}

TEST(HexLoader, NulEndsTheLineAndTheFile) {
  Bench b("dsPIC30F4013");
  std::string text = Data(0, {1, 0, 0, 0});
  text.resize(text.size() - 2);
  text += std::string(1, '\0') + "\r\n" + Data(4, {2, 0, 0, 0});
  EXPECT_EQ(b.Load(text), LoadResult::kLoaded);
  EXPECT_EQ(b.image.program[0], 0x0001);
  EXPECT_EQ(b.image.program[2], 0xFFFF);
}

TEST(HexLoader, ConfigurationRegistersAtUpper1F0) {
  Bench b("dsPIC33FJ256GP710");
  EXPECT_EQ(b.Load(Upper(0x1F0) + Data(0, Bytes(16, 0x40)) + Data(0x18, Bytes(4, 0x80))),
            LoadResult::kLoaded);
  EXPECT_EQ(b.image.config[0], 0x4140);
  EXPECT_EQ(b.image.config[1], 0x4544);
  EXPECT_EQ(b.image.config[2], 0x4948);
  EXPECT_EQ(b.image.config[3], 0x4D4C);
  EXPECT_EQ(b.image.config[6], 0x8180);
  const std::array<bool, 8> present{true, true, true, true, false, false, true, false};
  for (int k = 0; k < 8; ++k) EXPECT_EQ(b.image.config_present[k], present[k]) << k;
  EXPECT_EQ(b.image.program[0], 0xFFFF);  // not program memory
}

TEST(HexLoader, Pic24fFlashConfigurationWordsAtTheTopOfProgramMemory) {
  Bench b("PIC24FJ64GA002");  // 22016 words: last instruction at 0xABFE
  EXPECT_EQ(b.Load(Upper(1) + Data(0x57F8, {0x11, 0x22, 0, 0, 0x33, 0x44, 0, 0})),
            LoadResult::kLoaded);
  EXPECT_EQ(b.image.config[1], 0x2211);  // word 2 at 0xABFC
  EXPECT_EQ(b.image.config[0], 0x4433);  // word 1 at 0xABFE
  EXPECT_TRUE(b.image.config_present[0] && b.image.config_present[1]);
  EXPECT_EQ(b.image.program[0xABFE], 0x4433);  // also a program word

  Bench other("dsPIC33FJ64GP706");  // same size, registers elsewhere
  EXPECT_EQ(other.Load(Upper(1) + Data(0x57F8, {0x11, 0x22, 0, 0})), LoadResult::kLoaded);
  EXPECT_FALSE(other.image.config_present[1]);
}

TEST(HexLoader, EepromTakesTheLowHalvesFromTheDeviceStart) {
  Bench big("dsPIC30F6014");  // 4096 bytes: 0x7FF000 up
  EXPECT_EQ(
      big.Load(Upper(0xFF) + Data(0xE000, {1, 2, 0, 0, 3, 4, 0, 0}) + Data(0xFFFC, {5, 6, 0, 0})),
      LoadResult::kLoaded);
  EXPECT_EQ(big.image.eeprom[0], 0x0201);
  EXPECT_EQ(big.image.eeprom[1], 0x0403);
  EXPECT_EQ(big.image.eeprom[2047], 0x0605);
  EXPECT_EQ(big.sink.texts_of(StatusKind::kStep).back(), "Loading:Dat Adr 07FF");

  Bench small("dsPIC30F4013");  // 1024 bytes: word 0 at 0x7FFC00, 511 at 0x7FFFFE
  EXPECT_EQ(small.Load(Upper(0xFF) + Data(0xF800, {7, 0, 0, 0}) + Data(0xFFFC, {8, 0, 0, 0})),
            LoadResult::kLoaded);
  EXPECT_EQ(small.image.eeprom[0], 0x0007);
  EXPECT_EQ(small.image.eeprom[511], 0x0008);

  Bench none("dsPIC30F2011");  // no EEPROM: ignored
  EXPECT_EQ(none.Load(Upper(0xFF) + Data(0xFFFC, {8, 0, 0, 0})), LoadResult::kLoaded);
  EXPECT_EQ(none.image.eeprom[0], 0xFFFF);
  EXPECT_TRUE(none.sink.texts_of(StatusKind::kStep).empty());
}

TEST(HexLoader, ExecutiveMemoryMarksTheImage) {
  Bench b("dsPIC33FJ256GP710");
  EXPECT_FALSE(b.image.executive_present);
  EXPECT_EQ(b.Load(Upper(0x100) + Data(0x10, {1, 2, 3, 0})), LoadResult::kLoaded);
  EXPECT_TRUE(b.image.executive_present);
  EXPECT_EQ(b.image.executive[8], 0x0201);
  EXPECT_EQ(b.image.executive[9], 0x0003);
  EXPECT_EQ(b.sink.texts_of(StatusKind::kStep).front(), "Loading:Exe Adr 0008");
}

TEST(HexLoader, ProgramLimitLooksAtTheRecordStartOnly) {
  Bench none;  // no part chosen: nothing goes to program memory
  EXPECT_EQ(none.Load(Data(0, {1, 2, 3, 0})), LoadResult::kLoaded);
  EXPECT_EQ(none.image.program[0], 0);
  EXPECT_EQ(none.image.eeprom[0], 0x00FF);

  Bench b("dsPIC30F1010");  // 2048 words: limit 0xFFF
  EXPECT_EQ(b.Load(Data(0x1FF8, Bytes(16)) + Data(0x2010, {1, 2, 3, 0})), LoadResult::kLoaded);
  EXPECT_EQ(b.image.program[0xFFC], 0x0100);
  EXPECT_EQ(b.image.program[0x1003], 0x0F0E);  // record started below the limit: stored whole
  EXPECT_EQ(b.image.program[0x1008], 0xFFFF);  // record starting past the limit: dropped
}

TEST(HexLoader, WordRecordsAreUnitAddressed) {
  Bench b("dsPIC30F4013");
  // Count 2 with eight data digits: two units at unit address 4, MSB first.
  // Checksum: 0x100 - (2 + 4 + 0x12 + 0x34 + 0x56 + 0x78) & 0xFF = 0xE6.
  EXPECT_EQ(b.Load(":0200040012345678E7\r\n"), LoadResult::kChecksum);
  EXPECT_EQ(b.Load(":0200040012345678E6\r\n"), LoadResult::kLoaded);
  EXPECT_EQ(b.image.program[4], 0x1234);
  EXPECT_EQ(b.image.program[5], 0x5678);
}

TEST(HexLoader, FailuresStopTheLoadAndKeepEarlierData) {
  Bench b("dsPIC30F4013");
  EXPECT_EQ(b.Load(Data(0, {1, 0, 0, 0}) + " " + Data(4, {2, 0, 0, 0})), LoadResult::kNotHex);
  EXPECT_EQ(b.sink.last_text(), "Error : not HEX file!");
  EXPECT_EQ(b.sink.entries.back().kind, StatusKind::kError);
  EXPECT_EQ(b.sink.clock.ElapsedMs(), 1000);
  EXPECT_EQ(b.image.program[0], 0x0001);
  EXPECT_EQ(b.image.program[2], 0xFFFF);

  b.sink.lang = report::kJapaneseLangId;
  EXPECT_EQ(b.Load(Data(0, {1, 0, 0, 0}) + ":0400040002000000F7\r\n" + Data(8, {3, 0, 0, 0})),
            LoadResult::kChecksum);
  EXPECT_EQ(b.sink.last_text(), "ｴﾗｰ : ﾁｪｯｸ･ｻﾑが正しくありません。");
  EXPECT_EQ(b.image.program[0], 0x0001);
  EXPECT_EQ(b.image.program[4], 0xFFFF);

  // Too short to be a record; a wrong checksum on a type-04 record is not tested.
  EXPECT_EQ(b.Load(":00000001F\r\n"), LoadResult::kNotHex);
  EXPECT_EQ(b.Load(":020000040001FF\r\n" + Data(0, {5, 0, 0, 0})), LoadResult::kLoaded);
  EXPECT_EQ(b.image.program[0x8000], 0x0005);
}

}  // namespace
}  // namespace quillon::image
