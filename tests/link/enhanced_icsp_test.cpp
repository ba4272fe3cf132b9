// Starting the programming executive: the attempt sequence, where it stops,
// and what counts as the executive's answer.
#include <gmock/gmock.h>

#include "link_fixture.h"

namespace quillon::link {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

// A board whose target runs the executive from the `ready_at`-th entry
// command (0x8C or 0x8D) on; 0 means never. Every other command is
// acknowledged with one byte.
std::function<Bytes(const Bytes&)> Board(int ready_at) {
  auto entries = std::make_shared<int>(0);
  return [entries, ready_at](const Bytes& w) -> Bytes {
    if (w[0] == cmd::kEnterEnhanced30F || w[0] == cmd::kEnterEnhanced) ++*entries;
    if (w[0] == cmd::kExecSanity) {
      const bool ready = ready_at != 0 && *entries >= ready_at;
      return {0x00, 0x00, 0x00, static_cast<std::uint8_t>(ready ? 2 : 0)};
    }
    return {0x00};
  };
}

// Command bytes of attempts 1 to `attempts`, after the 0x0C/0x0D, 0x20 frame.
Bytes ExpectedCommands(int family_code, int attempts) {
  Bytes out{static_cast<std::uint8_t>(family_code == 0 ? 0x0C : 0x0D), 0x20};
  for (int a = 1; a <= attempts; ++a) {
    if (family_code == 0) {
      out.push_back(0x8C);
      if (a > 5) out.push_back(0x8F);
      out.insert(out.end(), {0x80, 0x80});
    } else {
      out.insert(out.end(), {0x8D, 0x80});
    }
  }
  return out;
}

TEST_F(LinkTest, Dspic30fExecutiveThatNeverAnswers) {
  port.responder = Board(0);
  EXPECT_FALSE(EnterEnhanced(link, 0));
  const Bytes plain{0x8C, 0x80, 0x80};
  const Bytes with_alt{0x8C, 0x8F, 0x80, 0x80};
  Bytes expected{0x0C, 0x20};
  for (int a = 1; a <= 5; ++a) expected.insert(expected.end(), plain.begin(), plain.end());
  for (int a = 6; a <= 10; ++a) expected.insert(expected.end(), with_alt.begin(), with_alt.end());
  EXPECT_EQ(CommandBytes(), expected);
  EXPECT_THAT(Errors(), ElementsAre("Error : Connect failed!"));
  EXPECT_EQ(ElapsedMs(), 1000);
  // Block replies would all be stale: the operation has failed.
  EXPECT_TRUE(link.failed());
  EXPECT_FALSE(link.lost());
}

TEST_F(LinkTest, OtherFamiliesCheckOncePerAttempt) {
  port.responder = Board(0);
  EXPECT_FALSE(EnterEnhanced(link, 1));
  EXPECT_EQ(CommandBytes(), ExpectedCommands(1, 10));
  std::vector<std::size_t> sizes_expected{1, 1};
  for (int a = 0; a < 10; ++a) sizes_expected.insert(sizes_expected.end(), {1, 4});
  EXPECT_THAT(port.read_sizes, ElementsAreArray(sizes_expected));
  EXPECT_THAT(Errors(), ElementsAre("Error : Connect failed!"));
}

struct Success {
  int family_code;
  int attempt;
};

class EnhancedEntrySuccess : public LinkTest, public ::testing::WithParamInterface<Success> {};

TEST_P(EnhancedEntrySuccess, StopsAtTheAttemptThatAnswers) {
  const Success s = GetParam();
  port.responder = Board(s.attempt);
  EXPECT_TRUE(EnterEnhanced(link, s.family_code));
  EXPECT_EQ(CommandBytes(), ExpectedCommands(s.family_code, s.attempt));
  EXPECT_THAT(sink.entries, IsEmpty());
  EXPECT_FALSE(link.failed());
}

INSTANTIATE_TEST_SUITE_P(Attempts, EnhancedEntrySuccess,
                         ::testing::Values(Success{0, 1}, Success{0, 5}, Success{0, 6},
                                           Success{0, 10}, Success{1, 1}, Success{3, 7},
                                           Success{1, 10}),
                         [](const auto& info) {
                           return "Family" + std::to_string(info.param.family_code) + "Attempt" +
                                  std::to_string(info.param.attempt);
                         });

TEST_F(LinkTest, Dspic30fJudgesOnlyTheSecondSanityAnswer) {
  // The executive answers the first check of each attempt, never the second.
  auto checks = std::make_shared<int>(0);
  port.responder = [checks](const Bytes& w) -> Bytes {
    if (w[0] != cmd::kExecSanity) return {0x00};
    return {0x00, 0x00, 0x00, static_cast<std::uint8_t>((*checks)++ % 2 == 0 ? 2 : 0)};
  };
  EXPECT_FALSE(EnterEnhanced(link, 0));
  EXPECT_EQ(*checks, 20);
  EXPECT_THAT(Errors(), ElementsAre("Error : Connect failed!"));
}

TEST_F(LinkTest, LostSanityReplyIsNotMistakenForAnEarlierAnswer) {
  // An earlier exchange left "executive running" in the receive buffer.
  port.input = {0x00, 0x00, 0x00, 0x02};
  link.ReceiveReply(4);
  link.BeginOperation();
  port.responder = [](const Bytes& w) -> Bytes {
    return w[0] == cmd::kExecSanity ? Bytes{} : Bytes{0x00};
  };
  EXPECT_FALSE(EnterEnhanced(link, 1));
  EXPECT_EQ(CommandBytes(), ExpectedCommands(1, 1));
  EXPECT_THAT(Errors(), ElementsAre("Receiving timeout!", "Error : Receiving"));
  EXPECT_TRUE(link.failed());
  EXPECT_TRUE(link.lost());
}

}  // namespace
}  // namespace quillon::link
