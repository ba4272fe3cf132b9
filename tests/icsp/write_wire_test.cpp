// Golden wire tests of write, executive write and bulk erase: the words and
// commands of the edge cases, with the board scripted.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <tuple>
#include <utility>

#include "icsp/config_words.h"
#include "icsp/operations.h"
#include "icsp/primitives.h"
#include "image/formats.h"
#include "image/hex_writer.h"
#include "scripted_board.h"

namespace quillon::icsp {
namespace {

class WriteWireTest : public ScriptedSessionTest {
 protected:
  WriteWireTest() {
    options.verify_after_writing = false;
    options.enhanced_icsp = false;
  }

  // Every batch packet, as its words.
  std::vector<std::vector<std::uint32_t>> Packets() const {
    std::vector<std::vector<std::uint32_t>> packets;
    for (const Bytes& w : port.writes) {
      if (!w.empty() && w[0] == link::cmd::kBatch) packets.push_back(WordsOf(w));
    }
    return packets;
  }
  std::vector<std::vector<std::uint32_t>> PacketsWith(std::uint32_t word) const {
    std::vector<std::vector<std::uint32_t>> found;
    for (const auto& p : Packets()) {
      if (std::find(p.begin(), p.end(), word) != p.end()) found.push_back(p);
    }
    return found;
  }
  std::vector<std::string> StatusesStarting(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const std::string& t : sink.texts()) {
      if (t.starts_with(prefix)) found.push_back(t.substr(prefix.size()));
    }
    return found;
  }
};

TEST_F(WriteWireTest, Dspic30fConfigWordIsOnePacketOfNineteenWords) {
  Select("dsPIC30F4011");
  session.config_readback()[3] = 0xABCD;
  WriteConfigWord(session, 3);
  ASSERT_GE(port.writes.size(), 5u);
  EXPECT_EQ(port.writes[0], BatchPacket({N, 0x040100, 0x040100, N}));
  EXPECT_EQ(port.writes[1],
            BatchPacket({0x200067, 0x24008A, 0x883B0A, 0x200F80, 0x880190, 0x2ABCD6, N, 0xBB1B86, N,
                         N, 0x200558, 0x883B38, 0x200AA9, 0x883B39, 0xA8E761, N, N, N, N}));
  EXPECT_EQ(port.writes[2], kWaitCommand);
  EXPECT_EQ(port.writes[3], kWaitCommand);
  EXPECT_EQ(WordsOf(port.writes[4]),
            (std::vector<std::uint32_t>{0xA9E761, N, N, N, N, N, 0x040100, 0x040100, N}));
}

TEST_F(WriteWireTest, Pic24fEraseBlanksTheTwoFlashConfigurationWords) {
  struct Case {
    const char* device;
    std::uint32_t page_word;  // MOV #page, W0
  };
  for (const Case& c : {Case{"PIC24FJ64GA002", 0x200000}, Case{"PIC24FJ256GB110", 0x200020}}) {
    SCOPED_TRACE(c.device);
    Select(c.device);
    BulkErase(session);
    const auto writes = PacketsWith(0x24003A);  // MOV #0x4003, W10
    ASSERT_EQ(writes.size(), 2u);
    const std::vector<std::uint32_t> tail{0x883B0A, c.page_word, 0x880190, 0x2FFFF0, 0xBB1B80, N,
                                          N,        0xA8E761,    N,        N,        N,        N};
    std::vector<std::uint32_t> word1{0x2ABFE7, 0x24003A};
    std::vector<std::uint32_t> word2{0x2ABFC7, 0x24003A};
    word1.insert(word1.end(), tail.begin(), tail.end());
    word2.insert(word2.end(), tail.begin(), tail.end());
    EXPECT_EQ(writes[0], word1);
    EXPECT_EQ(writes[1], word2);
    EXPECT_TRUE(PacketsWith(0x24000A).empty());  // no configuration register
    EXPECT_EQ(sink.last_text(), "Erasing Successful!");
    Clear();
  }
}

// E enter, X exit, C configuration word, A chip erase, B executive erase.
TEST_F(WriteWireTest, Dspic30fEraseRunsThreeTimesInItsOwnIcspFrames) {
  Select("dsPIC30F4011");
  BulkErase(session);
  std::string trace;
  for (const Bytes& w : port.writes) {
    if (w == Bytes{0x0C}) trace += 'E';
    if (w == Bytes{0x20}) trace += 'X';
    if (w.empty() || w[0] != link::cmd::kBatch) continue;
    const auto words = WordsOf(w);
    auto has = [&words](std::uint32_t x) {
      return std::find(words.begin(), words.end(), x) != words.end();
    };
    if (has(0xBB1B86)) trace += 'C';
    if (has(0x2407FA)) trace += 'A';
    if (has(0x24072A)) trace += 'B';
  }
  // The unit ID words are read before anything is erased.
  EXPECT_EQ(trace,
            "EX"
            "ECCCCCCCCX"
            "EABX"
            "EABX"
            "EABX"
            "EX");
  EXPECT_TRUE(Errors().empty());
}

TEST_F(WriteWireTest, Dspic30fExecutiveWriteErasesWithTheEraseWaitThenWritesEveryRow) {
  Select("dsPIC30F4011");
  session.image().Clear(session.device());
  session.image().executive_present = true;
  WriteDevice(session);
  std::vector<std::string> rows;
  for (int r = 0; r <= 22; ++r) rows.push_back(image::Hex4(32 * r));
  EXPECT_EQ(StatusesStarting("Writing:Exe Adr "), rows);
  EXPECT_EQ(sink.progress.back(), 100);

  // The erase packet: NVMCON 0x4072, the unlock, WR set; then 101 waits.
  std::size_t at = 0;
  while (at < port.writes.size() &&
         !(port.writes[at].size() > 2 && WordsOf(port.writes[at]).front() == 0x24072A)) {
    ++at;
  }
  ASSERT_LT(at, port.writes.size());
  EXPECT_EQ(WordsOf(port.writes[at]),
            (std::vector<std::uint32_t>{0x24072A, 0x883B0A, 0x200558, 0x883B38, 0x200AA9, 0x883B39,
                                        0xA8E761, N, N, N, N}));
  std::size_t waits = 0;
  while (port.writes[at + 1 + waits] == kWaitCommand) ++waits;
  EXPECT_EQ(waits, 101u);
  EXPECT_EQ(PacketsWith(0x24001A).size(), 24u);  // once before the rows, then per row
}

TEST_F(WriteWireTest, Pic24ExecutiveErasesSelectEachExecutivePage) {
  Select("dsPIC33FJ256GP710");
  session.image().Clear(session.device());
  session.image().executive_present = true;
  WriteDevice(session);
  ASSERT_EQ(PacketsWith(0x24042A).size(), 1u);  // NVMCON 0x4042, loaded once
  const auto erases = PacketsWith(0xBB0800);
  ASSERT_EQ(erases.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(erases[i],
              (std::vector<std::uint32_t>{0x200800, 0x880190, i % 2 == 0 ? 0x200000u : 0x204000u,
                                          0xBB0800, N, N, 0xA8E761, N, N, N, N}));
  }
  EXPECT_EQ(StatusesStarting("Writing:Exe Adr ").back(), "03C0");
}

TEST_F(WriteWireTest, LastRowOfTheLargestPartShowsFourDigitsOnly) {
  Select("dsPIC33FJ256GP710");
  session.image().Clear(session.device());
  session.image().program[2 * 0x155C0] = 0x1234;  // instruction 0x155C0, program address 0x2AB80
  WriteDevice(session);
  const auto rows = StatusesStarting("Writing:Prg Adr ");
  ASSERT_EQ(rows.size(), 1368u);
  EXPECT_EQ(rows.back(), "55C0");
  EXPECT_EQ(sink.progress.back(), 100);
  // Blank rows cost nothing: one table pointer, one write.
  const auto pointer = PacketsWith(0x2AB807);
  ASSERT_EQ(pointer.size(), 1u);
  EXPECT_EQ(pointer[0], (std::vector<std::uint32_t>{0x200020, 0x880190, 0x2AB807}));
  EXPECT_EQ(PacketsWith(0xA8E761).size(), 1u);
  EXPECT_TRUE(sink.last_text().starts_with("Writing Successful!\r\nTime="));
}

TEST_F(WriteWireTest, EepromRowsSitAtTheEndOfTheEepromWindow) {
  Select("dsPIC30F2010");  // 1024 bytes: 0x7FFC00 to 0x7FFFFF
  session.image().Clear(session.device());
  session.image().eeprom[0] = 0x1111;
  session.image().eeprom[16 * 31 + 15] = 0x2222;
  WriteDevice(session);
  const auto rows = PacketsWith(0x24005A);  // MOV #0x4005, W10
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], (std::vector<std::uint32_t>{0x24005A, 0x883B0A, 0x2007F0, 0x880190, 0x2FC007,
                                                 0x211110, 0x2FFFF1, 0x2FFFF2, 0x2FFFF3}));
  EXPECT_EQ(rows[1][4], 0x2FFE07u);
  const auto batch_rows = StatusesStarting("Writing:Dat Adr ");
  EXPECT_EQ(batch_rows.back(), "03E0");  // byte offset

  // Through the executive: the same addresses, word offsets on the status line.
  Clear();
  options.enhanced_icsp = true;
  WriteDevice(session);
  std::vector<Bytes> addresses;
  for (std::size_t i = 0; i + 2 < port.writes.size(); ++i) {
    if (port.writes[i] == Bytes{link::cmd::kExecWriteData}) {
      addresses.push_back(port.writes[i + 1]);
      EXPECT_EQ(port.writes[i + 2].size(), 33u);
      EXPECT_EQ(port.writes[i + 2][0], 32);
    }
  }
  EXPECT_EQ(addresses, (std::vector<Bytes>{{0x7F, 0xFC, 0x00}, {0x7F, 0xFF, 0xE0}}));
  EXPECT_EQ(StatusesStarting("Writing:Dat Adr ").back(), "01F0");
  EXPECT_TRUE(Errors().empty());
}

