// Putting a programming executive into a part that has none: from the
// family's file, before Check, Write and Read; the failures when the file is
// missing or unusable; and executive memory written over old contents.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "chip_compare.h"
#include "icsp/operations.h"
#include "image/hex_writer.h"
#include "test_support/executive_files.h"
#include "test_support/sim_session.h"

namespace quillon::icsp {
namespace {

using test_support::SimSession;

std::filesystem::path FreshDir(const std::string& name) {
  const std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) / name;
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

// A session on a part without an executive, "Enhanced ICSP" checked.
std::unique_ptr<SimSession> WithoutExecutive(const std::string& device, const std::string& dir) {
  auto sim = std::make_unique<SimSession>(
      test_support::BoardFor(device, test_support::kFirmware12, /*executive=*/false));
  sim->options.enhanced_icsp = true;
  sim->session.set_executive_dir(dir);
  EXPECT_TRUE(sim->SelectSimulated());
  return sim;
}

TEST(ExecutiveFiles, CommittedStandInsMatchTheGenerator) {
  for (const test_support::ExecutiveFile& file : test_support::kExecutiveFiles) {
    const std::filesystem::path path =
        std::filesystem::path(QUILLON_SOURCE_DIR) / "examples" / "executive" / file.name;
    EXPECT_EQ(ReadFile(path), test_support::ExecutiveHex(file)) << path;
  }
}

const char* const kParts[] = {"dsPIC30F2010", "dsPIC33FJ06GS101", "PIC24FJ16GA002"};

TEST(PrepareExecutive, CheckWriteAndReadWorkThroughTheExecutiveItPutsThere) {
  const std::filesystem::path files = FreshDir("exec_files");
  test_support::WriteExecutiveFiles(files);
  const std::filesystem::path user_file = FreshDir("exec_user") / "user.hex";
  std::ofstream(user_file, std::ios::binary) << test_support::HexOfInstructions(
      {{0x0000, 0x040200}, {0x0002, 0x000000}, {0x0200, 0x123456}});

  for (const char* device : kParts) {
    SCOPED_TRACE(device);
    auto sim = WithoutExecutive(device, files.string());
    Session& session = sim->session;
    const sim::Target& chip = sim->target();

    ASSERT_TRUE(PrepareExecutive(session));
    EXPECT_TRUE(chip.HasApplicationId());
    // A step of the operation, not a Write of its own: no Write success yet.
    EXPECT_EQ(sim->sink.last_text(), "The programming executive is in place.");
    BlankCheck(session);
    EXPECT_TRUE(sim->sink.last_text().starts_with("Checking Successful!")) << sim->sink.last_text();

    ASSERT_TRUE(PrepareExecutive(session));  // present now: nothing loaded or written
    ASSERT_EQ(LoadHexFile(session, user_file.string()), image::LoadResult::kLoaded);
    WriteDevice(session);
    EXPECT_TRUE(sim->sink.last_text().starts_with("Writing Successful!")) << sim->sink.last_text();
    EXPECT_EQ(chip.Program(0x0200), 0x123456u);

    ReadDevice(session, FreshDir("exec_read").string());
    EXPECT_TRUE(sim->sink.last_text().starts_with("Reading Successful!")) << sim->sink.last_text();
    EXPECT_EQ(image::InstructionAt(session.image().program, 0x100), 0x123456u);
    EXPECT_TRUE(sim->Errors().empty()) << sim->Errors().front();
    EXPECT_EQ(session.outcome(), Outcome::kOk);
    EXPECT_FALSE(sim->port.board().protocol_fault()) << sim->port.board().fault_text();
  }
}

// Executive memory that holds something else (a damaged or foreign
// executive) is erased first, and the erase must neither miss it nor touch
// user memory: a dsPIC33F/PIC24 page erase needs its page selected, and a
// dsPIC30F executive erase the erase time.
TEST(PrepareExecutive, ReplacesOldExecutiveMemoryAndKeepsUserMemory) {
  const std::filesystem::path files = FreshDir("exec_files_old");
  test_support::WriteExecutiveFiles(files);
  for (const char* device : kParts) {
    SCOPED_TRACE(device);
    auto sim = WithoutExecutive(device, files.string());
    sim::Target& chip = sim->target();
    chip.FillRandom(21);
    chip.SetExecutive(chip.application_id_address(), 0x001234);
    const std::vector<std::uint16_t> program_before = ChipProgram(chip);
    const devices::DeviceRecord& d = sim->session.device().device;
    const devices::ExecutiveForm& extent = devices::Form(d).executive;
    const std::size_t units =
        2 * static_cast<std::size_t>(extent.write_rows * extent.row_instructions);

    // Expected: the file's image, with the factory words from 0x8007F4 kept.
    image::MemoryImage expected;
    for (const test_support::ExecutiveFile& file : test_support::kExecutiveFiles) {
      if (file.name != devices::Form(d).executive.file) continue;
      ASSERT_EQ(image::LoadHexText(test_support::ExecutiveHex(file), expected,
                                   sim->session.device(), *sim->reporter),
                image::LoadResult::kLoaded);
    }
    if (devices::Form(d).self_timed()) {
      const std::vector<std::uint16_t> before = ChipExecutive(chip, 0x800);
      std::copy(before.begin() + 0x7F4, before.end(), expected.executive.begin() + 0x7F4);
    }

    ASSERT_TRUE(PrepareExecutive(sim->session));
    EXPECT_TRUE(sim->Errors().empty()) << sim->Errors().front();
    EXPECT_EQ(FirstDifference("program", ChipProgram(chip), program_before), "");
    EXPECT_EQ(FirstDifference("executive", ChipExecutive(chip, static_cast<int>(units)),
                              Slice(expected.executive, units)),
              "");
  }
}

TEST(PrepareExecutive, MissingOrUnusableFileIsNamedAndNothingIsWritten) {
  const std::filesystem::path dir = FreshDir("exec_bad");
  std::ofstream(dir / "pe.hex") << "this is not a HEX file\n";
  std::ofstream(dir / "pe24f.hex") << test_support::HexOfInstructions({{0x0000, 0x000000}});
  struct Case {
    const char* device;
    const char* file;
    std::vector<std::string> errors;
  };
  const std::string not_found = "Error : programming executive file not found!\r\n";
  const std::string unusable = "Error : programming executive file is not usable!\r\n";
  const std::vector<Case> cases = {
      {"dsPIC33FJ06GS101", "pe33f.hex", {not_found}},
      {"dsPIC30F2010", "pe.hex", {"Error : not HEX file!", unusable}},
      {"PIC24FJ16GA002", "pe24f.hex", {unusable}},  // loads, but no executive data
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.device);
    auto sim = WithoutExecutive(c.device, dir.string());
    sim->target().SetProgram(0x0000, 0x123456);
    EXPECT_FALSE(PrepareExecutive(sim->session));
    std::vector<std::string> errors = c.errors;
    errors.back() += image::JoinPath(dir.string(), c.file);
    EXPECT_EQ(sim->Errors(), errors);
    EXPECT_EQ(sim->sink.last_text(), errors.back());
    for (const std::string& text : sim->sink.texts()) EXPECT_FALSE(text.starts_with("Writing"));
    EXPECT_EQ(sim->target().Program(0x0000), 0x123456u);
    EXPECT_FALSE(sim->target().HasApplicationId());
    EXPECT_EQ(sim->session.outcome(), Outcome::kFileRejected);
  }
  // Executive data without the end record: the file was cut short.
  const std::filesystem::path cut = FreshDir("exec_cut");
  std::string text = test_support::ExecutiveHex(test_support::kExecutiveFiles[2]);
  text.erase(text.rfind(":00000001FF"));
  std::ofstream(cut / "pe33f.hex") << text;
  auto cut_sim = WithoutExecutive("PIC24HJ12GP201", cut.string());
  EXPECT_FALSE(PrepareExecutive(cut_sim->session));
  EXPECT_EQ(cut_sim->sink.last_text(), unusable + image::JoinPath(cut.string(), "pe33f.hex"));
  EXPECT_FALSE(cut_sim->target().HasApplicationId());

