// Flash physics and NVM operations of both family forms, driven by the
// published instruction words straight into the target.
#include <gtest/gtest.h>

#include "sim/target.h"
#include "sim_client.h"

namespace quillon::sim {
namespace {

using testing::MovLit;
using testing::Words;

class Chip {
 public:
  explicit Chip(const char* name)
      : row(*devices::FindByName(name)), target(row, TargetTiming{}, row.device_id, 0) {
    target.Enter(row.family_code != 0, false);
  }
  void Run(const Words& words) {
    for (std::uint32_t w : words) target.Execute(w);
  }
  void SetNvmcon(std::uint16_t value) { Run({MovLit(value, 10), 0x883B0A}); }
  // Fills the latches of one row at `address` through W0..W5 and table writes.
  void LoadRow(std::uint32_t address, const std::vector<std::uint32_t>& row_values) {
    Run({MovLit(address >> 16, 0), 0x880190, MovLit(address & 0xFFFF, 7)});
    for (std::size_t q = 0; q < row_values.size(); q += 4) {
      const auto packed = testing::Pack(&row_values[q]);
      for (std::uint32_t n = 0; n < 6; ++n) Run({MovLit(packed[n], n)});
      Run(testing::kLoadLatches);
    }
  }
  // dsPIC30F externally timed operation.
  void Timed(bool unlock, std::uint64_t wait_ns) {
    if (unlock) Run(testing::kUnlock);
    Run(testing::kSetWr);
    target.Advance(wait_ns);
    Run(testing::kClearWr);
  }
  bool WrSet() {
    Run({0x803B02, 0x883C22});
    return (target.RegOut() & 0x8000) != 0;
  }

