// Incremental write against the simulated chip, through every family form and
// board mode: over a blank part, over itself, with foreign data inside and
// outside the units the file touches, and with a changed configuration
// register. The executive in the part is never touched.
#include <gtest/gtest.h>

#include <atomic>

#include "chip_compare.h"
#include "icsp/erase_units.h"
#include "icsp/operations.h"
#include "test_support/sim_session.h"

namespace quillon::icsp {
namespace {

using test_support::SimSession;

using Mode = test_support::SimMode;

struct Case {
  const char* device;
  Mode mode;
};

class IncrementalTest : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    const Case c = GetParam();
    sim = std::make_unique<SimSession>(test_support::BoardFor(
        c.device, c.mode == Mode::kBatch ? test_support::kFirmware10 : test_support::kFirmware12));
    sim->options.enhanced_icsp = c.mode == Mode::kEnhanced;
    ASSERT_TRUE(sim->SelectSimulated());
    rules = EraseUnitRulesFor(sim->session.device().device);
    unit = rules.unit_instructions;
    executive = ChipExecutive(sim->target(), 0x1000);
  }

  // The file: units 0 and 2 partly given, a few EEPROM words, registers.
  image::MemoryImage File(std::uint16_t salt) {
    image::MemoryImage img;
    img.Clear(sim->session.device());
    for (std::uint32_t i : {0u, 1u, 5u, 2 * unit + 3, 2 * unit + unit / 2 + 3}) {
      img.program[2 * i] = static_cast<std::uint16_t>(0x1000 * salt + i);
      img.program[2 * i + 1] = 0x0012;
    }
    if (sim->session.device().device.eeprom_bytes > 0) {
      img.eeprom[3] = static_cast<std::uint16_t>(0xA500 + salt);
      img.eeprom[40] = 0x0000;
    }
    if (rules.config_registers > 0) {
      for (std::size_t k : {0u, 3u}) {
        img.config[k] = 0xFFFF;
        img.config_present[k] = true;
      }
    }
    return img;
  }

  // Writes `img`, expects `last` to start the final text, and checks that the
  // chip holds the file in units 0 and 2.
  void Write(const image::MemoryImage& img, const std::string& last) {
    sim->sink.entries.clear();
    sim->session.BeginOperation();
    sim->session.image() = img;
    EXPECT_EQ(WriteDeviceIncremental(sim->session), IncrementalResult::kFinished);
    EXPECT_TRUE(sim->Errors().empty()) << sim->Errors().front();
    EXPECT_FALSE(sim->port.board().protocol_fault()) << sim->port.board().fault_text();
    EXPECT_TRUE(sim->sink.last_text().starts_with(last)) << sim->sink.last_text();
    for (std::uint32_t u : {0u, 2u}) {
      const std::size_t from = 2 * u * unit;
      const std::vector<std::uint16_t> chip = ChipProgram(sim->target());
      EXPECT_EQ(
          FirstDifference("unit " + std::to_string(u),
                          {chip.begin() + from, chip.begin() + from + 2 * unit},
                          {img.program.begin() + from, img.program.begin() + from + 2 * unit}),
          "");
    }
    for (const std::string& text : sim->sink.texts()) EXPECT_FALSE(text.starts_with("Writing:Exe"));
  }

  std::string Summary(int written, int eeprom, int config) {
    return "Writing Successful!\r\n2 " + std::string(rules.unit_name) + "s compared, " +
           std::to_string(written) + " written; EEPROM words rewritten: " + std::to_string(eeprom) +
           "; configuration registers rewritten: " + std::to_string(config);
  }

  std::unique_ptr<SimSession> sim;
  EraseUnitRules rules;
  std::uint32_t unit = 0;
  std::vector<std::uint16_t> executive;
};

