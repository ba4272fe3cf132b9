// Every result and failure of the engine in the user's language: the whole
// 16-bit identifier 0x0411 selects Japanese; 0x0011 (the primary language
// alone) and 0x0409 select English.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

#include "icsp/operations.h"
#include "image/hex_loader.h"
#include "test_support/sim_session.h"

namespace quillon::icsp {
namespace {

using test_support::SimSession;

struct Texts {
  const char* english;
  const char* japanese;
};

class EngineLanguage : public ::testing::TestWithParam<std::uint16_t> {
 protected:
  std::unique_ptr<SimSession> Chip(
      sim::BoardConfig config = test_support::BoardFor("dsPIC30F2010")) {
    auto sim = std::make_unique<SimSession>(config);
    sim->sink.lang = GetParam();
    if (config.target_present && !config.device_id_override) {
      EXPECT_TRUE(sim->SelectSimulated());
    }
    return sim;
  }
  // The text expected for this language, as the start of the status line.
  std::string Expected(const Texts& texts) const {
    return GetParam() == 0x0411 ? texts.japanese : texts.english;
  }
  void ExpectLastStartsWith(const SimSession& sim, const Texts& texts) const {
    EXPECT_TRUE(sim.sink.last_text().starts_with(Expected(texts)))
        << "language " << std::hex << GetParam() << ": " << sim.sink.last_text();
  }
};

TEST_P(EngineLanguage, OperationResults) {
  auto chip = Chip();
  DetectDevice(chip->session);
  ExpectLastStartsWith(*chip, {"Detecting Successful!", "Detecting 成功!"});

  BulkErase(chip->session);
  ExpectLastStartsWith(*chip, {"Erasing Successful!", "Erasing 成功!"});

  BlankCheck(chip->session);
  ExpectLastStartsWith(*chip, {"Checking Successful!", "Checking 成功!"});

  chip->session.image().Clear(chip->session.device());
  chip->session.image().program[0x100] = 0x1234;
  WriteDevice(chip->session);
  ExpectLastStartsWith(*chip, {"Writing Successful!", "Writing 成功!"});

  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("quillon-lang-" + std::to_string(GetParam()));
  std::filesystem::create_directories(dir);
  ReadDevice(chip->session, dir.string());
  ExpectLastStartsWith(*chip, {"Reading Successful!", "Reading 成功!"});
  std::filesystem::remove_all(dir);
}

TEST_P(EngineLanguage, Findings) {
  auto chip = Chip();
  chip->target().SetProgram(0x0200, 0x123456);
  BlankCheck(chip->session);
  ExpectLastStartsWith(*chip, {"Not blank!", "ブランクではありません。"});

  // Programming over old data leaves the AND of both: a mismatch. Each
  // finding ends its operation, so each runs as one of its own.
  chip->session.BeginOperation();
  chip->session.image().Clear(chip->session.device());
  chip->session.image().program[0x200] = 0xFFFF;
  chip->session.image().program[0x201] = 0x00FF;
  chip->target().SetProgram(0x0200, 0x000000);
  chip->session.image().program[0x202] = 0x0001;
  WriteDevice(chip->session);
  ExpectLastStartsWith(*chip, {"Error : Not match!", "ｴﾗｰ: 正しく書き込めません。"});

  // The executive's own check of a row fails on a bit that does not program.
  chip->options.enhanced_icsp = true;
  chip->session.BeginOperation();
  chip->target().SetStuckBits(0x0200, 0x000001, 0x000001);
  chip->session.image().Clear(chip->session.device());
  chip->session.image().program[0x200] = 0x0000;
  WriteDevice(chip->session);
  ExpectLastStartsWith(*chip, {"Error : the programming executive refused the block!",
                               "ｴﾗｰ : ﾌﾟﾛｸﾞﾗﾐﾝｸﾞ･ｴｸﾞｾﾞｸﾃｨﾌﾞがﾌﾞﾛｯｸを処理できません。"});

  EXPECT_FALSE(devices::SelectDevice(chip->session.device(), "dspic30f2010", *chip->reporter));
  ExpectLastStartsWith(*chip, {"Please select PIC type.", "PIC typeを選択してください。"});
}

// Failures say what to do next: a missing executive names the folder and,
// where the front-end gives them, the ways out; a write the executive fails
// on a part not erased first says the flash is likely not blank.
TEST_P(EngineLanguage, FailuresSayWhatToDo) {
  auto chip = Chip();
  chip->session.set_executive_dir("/nonexistent-quillon");
  image::MemoryImage executive;
  EXPECT_FALSE(LoadExecutiveFile(chip->session, executive));
  EXPECT_EQ(chip->sink.last_text().find("/nonexistent-quillon/pe.hex"),
            chip->sink.last_text().size() - 27);  // the window's text ends with the path
  chip->session.set_executive_missing_hint({"use --exec-dir or --icsp", "--exec-dir か --icsp"});
  EXPECT_FALSE(LoadExecutiveFile(chip->session, executive));
  const std::string hint =
      GetParam() == 0x0411 ? "探したﾌｫﾙﾀﾞ: /nonexistent-quillon。--exec-dir か --icsp"
                           : "Looked in the folder /nonexistent-quillon. use --exec-dir or --icsp";
  EXPECT_TRUE(chip->sink.last_text().ends_with(hint)) << chip->sink.last_text();

  for (bool erase_first : {false, true}) {
    chip->session.BeginOperation();
    chip->options.enhanced_icsp = true;
    chip->options.erase_before_writing = erase_first;
    chip->target().SetProgram(0x0200, 0x000000);
    chip->session.image().Clear(chip->session.device());
    chip->session.image().program[0x200] = 0x3456;
    chip->session.image().program[0x201] = 0x0012;
    WriteDevice(chip->session);
    const std::string note =
        Expected({"The part was not erased before writing: the flash at 000200",
                  "書き込み前に消去していません: 000200"});
    EXPECT_EQ(chip->sink.last_text().find(note) != std::string::npos, !erase_first)
        << chip->sink.last_text();
  }
}

// What the file checks of a Write say, the last row a clone that is accepted.
TEST_P(EngineLanguage, WriteFileChecks) {
  auto chip = Chip();
  const std::filesystem::path path = std::filesystem::path(::testing::TempDir()) /
                                     ("quillon-lang-" + std::to_string(GetParam()) + ".hex");
  const std::pair<const char*, Texts> cases[] = {
      {":00000001FF\n", {"Error : the file holds no data!", "ｴﾗｰ : ﾌｧｲﾙにﾃﾞｰﾀがありません。"}},
      {":0400000000000000FC\n",
       {"Error : the file has no end record", "ｴﾗｰ : ﾌｧｲﾙにｴﾝﾄﾞ･ﾚｺｰﾄﾞがありません。"}},
      {":020000040001F9\n:0400000000000000FC\n:00000001FF\n",
       {"Error : the file holds data the part cannot hold!",
        "ｴﾗｰ : ﾌｧｲﾙにこのPICに書けないﾃﾞｰﾀがあります。"}},
      {":0400000000000000FC\n:020000040100F9\n:0400000000000000FC\n:00000001FF\n",
       {"The file's executive memory data are left unwritten.",
        "ﾌｧｲﾙのｴｸﾞｾﾞｸﾃｨﾌﾞ･ﾒﾓﾘのﾃﾞｰﾀは書き込みません。"}},
  };
  image::MemoryImage file;
  for (const auto& [text, texts] : cases) {
    std::ofstream(path) << text;
    EXPECT_EQ(LoadWriteFile(chip->session, path.string(), file), &text == &cases[3].first);
    ExpectLastStartsWith(*chip, texts);
  }
  std::filesystem::remove(path);
}

TEST_P(EngineLanguage, DetectionFailures) {
  sim::BoardConfig empty = test_support::BoardFor("dsPIC30F2010");
  empty.target_present = false;
  auto no_chip = Chip(empty);
  DetectDevice(no_chip->session);
  ExpectLastStartsWith(*no_chip, {"Error : no DeviceID", "ｴﾗｰ :DeviceIDなし"});

  sim::BoardConfig foreign = test_support::BoardFor("dsPIC30F2010");
  foreign.device_id_override = 0x1234;
  auto unknown = Chip(foreign);
  DetectDevice(unknown->session);
  EXPECT_EQ(unknown->sink.last_text(),
            Expected({"Error : unknown device", "ｴﾗｰ :未知のdevice"}) + "\r\ndevice=1234");
}

TEST_P(EngineLanguage, HexLoader) {
  auto chip = Chip();
  image::LoadHexText(":10000000", chip->session.image(), chip->session.device(), *chip->reporter);
  ExpectLastStartsWith(*chip, {"Error : not HEX file!", "ｴﾗｰ : HEX ﾌｧｲﾙではありません。"});
  image::LoadHexText(":0200000000FF00\n", chip->session.image(), chip->session.device(),
                     *chip->reporter);
  ExpectLastStartsWith(*chip, {"Error : check sum error!", "ｴﾗｰ : ﾁｪｯｸ･ｻﾑが正しくありません。"});
  image::LoadHexText(":00000001FF\n", chip->session.image(), chip->session.device(),
                     *chip->reporter);
  ExpectLastStartsWith(*chip, {"Loading Successful!", "Loading成功!"});
}

INSTANTIATE_TEST_SUITE_P(Ids, EngineLanguage, ::testing::Values(0x0411, 0x0011, 0x0409));

}  // namespace
}  // namespace quillon::icsp