  const devices::DeviceRecord& row;
  Target target;
};

std::vector<std::uint32_t> Pattern(std::size_t n, std::uint32_t seed) {
  std::vector<std::uint32_t> v(n);
  for (std::size_t i = 0; i < n; ++i)
    v[i] = (seed * 2654435761u + static_cast<std::uint32_t>(i) * 40503u) & 0xFFFFFF;
  return v;
}

TEST(Flash30FTest, RowProgramOverOldDataGivesTheAnd) {
  Chip chip("dsPIC30F4013");
  const auto old_values = Pattern(32, 1), new_values = Pattern(32, 2);
  for (std::uint32_t i = 0; i < 32; ++i) chip.target.SetProgram(0x40 + 2 * i, old_values[i]);
  chip.SetNvmcon(0x4001);
  chip.LoadRow(0x40, new_values);
  chip.Timed(true, 2 * kMillisecond);
  for (std::uint32_t i = 0; i < 32; ++i) {
    EXPECT_EQ(chip.target.Program(0x40 + 2 * i), old_values[i] & new_values[i]) << i;
  }
  EXPECT_EQ(chip.target.completed_operations(), 1);
  EXPECT_FALSE(chip.target.protocol_fault());
}

TEST(Flash30FTest, WriteWithoutUnlockOrWithBrokenUnlockHasNoEffect) {
  Chip chip("dsPIC30F4013");
  chip.SetNvmcon(0x4001);
  chip.LoadRow(0, Pattern(32, 3));
  chip.Timed(false, 5 * kMillisecond);
  EXPECT_EQ(chip.target.Program(0), 0xFFFFFFu);
  // A word between the last key and WR breaks the unlock.
  chip.LoadRow(0, Pattern(32, 3));
  chip.Run(testing::kUnlock);
  chip.Run({MovLit(1, 3)});
  chip.Run(testing::kSetWr);
  EXPECT_FALSE(chip.WrSet());
  chip.target.Advance(5 * kMillisecond);
  chip.Run(testing::kClearWr);
  EXPECT_EQ(chip.target.Program(0), 0xFFFFFFu);
  EXPECT_EQ(chip.target.completed_operations(), 0);
}

TEST(Flash30FTest, WrClearedTooEarlyIsNotPerformed) {
  Chip chip("dsPIC30F4013");
  chip.SetNvmcon(0x4001);
  chip.LoadRow(0, Pattern(32, 4));
  chip.Run(testing::kUnlock);
  chip.Run(testing::kSetWr);
  EXPECT_TRUE(chip.WrSet());  // externally timed: WR stays until the host clears it
  chip.target.Advance(kMillisecond);
  chip.Run(testing::kClearWr);
  EXPECT_EQ(chip.target.Program(0), 0xFFFFFFu);
  EXPECT_EQ(chip.target.unfinished_operations(), 1);
}

TEST(Flash30FTest, ErasesAndEepromAndConfiguration) {
  Chip chip("dsPIC30F4013");
  chip.target.FillRandom(7);
  chip.target.SetConfig(2, 0x1234);
  // Executive erase with a row-write wait does not complete.
  chip.SetNvmcon(0x4072);
  chip.Timed(true, 4 * kMillisecond);
  EXPECT_NE(chip.target.Executive(0x800000), 0xFFFFFFu);
  chip.Timed(true, 200 * kMillisecond);
  EXPECT_EQ(chip.target.Executive(0x800000), 0xFFFFFFu);
  EXPECT_EQ(chip.target.Executive(0x8005FE), 0xFFFFFFu);
  // Chip erase: program memory and EEPROM, not the configuration registers.
  chip.SetNvmcon(0x407F);
  chip.Timed(true, 202 * kMillisecond);
  EXPECT_EQ(chip.target.Program(0), 0xFFFFFFu);
  EXPECT_EQ(chip.target.Program(2 * 16383), 0xFFFFFFu);
  EXPECT_EQ(chip.target.Eeprom(0x7FFC00), 0xFFFF);
  EXPECT_EQ(chip.target.Config(2), 0x1234);
  // EEPROM row through the data latches.
  chip.SetNvmcon(0x4005);
  chip.Run({MovLit(0x7F, 0), 0x880190, MovLit(0xFC20, 7)});
  for (int g = 0; g < 4; ++g) {
    for (std::uint32_t i = 0; i < 4; ++i)
      chip.Run({MovLit(0x1000u * static_cast<std::uint32_t>(g) + i, i)});
    chip.Run({0xEB0300, 0, 0xBB1BB6, 0, 0, 0xBB1BB6, 0, 0, 0xBB1BB6, 0, 0, 0xBB1BB6, 0, 0});
  }
  chip.Timed(true, 2 * kMillisecond);
  EXPECT_EQ(chip.target.Eeprom(0x7FFC20), 0x0000);
  EXPECT_EQ(chip.target.Eeprom(0x7FFC3E), 0x3003);
  // Configuration register: the value replaces the old one, all 16 bits.
  chip.Run({MovLit(4, 7), MovLit(0xF8, 0), 0x880190, MovLit(0xC703, 6), 0, 0xBB1B86, 0, 0});
  chip.SetNvmcon(0x4008);
  chip.Timed(true, 2 * kMillisecond);
  EXPECT_EQ(chip.target.Config(2), 0xC703);
  EXPECT_FALSE(chip.target.protocol_fault());
}

TEST(Flash33FTest, SelfTimedRowProgramReadsBusyUntilDone) {
  Chip chip("dsPIC33FJ256GP710");
  const auto values = Pattern(64, 5);
  chip.SetNvmcon(0x4001);
  chip.LoadRow(0x2AB80, values);
  chip.Run(testing::kSetWr);
  EXPECT_TRUE(chip.WrSet());
  EXPECT_EQ(chip.target.Program(0x2AB80), 0xFFFFFFu);
  chip.target.Advance(2 * kMillisecond);
  EXPECT_FALSE(chip.WrSet());
  EXPECT_EQ(chip.target.nvmcon(), 0x4001);  // NVMCON keeps its value
  for (std::uint32_t i = 0; i < 64; ++i) EXPECT_EQ(chip.target.Program(0x2AB80 + 2 * i), values[i]);
}

TEST(Flash33FTest, BulkEraseByPageOfLastTableWrite) {
  Chip chip("dsPIC33FJ128GP706");
  chip.target.FillRandom(9);
  const std::uint32_t calibration = chip.target.Executive(0x8007F4);
  auto erase = [&chip](std::uint32_t page) {
    chip.Run({0x2404FA, 0x883B0A, MovLit(page, 0), 0x880190, 0x200000, 0xBB0800, 0, 0});
    chip.Run(testing::kSetWr);
    chip.target.Advance(400 * kMillisecond);
    EXPECT_FALSE(chip.WrSet());
  };
  erase(0x00);
  EXPECT_EQ(chip.target.Program(0), 0xFFFFFFu);
  EXPECT_EQ(chip.target.Program(2 * chip.target.program_words() - 2), 0xFFFFFFu);
  EXPECT_NE(chip.target.Executive(0x800000), 0xFFFFFFu);
  EXPECT_NE(calibration, 0xFFFFFFu);
  erase(0x80);
  EXPECT_EQ(chip.target.Executive(0x800000), 0xFFFFFFu);
  EXPECT_EQ(chip.target.Executive(0x8007F4), 0xFFFFFFu);  // calibration is the programmer's to keep
}

TEST(Flash33FTest, PageEraseWithoutTableWriteErasesPageZero) {
  Chip chip("dsPIC33FJ128GP706");
  chip.target.FillRandom(11);
  chip.SetNvmcon(0x4042);
  chip.Run(testing::kSetWr);
  chip.target.Advance(40 * kMillisecond);
  EXPECT_EQ(chip.target.Program(0), 0xFFFFFFu);
  EXPECT_EQ(chip.target.Program(0x3FE), 0xFFFFFFu);
  EXPECT_NE(chip.target.Program(0x400), 0xFFFFFFu);
  EXPECT_NE(chip.target.Executive(0x800000), 0xFFFFFFu);
}

TEST(Flash33FTest, ConfigurationRegistersAreEightBitsWide) {
  Chip chip("dsPIC33FJ128GP706");
  chip.Run({MovLit(6, 7), MovLit(0x4000, 10), 0x883B0A, MovLit(0xF8, 0), 0x880190,
            MovLit(0xC7A5, 0), 0xBB1B80, 0, 0});
  chip.Run(testing::kSetWr);
  chip.target.Advance(2 * kMillisecond);
  EXPECT_EQ(chip.target.Config(3), 0x00A5);
  chip.Run({MovLit(0xF8, 0), 0x880190, MovLit(6, 6), MovLit(0x784, 7), 0xBA0BB6, 0, 0});
  EXPECT_EQ(chip.target.RegOut(), 0x00A5);
}

TEST(Flash33FTest, UnknownNvmconValueIsAFault) {
  Chip chip("dsPIC33FJ128GP706");
  chip.SetNvmcon(0x4077);
  chip.Run(testing::kSetWr);
  EXPECT_TRUE(chip.target.protocol_fault());
  EXPECT_FALSE(chip.WrSet());
}

// PIC24F KA: 32-instruction rows with 0x4004. The dsPIC33F row code and a
// 64-instruction row are faults that leave the row as it was.
TEST(FlashKaTest, OnlyThePublishedRowWriteProgramsARow) {
  struct Case {
    const char* what;
    std::uint16_t nvmcon;
    std::size_t instructions;
    bool works;
  };
  for (const Case& c :
       {Case{"32-instruction row", 0x4004, 32, true}, Case{"dsPIC33F row code", 0x4001, 32, false},
        Case{"64-instruction row", 0x4004, 64, false}}) {
    Chip chip("PIC24F16KA101");
    const auto values = Pattern(c.instructions, 4);
    chip.SetNvmcon(c.nvmcon);
    chip.LoadRow(0x80, values);
    chip.Run(testing::kSetWr);
    chip.target.Advance(5 * kMillisecond);
    EXPECT_EQ(chip.target.protocol_fault(), !c.works) << c.what;
    for (std::uint32_t i = 0; i < c.instructions; ++i) {
      ASSERT_EQ(chip.target.Program(0x80 + 2 * i), c.works ? values[i] : 0xFFFFFFu) << c.what;
    }
  }
}

TEST(FlashKaTest, EepromWordConfigurationRegisterAndBulkErase) {
  Chip chip("PIC24F16KA101");
  auto write = [&chip](std::uint16_t nvmcon, std::uint32_t address, std::uint16_t value) {
    chip.SetNvmcon(nvmcon);
    chip.Run({MovLit(address >> 16, 0), 0x880190, MovLit(address & 0xFFFF, 7), MovLit(value, 6),
              0xBB0B86, 0, 0});  // TBLWTL W6, [W7]
    chip.Run(testing::kSetWr);
    chip.target.Advance(500 * kMillisecond);
  };
  chip.target.SetEeprom(0x7FFE10, 0x0F0F);
  write(0x4004, 0x7FFE10, 0x1234);  // the word write erases the word first
  EXPECT_EQ(chip.target.Eeprom(0x7FFE10), 0x1234);
  write(0x4004, 0xF80008, 0x017B);  // FOSC, eight bits wide
  EXPECT_EQ(chip.target.ReadProgramSpace(0xF80008), 0x7Bu);
  chip.target.SetProgram(0, 0x123456);
  EXPECT_FALSE(chip.target.protocol_fault());

  write(0x404F, 0, 0);  // the dsPIC33F bulk erase: refused, nothing erased
  EXPECT_TRUE(chip.target.protocol_fault());
  EXPECT_EQ(chip.target.Program(0), 0x123456u);
  write(0x4064, 0, 0);  // program memory, EEPROM and configuration
  EXPECT_EQ(chip.target.Program(0), 0xFFFFFFu);
  EXPECT_EQ(chip.target.Eeprom(0x7FFE10), 0xFFFF);
  EXPECT_EQ(chip.target.ReadProgramSpace(0xF80008), 0xFFu);
  EXPECT_EQ(chip.target.ReadProgramSpace(0xF80002), 0u);  // unimplemented
}

TEST(FlashTest, StuckBitsSurviveProgrammingAndErase) {
  Chip chip("dsPIC33FJ128GP706");
  chip.target.SetStuckBits(0x10, 0x000001, 0x000000);
  EXPECT_EQ(chip.target.Program(0x10), 0xFFFFFEu);
  chip.target.SetProgram(0x10, 0xFFFFFF);
  EXPECT_EQ(chip.target.Program(0x10), 0xFFFFFEu);
}

}  // namespace
}  // namespace quillon::sim
