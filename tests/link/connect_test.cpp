// The Connect handshake over the raw port.
#include "link/connect.h"

#include <gmock/gmock.h>

#include "link_fixture.h"

namespace quillon::link {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

struct VersionCase {
  Bytes reply;
  std::uint16_t version;
  const char* text;
};

class ConnectReply : public LinkTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(ConnectReply, TwoBytesGiveTheFirmwareVersion) {
  const VersionCase c = GetParam();
  port.responder = [&c](const Bytes&) { return c.reply; };
  const ConnectResult result = Connect(link, "COM4");
  EXPECT_TRUE(result.connected);
  EXPECT_EQ(result.firmware_version, c.version);
  EXPECT_EQ(ConnectStatusText(result), c.text);

  EXPECT_EQ(port.opens, 1);
  EXPECT_EQ(port.closes, 1);
  EXPECT_THAT(port.writes, ElementsAre(Bytes{0x1E}));
  EXPECT_THAT(port.read_sizes, ElementsAre(2u));
  // The shell shows the result; Connect itself has nothing to say.
  EXPECT_THAT(sink.entries, IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Versions, ConnectReply,
    ::testing::Values(VersionCase{{0x01, 0x02}, 258, "connected!\r\nfirmware=1.2"},
                      VersionCase{{0x01, 0x00}, 256, "connected!\r\nfirmware=1.0"},
                      VersionCase{{0x00, 0xFF}, 255, "connected!\r\nfirmware=0.255"},
                      VersionCase{{0x0A, 0x14}, 2580, "connected!\r\nfirmware=10.20"}),
    [](const auto& info) { return "Version" + std::to_string(info.param.version); });

TEST_F(LinkTest, ConnectWithoutReplyIsDisconnected) {
  const ConnectResult result = Connect(link, "COM1");
  EXPECT_FALSE(result.connected);
  EXPECT_EQ(ConnectStatusText(result), "disconnected!");
  EXPECT_EQ(port.closes, 1);
  // Only the read time-out: the raw port shows no link messages.
  EXPECT_THAT(sink.entries, IsEmpty());
  EXPECT_EQ(ElapsedMs(), ReadTimeoutMs(2));
  EXPECT_FALSE(link.failed());
}

TEST_F(LinkTest, ConnectWithOneByteIsDisconnected) {
  port.responder = [](const Bytes&) { return Bytes{0x01}; };
  EXPECT_FALSE(Connect(link, "COM1").connected);
}

TEST_F(LinkTest, ConnectIgnoresAnEarlierReply) {
  // Two bytes from before the handshake must not pass for the version.
  port.input = {0x01, 0x02};
  link.ReadPort(2);
  EXPECT_FALSE(Connect(link, "COM1").connected);
}

TEST_F(LinkTest, ConnectToAPortThatWillNotOpen) {
  port.open_errors = {"CreateFile Error=2"};
  port.write_error = "WriteFile Error=6";
  port.read_error = "ReadFile Error=6";
  port.write_limit = 0;
  const ConnectResult result = Connect(link, "COM3");
  EXPECT_FALSE(result.connected);
  EXPECT_THAT(sink.texts(),
              ElementsAre("CreateFile Error=2", "WriteFile Error=6", "ReadFile Error=6"));
  EXPECT_THAT(Errors(), IsEmpty());
}

}  // namespace
}  // namespace quillon::link
