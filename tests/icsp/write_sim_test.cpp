// Write against the simulated chip: random images through every family form
// and board mode, verified and read back; a write over programmed flash; a
// real PIC24F KA file with its EEPROM and configuration registers; what a
// file may hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string_view>
#include <tuple>

#include "chip_compare.h"
#include "icsp/operations.h"
#include "icsp/write_plan.h"
#include "image/hex_writer.h"
#include "test_support/executive_files.h"
#include "test_support/sim_session.h"

namespace quillon::icsp {
namespace {

using test_support::SimSession;

using Mode = test_support::SimMode;

struct WriteCase {
  const char* device;
  Mode mode;
};

void PrintTo(const WriteCase& c, std::ostream* os) {
  *os << c.device << " " << test_support::SimModeName(c.mode);
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
  const devices::DeviceRecord& d = session.device().device;
  image::MemoryImage& img = session.image();
  img.Clear(session.device());
  std::mt19937 random(seed);
  for (std::int32_t i = 0; i < d.program_words; ++i) {
    if (i >= 64 && i < 128) continue;
    img.program[2 * i] = static_cast<std::uint16_t>(random());
    img.program[2 * i + 1] = static_cast<std::uint16_t>(random() & 0xFF);
  }
  for (std::int32_t j = 0; j < d.eeprom_bytes / 2; ++j) {
    img.eeprom[j] = static_cast<std::uint16_t>(random());
  }
  if ((devices::Form(d).config.layout == devices::ConfigLayout::kFlashWords)) {
    // As a PIC24F file carries them: the same words in program memory.
    for (int k = 0; k < 2; ++k) {
      img.config[k] = img.program[devices::FlashConfigAddress(d, k)];
      img.config_present[k] = true;
    }
  } else {
    const devices::ConfigForm& config = devices::Form(d).config;
    for (int k = 0; k < config.written; ++k) {
      // As a KA file has it: nothing for the unimplemented register 0xF80002.
      if (&devices::Form(d) == &devices::kFormPic24FKA && k == 1) continue;
      img.config[k] = static_cast<std::uint16_t>(random() & config.value_mask);
      img.config_present[k] = true;
    }
  }
}

class WriteSimTest : public ::testing::TestWithParam<WriteCase> {};

// Writes the session's image with verification, compares the chip with it
// and reads it back in the same mode.
void WriteVerifyAndReadBack(SimSession& sim, Mode mode) {
  Session& session = sim.session;
  const devices::DeviceRecord& d = session.device().device;
  const image::MemoryImage written = session.image();
  const WritePlan plan = PlanWrite(d, written,
                                   {.erase = false,
                                    .verify = true,
                                    .mode = session.Mode(),
                                    .incremental = false,
                                    .firmware = session.firmware_version()});
  const sim::Target::Tally before = sim.target().tally();

  WriteDevice(session);
  ASSERT_TRUE(sim.Errors().empty()) << sim.Errors().front();
  EXPECT_FALSE(sim.port.board().protocol_fault()) << sim.port.board().fault_text();
  EXPECT_TRUE(sim.sink.last_text().starts_with("Writing Successful!\r\nTime="))
      << sim.sink.last_text();
  EXPECT_EQ(session.outcome(), Outcome::kOk);

  const sim::Target& chip = sim.target();
  // The plan's rows and words are what the chip went through.
  const sim::Target::Tally& after = chip.tally();
  const long config = std::ssize(plan.config_words);
  EXPECT_EQ(after.program_writes - before.program_writes,
            std::ssize(plan.program_rows) + (plan.config_in_flash ? config : 0));
  EXPECT_EQ(after.eeprom_writes - before.eeprom_writes, std::ssize(plan.eeprom_writes));
  EXPECT_EQ(after.config_writes - before.config_writes, plan.config_in_flash ? 0 : config);
  EXPECT_EQ(after.erases, before.erases);
  const std::size_t program_units = 2 * static_cast<std::size_t>(d.program_words);
  const std::size_t eeprom_words = static_cast<std::size_t>(d.eeprom_bytes) / 2;
  EXPECT_EQ(FirstDifference("program", ChipProgram(chip), Slice(written.program, program_units)),
            "");
  EXPECT_EQ(FirstDifference("eeprom", ChipEeprom(chip), Slice(written.eeprom, eeprom_words)), "");
  // Every configuration entry the image supplies; dsPIC33F/PIC24 registers
  // keep the low eight bits of what is written.
  std::vector<std::uint16_t> expected_config, chip_config;
  std::vector<std::size_t> entries;
  for (std::size_t k = 0; k < written.config.size(); ++k) {
    if (!written.config_present[k]) continue;
    entries.push_back(k);
    const int ik = static_cast<int>(k);
    if (devices::Form(d).config.layout == devices::ConfigLayout::kFlashWords) {
      expected_config.push_back(written.config[k]);
      chip_config.push_back(
          static_cast<std::uint16_t>(chip.Program(devices::FlashConfigAddress(d, ik))));
    } else {
      expected_config.push_back(written.config[k] & (chip.config_is_byte_wide() ? 0xFF : 0xFFFF));
      chip_config.push_back(chip.Config(ik));
    }
  }
  EXPECT_EQ(FirstDifference("config", chip_config, expected_config), "");
  // A family without an executive is driven with plain ICSP, said once.
  const bool fallback = mode == Mode::kEnhanced && !devices::Form(d).executive.present;
  const std::vector<std::string> texts = sim.sink.texts();
  EXPECT_EQ(std::count(texts.begin(), texts.end(),
                       "No programming executive for this part: plain ICSP is used."),
            fallback ? 1 : 0);

  // Read back in the same mode.
  const std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) / "write_read_back";
  std::filesystem::create_directories(dir);
  session.BeginOperation();
  ReadDevice(session, dir.string());
  EXPECT_TRUE(sim.Errors().empty());
  EXPECT_EQ(FirstDifference("read program", Slice(session.image().program, program_units),
                            Slice(written.program, program_units)),
            "");
  EXPECT_EQ(FirstDifference("read eeprom", Slice(session.image().eeprom, eeprom_words),
                            Slice(written.eeprom, eeprom_words)),
            "");
  std::vector<std::uint16_t> read_config;
  for (std::size_t k : entries) read_config.push_back(session.config_readback()[k]);
  EXPECT_EQ(FirstDifference("read config", read_config, expected_config), "");
}

TEST_P(WriteSimTest, ChipEqualsImageAndReadsBack) {
  const WriteCase c = GetParam();
  auto sim = SessionFor(c.device, c.mode);
  FillRandomImage(sim->session, static_cast<std::uint32_t>(sim->session.device().device.device_id));
  WriteVerifyAndReadBack(*sim, c.mode);
}

std::vector<WriteCase> WriteCases() {
  std::vector<WriteCase> cases;
  // dsPIC30F with EEPROM, dsPIC30F2020 (family code 2), dsPIC33F, PIC24H,
  // PIC24FJ, the PIC24FJ with TBLPAG at 0x0054.
  for (const char* device : {"dsPIC30F2010", "dsPIC30F2020", "dsPIC33FJ06GS101", "PIC24HJ12GP201",
                             "PIC24FJ16GA002", "PIC24FJ64GA306"}) {
    for (Mode mode : {Mode::kBatch, Mode::kLetters, Mode::kEnhanced})
      cases.push_back({device, mode});
  }
  for (const char* device : {"PIC24F04KA200", "PIC24F04KA201", "PIC24F08KA101", "PIC24F08KA102",
                             "PIC24F16KA101", "PIC24F16KA102"}) {
    for (Mode mode : {Mode::kBatch, Mode::kLetters, Mode::kEnhanced})
      cases.push_back({device, mode});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(FamilyFormsAndModes, WriteSimTest, ::testing::ValuesIn(WriteCases()),
                         [](const ::testing::TestParamInfo<WriteCase>& info) {
                           return std::string(info.param.device) +
                                  test_support::SimModeName(info.param.mode);
                         });

// --- soak ---

// A sparse image: a few random program words, EEPROM words and configuration
// words, the rest blank.
void FillSparseImage(Session& session, std::mt19937& random) {
  const devices::DeviceRecord& d = session.device().device;
  image::MemoryImage& img = session.image();
  img.Clear(session.device());
  for (int n = 1 + static_cast<int>(random() % 48); n > 0; --n) {
    const std::size_t i = random() % static_cast<std::uint32_t>(d.program_words);
    img.program[2 * i] = static_cast<std::uint16_t>(random());
    img.program[2 * i + 1] = static_cast<std::uint16_t>(random() & 0xFF);
  }
  for (int n = d.eeprom_bytes > 0 ? static_cast<int>(random() % 16) : 0; n > 0; --n) {
    img.eeprom[random() % static_cast<std::uint32_t>(d.eeprom_bytes / 2)] =
        static_cast<std::uint16_t>(random());
  }
  const devices::ConfigForm& config = devices::Form(d).config;
  if (config.layout == devices::ConfigLayout::kFlashWords) {
    for (int k = 0; k < 2; ++k) {
      img.config[k] = img.program[devices::FlashConfigAddress(d, k)];
      img.config_present[k] = true;
    }
  } else {
    for (int k = 0; k < config.written; ++k) {
      if (random() % 2 == 0) continue;
      // Nothing for the KA parts' unimplemented register 0xF80002.
      if (&devices::Form(d) == &devices::kFormPic24FKA && k == 1) continue;
      img.config[k] = static_cast<std::uint16_t>(random() & config.value_mask);
      img.config_present[k] = true;
    }
  }
}

// Random parts of the catalogue in random modes. A short run by default;
// QUILLON_SOAK_IMAGES=N runs N images, QUILLON_SOAK_SEED=S repeats the one
// image a failure names.
TEST(WriteSoak, SparseImagesOnRandomParts) {
  const char* seed_text = std::getenv("QUILLON_SOAK_SEED");
  const char* count_text = std::getenv("QUILLON_SOAK_IMAGES");
  const bool one = seed_text != nullptr && *seed_text != '\0';
  const std::uint32_t first =
      one ? static_cast<std::uint32_t>(std::strtoul(seed_text, nullptr, 10)) : 1;
  const int count = one                                            ? 1
                    : count_text != nullptr && *count_text != '\0' ? std::atoi(count_text)
                                                                   : 8;
  const auto catalogue = devices::Catalogue();
  std::set<std::string_view> parts;
  for (int i = 0; i < count && !::testing::Test::HasFailure(); ++i) {
    const std::uint32_t seed = first + static_cast<std::uint32_t>(i);
    std::mt19937 random(seed);
    const devices::DeviceRecord& d = catalogue[random() % catalogue.size()];
    const Mode mode = static_cast<Mode>(random() % 3);
    SCOPED_TRACE("QUILLON_SOAK_SEED=" + std::to_string(seed) + " reproduces this image (" +
                 std::string(d.name) + " " + test_support::SimModeName(mode) + ")");
    auto sim = SessionFor(std::string(d.name), mode);
    FillSparseImage(sim->session, random);
    WriteVerifyAndReadBack(*sim, mode);
    parts.insert(d.name);
  }
  std::printf("soak: %d images, %zu parts\n", count, parts.size());
}

// --- over programmed flash ---

// Programming only clears bits, so without an erase the part holds the AND of
// old and new. Verification names the first unit that differs; the executive
// reads its row back itself and answers FAIL, which ends the write at that
// row whether or not verification is on. Either way the configuration words
// are left alone and no success is claimed.
TEST(WriteOverProgrammedChip, FirstMismatchStopsBeforeConfiguration) {
  const std::string refused = "Error : the programming executive refused the block!\r\n";
  struct Expectation {
    Mode mode;
    bool verify;
    std::string program_detail;
    std::string eeprom_detail;
  };
  for (const Expectation& e : {
           Expectation{Mode::kBatch, true, "Error : Not match!\r\nPrg 0101:0000<-0012",
                       "Error : Not match!\r\nEep 000A:0000<-1234"},
           Expectation{Mode::kEnhanced, true, refused + "Adr 000100 Ans:2500",
                       refused + "Adr 7FFC00 Ans:2400"},
           Expectation{Mode::kEnhanced, false, refused + "Adr 000100 Ans:2500",
                       refused + "Adr 7FFC00 Ans:2400"},
       }) {
    for (bool program_differs : {true, false}) {
      SCOPED_TRACE(std::string(test_support::SimModeName(e.mode)) + (e.verify ? " verified" : "") +
                   (program_differs ? " program" : " eeprom"));
      auto sim = SessionFor("dsPIC30F2010", e.mode);
      sim->options.verify_after_writing = e.verify;
      sim::Target& chip = sim->target();
      chip.SetConfig(0, 0xC0DE);
      chip.SetProgram(0x0100, 0x00FFFF);
      chip.SetEeprom(0x7FFC00 + 2 * 5, 0x0000);
      image::MemoryImage& img = sim->session.image();
      img.Clear(sim->session.device());
      if (program_differs) {
        img.program[0x100] = 0xFFFF;
        img.program[0x101] = 0x0012;
      }
      img.eeprom[5] = 0x1234;
      img.config[0] = 0x1234;
      img.config_present[0] = true;

      EXPECT_FALSE(WriteDevice(sim->session));
      const std::string detail = program_differs ? e.program_detail : e.eeprom_detail;
      EXPECT_EQ(sim->Errors(), std::vector<std::string>{detail});
      EXPECT_EQ(sim->sink.last_text(), detail);
      EXPECT_EQ(chip.Config(0), 0xC0DE);
      EXPECT_EQ(sim->session.outcome(), Outcome::kProblem);
    }
  }
}

TEST(WriteOverProgrammedChip, JapaneseMismatchText) {
  auto sim = SessionFor("dsPIC33FJ06GS101", Mode::kLetters);
  sim->sink.lang = report::kJapaneseLangId;
  sim->target().SetProgram(0x0200, 0x000000);
  sim->session.image().Clear(sim->session.device());
  sim->session.image().program[0x200] = 0x5678;
  WriteDevice(sim->session);
  EXPECT_EQ(sim->sink.last_text(), "ｴﾗｰ: 正しく書き込めません。\r\nPrg 0200:0000<-5678");
}

// A board that falls silent during verification leaves stale bytes in the
// buffers: that is a link failure, not a mismatch, and not a success.
TEST(WriteOverProgrammedChip, LinkLostDuringVerificationIsNoMismatch) {
  auto probe = SessionFor("dsPIC30F2010", Mode::kLetters);
  FillRandomImage(probe->session, 9);
  probe->options.verify_after_writing = false;
  WriteDevice(probe->session);
  const std::uint64_t write_exchanges = probe->port.board().stats().exchanges;

  auto sim = SessionFor("dsPIC30F2010", Mode::kLetters);
  FillRandomImage(sim->session, 9);
  sim->port.board().faults().silent_after = write_exchanges + 40;
  WriteDevice(sim->session);
  for (const std::string& text : sim->sink.texts()) {
    EXPECT_FALSE(text.starts_with("Error : Not match!")) << text;
    EXPECT_FALSE(text.starts_with("Writing Successful!")) << text;
  }
  EXPECT_EQ(sim->sink.last_text(), LinkFailureMessage().english);
  EXPECT_EQ(sim->session.outcome(), Outcome::kLinkFailure);
}

// --- PIC24F KA parts ---

// A toolchain file for a PIC24F16KA101, written as the Write command does it
// (erase, executive preparation, load, write) into a part that held other
// data: program memory, EEPROM and every configuration register equal the
// file, and Read gives a HEX file that loads back to the same image.
TEST(WriteKa, RealFileInEveryBoardMode) {
  const std::filesystem::path file =
      std::filesystem::path(QUILLON_SHARED_DIR) / "hexcorpus" /
      "PIC24F16KA101__quinnledingham_PIC24F16KA101-Multimeter__appproject2.X.production.hex";
  if (!std::filesystem::exists(file)) GTEST_SKIP() << "no HEX corpus";
  for (Mode mode : {Mode::kBatch, Mode::kLetters, Mode::kEnhanced}) {
    for (bool enhanced : {false, true}) {
      SCOPED_TRACE(std::string(test_support::SimModeName(mode)) + (enhanced ? " enhanced" : ""));
      auto sim = SessionFor("PIC24F16KA101", mode);
      sim->options.enhanced_icsp = enhanced;
      Session& session = sim->session;
      sim::Target& chip = sim->target();
      chip.FillRandom(7);
      for (int k = 0; k < 9; ++k) chip.SetConfig(k, 0x0012);
      BulkErase(session);
      ASSERT_TRUE(PrepareExecutive(session));
      ASSERT_EQ(LoadHexFile(session, file.string()), image::LoadResult::kLoaded);
      const image::MemoryImage loaded = session.image();
      EXPECT_EQ(loaded.config_present,
                (std::array<bool, 18>{true, false, true, true, true, true, true, true, true}));
      WriteDevice(session);
      EXPECT_TRUE(sim->sink.last_text().starts_with("Writing Successful!"))
          << sim->sink.last_text();
      EXPECT_FALSE(sim->port.board().protocol_fault()) << sim->port.board().fault_text();

      EXPECT_EQ(FirstDifference("program", ChipProgram(chip), Slice(loaded.program, 2 * 5632)), "");
      EXPECT_EQ(FirstDifference("eeprom", ChipEeprom(chip), Slice(loaded.eeprom, 256)), "");
      for (int k = 0; k < 9; ++k) {
        if (loaded.config_present[k]) {
          EXPECT_EQ(chip.Config(k), loaded.config[k]) << k;
        }
      }

      const std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) / "write_ka";
      std::filesystem::create_directories(dir);
      session.BeginOperation();
      ReadDevice(session, dir.string());
      EXPECT_TRUE(sim->sink.last_text().starts_with("Reading Successful!"))
          << sim->sink.last_text();
      const image::MemoryImage read = session.image();
      ASSERT_EQ(LoadHexFile(session, (dir / image::kHexName).string()), image::LoadResult::kLoaded);
      EXPECT_EQ(FirstDifference("reloaded program", Slice(session.image().program, 2 * 5632),
                                Slice(loaded.program, 2 * 5632)),
                "");
      EXPECT_EQ(FirstDifference("reloaded eeprom", Slice(session.image().eeprom, 256),
                                Slice(loaded.eeprom, 256)),
                "");
      for (int k = 0; k < 9; ++k) {
        EXPECT_EQ(session.image().config[k], read.config[k]) << k;
        if (loaded.config_present[k]) {
          EXPECT_EQ(session.image().config[k], loaded.config[k]) << k;
        }
      }
    }
  }
}

// --- what a file may hold ---

std::optional<std::uint32_t> FirstUnfit(const std::string& part, const std::string& text) {
  test_support::RecordingSink sink;
  const auto reporter = sink.MakeReporter();
  devices::Selection selection;
  EXPECT_TRUE(devices::SelectDevice(selection, part, *reporter));
  image::MemoryImage file;
  image::LoadSummary summary;
  EXPECT_EQ(image::LoadHexText(text, file, selection, *reporter, &summary),
            image::LoadResult::kLoaded);
  return FirstAddressThePartCannotHold(selection.device, file, summary);
}

TEST(FileFit, FindsTheFirstAddressThePartCannotHold) {
  const std::tuple<const char*, std::map<std::uint32_t, std::uint32_t>,
                   std::optional<std::uint32_t>>
      cases[] = {
          {"dsPIC30F4013", {{0x7FFE, 0}, {0x7FFC00, 1}, {0xF8000E, 0xC703}, {0x800FFE, 0}}, {}},
          {"dsPIC30F4013", {{0x9000, 0}, {0x8000, 0}}, 0x8000},
          {"dsPIC30F4013", {{0x7FFBFE, 0}}, 0x7FFBFE},
          {"dsPIC30F4013", {{0xF80010, 0}}, 0xF80010},
          {"dsPIC30F4013", {{0xFF0000, 0x0141}}, 0xFF0000},
          {"dsPIC33FJ128GP802", {{0xF80000, 0xFF07}, {0xF8000E, 0x83}, {0xF80016, 0xFF}}, {}},
          {"dsPIC33FJ128GP802", {{0x7FFC00, 1}}, 0x7FFC00},
          {"dsPIC33FJ128GP802", {{0xF80004, 0x87B3}, {0xF80006, 0xC703}}, 0xF80004},
          {"PIC24FJ128GA010", {{0x157FE, 0x3F7F}, {0xF80000, 0xFF}}, 0xF80000},
          {"PIC24F16KA101", {{0xF80010, 0xFF}, {0xF80012, 0xFF}}, 0xF80012},
      };
  for (const auto& [part, code, refused] : cases) {
    EXPECT_EQ(FirstUnfit(part, test_support::HexOfInstructions(code)), refused) << part;
  }
}

// Every real file fits the part its name gives; a dsPIC30F file with EEPROM
// does not fit a dsPIC33F part.
TEST(FileFit, RealFilesFitTheirParts) {
  const std::filesystem::path corpus = std::filesystem::path(QUILLON_SHARED_DIR) / "hexcorpus";
  if (!std::filesystem::is_directory(corpus)) GTEST_SKIP() << "no " << corpus;
  auto text = [](const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() != ".hex") continue;
    EXPECT_EQ(FirstUnfit(name.substr(0, name.find("__")), text(entry.path())), std::nullopt)
        << name;
  }
  EXPECT_EQ(FirstUnfit("dsPIC33FJ128GP802",
                       text(corpus / "dsPIC30F4011__moongyu_moonpjt_mcu__EX17_1_EEPROM.hex")),
            0x7FFC00u);
}

}  // namespace
}  // namespace quillon::icsp
