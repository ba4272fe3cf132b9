// Every bilingual message of the link in both languages. The whole language
// identifier decides: 0x0011 (Japanese, no region) shows English.
#include <gmock/gmock.h>

#include "icsp/session.h"
#include "link/connect.h"
#include "link_fixture.h"

namespace quillon::link {
namespace {

using ::testing::ElementsAre;

struct Language {
  std::uint16_t id;
  bool japanese;
};

class LinkLanguage : public LinkTest, public ::testing::WithParamInterface<Language> {
 protected:
  void SetUp() override { sink.lang = GetParam().id; }
  const char* Text(const char* english, const char* japanese) const {
    return GetParam().japanese ? japanese : english;
  }
};

TEST_P(LinkLanguage, SendMessages) {
  port.write_limit = 0;
  link.SendCommand(cmd::kWait);
  EXPECT_THAT(Errors(), ElementsAre(Text("Sending timeout!", "送信タイムアウト"),
                                    Text("Error : Sending", "送信エラー")));
}

TEST_P(LinkLanguage, ReceiveMessages) {
  port.input = {0x00};
  link.ReceiveReply(2);
  link.ReceiveReply(2);
  EXPECT_THAT(Errors(), ElementsAre(Text("Error : Receiving", "受信エラー"),
                                    Text("Receiving timeout!", "受信タイムアウト"),
                                    Text("Error : Receiving", "受信エラー")));
}

TEST_P(LinkLanguage, ExecutiveAndLinkFailure) {
  port.responder = [](const Bytes& w) {
    return w[0] == cmd::kExecSanity ? Bytes{0, 0, 0, 0} : Bytes{0x00};
  };
  report::FixedOptions options;
  icsp::Session session{port, *reporter, options};
  session.BeginOperation();
  EnterEnhanced(session.link(), 0);
  session.FinishWith({"Writing Successful!", "Writing 成功!"});
  const report::MessagePair failure = icsp::LinkFailureMessage();
  EXPECT_THAT(Errors(), ElementsAre(Text("Error : Connect failed!", "ｴﾗｰ : 接続失敗!"),
                                    Text(failure.english.c_str(), failure.japanese.c_str())));
}

TEST_P(LinkLanguage, ConnectTextsAreTheSameInEveryLanguage) {
  port.responder = [](const Bytes&) { return Bytes{0x01, 0x02}; };
  EXPECT_EQ(ConnectStatusText(Connect(link, "COM1")), "connected!\r\nfirmware=1.2");
  EXPECT_EQ(ConnectStatusText(ConnectResult{}), "disconnected!");
}

INSTANTIATE_TEST_SUITE_P(Ids, LinkLanguage,
                         ::testing::Values(Language{0x0411, true}, Language{0x0011, false},
                                           Language{0x0409, false}),
                         [](const auto& info) { return "Lang" + std::to_string(info.param.id); });

}  // namespace
}  // namespace quillon::link
