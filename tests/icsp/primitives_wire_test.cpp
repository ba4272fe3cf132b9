// Golden wire tests of the ICSP steps in both board modes.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "icsp/primitives.h"
#include "scripted_board.h"

namespace quillon::icsp {
namespace {

const Bytes kRegOutCmd{link::cmd::kRegOut};

class PrimitivesTest : public ScriptedSessionTest {
 protected:
  void Letters() { session.set_firmware_version(0x0102); }
};

TEST_F(PrimitivesTest, ResetVectorSwitchesToLettersAbove256) {
  session.set_firmware_version(256);
  GotoResetVector200(session);
  ASSERT_EQ(port.writes.size(), 1u);
  EXPECT_EQ(port.writes[0], BatchPacket({0x040200, 0x040200, 0x000000}));

  Clear();
  session.set_firmware_version(257);
  GotoResetVector200(session);
  EXPECT_EQ(port.writes, std::vector<Bytes>{{0x71}});

  // Pending words go out first, then the letter.
  Clear();
  session.link().AppendInstruction(0x123456);
  GotoResetVector100(session);
  EXPECT_EQ(port.writes, (std::vector<Bytes>{BatchPacket({0x123456}), {0x70}}));

  Clear();
  session.set_firmware_version(256);
  GotoResetVector100(session);
  EXPECT_EQ(port.writes, std::vector<Bytes>{BatchPacket({N, 0x040100, 0x040100, N})});
}

TEST_F(PrimitivesTest, TimedWriteWaitsOnceMoreThanAskedAndLeavesTheClearPending) {
  TimedNvmWrite(session, 1);
  EXPECT_EQ(port.writes,
            (std::vector<Bytes>{BatchPacket({0xA8E761, N, N, N, N}), kWaitCommand, kWaitCommand}));
  EXPECT_EQ(session.link().PendingInstructions(), 5u);
  GotoResetVector100(session);
  EXPECT_EQ(WordsOf(port.writes.back()),
            (std::vector<std::uint32_t>{0xA9E761, N, N, N, N, N, 0x040100, 0x040100, N}));

  Clear();
  TimedNvmWrite(session, 100);
  EXPECT_EQ(std::count(port.writes.begin(), port.writes.end(), kWaitCommand), 101);
  EXPECT_EQ(port.writes.size(), 102u);
}

TEST_F(PrimitivesTest, LettersForOneAndForAnyOtherCount) {
  Letters();
  TimedNvmWrite(session, 1);
  TimedNvmWrite(session, 10);
  TimedNvmWrite(session, 100);
  PollNvmWrite(session, 1);
  PollNvmWrite(session, 10);
  PollNvmWrite(session, 100);
  EXPECT_EQ(port.writes, (std::vector<Bytes>{{0x76}, {0x77}, {0x77}, {0x79}, {0x7A}, {0x7A}}));
  EXPECT_EQ(session.link().PendingInstructions(), 0u);
}

TEST_F(PrimitivesTest, PollStopsWhenWriteBitClearsOrAfter101Polls) {
  const Bytes poll = BatchPacket({N, 0x040200, N, 0x803B02, 0x883C22, N});
  board.regout = {0x0000};
  PollNvmWrite(session, 1);
  EXPECT_EQ(port.writes, (std::vector<Bytes>{kWaitCommand, poll, kRegOutCmd}));

  Clear();
  board.regout = {0x8000, 0x8000, 0x7FFF};  // bit 15 alone counts
  PollNvmWrite(session, 10);
  EXPECT_EQ(std::count(port.writes.begin(), port.writes.end(), kWaitCommand), 10);
  EXPECT_EQ(std::count(port.writes.begin(), port.writes.end(), poll), 3);

  Clear();
  board.regout_default = 0x8000;
  PollNvmWrite(session, 1);
  EXPECT_EQ(std::count(port.writes.begin(), port.writes.end(), poll), 101);
  EXPECT_EQ(std::count(port.writes.begin(), port.writes.end(), kRegOutCmd), 101);
  EXPECT_TRUE(sink.entries.empty());
}

TEST_F(PrimitivesTest, FetchCodeQuadUnpacksTheTwelveLetterBytes) {
  Letters();
  board.fetch_reply = {0x12, 0x34, 0xAB, 0xCD, 0x56, 0x78, 0x9A, 0xBC, 0x00, 0xEF, 0x44, 0x55};
  FetchCodeQuad(session, session.image().program, 3);
  EXPECT_EQ(port.writes, std::vector<Bytes>{{0x74}});
  EXPECT_EQ(port.read_sizes.back(), 12u);
  const std::vector<std::uint16_t> expected{0x1234, 0xCD, 0x5678, 0xAB, 0x9ABC, 0xEF, 0x4455, 0x00};
  EXPECT_EQ(std::vector<std::uint16_t>(session.image().program.begin() + 24,
                                       session.image().program.begin() + 32),
            expected);
  EXPECT_EQ(session.image().program[23], 0);

  FetchCodeQuad(session, session.image().executive, 255);
  EXPECT_EQ(session.image().executive[0x7F8], 0x1234);
  std::array<std::uint16_t, 8> quad{};
  FetchCodeQuad(session, quad);
  EXPECT_EQ(std::vector<std::uint16_t>(quad.begin(), quad.end()), expected);
}

TEST_F(PrimitivesTest, FetchCodeQuadInBatchesReadsSixRegisters) {
  board.regout = {0x1234, 0xABCD, 0x5678, 0x9ABC, 0x00EF, 0x4455};
  std::array<std::uint16_t, 8> quad{};
  FetchCodeQuad(session, quad);
  const std::vector<Bytes> expected{BatchPacket({0x883C20, N}),
                                    kRegOutCmd,
                                    BatchPacket({N, 0x883C21, N}),
                                    kRegOutCmd,
                                    BatchPacket({0x883C22, N}),
                                    kRegOutCmd,
                                    BatchPacket({0x883C23, N}),
                                    kRegOutCmd,
                                    BatchPacket({0x883C24, N}),
                                    kRegOutCmd,
                                    BatchPacket({0x883C25, N}),
                                    kRegOutCmd,
                                    BatchPacket({N})};
  EXPECT_EQ(port.writes, expected);
  EXPECT_EQ(std::vector<std::uint16_t>(quad.begin(), quad.end()),
            (std::vector<std::uint16_t>{0x1234, 0xCD, 0x5678, 0xAB, 0x9ABC, 0xEF, 0x4455, 0x00}));
}

TEST_F(PrimitivesTest, UnlockAndTimedWriteShareOnePacketAfterTheCallersWords) {
  session.link().AppendInstruction(MoveLiteral(0x4008, 10));
  session.link().AppendInstruction(kMovW10ToNvmcon);
  NvmUnlock(session);
  TimedNvmWrite(session, 1);
  ASSERT_EQ(port.writes.size(), 3u);
  EXPECT_EQ(port.writes[0], BatchPacket({0x240080 + 0xA, 0x883B0A, 0x200558, 0x883B38, 0x200AA9,
                                         0x883B39, 0xA8E761, N, N, N, N}));

  // Letter mode: 'u' goes ahead of the set-up words, which precede 'v'.
  Clear();
  session.link().DiscardBatch();
  Letters();
  session.link().AppendInstruction(MoveLiteral(0x4008, 10));
  session.link().AppendInstruction(kMovW10ToNvmcon);
  NvmUnlock(session);
  TimedNvmWrite(session, 1);
  EXPECT_EQ(port.writes,
            (std::vector<Bytes>{{0x75}, BatchPacket({0x240080 + 0xA, 0x883B0A}), {0x76}}));
}

TEST_F(PrimitivesTest, DataQuadStepsLeaveTheirWordsPending) {
  SetTablePointer(session, 0x7FFC00, 6);
  ReadDataQuad(session);
  EXPECT_TRUE(port.writes.empty());
  EXPECT_EQ(session.link().PendingInstructions(), 3u + 14u);
  board.regout = {0x1111, 0x2222, 0x3333, 0x4444};
  FetchDataQuad(session, session.image().eeprom, 2);
  ASSERT_EQ(port.writes.size(), 8u);
  const std::vector<std::uint32_t> first = WordsOf(port.writes[0]);
  EXPECT_EQ(std::vector<std::uint32_t>(first.begin(), first.begin() + 5),
            (std::vector<std::uint32_t>{0x2007F0, 0x880190, 0x2FC006, 0xEB0380, N}));
  EXPECT_EQ(first.size(), 3u + 14u + 2u);
  EXPECT_EQ(port.writes[2], BatchPacket({N, 0x883C21, N}));
  EXPECT_EQ(session.link().PendingInstructions(), 1u);  // the last NOP
  EXPECT_EQ(std::vector<std::uint16_t>(session.image().eeprom.begin() + 8,
                                       session.image().eeprom.begin() + 12),
            (std::vector<std::uint16_t>{0x1111, 0x2222, 0x3333, 0x4444}));

  // Letter mode: '{' goes out at once, without the pending words.
  Clear();
  session.link().DiscardBatch();
  Letters();
  SetTablePointer(session, 0x7FFC00, 6);
  ReadDataQuad(session);
  board.fetch_reply = {0, 1, 0, 2, 0, 3, 0, 4, 0, 0, 0, 0};
  std::array<std::uint16_t, 4> words{};
  FetchDataQuad(session, words);
  EXPECT_EQ(port.writes,
            (std::vector<Bytes>{{0x7B}, BatchPacket({0x2007F0, 0x880190, 0x2FC006}), {0x7C}}));
  EXPECT_EQ(words, (std::array<std::uint16_t, 4>{1, 2, 3, 4}));
}

TEST_F(PrimitivesTest, CodeQuadReadAndLatchLoadSendTwoGroups) {
  ReadCodeQuad(session);
  ASSERT_EQ(port.writes.size(), 2u);
  EXPECT_EQ(WordsOf(port.writes[0]).size(), 13u);
  EXPECT_EQ(WordsOf(port.writes[1]), (std::vector<std::uint32_t>{N, 0xBA1B96, N, N, 0xBADBB6, N, N,
                                                                 0xBADBD6, N, N, 0xBA0BB6, N, N}));
  Clear();
  LoadCodeLatches(session);
  ASSERT_EQ(port.writes.size(), 2u);
  EXPECT_EQ(WordsOf(port.writes[0]), (std::vector<std::uint32_t>{0xEB0300, N, 0xBB0BB6, N, N,
                                                                 0xBBDBB6, N, N, 0xBBEBB6, N, N}));
  EXPECT_EQ(WordsOf(port.writes[1]).size(), 15u);
  Clear();
  LoadDataLatches(session);
  EXPECT_EQ(port.writes, std::vector<Bytes>{BatchPacket({0xEB0300, N, 0xBB1BB6, N, N, 0xBB1BB6, N,
                                                         N, 0xBB1BB6, N, N, 0xBB1BB6, N, N})});
  Clear();
  Letters();
  ReadCodeQuad(session);
  LoadCodeLatches(session);
  LoadDataLatches(session);
  StartNvmWrite(session);
  EXPECT_EQ(port.writes, (std::vector<Bytes>{{0x73}, {0x72}, {0x7D}, {0x78}}));
}

TEST_F(PrimitivesTest, QuadGoesIntoRegistersInPackedForm) {
  const std::uint16_t quad[8] = {0x1234, 0xCD, 0x5678, 0xAB, 0x9ABC, 0xEF, 0x4455, 0x00};
  std::copy(std::begin(quad), std::end(quad), session.image().executive.begin() + 16);
  MoveQuadToRegisters(session, QuadSource::kExecutive, 2);
  LoadCodeLatches(session);
  const std::vector<std::uint32_t> words = WordsOf(port.writes[0]);
  EXPECT_EQ(std::vector<std::uint32_t>(words.begin(), words.begin() + 6),
            (std::vector<std::uint32_t>{MoveLiteral(0x1234, 0), MoveLiteral(0xABCD, 1),
                                        MoveLiteral(0x5678, 2), MoveLiteral(0x9ABC, 3),
                                        MoveLiteral(0x00EF, 4), MoveLiteral(0x4455, 5)}));
  EXPECT_EQ(MoveLiteral(0xABCD, 1), 0x2ABCD1u);
}

TEST_F(PrimitivesTest, TablePointerFollowsTheSelectedPart) {
  Select("PIC24FJ256DA210");
  SetTablePointer(session, 0x012345, 7);
  session.link().SendBatch();
  EXPECT_EQ(port.writes[0], BatchPacket({0x200010, 0x8802A0, 0x223457}));
}

}  // namespace
}  // namespace quillon::icsp
