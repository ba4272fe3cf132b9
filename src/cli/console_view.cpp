#include "cli/console_view.h"

#include <algorithm>
#include <cctype>
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

std::string Padded(std::string line) {
  // Columns, not bytes: a UTF-8 label is narrower on screen than in bytes,
  // so this may pad a little more than needed, never less.
  if (line.size() < kLineWidth) line.append(kLineWidth - line.size(), ' ');
  return line;
}
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

std::string Seconds(std::int64_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f s", static_cast<double>(ms) / 1000.0);
  return text;
}

// Per-row texts are a fixed text followed by the step's hexadecimal address;
// the fixed part tells one loop from the next.
std::string_view LoopKey(std::string_view text) {
  while (!text.empty() && std::isxdigit(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  return text;
}

}  // namespace

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

std::string StoppedTag(std::uint16_t language) {
  return report::Pick({"  stopped", "  中断"}, language);
}

std::string PhaseLine(report::Phase phase, int percent, std::int64_t elapsed_ms, bool running,
                      bool ok, std::uint16_t language, std::optional<std::int64_t> left_ms) {
  percent = std::clamp(percent, 0, 100);
  const int filled = percent * kPhaseBarWidth / 100;
  char number[8];
  std::snprintf(number, sizeof number, "%3d%%", percent);
  std::string line = report::Pick(PhaseLabel(phase), language) + "| " +
                     std::string(static_cast<std::size_t>(filled), '#') +
                     std::string(static_cast<std::size_t>(kPhaseBarWidth - filled), ' ') + " | " +
                     number + "  " + Seconds(elapsed_ms);
  if (running && left_ms) {
    const std::int64_t left = *left_ms;
    line += report::Pick({"  " + std::to_string((left + 999) / 1000) + " s left",
                          "  残り " + std::to_string((left + 999) / 1000) + " s"},
                         language);
  }
  if (!running && !ok) line += report::Pick({"  failed", "  失敗"}, language);
  return line;
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

bool IsPortErrorText(std::string_view text) {
  const std::size_t at = text.find(" Error=");
  return at != std::string_view::npos && at > 0 && text.find('\n') == std::string_view::npos;
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
  if (kind == report::StatusKind::kRoutine && IsPortErrorText(text)) {
    kind = report::StatusKind::kError;
  }
  const bool is_error = kind == report::StatusKind::kError;
  // The engine's coded mismatch text gives way to the readable one.
  std::string readable;
  if (is_error && !pending_mismatch_.empty()) {
    readable = std::move(pending_mismatch_);
    pending_mismatch_.clear();
    text = readable;
  }
  if (kind == report::StatusKind::kNotice) {
    if (verbosity_ != Verbosity::kQuiet) Print(err_, text);
    return;
  }
  if (kind == report::StatusKind::kResult && !results_shown_) return;
  if (kind != report::StatusKind::kRoutine) {
    final_text_ = ConsoleText(text);
    final_is_error_ = is_error;
  }
  switch (verbosity_) {
    case Verbosity::kQuiet:
      return;
    case Verbosity::kNormal:
      if (kind == report::StatusKind::kRoutine) return;
      break;
    case Verbosity::kVerbose:
      if (kind == report::StatusKind::kRoutine) {
        // Step texts ("Erasing...") always show; a loop's texts a few a second.
        const std::int64_t now = now_ms_();
        const std::string key(LoopKey(text));
        if (key == last_routine_key_ && now - last_routine_ms_ < kRoutineIntervalMs) return;
        last_routine_ms_ = now;
        last_routine_key_ = key;
      }
      break;
  }
  if (is_error && phase_ && !phase_closed_) {
    // The phase's line first, so that the error stays the last word.
    PrintPhaseLine(false);
    phase_closed_ = true;
  }
  Print(is_error ? err_ : out_, text);
}

void ConsoleView::Print(std::ostream& stream, std::string_view text) {
  ClearIndicator();
  stream << ConsoleText(text) << '\n';
  stream.flush();
}

void ConsoleView::BeginPhase(report::Phase phase) {
  ClearIndicator();
  phase_ = phase;
  phase_start_ms_ = now_ms_();
  phase_percent_ = 0;
  phase_closed_ = false;
  time_left_.Reset();
  DrawPhase();
}

void ConsoleView::EndPhase(report::Phase phase, bool ok) {
  if (!phase_ || *phase_ != phase) return;
  if (!phase_closed_) {
    if (ok) phase_percent_ = 100;
    PrintPhaseLine(ok);
  }
  phase_.reset();
  phase_closed_ = false;
}

// Stopped on request is not a failure: the line says which it was.
void ConsoleView::StopPhase(report::Phase phase) {
  if (!phase_ || *phase_ != phase) return;
  if (!phase_closed_ && phase_lines_) {
    if (show_progress_) err_ << '\r' << std::string(kLineWidth, ' ') << '\r';
    err_ << PhaseLine(*phase_, phase_percent_, now_ms_() - phase_start_ms_, false, true, language_)
         << StoppedTag(language_) << '\n';
    err_.flush();
    indicator_shown_ = false;
  }
  phase_.reset();
  phase_closed_ = false;
}

void ConsoleView::PrintPhaseLine(bool ok) {
  if (!phase_lines_) return;
  const std::string line =
      PhaseLine(*phase_, phase_percent_, now_ms_() - phase_start_ms_, false, ok, language_);
  // On a terminal the bar drawn so far becomes the phase's line.
  if (show_progress_) err_ << '\r' << std::string(kLineWidth, ' ') << '\r';
  err_ << line << '\n';
  err_.flush();
  indicator_shown_ = false;
}

void ConsoleView::DrawPhase() {
  if (!show_progress_ || !phase_) return;
  phase_drawn_ms_ = now_ms_();
  const std::int64_t elapsed = phase_drawn_ms_ - phase_start_ms_;
  err_ << '\r'
       << Padded(PhaseLine(*phase_, phase_percent_, elapsed, true, true, language_,
                           time_left_.At(phase_percent_, elapsed)));
  err_.flush();
  indicator_shown_ = true;
}

void ConsoleView::ReportMismatch(const report::Mismatch& mismatch) {
  pending_mismatch_ = MismatchText(mismatch, language_);
}

void ConsoleView::SetProgress(int percent) {
  if (phase_) {
    if (phase_closed_) return;
    // A phase with several loops shows each loop's share; the bar may start
    // again within the phase, but the label says where the work is.
    const bool changed = percent != phase_percent_;
    phase_percent_ = percent;
    if (changed || now_ms_() - phase_drawn_ms_ >= kRedrawIntervalMs) DrawPhase();
  }
  // Progress outside a phase (loading a file, a step of its own) draws no
  // bar: one without a label would say nothing of what it measures.
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
