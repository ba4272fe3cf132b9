// Read: every family form in every board mode against a simulated chip full
// of random data, and the block commands on the wire.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "chip_compare.h"
#include "icsp/operations.h"
#include "image/hex_loader.h"
#include "image/hex_writer.h"
#include "scripted_board.h"
#include "test_support/sim_session.h"

namespace quillon::icsp {
namespace {

using test_support::SimSession;

using Mode = test_support::SimMode;

struct ReadCase {
  const char* device;
  Mode mode;
};

void PrintTo(const ReadCase& c, std::ostream* os) {
  *os << c.device << " " << test_support::SimModeName(c.mode);
}

std::filesystem::path FreshDir(const std::string& name) {
  const std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) / name;
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

class ReadSimTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadSimTest, ImageListingAndHexFileEqualTheChip) {
  const ReadCase c = GetParam();
  SimSession sim(test_support::BoardFor(
      c.device, c.mode == Mode::kBatch ? test_support::kFirmware10 : test_support::kFirmware12));
  sim.options.enhanced_icsp = c.mode == Mode::kEnhanced;
  ASSERT_TRUE(sim.SelectSimulated());
  sim::Target& chip = sim.target();
  const devices::DeviceRecord& d = sim.session.device().device;
  chip.FillRandom(static_cast<std::uint32_t>(std::hash<std::string>{}(c.device)));
  std::mt19937 random(7);
  for (int k = 0; k < sim::kConfigRegisters; ++k) {
    chip.SetConfig(k, static_cast<std::uint16_t>(random()));
  }
  // The executive has to answer for the block reads.
  chip.SetExecutive(chip.application_id_address(), 0x00BB);

  const std::filesystem::path dir =
      FreshDir(std::string("read_") + c.device + test_support::SimModeName(c.mode));
  ReadDevice(sim.session, dir.string());

  EXPECT_TRUE(sim.Errors().empty()) << sim.Errors().front();
  EXPECT_FALSE(sim.port.board().protocol_fault()) << sim.port.board().fault_text();
  EXPECT_TRUE(sim.sink.last_text().starts_with(
      "Reading Successful!\r\nlist file = $Quill$.txt\r\nhex file = $Quill$.hex\r\nTime="))
      << sim.sink.last_text();
  EXPECT_EQ(sim.session.outcome(), Outcome::kOk);

  // The image.
  const image::MemoryImage& img = sim.session.image();
  const std::size_t program_units = 2 * static_cast<std::size_t>(d.program_words);
  const std::size_t eeprom_words = static_cast<std::size_t>(d.eeprom_bytes) / 2;
  const int exec_units = devices::Form(d).executive.read_units;
  EXPECT_EQ(FirstDifference("program", Slice(img.program, program_units), ChipProgram(chip)), "");
  EXPECT_EQ(FirstDifference("eeprom", Slice(img.eeprom, eeprom_words), ChipEeprom(chip)), "");
  EXPECT_EQ(FirstDifference("executive", Slice(img.executive, static_cast<std::size_t>(exec_units)),
                            ChipExecutive(chip, exec_units)),
            "");
  const devices::FamilyForm& form = devices::Form(d);
  std::vector<std::uint16_t> config_read(img.config.begin(), img.config.begin() + form.config.read);
  std::vector<std::uint16_t> config_chip;
  if ((devices::Form(d).config.layout == devices::ConfigLayout::kFlashWords)) {
    // Two flash words at the top of program memory, whatever registers the
    // part may also have.
    config_read.resize(2);
    config_chip = {static_cast<std::uint16_t>(chip.Program(devices::FlashConfigAddress(d, 0))),
                   static_cast<std::uint16_t>(chip.Program(devices::FlashConfigAddress(d, 1)))};
  } else {
    for (std::uint32_t k = 0; k < config_read.size(); ++k) {
      config_chip.push_back(static_cast<std::uint16_t>(chip.ReadProgramSpace(0xF80000 + 2 * k)));
    }
  }
  EXPECT_EQ(FirstDifference("config", config_read, config_chip), "");

