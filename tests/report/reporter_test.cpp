#include "report/reporter.h"

#include <gtest/gtest.h>

#include "test_support/recording_sink.h"

namespace quillon::report {
namespace {

TEST(Language, WholeIdentifierDecides) {
  const MessagePair pair{"Not blank!", "ブランクではありません。"};
  EXPECT_EQ(Pick(pair, 0x0411), "ブランクではありません。");
  EXPECT_EQ(Pick(pair, 0x0011), "Not blank!");
  EXPECT_EQ(Pick(pair, 0x0409), "Not blank!");
}

TEST(Language, FirstLocaleVariableThatIsSetDecides) {
  EXPECT_EQ(LanguageFromLocale("ja_JP.UTF-8", "C", "C"), kJapaneseLangId);
  EXPECT_EQ(LanguageFromLocale(nullptr, "ja_JP.eucJP", nullptr), kJapaneseLangId);
  EXPECT_EQ(LanguageFromLocale("", "", "ja_JP.UTF-8"), kJapaneseLangId);
  EXPECT_EQ(LanguageFromLocale("C", nullptr, "ja_JP.UTF-8"), kEnglishLangId);
  EXPECT_EQ(LanguageFromLocale(nullptr, nullptr, "ja"), kEnglishLangId);
  EXPECT_EQ(LanguageFromLocale(nullptr, nullptr, nullptr), kEnglishLangId);
}

TEST(Reporter, ErrorsPauseOneSecondEachAndResultsDoNot) {
  test_support::RecordingSink sink;
  auto reporter = sink.MakeReporter(kJapaneseLangId);
  reporter->ShowMessagePair({"Checking Successful!", "Checking 成功!"});
  EXPECT_EQ(sink.clock.ElapsedMs(), 0);
  for (int i = 0; i < 3; ++i)
    reporter->ReportError({"Receiving timeout!", "受信タイムアウト"}, FailureKind::kLink);
  EXPECT_EQ(sink.clock.ElapsedMs(), 3000);
  EXPECT_EQ(sink.last_text(), "受信タイムアウト");
  EXPECT_EQ(sink.entries.front().kind, StatusKind::kResult);
  EXPECT_EQ(sink.entries.back().kind, StatusKind::kError);
  // The language is asked again for every message.
  sink.lang = kEnglishLangId;
  reporter->ShowMessagePair({"Checking Successful!", "Checking 成功!"});
  EXPECT_EQ(sink.last_text(), "Checking Successful!");
}

TEST(Reporter, FailuresCarryTheirKindAndPlace) {
  test_support::RecordingSink sink;
  auto reporter = sink.MakeReporter();
  // The port's own text: as plain status, without the pause.
  reporter->ReportPortError("open Error=2 (No such file or directory)");
  EXPECT_EQ(sink.clock.ElapsedMs(), 0);
  EXPECT_EQ(sink.entries.back().kind, StatusKind::kRoutine);
  const Mismatch m{Memory::kEeprom, 0x7FFC02, 0x12, 0xABCD};
  reporter->ReportMismatch(m, {"Error : Not match!", "ｴﾗｰ: 正しく書き込めません。"});
  EXPECT_EQ(sink.clock.ElapsedMs(), 1000);
  EXPECT_EQ(sink.failures, (std::vector{FailureKind::kPort, FailureKind::kMismatch}));
  ASSERT_EQ(sink.mismatches.size(), 1u);
  EXPECT_EQ(sink.mismatches[0].address, 0x7FFC02u);
  // Steps 0 to 4 of a loop: the bar by the last index, the counts by steps.
  for (long step = 0; step <= 4; ++step) reporter->Progress(step, 4);
  EXPECT_EQ(sink.progress, (std::vector{0, 25, 50, 75, 100}));
  EXPECT_EQ(sink.counts.front(), (std::pair{0L, 5L}));
  EXPECT_EQ(sink.counts.back(), (std::pair{4L, 5L}));
}

TEST(Progress, SinglePrecisionTruncated) {
  EXPECT_EQ(ProgressPercent(0, 511), 0);
  EXPECT_EQ(ProgressPercent(511, 511), 100);
  EXPECT_EQ(ProgressPercent(1, 3), 33);
  EXPECT_EQ(ProgressPercent(2, 3), 66);
  // 53 / 100 * 100 in single precision is 52.999996.
  EXPECT_EQ(ProgressPercent(53, 100), 52);
  EXPECT_EQ(ProgressPercent(0, 0), 100);
}

TEST(ManualClock, WrapsAtMidnightAndCountsSleeps) {
  ManualClock clock({23, 59, 59});
  clock.SleepMs(1500);
  const LocalTime t = clock.Now();
  EXPECT_EQ(t.hour, 0);
  EXPECT_EQ(t.minute, 0);
  EXPECT_EQ(t.second, 0);
  EXPECT_EQ(clock.ElapsedMs(), 1500);
}

}  // namespace
}  // namespace quillon::report