TEST_P(IncrementalTest, WritesOnlyWhatDiffers) {
  sim::Target& chip = sim->target();
  const bool eeprom = sim->session.device().device.eeprom_bytes > 0;
  const std::uint32_t base = 0x800000 - static_cast<std::uint32_t>(chip.device().eeprom_bytes);
  const int registers = rules.config_registers;
  // A blank part: both units written, the EEPROM words given, the registers
  // (erased 0xFFFF or 0x00FF) already as the file says.
  const image::MemoryImage first = File(1);
  Write(first, Summary(2, eeprom ? 2 : 0, 0));
  if (eeprom) {
    EXPECT_EQ(chip.Eeprom(base + 6), 0xA501);
    EXPECT_EQ(chip.Eeprom(base + 80), 0x0000);
  }

  // The same file again: nothing erased or programmed.
  const int operations = chip.completed_operations();
  Write(first,
        "already up to date: 2 " + std::string(rules.unit_name) + "s compared, none written");
  EXPECT_EQ(chip.completed_operations(), operations);

  // Foreign data: kept in unit 1, which the file does not touch; erased in a
  // word of unit 0 that the file does not give. Unit 2 changes in the file,
  // and so does one EEPROM word; a foreign EEPROM word outside the file's
  // rows stays.
  chip.SetProgram(2 * (unit + 7), 0x00ABCD);
  chip.SetProgram(2 * 9, 0x001234);
  if (eeprom) chip.SetEeprom(base + 2 * 100, 0x5555);
  image::MemoryImage second = first;
  second.program[2 * (2 * unit + unit / 2 + 3)] = 0x7777;
  if (eeprom) second.eeprom[3] = 0x0102;
  Write(second, Summary(2, eeprom ? 1 : 0, 0));
  EXPECT_EQ(chip.Program(2 * (unit + 7)), 0x00ABCDu);
  if (eeprom) {
    EXPECT_EQ(chip.Eeprom(base + 2 * 100), 0x5555);
  }

  // One changed configuration register; on parts whose configuration words
  // are program memory, a changed configuration word 1 rewrites its page.
  image::MemoryImage third = second;
  if (registers > 0) {
    third.config[3] = 0x00C7;
    Write(third, Summary(0, 0, 1));
    EXPECT_EQ(chip.Config(3) & rules.config_mask, 0x00C7);
  } else {
    const auto top = static_cast<std::size_t>(devices::FlashConfigAddress(chip.device(), 0));
    third.config[0] = third.program[top] = 0x7F5F;
    third.config_present[0] = true;
    third.program[top + 1] = 0x00FF;
    sim->sink.entries.clear();
    sim->session.image() = third;
    sim->session.BeginOperation();
    WriteDeviceIncremental(sim->session);
    EXPECT_TRUE(
        sim->sink.last_text().starts_with("Writing Successful!\r\n3 pages compared, 1 written"))
        << sim->sink.last_text();
    EXPECT_EQ(chip.Program(static_cast<std::uint32_t>(top)), 0xFF7F5Fu);
  }
  EXPECT_EQ(FirstDifference("executive", ChipExecutive(chip, 0x1000), executive), "");
  EXPECT_EQ(sim->session.outcome(), Outcome::kOk);
}