  // The listing.
  const Listing listing = ParseListing(ReadFile(dir / image::kListingName));
  EXPECT_EQ(listing.problem, "");
  std::vector<std::string> titles{"Flash", "Data", "ExecutiveCode", "ID and Config"};
  if (exec_units == 0) titles.erase(titles.begin() + 2);
  if (d.eeprom_bytes == 0) titles.erase(titles.begin() + 1);
  ASSERT_EQ(listing.titles, titles);
  EXPECT_EQ(FirstDifference("listed program", listing.values[0], ChipProgram(chip)), "");
  if (d.eeprom_bytes > 0) {
    EXPECT_EQ(FirstDifference("listed eeprom", listing.values[1], ChipEeprom(chip)), "");
  }
  if (exec_units > 0) {
    EXPECT_EQ(FirstDifference("listed executive", listing.values[titles.size() - 2],
                              ChipExecutive(chip, exec_units)),
              "");
  }
  EXPECT_EQ(FirstDifference("listed config", Slice(listing.values.back(), config_read.size()),
                            config_chip),
            "");

  // The HEX file loads back into the same image.
  image::MemoryImage loaded;
  ASSERT_EQ(image::LoadHexFile((dir / image::kHexName).string(), loaded, sim.session.device(),
                               *sim.reporter),
            image::LoadResult::kLoaded);
  EXPECT_EQ(FirstDifference("hex program", Slice(loaded.program, program_units),
                            Slice(img.program, program_units)),
            "");
  EXPECT_EQ(FirstDifference("hex eeprom", Slice(loaded.eeprom, eeprom_words),
                            Slice(img.eeprom, eeprom_words)),
            "");
  EXPECT_EQ(FirstDifference("hex executive", Slice(loaded.executive, exec_units),
                            Slice(img.executive, exec_units)),
            "");
  if (!(devices::Form(d).config.layout == devices::ConfigLayout::kFlashWords)) {
    const int n = form.config.hex_registers;
    EXPECT_EQ(std::vector<std::uint16_t>(loaded.config.begin(), loaded.config.begin() + n),
              std::vector<std::uint16_t>(img.config.begin(), img.config.begin() + n));
  }
}

std::vector<ReadCase> ReadCases() {
  std::vector<ReadCase> cases;
  for (const char* device : {"dsPIC30F2010", "dsPIC30F2020", "dsPIC33FJ06GS101", "PIC24HJ12GP201",
                             "PIC24FJ16GA002", "PIC24FJ64GA306", "PIC24F08KA101"}) {
    for (Mode mode : {Mode::kBatch, Mode::kLetters, Mode::kEnhanced}) {
      cases.push_back({device, mode});
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(FamilyFormsAndModes, ReadSimTest, ::testing::ValuesIn(ReadCases()),
                         [](const ::testing::TestParamInfo<ReadCase>& info) {
                           return std::string(info.param.device) +
                                  test_support::SimModeName(info.param.mode);
                         });

// --- the wire ---

class ReadWireTest : public ScriptedSessionTest {};

TEST_F(ReadWireTest, BlockReadsCarryAddressAndCount) {
  Select("dsPIC30F2010");
  options.enhanced_icsp = true;
  const std::filesystem::path dir = FreshDir("read_wire");
  ReadDevice(session, dir.string());
  std::vector<std::size_t> eeprom_blocks;
  for (std::size_t i = 0; i < port.writes.size(); ++i) {
    if (port.writes[i] == Bytes{0x81}) eeprom_blocks.push_back(i);
  }
  ASSERT_EQ(eeprom_blocks.size(), 8u);
  EXPECT_EQ(port.writes[eeprom_blocks[0] + 1], (Bytes{0x7F, 0xFC, 0x00}));
  EXPECT_EQ(port.writes[eeprom_blocks[0] + 2], (Bytes{0x00, 0x00, 0x40}));
  EXPECT_EQ(port.writes[eeprom_blocks[7] + 1], (Bytes{0x7F, 0xFF, 0x80}));
  EXPECT_EQ(std::count(port.writes.begin(), port.writes.end(), Bytes{0x82}), 64);

  // Block reads show instruction numbers, batch reads addresses.
  const std::vector<std::string> texts = sink.texts_of(report::StatusKind::kStep);
  EXPECT_NE(std::find(texts.begin(), texts.end(), "Reading:Prg Adr 0040"), texts.end());
  EXPECT_EQ(std::find(texts.begin(), texts.end(), "Reading:Prg Adr 0008"), texts.end());
  EXPECT_NE(std::find(texts.begin(), texts.end(), "Reading:Dat Adr 01C0"), texts.end());
  EXPECT_NE(std::find(texts.begin(), texts.end(), "Reading:Exe Adr 05B8"), texts.end());
}

TEST_F(ReadWireTest, EepromTablePointerIsSetOnceBelowExecutiveMemory) {
  Select("PIC24F08KA101");
  options.enhanced_icsp = false;
  ReadDevice(session, FreshDir("read_ka").string());
  // The KA EEPROM read starts at 0x7FFE00 after the part's reset vector.
  const Bytes start = BatchPacket({0x2007F0, 0x880190, 0x2FE006});
  const auto it = std::find(port.writes.begin(), port.writes.end(), start);
  ASSERT_NE(it, port.writes.end());
  EXPECT_EQ(*(it - 1), BatchPacket({0x040200, 0x040200, 0}));
  EXPECT_EQ(std::count(port.writes.begin(), port.writes.end(), start), 1);
  const auto texts = sink.texts_of(report::StatusKind::kStep);
  EXPECT_EQ(std::count_if(texts.begin(), texts.end(),
                          [](const std::string& t) { return t.starts_with("Reading:Dat Adr "); }),
            64);
  // No executive memory on the KA parts.
  EXPECT_EQ(std::count_if(texts.begin(), texts.end(),
                          [](const std::string& t) { return t.starts_with("Reading:Exe Adr "); }),
            0);
}

TEST_F(ReadWireTest, FilesThatCannotBeWrittenAreNotCalledASuccess) {
  Select("PIC24HJ12GP201");
  options.enhanced_icsp = false;
  session.set_firmware_version(0x0102);
  ReadDevice(session, (FreshDir("read_unwritable") / "missing" / "dir").string());
  ASSERT_FALSE(Errors().empty());
  EXPECT_EQ(sink.last_text(), Errors().back());
  for (const std::string& t : sink.texts()) EXPECT_FALSE(t.starts_with("Reading Successful!"));
  EXPECT_EQ(session.outcome(), Outcome::kFileRejected);
}

TEST(ReadSim, WrongEntryOrNoChipReadsAllOnesAndStillWritesTheFiles) {
  // Selected as a dsPIC30F the dsPIC33F is entered with 0x0C and stays in
  // reset; without a chip nothing drives the data line. Either way every
  // read gives all ones, which the host cannot tell from a blank part.
  SimSession wrong(test_support::BoardFor("dsPIC33FJ06GS101"));
  ASSERT_TRUE(wrong.Select("dsPIC30F2011"));
  sim::BoardConfig none = test_support::BoardFor("PIC24HJ12GP201", test_support::kFirmware10);
  none.target_present = false;
  SimSession empty(none);
  ASSERT_TRUE(empty.SelectSimulated());
  for (SimSession* sim : {&wrong, &empty}) {
    const std::filesystem::path dir = FreshDir("read_no_answer");
    ReadDevice(sim->session, dir.string());
    EXPECT_TRUE(std::filesystem::exists(dir / image::kListingName));
    EXPECT_TRUE(std::filesystem::exists(dir / image::kHexName));
    EXPECT_EQ(sim->session.image().program[0], 0xFFFF);
    EXPECT_EQ(sim->session.image().program[1], 0xFF);
    EXPECT_TRUE(sim->Errors().empty());
  }
}

TEST(ReadSim, NoExecutiveAnsweringIsAFailureNotASuccess) {
  sim::BoardConfig none = test_support::BoardFor("dsPIC30F2010");
  none.target_present = false;
  SimSession sim(none);
  ASSERT_TRUE(sim.SelectSimulated());
  sim.options.enhanced_icsp = true;
  ReadDevice(sim.session, FreshDir("read_no_executive").string());
  const std::vector<std::string> errors = sim.Errors();
  ASSERT_FALSE(errors.empty());
  EXPECT_EQ(errors.front(), "Error : Connect failed!");
  EXPECT_EQ(sim.sink.last_text(), report::Pick(LinkFailureMessage(), report::kEnglishLangId));
  EXPECT_EQ(sim.session.outcome(), Outcome::kLinkFailure);
  // The block reads were skipped, not filled with stale bytes.
  EXPECT_EQ(sim.session.image().program[0], 0xFFFF);
}

}  // namespace
}  // namespace quillon::icsp
