// Write against the simulated chip: random images through every family form
// and board mode, verified and read back; a write over programmed flash; a
// PIC24F KA file with its configuration registers.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "chip_compare.h"
#include "icsp/operations.h"
#include "test_support/sim_session.h"

namespace quillon::icsp {
namespace {

using test_support::SimSession;

enum class Mode { kBatch, kLetters, kEnhanced };
const char* const kModeNames[] = {"Batch", "Letters", "Enhanced"};

struct WriteCase {
  const char* device;
  Mode mode;
};

void PrintTo(const WriteCase& c, std::ostream* os) {
  *os << c.device << " " << kModeNames[static_cast<int>(c.mode)];
}

std::unique_ptr<SimSession> SessionFor(const std::string& device, Mode mode) {
  auto sim = std::make_unique<SimSession>(test_support::BoardFor(
      device, mode == Mode::kBatch ? test_support::kFirmware10 : test_support::kFirmware12));
  sim->options.enhanced_icsp = mode == Mode::kEnhanced;
  sim->options.verify_after_writing = true;
  EXPECT_TRUE(sim->SelectSimulated());
  return sim;
}

// Random program memory and EEPROM with the second row left blank, and
// configuration words where the part's layout keeps them.
void FillRandomImage(Session& session, std::uint32_t seed) {
  const devices::DeviceRecord& d = session.device.device;
  image::MemoryImage& img = session.image;
  img.Clear(session.device);
  std::mt19937 random(seed);
  for (std::int32_t i = 0; i < d.program_words; ++i) {
    if (i >= 64 && i < 128) continue;
    img.program[2 * i] = static_cast<std::uint16_t>(random());
    img.program[2 * i + 1] = static_cast<std::uint16_t>(random() & 0xFF);
  }
  for (std::int32_t j = 0; j < d.eeprom_bytes / 2; ++j) {
    img.eeprom[j] = static_cast<std::uint16_t>(random());
  }
  if (devices::HasFlashConfigWords(d)) {
    // As a PIC24F file carries them: the same words in program memory.
    for (int k = 0; k < 2; ++k) {
      img.config[k] = img.program[devices::FlashConfigAddress(d, k)];
      img.config_present[k] = true;
    }
  } else {
    for (int k = 0; k < 8; ++k) {
      img.config[k] = static_cast<std::uint16_t>(random());
      img.config_present[k] = true;
    }
  }
}

class WriteSimTest : public ::testing::TestWithParam<WriteCase> {};

TEST_P(WriteSimTest, ChipEqualsImageAndReadsBack) {
  const WriteCase c = GetParam();
  auto sim = SessionFor(c.device, c.mode);
  Session& session = sim->session;
  const devices::DeviceRecord& d = session.device.device;
  FillRandomImage(session, static_cast<std::uint32_t>(d.device_id));
  const image::MemoryImage written = session.image;

  WriteDevice(session);
  ASSERT_TRUE(sim->Errors().empty()) << sim->Errors().front();
  EXPECT_FALSE(sim->port.board().protocol_fault()) << sim->port.board().fault_text();
  EXPECT_TRUE(sim->sink.last_text().starts_with("Writing Successful!\r\nTime="))
      << sim->sink.last_text();
  EXPECT_EQ(session.outcome(), Outcome::kOk);

  const sim::Target& chip = sim->target();
  const std::size_t program_units = 2 * static_cast<std::size_t>(d.program_words);
  const std::size_t eeprom_words = static_cast<std::size_t>(d.eeprom_bytes) / 2;
  EXPECT_EQ(FirstDifference("program", ChipProgram(chip), Slice(written.program, program_units)),
            "");
  EXPECT_EQ(FirstDifference("eeprom", ChipEeprom(chip), Slice(written.eeprom, eeprom_words)), "");
  std::vector<std::uint16_t> expected_config(written.config.begin(), written.config.begin() + 8);
  std::vector<std::uint16_t> chip_config;
  if (devices::HasFlashConfigWords(d)) {
    expected_config.resize(2);
    for (int k = 0; k < 2; ++k) {
      chip_config.push_back(
          static_cast<std::uint16_t>(chip.Program(devices::FlashConfigAddress(d, k))));
    }
  } else {
    // dsPIC33F/PIC24H registers keep the low eight bits of what is written.
    if (devices::UsesPic24Sequences(d)) {
      for (std::uint16_t& v : expected_config) v &= 0x00FF;
    }
    for (int k = 0; k < 8; ++k) chip_config.push_back(chip.Config(k));
  }
  EXPECT_EQ(FirstDifference("config", chip_config, expected_config), "");

  // Read back in the same mode.
  const std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) / "write_read_back";
  std::filesystem::create_directories(dir);
  session.BeginOperation();
  ReadDevice(session, dir.string());
  EXPECT_TRUE(sim->Errors().empty());
  EXPECT_EQ(FirstDifference("read program", Slice(session.image.program, program_units),
                            Slice(written.program, program_units)),
            "");
  EXPECT_EQ(FirstDifference("read eeprom", Slice(session.image.eeprom, eeprom_words),
                            Slice(written.eeprom, eeprom_words)),
            "");
  EXPECT_EQ(
      FirstDifference("read config",
                      std::vector<std::uint16_t>(session.config_readback.begin(),
                                                 session.config_readback.begin() +
                                                     static_cast<long>(expected_config.size())),
                      expected_config),
      "");
}

std::vector<WriteCase> AllCases() {
  std::vector<WriteCase> cases;
  // dsPIC30F with EEPROM, dsPIC30F2020 (family code 2), dsPIC33F, PIC24H,
  // PIC24FJ, the PIC24FJ with TBLPAG at 0x0054.
  for (const char* device : {"dsPIC30F2010", "dsPIC30F2020", "dsPIC33FJ06GS101", "PIC24HJ12GP201",
                             "PIC24FJ16GA002", "PIC24FJ64GA306"}) {
    for (Mode mode : {Mode::kBatch, Mode::kLetters, Mode::kEnhanced})
      cases.push_back({device, mode});
  }
  // The KA part's EEPROM takes batch writes only through its executive; see
  // KaEepromBatchWriteIsRefused.
  cases.push_back({"PIC24F08KA101", Mode::kEnhanced});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(FamilyFormsAndModes, WriteSimTest, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<WriteCase>& info) {
                           return std::string(info.param.device) +
                                  kModeNames[static_cast<int>(info.param.mode)];
                         });

}  // namespace
}  // namespace quillon::icsp
