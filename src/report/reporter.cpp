#include "report/reporter.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <thread>

namespace quillon::report {

std::uint16_t LanguageFromLocale(const char* lc_all, const char* lc_messages, const char* lang) {
  for (const char* value : {lc_all, lc_messages, lang}) {
    if (value != nullptr && *value != '\0') {
      return std::string_view(value).starts_with("ja_JP") ? kJapaneseLangId : kEnglishLangId;
    }
  }
  return kEnglishLangId;
}

Reporter::Reporter(StatusSink& sink, Clock& clock, LanguageSource language)
    : sink_(sink), clock_(clock), language_(std::move(language)) {}

const std::string& Reporter::Pick(const MessagePair& pair) const {
  return report::Pick(pair, language_ ? language_() : kEnglishLangId);
}

void Reporter::ShowStatus(std::string_view text) {
  sink_.ShowStatus(text, StatusKind::kRoutine);
}

void Reporter::ShowMessagePair(const MessagePair& pair) {
  sink_.ShowStatus(Pick(pair), StatusKind::kResult);
}

void Reporter::ShowNotice(const MessagePair& pair) {
  sink_.ShowStatus(Pick(pair), StatusKind::kNotice);
}

void Reporter::ShowStep(std::string_view text) {
  sink_.ShowStatus(text, StatusKind::kStep);
}

void Reporter::ShowFailure(const Failure& failure) {
  sink_.ShowFailure(failure);
  if (error_pause_) clock_.SleepMs(1000);
}

void Reporter::ReportError(const MessagePair& pair, FailureKind kind,
                           std::optional<std::uint32_t> address) {
  ShowFailure({kind, Pick(pair), address, std::nullopt});
}

void Reporter::ReportMismatch(const Mismatch& mismatch, const MessagePair& pair) {
  ShowFailure({FailureKind::kMismatch, Pick(pair), mismatch.address, mismatch});
}

void Reporter::ReportPortError(std::string_view text) {
  sink_.ShowFailure({FailureKind::kPort, text, std::nullopt, std::nullopt});
}

int ProgressPercent(long done, long total) {
  if (total <= 0) return 100;
  const float percent = static_cast<float>(done) / static_cast<float>(total) * 100.0f;
  return static_cast<int>(std::trunc(percent));
}

void Reporter::Progress(long done, long last) {
  sink_.SetProgress(ProgressPercent(done, last));
  // As counts: `done` steps behind, of `last + 1`.
  sink_.ShowProgress(done, last + 1);
}

LocalTime SystemClock::Now() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
#if defined(_WIN32)
  localtime_s(&parts, &now);
#else
  localtime_r(&now, &parts);
#endif
  return LocalTime{parts.tm_hour, parts.tm_min, parts.tm_sec};
}

void SystemClock::SleepMs(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

LocalTime ManualClock::Now() {
  const std::int64_t seconds = (ms_ / 1000) % 86400;
  return LocalTime{static_cast<int>(seconds / 3600), static_cast<int>(seconds / 60 % 60),
                   static_cast<int>(seconds % 60)};
}

}  // namespace quillon::report