  auto sim = WithoutExecutive("dsPIC33FJ06GS101", dir.string());
  sim->sink.lang = report::kJapaneseLangId;
  EXPECT_FALSE(PrepareExecutive(sim->session));
  EXPECT_EQ(sim->sink.last_text(), "ｴﾗｰ : ﾌﾟﾛｸﾞﾗﾐﾝｸﾞ･ｴｸﾞｾﾞｸﾃｨﾌﾞのﾌｧｲﾙがありません。\r\n" +
                                       image::JoinPath(dir.string(), "pe33f.hex"));
}

TEST(PrepareExecutive, NeedsNoFileWhenAnExecutiveAnswersOrTheOptionIsOff) {
  // 0x00CB counts on a dsPIC33F although "pe33f.hex" is not looked at.
  SimSession present(test_support::BoardFor("dsPIC33FJ06GS101"));
  present.options.enhanced_icsp = true;
  present.session.set_executive_dir("/nonexistent");
  ASSERT_TRUE(present.SelectSimulated());
  EXPECT_TRUE(PrepareExecutive(present.session));
  EXPECT_TRUE(present.sink.entries.empty());

  SimSession off(test_support::BoardFor("dsPIC33FJ06GS101", test_support::kFirmware12, false));
  ASSERT_TRUE(off.SelectSimulated());
  EXPECT_TRUE(PrepareExecutive(off.session));
  EXPECT_EQ(off.port.board().stats().exchanges, 0u);
}

TEST(VerifyExecutive, MismatchNamesTheOffsetFrom0x800000) {
  SimSession sim(test_support::BoardFor("dsPIC30F2010", test_support::kFirmware10));
  ASSERT_TRUE(sim.SelectSimulated());
  sim.port.board().SetStuckBits(0x800018, 0x00FFFF, 0x001234);
  image::MemoryImage& img = sim.session.image();
  img.Clear(sim.session.device());
  img.executive_present = true;
  img.executive[0x18] = 0x5678;
  img.executive[0x19] = 0x0000;
  img.config_present[0] = true;
  WriteDevice(sim.session);
  EXPECT_EQ(sim.Errors(), std::vector<std::string>{"Error : Not match!\r\nExe 0018:1234<-5678"});
  EXPECT_EQ(sim.sink.last_text(), "Error : Not match!\r\nExe 0018:1234<-5678");
  for (const std::string& text : sim.sink.texts()) EXPECT_NE(text, "Writing:Configuration");
}

}  // namespace
}  // namespace quillon::icsp