TEST_F(WriteWireTest, ExecutiveRowsCarryAddressCountAndPackedWords) {
  Select("dsPIC30F2010");
  options.enhanced_icsp = true;
  session.image().Clear(session.device());
  // Instructions 0x123456 and 0xABCDEF at the start of row 1 (address 0x40).
  session.image().program[0x40] = 0x3456;
  session.image().program[0x41] = 0x12;
  session.image().program[0x42] = 0xCDEF;
  session.image().program[0x43] = 0xAB;
  WriteDevice(session);
  const auto at =
      std::find(port.writes.begin(), port.writes.end(), Bytes{link::cmd::kExecWriteCode});
  ASSERT_NE(at, port.writes.end());
  EXPECT_EQ(at[1], (Bytes{0x00, 0x00, 0x40}));
  EXPECT_EQ(at[2], (Bytes{0x00, 0x00, 0x20}));  // 32 instructions: a dsPIC30F row
  ASSERT_EQ(at[3].size(), 97u);
  EXPECT_EQ(Bytes(at[3].begin(), at[3].begin() + 7),
            (Bytes{96, 0x34, 0x56, 0xAB, 0x12, 0xCD, 0xEF}));
  EXPECT_EQ(std::count(port.writes.begin(), port.writes.end(), Bytes{link::cmd::kExecWriteCode}),
            1);
  EXPECT_TRUE(Errors().empty());
}

