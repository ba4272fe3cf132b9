#include "cli/console_view.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "report/message.h"

namespace quillon::cli {
namespace {

// Per-row texts arrive by the thousand; a few a second is what a reader can
// follow.
constexpr std::int64_t kRoutineIntervalMs = 250;
constexpr int kPhaseBarWidth = 24;
// Wider than any line drawn in place, so a shorter one covers a longer one.
constexpr std::size_t kLineWidth = 72;

// A phase redraws at most this often, besides every change of percent.
constexpr std::int64_t kRedrawIntervalMs = 200;
// Phases shorter than this need no estimate of the time left.
constexpr std::int64_t kLongPhaseMs = 1000;

// Padded to one width on screen (a Japanese character takes two columns).
report::MessagePair PhaseLabel(report::Phase phase) {
  switch (phase) {
    case report::Phase::kErasing:
      return {"Erasing   ", "消去中    "};
    case report::Phase::kExecutive:
      return {"Executive ", "実行部    "};
    case report::Phase::kWriting:
      return {"Writing   ", "書込中    "};
    case report::Phase::kVerifying:
      return {"Verifying ", "検証中    "};
    case report::Phase::kReading:
      return {"Reading   ", "読出中    "};
    case report::Phase::kChecking:
      return {"Checking  ", "検査中    "};
    case report::Phase::kComparing:
      return {"Comparing ", "比較中    "};
  }
  return {};
}

report::MessagePair MemoryName(report::Memory memory) {
  switch (memory) {
    case report::Memory::kProgram:
      return {"program", "プログラムメモリ"};
    case report::Memory::kEeprom:
      return {"EEPROM", "EEPROM"};
    case report::Memory::kExecutive:
      return {"executive", "エグゼクティブメモリ"};
  }
  return {};
}

std::string StoppedTag(std::uint16_t language) {
  return report::Pick({"  stopped", "  中断"}, language);
}

// "Writing   | ######     |  40%  0.82 s  2 s left": a phase's bar as drawn;
// the time left only while it runs and when `left_ms` is given.
std::string PhaseLine(report::Phase phase, int percent, std::int64_t elapsed_ms, bool running,
                      bool ok, std::uint16_t language,
                      std::optional<std::int64_t> left_ms = std::nullopt) {
  percent = std::clamp(percent, 0, 100);
  const int filled = percent * kPhaseBarWidth / 100;
  char number[8];
  std::snprintf(number, sizeof number, "%3d%%", percent);
  std::string line = report::Pick(PhaseLabel(phase), language) + "| " +
                     std::string(static_cast<std::size_t>(filled), '#') +
                     std::string(static_cast<std::size_t>(kPhaseBarWidth - filled), ' ') + " | " +
                     number + "  " + SecondsNumber(elapsed_ms) + " s";
  if (running && left_ms) {
    const std::int64_t left = *left_ms;
    line += report::Pick({"  " + std::to_string((left + 999) / 1000) + " s left",
                          "  残り " + std::to_string((left + 999) / 1000) + " s"},
                         language);
  }
  if (!running && !ok) line += report::Pick({"  failed", "  失敗"}, language);
  return line;
}

}  // namespace

std::string SecondsNumber(std::int64_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", static_cast<double>(ms) / 1000.0);
  return text;
}

std::string PadTo(std::string text, std::size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

std::int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::optional<std::int64_t> TimeLeft::At(int percent, std::int64_t elapsed_ms) {
  if (elapsed_ms < kLongPhaseMs || percent <= 0 || percent >= 100) return std::nullopt;
  const std::int64_t counted = estimate_ms_ - (elapsed_ms - estimated_at_ms_);
  if (percent != percent_) {
    percent_ = percent;
    estimate_ms_ = elapsed_ms * (100 - percent) / percent;
    if (shown_ms_) estimate_ms_ = std::min(estimate_ms_, counted);
    estimated_at_ms_ = elapsed_ms;
  }
  const std::int64_t left = estimate_ms_ - (elapsed_ms - estimated_at_ms_);
  shown_ms_ = left;
  // Run out: no estimate rather than a wrong one.
  if (left <= 0) return std::nullopt;
  return left;
}

std::string MismatchText(const report::Mismatch& m, std::uint16_t language) {
  const int digits = m.memory == report::Memory::kEeprom ? 4 : 6;
  char address[16], read[16], expected[16];
  std::snprintf(address, sizeof address, "0x%06X", static_cast<unsigned>(m.address));
  std::snprintf(read, sizeof read, "0x%0*X", digits, static_cast<unsigned>(m.read));
  std::snprintf(expected, sizeof expected, "0x%0*X", digits, static_cast<unsigned>(m.expected));
  const report::MessagePair memory = MemoryName(m.memory);
  if (m.comparison == report::Comparison::kBlankCheck) {
    return report::Pick(
        {"not blank at " + memory.english + " address " + address + ": read " + read,
         "ブランクではありません: " + memory.japanese + " " + address + " 番地: 読出値 " + read},
        language);
  }
  return report::Pick({"verification failed at " + memory.english + " address " + address +
                           ": read " + read + ", expected " + expected,
                       "検証失敗: " + memory.japanese + " " + address + " 番地: 読出値 " + read +
                           ", 期待値 " + expected},
                      language);
}

std::string ConsoleText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

std::string FailureText(const report::Failure& failure, std::uint16_t language) {
  if (failure.mismatch) return MismatchText(*failure.mismatch, language);
  return std::string(failure.text);
}

void PhaseBar::Begin(report::Phase phase, std::int64_t now_ms) {
  *this = PhaseBar();
  phase_ = phase;
  start_ms_ = now_ms;
  end_ms_ = now_ms;
  running_ = true;
}

bool PhaseBar::Set(int percent) {
  if (!running() || percent == percent_) return false;
  percent_ = percent;
  return true;
}

void PhaseBar::End(bool ok, bool stopped, std::int64_t now_ms) {
  if (!running()) return;
  if (ok && !stopped) percent_ = 100;
  running_ = false;
  ok_ = ok;
  stopped_ = stopped;
  end_ms_ = now_ms;
}

std::string PhaseBar::Line(std::int64_t now_ms, std::uint16_t language) {
  if (!phase_) return {};
  // An ended phase keeps the time it took.
  const std::int64_t elapsed = (running_ ? now_ms : end_ms_) - start_ms_;
  if (running_) {
    return PhaseLine(*phase_, percent_, elapsed, true, true, language, left_.At(percent_, elapsed));
  }
  return PhaseLine(*phase_, percent_, elapsed, false, ok_ || stopped_, language) +
         (stopped_ ? StoppedTag(language) : "");
}

ConsoleView::ConsoleView(std::ostream& out, std::ostream& err, Verbosity verbosity,
                         bool show_progress, MsClock now_ms)
    : out_(out),
      err_(err),
      verbosity_(verbosity),
      show_progress_(show_progress && verbosity != Verbosity::kQuiet),
      phase_lines_(verbosity != Verbosity::kQuiet),
      now_ms_(now_ms ? std::move(now_ms) : MsClock(SteadyMs)) {}

void ConsoleView::ShowStatus(std::string_view text, report::StatusKind kind) {
  if (kind == report::StatusKind::kError) return ShowError(text);
  if (kind == report::StatusKind::kNotice) {
    if (verbosity_ != Verbosity::kQuiet) Print(err_, text);
    return;
  }
  if (kind == report::StatusKind::kResult) {
    if (!results_shown_) return;
    final_text_ = ConsoleText(text);
    final_is_error_ = false;
  }
  if (verbosity_ == Verbosity::kQuiet) return;
  if (verbosity_ == Verbosity::kNormal && report::IsRoutine(kind)) return;
  if (kind == report::StatusKind::kStep) {
    // A loop's first step shows; its others a few a second.
    const std::int64_t now = now_ms_();
    if (!loop_begun_ && now - last_step_ms_ < kRoutineIntervalMs) return;
    loop_begun_ = false;
    last_step_ms_ = now;
  } else {
    loop_begun_ = true;  // a step text ("Erasing...") comes before a loop
  }
  Print(out_, text);
}

void ConsoleView::ShowError(std::string_view text) {
  final_text_ = ConsoleText(text);
  final_is_error_ = true;
  if (verbosity_ == Verbosity::kQuiet) return;
  // The phase's line first, so that the error stays the last word.
  if (bar_.running()) ClosePhase(false, false);
  Print(err_, text);
}

void ConsoleView::Print(std::ostream& stream, std::string_view text) {
  ClearIndicator();
  stream << ConsoleText(text) << '\n';
  stream.flush();
}

void ConsoleView::BeginPhase(report::Phase phase) {
  ClearIndicator();
  bar_.Begin(phase, now_ms_());
  DrawPhase();
}

void ConsoleView::ClosePhase(bool ok, bool stopped) {
  if (!bar_.running()) return;
  bar_.End(ok, stopped, now_ms_());
  if (!phase_lines_) return;
  // On a terminal the bar drawn so far becomes the phase's line.
  if (show_progress_) err_ << '\r' << std::string(kLineWidth, ' ') << '\r';
  err_ << bar_.Line(now_ms_(), language_) << '\n';
  err_.flush();
  indicator_shown_ = false;
}

void ConsoleView::DrawPhase() {
  if (!show_progress_ || !bar_.running()) return;
  phase_drawn_ms_ = now_ms_();
  err_ << '\r' << PadTo(bar_.Line(phase_drawn_ms_, language_), kLineWidth);
  err_.flush();
  indicator_shown_ = true;
}

void ConsoleView::ShowProgress(long done, long total) {
  if (done == 0) loop_begun_ = true;
  // A phase with several loops shows each loop's share (the label says where
  // the work is); progress outside a phase (loading a file) draws no bar, as
  // one without a label would say nothing of what it measures.
  const bool changed = bar_.Set(report::ProgressPercent(done, total));
  if (bar_.running() && (changed || now_ms_() - phase_drawn_ms_ >= kRedrawIntervalMs)) {
    DrawPhase();
  }
}

void ConsoleView::ClearIndicator() {
  if (!indicator_shown_) return;
  err_ << '\r' << std::string(kLineWidth, ' ') << '\r';
  err_.flush();
  indicator_shown_ = false;
}

void ConsoleView::Finish() {
  ClearIndicator();
  if (verbosity_ == Verbosity::kQuiet && !final_text_.empty() &&
      (results_shown_ || final_is_error_)) {
    (final_is_error_ ? err_ : out_) << final_text_ << '\n';
  }
  final_text_.clear();
}

}  // namespace quillon::cli
