// Blank check: a blank chip on every path, a single planted word on each
// path with its exact report, and the sequences on the wire.
#include <gtest/gtest.h>

#include <algorithm>

#include "icsp/config_words.h"
#include "icsp/operations.h"
#include "scripted_board.h"
#include "test_support/sim_session.h"

namespace quillon::icsp {
namespace {

using test_support::SimSession;

enum class Path { kBatch, kLetters, kEnhanced };

std::unique_ptr<SimSession> BlankChip(const std::string& device, Path path) {
  auto sim = std::make_unique<SimSession>(test_support::BoardFor(
      device, path == Path::kBatch ? test_support::kFirmware10 : test_support::kFirmware12));
  sim->options.enhanced_icsp = path == Path::kEnhanced;
  EXPECT_TRUE(sim->SelectSimulated());
  sim->target().EraseAll();
  // The block reads need an executive that answers.
  sim->target().SetExecutive(sim->target().application_id_address(), 0x00BB);
  return sim;
}

std::vector<std::string> StepsStartingWith(const SimSession& sim, const std::string& prefix) {
  std::vector<std::string> out;
  for (const std::string& t : sim.sink.texts_of(report::StatusKind::kStep)) {
    if (t.starts_with(prefix)) out.push_back(t);
  }
  return out;
}

TEST(BlankCheckSim, BlankChipsPassOnEveryPath) {
  for (Path path : {Path::kBatch, Path::kLetters, Path::kEnhanced}) {
    for (const char* device : {"dsPIC30F2010", "PIC24F08KA101", "dsPIC33FJ06GS101"}) {
      auto sim = BlankChip(device, path);
      BlankCheck(sim->session);
      const std::string config = ConfigText(sim->session);
      EXPECT_EQ(sim->sink.last_text(), "Checking Successful!" + config + "\r\nTime=00:00:00")
          << device << " path " << static_cast<int>(path);
      EXPECT_TRUE(sim->Errors().empty()) << device << ": " << sim->Errors().front();
      EXPECT_EQ(sim->session.outcome(), Outcome::kOk);
      const bool has_eeprom = sim->session.device().device.eeprom_bytes > 0;
      EXPECT_EQ(StepsStartingWith(*sim, "Checking:Dat Adr ").empty(), !has_eeprom) << device;
    }
  }
  auto dspic30 = BlankChip("dsPIC30F2010", Path::kBatch);
  BlankCheck(dspic30->session);
  EXPECT_EQ(dspic30->sink.last_text(),
            "Checking Successful!\r\nconfig1=FFFF config5=FFFF\r\nconfig2=FFFF config6=FFFF"
            "\r\nconfig3=FFFF config7=FFFF\r\nconfig4=FFFF config8=FFFF\r\nTime=00:00:00");
  const std::vector<std::string> program = StepsStartingWith(*dspic30, "Checking:Prg Adr ");
  ASSERT_EQ(program.size(), 1024u);
  EXPECT_EQ(program.back(), "Checking:Prg Adr 1FF8");
  EXPECT_EQ(StepsStartingWith(*dspic30, "Checking:Dat Adr ").size(), 128u);
  EXPECT_EQ(dspic30->sink.progress.back(), 100);
}

TEST(BlankCheckSim, BoardFallingSilentIsNotTakenForANonBlankWord) {
  for (Path path : {Path::kBatch, Path::kLetters}) {
    auto sim = BlankChip("dsPIC30F2010", path);
    sim->port.board().faults().silent_after = 300;
    BlankCheck(sim->session);
    for (const std::string& e : sim->Errors()) EXPECT_FALSE(e.starts_with("Not blank!")) << e;
    EXPECT_EQ(sim->sink.last_text(), report::Pick(LinkFailureMessage(), report::kEnglishLangId));
    EXPECT_EQ(sim->session.outcome(), Outcome::kLinkFailure);
  }
}

struct Planted {
  const char* device;
  Path path;
  enum { kProgram, kEeprom } where;
  std::uint32_t address;  // program address, or EEPROM byte offset
  std::uint32_t value;
  const char* detail;
};

void PrintTo(const Planted& p, std::ostream* os) {
  *os << p.device << " " << p.detail;
}

class PlantedWordTest : public ::testing::TestWithParam<Planted> {};

TEST_P(PlantedWordTest, FirstNonBlankWordIsReportedExactly) {
  const Planted p = GetParam();
  auto sim = BlankChip(p.device, p.path);
  const devices::DeviceRecord& d = sim->session.device().device;
  if (p.where == Planted::kProgram) {
    sim->target().SetProgram(p.address, p.value);
  } else {
    sim->target().SetEeprom(0x800000 - static_cast<std::uint32_t>(d.eeprom_bytes) + p.address,
                            static_cast<std::uint16_t>(p.value));
  }
  BlankCheck(sim->session);
  ASSERT_EQ(sim->Errors(), std::vector<std::string>{std::string("Not blank!\r\n") + p.detail +
                                                    ConfigText(sim->session)});
  EXPECT_EQ(sim->sink.last_text(), sim->Errors().back());
  // The typed finding names the word whole, at its linker-map address.
  const bool eeprom = p.where == Planted::kEeprom;
  ASSERT_EQ(sim->sink.mismatches.size(), 1u);
  const report::Mismatch& m = sim->sink.mismatches[0];
  EXPECT_EQ(m.comparison, report::Comparison::kBlankCheck);
  EXPECT_EQ(m.memory, eeprom ? report::Memory::kEeprom : report::Memory::kProgram);
  EXPECT_EQ(m.address,
            eeprom ? 0x800000 - static_cast<std::uint32_t>(d.eeprom_bytes) + p.address : p.address);
  EXPECT_EQ(m.read, p.value);
  EXPECT_EQ(sim->session.outcome(), Outcome::kProblem);
  if (p.where == Planted::kProgram) {
    EXPECT_TRUE(StepsStartingWith(*sim, "Checking:Dat Adr ").empty());
  }
  EXPECT_FALSE(sim->port.board().protocol_fault()) << sim->port.board().fault_text();
}

INSTANTIATE_TEST_SUITE_P(
    EachPath, PlantedWordTest,
    ::testing::Values(
        // ICSP: the upper byte is shown at its odd unit; EEPROM by byte offset.
        Planted{"dsPIC30F2010", Path::kBatch, Planted::kProgram, 0x0104, 0x001234,
                "Adr:0104 Dat:1234"},
        Planted{"dsPIC30F2010", Path::kBatch, Planted::kProgram, 0x0104, 0x00FFFF,
                "Adr:0105 Dat:0000"},
        Planted{"dsPIC30F2010", Path::kLetters, Planted::kEeprom, 0x1C, 0x0000,
                "Eep:001C Dat:0000"},
        Planted{"PIC24F08KA101", Path::kBatch, Planted::kEeprom, 0xFE, 0x1234, "Eep:00FE Dat:1234"},
        Planted{"PIC24HJ12GP201", Path::kLetters, Planted::kProgram, 0x1FFE, 0x7FFFFF,
                "Adr:1FFF Dat:007F"},
        Planted{"dsPIC33FJ128GP206", Path::kLetters, Planted::kProgram, 0x12340, 0xFF1234,
                "Adr:2340 Dat:1234"},
        // Enhanced: both halves at the even address; EEPROM by word number.
        Planted{"dsPIC30F2010", Path::kEnhanced, Planted::kProgram, 0x0104, 0x00FFFF,
                "Adr:0104 Dat:0000"},
        Planted{"dsPIC30F2010", Path::kEnhanced, Planted::kEeprom, 0x1C, 0xABCD,
                "Eep:000E Dat:ABCD"},
        // No executive on the KA parts: plain ICSP, byte offsets.
        Planted{"PIC24F08KA101", Path::kEnhanced, Planted::kEeprom, 0x1FE, 0x0001,
                "Eep:01FE Dat:0001"},
        Planted{"dsPIC33FJ128GP206", Path::kEnhanced, Planted::kProgram, 0x12346, 0xFF1234,
                "Adr:2346 Dat:1234"}));

// --- the wire ---

class BlankCheckWireTest : public ScriptedSessionTest {
 protected:
  BlankCheckWireTest() {
    board.regout_default = 0xFFFF;
    board.fetch_reply = Bytes(12, 0xFF);
  }
};

TEST_F(BlankCheckWireTest, EepromStartsBelowExecutiveMemoryWithTheFormsResetVector) {
  // PIC24F KA: 512 bytes from 0x7FFE00, nine configuration registers.
  Select("PIC24F08KA101");
  options.enhanced_icsp = false;
  BlankCheck(session);
  const Bytes start = BatchPacket({0x2007F0, 0x880190, 0x2FE006});
  const auto it = std::find(port.writes.begin(), port.writes.end(), start);
  ASSERT_NE(it, port.writes.end());
  EXPECT_EQ(*(it - 1), BatchPacket({0x040200, 0x040200, 0}));
  EXPECT_TRUE(sink.last_text().starts_with("Checking Successful!\r\nconfig1=FFFF config5=FFFF"));
  EXPECT_NE(sink.last_text().find("\r\nconfig9=FFFF\r\nTime="), std::string::npos);

  Clear();
  Select("dsPIC30F2010");
  BlankCheck(session);
  EXPECT_NE(std::find(port.writes.begin(), port.writes.end(),
                      BatchPacket({0x2007F0, 0x880190, 0x2FC006})),
            port.writes.end());
}

TEST_F(BlankCheckWireTest, MissingExecutiveEndsWithTheFailureNotAFalseFinding) {
  Select("dsPIC30F2010");
  options.enhanced_icsp = true;
  // The part holds an executive (its ID reads back) that does not answer.
  board.fetch_reply[11] = 0xBB;
  board.regout_default = 0x00BB;
  port.responder = [this](const Bytes& w) {
    if (w == Bytes{link::cmd::kExecSanity}) return Bytes{0, 0, 0, 0};
    return board.Answer(w);
  };
  BlankCheck(session);
  EXPECT_EQ(std::count(port.writes.begin(), port.writes.end(), Bytes{0x82}), 0);
  ASSERT_FALSE(Errors().empty());
  EXPECT_EQ(Errors().front(), "Error : Connect failed!");
  EXPECT_EQ(sink.last_text(), report::Pick(LinkFailureMessage(), report::kEnglishLangId));
  EXPECT_EQ(session.outcome(), Outcome::kLinkFailure);
}

}  // namespace
}  // namespace quillon::icsp