// A FAIL, a NACK, or an answer to another command ends every block exchange
// with the executive with a report naming the block's address.
TEST_F(WriteWireTest, ExecutiveAnswersOtherThanPassEndTheOperation) {
  Select("dsPIC30F2010");
  options.enhanced_icsp = true;
  // Every quad read carries the executive's ID where the check looks: a
  // blank check uses an executive only when one answers.
  board.fetch_reply[11] = 0xBB;
  board.regout_default = 0x00BB;
  const std::string dir = (std::filesystem::temp_directory_path() / "quillon_refused").string();
  auto write = [this](std::size_t unit, bool eeprom) {
    session.image().Clear(session.device());
    (eeprom ? session.image().eeprom : session.image().program)[unit] = 0x1234;
    WriteDevice(session);
  };
  const std::tuple<std::function<void()>, int, const char*> operations[] = {
      {[&] { write(0x40, false); }, 0x5, "000040"},
      {[&] { write(16, true); }, 0x4, "7FFC20"},
      {[&] { ReadDevice(session, dir); }, 0x2, "000000"},
      {[this] { BlankCheck(session); }, 0x2, "000000"},
  };
  for (const auto& [status, flip] : {std::pair{2, 0}, std::pair{3, 0}, std::pair{1, 1}}) {
    for (const auto& [run, opcode, address] : operations) {
      Clear();
      port.input.clear();  // a refused read leaves its block unread
      session.BeginOperation();
      board.exec_status = static_cast<std::uint8_t>(status);
      board.exec_opcode_flip = static_cast<std::uint8_t>(flip);
      run();
      EXPECT_EQ(Errors(), std::vector<std::string>{
                              "Error : the programming executive refused the block!\r\nAdr " +
                              std::string(address) +
                              " Ans:" + image::Hex4(status << 12 | (opcode ^ flip) << 8)});
      EXPECT_EQ(sink.last_text(), Errors().back());
      EXPECT_EQ(session.outcome(), Outcome::kProblem);
    }
  }
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(dir) / image::kHexName));
}

}  // namespace
}  // namespace quillon::icsp
