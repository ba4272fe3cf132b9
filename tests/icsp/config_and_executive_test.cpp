// Configuration words in their three layouts, and the executive check.
#include <gtest/gtest.h>

#include <algorithm>

#include "icsp/config_words.h"
#include "icsp/primitives.h"
#include "scripted_board.h"
#include "test_support/sim_session.h"

namespace quillon::icsp {
namespace {

using test_support::SimSession;

class ConfigWireTest : public ScriptedSessionTest {};

TEST_F(ConfigWireTest, FlashWordsAtTheTopOfProgramMemory) {
  struct Case {
    const char* device;
    std::uint32_t page_word;
    std::uint32_t offset_word;
  };
  for (const Case& c :
       {Case{"PIC24FJ64GA002", 0x200000, 0x2ABFC6}, Case{"PIC24FJ256GB110", 0x200020, 0x2ABFC6}}) {
    Select(c.device);
    board.regout = {0x3F7F, 0xF9DF};  // word 2 first, then word 1
    ReadConfigWords(session);
    ASSERT_EQ(port.writes.size(), 7u) << c.device;
    EXPECT_EQ(port.writes[0], BatchPacket({0x040200, 0x040200, 0}));
    EXPECT_EQ(port.writes[1], BatchPacket({c.page_word, 0x880190, c.offset_word, 0x207847, 0}))
        << c.device;
    EXPECT_EQ(port.writes[2], BatchPacket({0xBA0BB6, 0, 0}));
    EXPECT_EQ(port.writes[3], Bytes{0x12});
    EXPECT_EQ(ConfigText(session), "\r\nconfig1=F9DF\r\nconfig2=3F7F") << c.device;
  }
}

TEST_F(ConfigWireTest, RegistersOfTheDsPic30FormOneResetEach) {
  Select("dsPIC30F4011");
  session.set_firmware_version(0x0102);
  for (std::uint16_t i = 0; i < 16; ++i)
    board.regout.push_back(static_cast<std::uint16_t>(0x100 + i));
  ReadConfigWords(session);
  // 'p', the set-up, then per word: the read packet (carrying the previous
  // word's trailing NOP after a letter), REGOUT and 'p'.
  ASSERT_EQ(port.writes.size(), 2u + 16u * 4u);
  EXPECT_EQ(port.writes[0], Bytes{0x70});
  EXPECT_EQ(port.writes[1], BatchPacket({0x200F80, 0x880190, 0xEB0300, 0xEB0380, 0}));
  EXPECT_EQ(port.writes[2], BatchPacket({0xBA0BB6, 0, 0, 0x883C20, 0}));
  EXPECT_EQ(port.writes[3], Bytes{0x12});
  EXPECT_EQ(port.writes[4], BatchPacket({0}));
  EXPECT_EQ(port.writes[5], Bytes{0x70});
  EXPECT_EQ(session.config_readback()[15], 0x10F);
  EXPECT_EQ(ConfigText(session),
            "\r\nconfig1=0100 config5=0104\r\nconfig2=0101 config6=0105"
            "\r\nconfig3=0102 config7=0106\r\nconfig4=0103 config8=0107");
}

TEST_F(ConfigWireTest, RegistersOfTheDsPic33FormReadStraightIntoVisi) {
  Select("dsPIC33FJ12GP201");
  ReadConfigWords(session);
  EXPECT_EQ(port.writes[1], BatchPacket({0x200F80, 0x880190, 0xEB0300, 0x207847, 0}));
  EXPECT_EQ(std::count(port.writes.begin(), port.writes.end(), Bytes{0x12}), 16);
  EXPECT_EQ(port.writes.back(), BatchPacket({0x040200, 0x040200, 0}));
}

TEST(ConfigSim, ReadsWhatTheChipHolds) {
  SimSession dspic30(test_support::BoardFor("dsPIC30F4011", test_support::kFirmware10));
  ASSERT_TRUE(dspic30.SelectSimulated());
  const std::uint16_t values[8] = {0xC703, 0x803F, 0x87B3, 0x310F, 0x330F, 0x0007, 0xC003, 0x0000};
  for (int k = 0; k < 8; ++k) dspic30.target().SetConfig(k, values[k]);
  EnterIcsp(dspic30.session);
  ReadConfigWords(dspic30.session);
  ExitIcsp(dspic30.session);
  EXPECT_EQ(ConfigText(dspic30.session),
            "\r\nconfig1=C703 config5=330F\r\nconfig2=803F config6=0007"
            "\r\nconfig3=87B3 config7=C003\r\nconfig4=310F config8=0000");

  SimSession pic24f(test_support::BoardFor("PIC24FJ64GA002"));
  ASSERT_TRUE(pic24f.SelectSimulated());
  pic24f.target().SetProgram(0xABFE, 0xFF1234);
  pic24f.target().SetProgram(0xABFC, 0xFF5678);
  EnterIcsp(pic24f.session);
  ReadConfigWords(pic24f.session);
  ExitIcsp(pic24f.session);
  EXPECT_EQ(ConfigText(pic24f.session), "\r\nconfig1=1234\r\nconfig2=5678");
  EXPECT_FALSE(pic24f.port.board().protocol_fault()) << pic24f.port.board().fault_text();
}

// --- the executive check ---

struct ExecutiveCase {
  const char* device;
  std::uint16_t firmware;
  std::uint32_t id_address;
  std::uint32_t id;
  bool present;
};

class CheckExecutiveTest : public ::testing::TestWithParam<ExecutiveCase> {};

TEST_P(CheckExecutiveTest, LooksAtTheIdentificationWord) {
  const ExecutiveCase c = GetParam();
  SimSession sim(test_support::BoardFor(c.device, c.firmware));
  ASSERT_TRUE(sim.SelectSimulated());
  sim.target().FillRandom(3);
  sim.target().SetExecutive(c.id_address, c.id);
  sim.session.executive_tail().fill(0x5555);
  EnterIcsp(sim.session);
  EXPECT_EQ(CheckExecutive(sim.session), c.present);
  ExitIcsp(sim.session);
  const bool pic24 = devices::Form(sim.session.device().device).self_timed();
  const std::uint32_t first_quad = pic24 ? 254 : 182;
  for (std::uint32_t unit = 8 * first_quad; unit < 8 * first_quad + 16; unit += 2) {
    const std::uint32_t word = sim.target().Executive(0x800000 + unit);
    EXPECT_EQ(sim.session.image().executive[unit], word & 0xFFFF) << unit;
    EXPECT_EQ(sim.session.image().executive[unit + 1], word >> 16) << unit;
  }
  if (pic24) {
    EXPECT_TRUE(std::equal(sim.session.executive_tail().begin(), sim.session.executive_tail().end(),
                           sim.session.image().executive.begin() + 0x7F0));
  } else {
    EXPECT_EQ(sim.session.executive_tail()[0], 0x5555);  // the dsPIC30F form leaves it alone
  }
  EXPECT_FALSE(sim.port.board().protocol_fault()) << sim.port.board().fault_text();
}

INSTANTIATE_TEST_SUITE_P(
    BothFamilyForms, CheckExecutiveTest,
    ::testing::Values(ExecutiveCase{"dsPIC30F2010", 0x0100, 0x8005BE, 0x0000BB, true},
                      ExecutiveCase{"dsPIC30F2010", 0x0102, 0x8005BE, 0x0000CB, false},
                      ExecutiveCase{"dsPIC33FJ06GS101", 0x0100, 0x8007F0, 0x0000CB, true},
                      ExecutiveCase{"PIC24HJ12GP201", 0x0102, 0x8007F0, 0x0000BB, true},
                      ExecutiveCase{"PIC24FJ16GA002", 0x0102, 0x8007F0, 0x0012BB, false}));

}  // namespace
}  // namespace quillon::icsp
