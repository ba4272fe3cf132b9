// Golden wire bytes of every packet the link builds, and the receive buffer.
#include <gmock/gmock.h>

#include "link_fixture.h"

namespace quillon::link {
namespace {

// The first n bytes of the receive buffer.
Bytes Received(const Link& link, std::size_t n) {
  Bytes out;
  for (std::size_t i = 0; i < n; ++i) out.push_back(link.ReceivedByte(i));
  return out;
}

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST_F(LinkTest, EmptyBatchSendsAndReadsNothing) {
  link.SendBatch();
  EXPECT_THAT(port.writes, IsEmpty());
  EXPECT_THAT(port.read_sizes, IsEmpty());
  EXPECT_THAT(sink.entries, IsEmpty());
}

TEST_F(LinkTest, BatchPacketCarriesLengthThenInstructionsHighByteFirst) {
  port.input = {0x00};
  link.AppendInstruction(0x040100);
  link.AppendInstruction(0x000000);
  EXPECT_EQ(link.PendingInstructions(), 2u);
  link.SendBatch();
  EXPECT_THAT(port.Wire(), ElementsAre(0x0F, 0x06, 0x04, 0x01, 0x00, 0x00, 0x00, 0x00));
  EXPECT_THAT(port.read_sizes, ElementsAre(1u));
  EXPECT_TRUE(link.BatchEmpty());
  EXPECT_FALSE(link.failed());

  // The next batch starts afresh after the header.
  port.input = {0x00};
  link.AppendInstruction(0xBA0B96);
  link.SendBatch();
  EXPECT_THAT(port.writes.back(), ElementsAre(0x0F, 0x03, 0xBA, 0x0B, 0x96));
  EXPECT_THAT(sink.entries, IsEmpty());
}

TEST_F(LinkTest, OverlongBatchGoesOutBeforeTheLengthByteOverflows) {
  port.responder = [](const Bytes&) { return Bytes{0x00}; };
  for (int i = 0; i < 86; ++i) link.AppendInstruction(0x000000);
  ASSERT_EQ(port.writes.size(), 1u);
  EXPECT_EQ(port.writes[0].size(), 2u + 255u);
  EXPECT_EQ(port.writes[0][1], 255);
  EXPECT_EQ(link.PendingInstructions(), 1u);
}

TEST_F(LinkTest, AddressAndWordBlockPackets) {
  link.SendAddress24(0x7FF000);
  EXPECT_THAT(port.Wire(), ElementsAre(0x7F, 0xF0, 0x00));

  port.writes.clear();
  const std::uint16_t words[] = {0x1234, 0xABCD};
  link.SendWordBlock(words);
  EXPECT_THAT(port.Wire(), ElementsAre(0x04, 0x12, 0x34, 0xAB, 0xCD));

  // Neither reads: the executive command's status follows separately.
  EXPECT_THAT(port.read_sizes, IsEmpty());
  EXPECT_THAT(sink.entries, IsEmpty());
}

TEST_F(LinkTest, WordBlockOfAFullRowAndBeyondTheLengthByte) {
  std::vector<std::uint16_t> words(kLinkWordCount);
  for (std::size_t i = 0; i < kLinkWordCount; ++i) words[i] = static_cast<std::uint16_t>(i);
  link.SendWordBlock(std::span<const std::uint16_t>(words.data(), 96));
  ASSERT_EQ(port.writes[0].size(), 193u);
  EXPECT_EQ(port.writes[0][0], 192);
  EXPECT_EQ(port.writes[0][191], 0);
  EXPECT_EQ(port.writes[0][192], 95);

  // The length byte cannot say more than 127 words.
  link.SendWordBlock(words);
  ASSERT_EQ(port.writes[1].size(), 255u);
  EXPECT_EQ(port.writes[1][0], 254);
  EXPECT_EQ(port.writes[1][254], 126);
}

TEST_F(LinkTest, CommandsAndTheirReplyReads) {
  port.input = {0xAA, 0xBB, 0xCC, 0xDD};
  link.SendCommand(cmd::kRegOut);
  link.SendCommandAck(cmd::kGotoResetVector200);
  link.EnterIcsp(cmd::kEnterIcsp);
  link.ExitIcsp();
  EXPECT_THAT(port.writes, ElementsAre(Bytes{0x12}, Bytes{0x71}, Bytes{0x0D}, Bytes{0x20}));
  EXPECT_THAT(port.read_sizes, ElementsAre(1u, 1u, 1u));
  EXPECT_THAT(sink.entries, IsEmpty());
}

TEST_F(LinkTest, EnterIcspDropsAnUnsentBatch) {
  port.input = {0x00};
  link.AppendInstruction(0x123456);
  link.EnterIcsp(cmd::kEnterIcsp30F);
  EXPECT_TRUE(link.BatchEmpty());
  EXPECT_THAT(port.Wire(), ElementsAre(0x0C));
}

TEST_F(LinkTest, CommandByteLeavesPendingInstructionsIntact) {
  port.input = {0x00, 0x00};
  link.AppendInstruction(0x123456);
  link.SendCommandAck(cmd::kNvmUnlock);
  link.SendBatch();
  EXPECT_THAT(port.writes, ElementsAre(Bytes{0x75}, Bytes{0x0F, 0x03, 0x12, 0x34, 0x56}));
}

TEST_F(LinkTest, ReceiveBufferHoldsCountModulo256AndKeepsStaleBytes) {
  port.input = {0xAA, 0xBB, 0xCC, 0xDD};
  EXPECT_EQ(link.ReadPort(4), 4u);
  EXPECT_THAT(Received(link, 5), ElementsAre(4, 0xAA, 0xBB, 0xCC, 0xDD));

  // A short read overwrites only what arrived.
  port.input = {0x11};
  EXPECT_EQ(link.ReadPort(4), 1u);
  EXPECT_THAT(Received(link, 5), ElementsAre(1, 0x11, 0xBB, 0xCC, 0xDD));

  EXPECT_EQ(link.ReadPort(2), 0u);
  EXPECT_EQ(link.ReceivedByte(0), 0);
  EXPECT_EQ(link.ReceivedByte(1), 0x11);

  port.input.assign(258, 0x5A);
  EXPECT_EQ(link.ReadPort(258), 258u);
  EXPECT_EQ(link.ReceivedByte(0), 2);
}

TEST_F(LinkTest, LargeCountsCannotOverrunTheBuffers) {
  port.input.assign(1000, 0x5A);
  EXPECT_EQ(link.ReadPort(1000), kBufferSize - 1);
  EXPECT_THAT(port.read_sizes, ElementsAre(kBufferSize - 1));
  EXPECT_EQ(port.input.size(), 1000u - (kBufferSize - 1));

  EXPECT_EQ(link.WritePort(1000), kBufferSize);
  EXPECT_EQ(port.writes[0].size(), kBufferSize);

  // A reply longer than the buffer can never be complete.
  link.ReceiveReply(1000);
  EXPECT_THAT(Errors(), ElementsAre("Error : Receiving"));
}

TEST_F(LinkTest, ReplyWordsAreHighByteFirst) {
  port.input = {0x12, 0x34, 0xAB, 0xCD};
  link.ReceiveReply(4);
  EXPECT_EQ(link.ReplyWord(0), 0x1234);
  EXPECT_EQ(link.ReplyWord(1), 0xABCD);
  link.StoreReplyWords(2);
  EXPECT_EQ(link.words()[0], 0x1234);
  EXPECT_EQ(link.words()[1], 0xABCD);
  // Past the end of the buffer there is no word to read.
  EXPECT_EQ(link.ReplyWord(200), 0);
}

TEST_F(LinkTest, ReplyOfNoBytesNeedsNoRead) {
  link.ReceiveReply(0);
  EXPECT_THAT(port.read_sizes, IsEmpty());
  EXPECT_THAT(sink.entries, IsEmpty());
  EXPECT_FALSE(link.failed());
}

}  // namespace
}  // namespace quillon::link
