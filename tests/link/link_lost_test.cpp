// A board that stops answering costs one failure's worth of waiting, not one
// per transfer, and the operation ends with a failure message.
#include <gmock/gmock.h>

#include "icsp/session.h"
#include "link_fixture.h"

namespace quillon::link {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Acknowledges batches with one byte and answers REGOUT with a word, for the
// first `exchanges` writes; silent after that.
std::function<Bytes(const Bytes&)> BoardDyingAfter(int exchanges) {
  auto count = std::make_shared<int>(0);
  return [count, exchanges](const Bytes& w) -> Bytes {
    if ((*count)++ >= exchanges) return {};
    return w[0] == cmd::kRegOut ? Bytes{0x12, 0x34} : Bytes{0x00};
  };
}

// What a read of program memory does per address step: a batch, then REGOUT.
void ReadLikeSequence(Link& link, int steps) {
  for (int i = 0; i < steps; ++i) {
    link.AppendInstruction(0xBA0B96);
    link.AppendInstruction(0x000000);
    link.SendBatch();
    link.SendCommand(cmd::kRegOut);
    link.ReceiveReply(2);
  }
}

TEST_F(LinkTest, BoardThatStopsAnsweringCostsOneFailure) {
  for (int dies_after : {0, 1, 7, 8}) {
    SCOPED_TRACE(dies_after);
    sink.entries.clear();
    port.writes.clear();
    const std::int64_t start = ElapsedMs();
    link.BeginOperation();
    port.input.clear();
    port.responder = BoardDyingAfter(dies_after);

    ReadLikeSequence(link, 3000);

    EXPECT_THAT(Errors(), ElementsAre("Receiving timeout!", "Error : Receiving"));
    EXPECT_LE(ElapsedMs() - start, ReadTimeoutMs(2) + 2 * 1000);
    // The write that went unanswered is the last one on the wire.
    EXPECT_EQ(port.writes.size(), static_cast<std::size_t>(dies_after + 1));
    EXPECT_TRUE(link.failed());
    EXPECT_TRUE(link.lost());
  }
}

TEST_F(LinkTest, UnpluggedBoardCostsOneFailure) {
  port.write_limit = 0;
  ReadLikeSequence(link, 3000);
  EXPECT_THAT(Errors(), ElementsAre("Sending timeout!", "Error : Sending"));
  EXPECT_EQ(ElapsedMs(), 2 * 1000);
  EXPECT_EQ(port.writes.size(), 1u);
  EXPECT_THAT(port.read_sizes, IsEmpty());
}

TEST_F(LinkTest, LostLinkSkipsEveryKindOfTransfer) {
  link.ReceiveReply(1);
  ASSERT_TRUE(link.lost());
  const std::size_t messages = sink.entries.size();
  port.input.assign(100, 0x00);

  link.SendCommand(cmd::kWait);
  link.SendCommandAck(cmd::kNvmUnlock);
  link.AppendInstruction(0x000000);
  link.SendBatch();
  link.SendAddress24(0x000100);
  link.SendWordBlock(std::vector<std::uint16_t>(16));
  link.EnterIcsp(cmd::kEnterIcsp);
  link.ExitIcsp();
  EXPECT_FALSE(EnterEnhanced(link, 0));

  EXPECT_THAT(port.writes, IsEmpty());
  EXPECT_EQ(port.read_sizes.size(), 1u);
  EXPECT_EQ(sink.entries.size(), messages);
  // A batch appended while lost does not linger into the next operation.
  EXPECT_TRUE(link.BatchEmpty());
}

TEST_F(LinkTest, ShortRepliesFailButKeepTalking) {
  // REGOUT gets one byte of its word every time.
  port.responder = [](const Bytes& w) { return w[0] == cmd::kRegOut ? Bytes{0x12} : Bytes{0x00}; };
  ReadLikeSequence(link, 3);
  EXPECT_THAT(Errors(), ElementsAre("Error : Receiving", "Error : Receiving", "Error : Receiving"));
  EXPECT_EQ(port.writes.size(), 6u);
  EXPECT_TRUE(link.failed());
  EXPECT_FALSE(link.lost());
}

TEST_F(LinkTest, BeginOperationClearsTheMarks) {
  link.AppendInstruction(0x000000);
  link.ReceiveReply(1);
  ASSERT_TRUE(link.failed());
  link.BeginOperation();
  EXPECT_FALSE(link.failed());
  EXPECT_FALSE(link.lost());
  EXPECT_TRUE(link.BatchEmpty());

  port.input = {0x00};
  link.SendCommandAck(cmd::kGotoResetVector100);
  EXPECT_THAT(port.writes, ElementsAre(Bytes{0x70}));
  EXPECT_FALSE(link.failed());
}

class SessionFinish : public ::testing::Test {
 protected:
  test_support::RecordingSink sink;
  std::unique_ptr<report::Reporter> reporter = sink.MakeReporter();
  test_support::ScriptedPort port;
  report::FixedOptions options;
  icsp::Session session{port, *reporter, options};
  const report::MessagePair success{"Reading Successful!", "Reading 成功!"};
};

TEST_F(SessionFinish, SuccessTextOnlyWhenTheLinkHeld) {
  port.responder = [](const Bytes&) { return Bytes{0x00}; };
  session.BeginOperation();
  session.link().EnterIcsp(cmd::kEnterIcsp);
  session.link().ExitIcsp();
  session.FinishWith(success);
  EXPECT_EQ(sink.last_text(), "Reading Successful!");
  EXPECT_EQ(session.outcome(), icsp::Outcome::kOk);
}

TEST_F(SessionFinish, LostLinkReplacesTheSuccessText) {
  session.BeginOperation();
  ReadLikeSequence(session.link(), 100);
  session.FinishWith(success);
  EXPECT_THAT(sink.texts(), ElementsAre("Receiving timeout!", "Error : Receiving",
                                        icsp::LinkFailureMessage().english));
  EXPECT_EQ(sink.entries.back().kind, report::StatusKind::kError);
  EXPECT_EQ(session.outcome(), icsp::Outcome::kLinkFailure);

  // The next operation starts clean.
  port.responder = [](const Bytes&) { return Bytes{0x00}; };
  session.BeginOperation();
  session.link().ExitIcsp();
  session.FinishWith(success);
  EXPECT_EQ(sink.last_text(), "Reading Successful!");
}

TEST_F(SessionFinish, ExecutiveThatNeverStartsIsAFailure) {
  port.responder = [](const Bytes& w) {
    return w[0] == cmd::kExecSanity ? Bytes{0, 0, 0, 0} : Bytes{0x00};
  };
  session.BeginOperation();
  EnterEnhanced(session.link(), 1);
  session.FinishWith(success);
  EXPECT_THAT(sink.texts(),
              ElementsAre("Error : Connect failed!", icsp::LinkFailureMessage().english));
}

}  // namespace
}  // namespace quillon::link
