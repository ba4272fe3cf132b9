// The send and receive checks: which messages a failed transfer shows, the
// pause each costs, and the failure marks it leaves.
#include <gmock/gmock.h>

#include "link_fixture.h"

namespace quillon::link {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST_F(LinkTest, ReplyThatNeverComesShowsBothReceiveMessages) {
  link.ReceiveReply(4);
  EXPECT_THAT(Errors(), ElementsAre("Receiving timeout!", "Error : Receiving"));
  EXPECT_EQ(ElapsedMs(), ReadTimeoutMs(4) + 2 * 1000);
  EXPECT_TRUE(link.failed());
  EXPECT_TRUE(link.lost());
}

TEST_F(LinkTest, ShortReplyShowsOnlyTheReceivingError) {
  port.input = {0x00, 0x02};
  link.ReceiveReply(4);
  EXPECT_THAT(Errors(), ElementsAre("Error : Receiving"));
  EXPECT_EQ(ElapsedMs(), ReadTimeoutMs(4) + 1000);
  EXPECT_TRUE(link.failed());
  EXPECT_FALSE(link.lost());
}

TEST_F(LinkTest, SilentBoardFailsTheBatchAcknowledge) {
  link.AppendInstruction(0x000000);
  link.SendBatch();
  EXPECT_EQ(port.writes.size(), 1u);
  EXPECT_THAT(Errors(), ElementsAre("Receiving timeout!", "Error : Receiving"));
  EXPECT_EQ(ElapsedMs(), ReadTimeoutMs(1) + 2 * 1000);
}

TEST_F(LinkTest, MissingAcknowledgeOfALetterCommand) {
  link.SendCommandAck(cmd::kLoadCodeLatches);
  EXPECT_THAT(port.writes, ElementsAre(Bytes{0x72}));
  EXPECT_THAT(Errors(), ElementsAre("Receiving timeout!", "Error : Receiving"));
}

TEST_F(LinkTest, WriteThatSendsNothingShowsBothSendMessages) {
  port.write_limit = 0;
  link.SendCommand(cmd::kRegOut);
  EXPECT_THAT(Errors(), ElementsAre("Sending timeout!", "Error : Sending"));
  EXPECT_EQ(ElapsedMs(), 2 * 1000);
  EXPECT_TRUE(link.failed());
  EXPECT_TRUE(link.lost());
}

TEST_F(LinkTest, CutShortMultiByteWriteShowsNoMessageButCounts) {
  port.write_limit = 2;
  link.SendAddress24(0x7FF000);
  EXPECT_THAT(sink.entries, IsEmpty());
  EXPECT_EQ(ElapsedMs(), 0);
  // The board got a broken packet: the operation must not claim success.
  EXPECT_TRUE(link.failed());
  EXPECT_FALSE(link.lost());
}

TEST_F(LinkTest, PortErrorsArePlainTextsWithoutPause) {
  port.open_errors = {"CreateFile Error=2"};
  port.write_error = "WriteFile Error=6";
  port.read_error = "ReadFile Error=6";
  port.write_limit = 0;
  link.OpenPort("COM7");
  link.ReadPort(1);
  link.WritePort(1);
  link.ClosePort();
  EXPECT_THAT(sink.texts_of(report::StatusKind::kRoutine),
              ElementsAre("CreateFile Error=2", "ReadFile Error=6", "WriteFile Error=6"));
  EXPECT_THAT(Errors(), IsEmpty());
  EXPECT_EQ(ElapsedMs(), ReadTimeoutMs(1));
  EXPECT_EQ(port.opens, 1);
  EXPECT_EQ(port.closes, 1);
}

TEST_F(LinkTest, PortThatFailedToOpenReportsTheFirstWriteOnly) {
  port.open_errors = {"CreateFile Error=2"};
  port.write_error = "WriteFile Error=6";
  port.read_error = "ReadFile Error=6";
  port.write_limit = 0;
  link.OpenPort("COM9");
  link.EnterIcsp(cmd::kEnterIcsp);
  link.ExitIcsp();
  EXPECT_THAT(sink.texts(), ElementsAre("CreateFile Error=2", "WriteFile Error=6",
                                        "Sending timeout!", "Error : Sending"));
  EXPECT_TRUE(port.read_sizes.empty());
}

}  // namespace
}  // namespace quillon::link