std::vector<Case> IncrementalCases() {
  std::vector<Case> cases;
  for (const char* device : {"dsPIC30F2010", "dsPIC30F2020", "dsPIC33FJ06GS101", "PIC24HJ12GP201",
                             "PIC24FJ16GA002", "PIC24FJ64GA306"}) {
    for (Mode mode : {Mode::kBatch, Mode::kLetters, Mode::kEnhanced})
      cases.push_back({device, mode});
  }
  // No executive exists for the KA parts: "Enhanced ICSP" drives them with
  // plain ICSP, as every other operation does.
  for (Mode mode : {Mode::kBatch, Mode::kLetters, Mode::kEnhanced}) {
    cases.push_back({"PIC24F08KA101", mode});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(FamilyFormsAndModes, IncrementalTest,
                         ::testing::ValuesIn(IncrementalCases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.device) +
                                  test_support::SimModeName(info.param.mode);
                         });

// A part whose configuration says its code is protected is not touched.
TEST(IncrementalProtected, LeavesThePartAndSaysSo) {
  for (const char* device : {"dsPIC30F2010", "dsPIC33FJ06GS101", "PIC24FJ16GA002"}) {
    SCOPED_TRACE(device);
    SimSession sim(test_support::BoardFor(device));
    ASSERT_TRUE(sim.SelectSimulated());
    const EraseUnitRules rules = EraseUnitRulesFor(sim.session.device().device);
    sim::Target& chip = sim.target();
    const std::uint16_t cleared = static_cast<std::uint16_t>(0xFFFF & ~rules.protection_bits);
    if (rules.config_registers > 0) {
      chip.SetConfig(static_cast<int>(rules.protection_entry), cleared);
    } else {
      chip.SetProgram(static_cast<std::uint32_t>(devices::FlashConfigAddress(chip.device(), 0)),
                      0xFF0000u | static_cast<std::uint16_t>(0xFFFF & ~0x2000));
    }
    chip.SetProgram(0, 0x00ABCD);
    sim.session.image().Clear(sim.session.device());
    sim.session.image().program[0] = 0x1111;
    const int operations = chip.completed_operations();
    EXPECT_EQ(WriteDeviceIncremental(sim.session), IncrementalResult::kProtected);
    EXPECT_TRUE(sim.sink.last_text().starts_with("The part is code- or write-protected"));
    EXPECT_EQ(chip.completed_operations(), operations);
    EXPECT_EQ(chip.Program(0), 0x00ABCDu);
  }
}

// A cell that will not take the file's value fails: reported, configuration
// left alone, no success.
TEST(IncrementalVerify, StuckBitsAreAMismatch) {
  for (bool enhanced : {false, true}) {
    SimSession sim(test_support::BoardFor("dsPIC33FJ06GS101"));
    sim.options.enhanced_icsp = enhanced;
    ASSERT_TRUE(sim.SelectSimulated());
    sim.target().SetStuckBits(0x0404, 0x000001, 0x000000);
    image::MemoryImage& img = sim.session.image();
    img.Clear(sim.session.device());
    img.program[0x404] = 0x0013;
    img.program[0x405] = 0x0000;
    img.config[3] = 0x00C7;
    img.config_present[3] = true;
    EXPECT_EQ(WriteDeviceIncremental(sim.session), IncrementalResult::kFinished);
    // Through the executive its own row check refuses the block first, and
    // the refusal ends the write.
    const std::string expected = enhanced ? "Error : the programming executive refused the block!"
                                            "\r\nAdr 000400 Ans:2500"
                                          : "Error : Not match!\r\nPrg 0404:0012<-0013";
    EXPECT_EQ(sim.Errors(), std::vector<std::string>{expected});
    EXPECT_EQ(sim.target().Config(3), 0x00FF);
    EXPECT_EQ(sim.session.outcome(), Outcome::kProblem);
  }
}

// A stop on request is taken before a unit is compared or erased, never
// between the erase and the programming of one.
TEST(IncrementalStop, LeavesWholeUnits) {
  SimSession sim(test_support::BoardFor("dsPIC33FJ06GS101"));
  ASSERT_TRUE(sim.SelectSimulated());
  std::atomic<bool> stop{true};
  sim.session.set_stop_request(&stop);
  sim.session.image().Clear(sim.session.device());
  sim.session.image().program[0] = 0x1111;
  const int operations = sim.target().completed_operations();
  EXPECT_EQ(WriteDeviceIncremental(sim.session), IncrementalResult::kFinished);
  EXPECT_EQ(sim.session.outcome(), Outcome::kStopped);
  EXPECT_EQ(sim.session.stopped_at(), "Comparing:Prg Adr 0000");
  EXPECT_EQ(sim.target().completed_operations(), operations);
}

}  // namespace
}  // namespace quillon::icsp
