// Bulk erase against the simulated chip, for each family form.
#include <gtest/gtest.h>

#include <random>

#include "chip_compare.h"
#include "icsp/kept_words.h"
#include "icsp/operations.h"
#include "test_support/sim_session.h"

namespace quillon::icsp {
namespace {

using test_support::SimSession;

struct EraseCase {
  const char* device;
  std::uint16_t firmware;
};

void PrintTo(const EraseCase& c, std::ostream* os) {
  *os << c.device << " " << c.firmware;
}

class EraseSimTest : public ::testing::TestWithParam<EraseCase> {};

TEST_P(EraseSimTest, LeavesMemoriesAndConfigurationBlankAndKeepsFactoryWords) {
  SimSession sim(test_support::BoardFor(GetParam().device, GetParam().firmware));
  ASSERT_TRUE(sim.SelectSimulated());
  sim::Target& chip = sim.target();
  const devices::DeviceRecord& d = sim.session.device().device;
  chip.FillRandom(11);
  std::mt19937 random(5);
  for (int k = 0; k < sim::kConfigRegisters; ++k) {
    chip.SetConfig(k, static_cast<std::uint16_t>(random()));
  }
  const std::vector<std::uint16_t> executive_before = ChipExecutive(chip, 0x800);

  BulkErase(sim.session);
  EXPECT_EQ(sim.sink.last_text(), "Erasing Successful!");
  EXPECT_TRUE(sim.Errors().empty());
  EXPECT_FALSE(sim.port.board().protocol_fault()) << sim.port.board().fault_text();

  const std::size_t program_units = 2 * static_cast<std::size_t>(d.program_words);
  EXPECT_EQ(FirstDifference("program", ChipProgram(chip),
                            AsUnits(std::vector<std::uint32_t>(program_units / 2, 0xFFFFFF))),
            "");
  const devices::FamilyForm& form = devices::Form(d);
  const std::vector<std::uint16_t> blank_eeprom(static_cast<std::size_t>(d.eeprom_bytes) / 2,
                                                0xFFFF);
  EXPECT_EQ(FirstDifference("eeprom", ChipEeprom(chip), blank_eeprom), "");
  if (form.config.layout == devices::ConfigLayout::kRegisters) {
    const std::uint16_t blank = chip.config_is_byte_wide() ? 0x00FF : 0xFFFF;
    for (int k = 0; k < form.config.written; ++k) EXPECT_EQ(chip.Config(k), blank) << k;
  }

  // Executive memory erased, except the part's own words, written back: the
  // factory words from 0x8007F4, the dsPIC30F unit ID words from 0x8005C0.
  const int units = 2 * form.executive.instructions;
  std::vector<std::uint16_t> expected = AsUnits(std::vector<std::uint32_t>(units / 2, 0xFFFFFF));
  if (const KeptArea area = KeptAreaOf(d); area.first != 0) {
    const std::ptrdiff_t kept = area.first - 0x800000;
    std::copy(executive_before.begin() + kept, executive_before.begin() + units,
              expected.begin() + kept);
  }
  EXPECT_EQ(FirstDifference("executive", ChipExecutive(chip, units), expected), "");

  sim.session.BeginOperation();
  BlankCheck(sim.session);
  EXPECT_TRUE(sim.sink.last_text().starts_with("Checking Successful!")) << sim.sink.last_text();
  EXPECT_FALSE(sim.port.board().protocol_fault()) << sim.port.board().fault_text();
}

INSTANTIATE_TEST_SUITE_P(FamilyForms, EraseSimTest,
                         ::testing::Values(EraseCase{"dsPIC30F2010", test_support::kFirmware10},
                                           EraseCase{"dsPIC30F2010", test_support::kFirmware12},
                                           EraseCase{"dsPIC33FJ06GS101", test_support::kFirmware10},
                                           EraseCase{"PIC24HJ12GP201", test_support::kFirmware12},
                                           EraseCase{"PIC24FJ16GA002", test_support::kFirmware12},
                                           EraseCase{"PIC24FJ64GA306", test_support::kFirmware10},
                                           EraseCase{"PIC24F08KA101", test_support::kFirmware12},
                                           EraseCase{"PIC24F16KA102", test_support::kFirmware10},
                                           EraseCase{"PIC24F04KA200", test_support::kFirmware12}),
                         [](const ::testing::TestParamInfo<EraseCase>& info) {
                           return std::string(info.param.device) +
                                  (info.param.firmware > 0x100 ? "Letters" : "Batch");
                         });

}  // namespace
}  // namespace quillon::icsp
