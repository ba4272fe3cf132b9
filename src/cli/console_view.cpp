#include "cli/console_view.h"

#include <algorithm>
#include <cctype>
#include <chrono>

namespace quillon::cli {
namespace {

// Per-row texts arrive by the thousand; a few a second is what a reader can
// follow.
constexpr std::int64_t kRoutineIntervalMs = 250;
constexpr int kIndicatorWidth = 30;

std::int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
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
      now_ms_(now_ms ? std::move(now_ms) : MsClock(SteadyMs)) {}

void ConsoleView::ShowStatus(std::string_view text, report::StatusKind kind) {
  if (kind == report::StatusKind::kRoutine && IsPortErrorText(text)) {
    kind = report::StatusKind::kError;
  }
  const bool is_error = kind == report::StatusKind::kError;
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
  Print(is_error ? err_ : out_, text);
}

void ConsoleView::Print(std::ostream& stream, std::string_view text) {
  ClearIndicator();
  stream << ConsoleText(text) << '\n';
  stream.flush();
}

void ConsoleView::SetProgress(int percent) {
  if (!show_progress_ || percent == last_percent_) return;
  last_percent_ = percent;
  const int filled = std::max(0, std::min(percent, 100)) * kIndicatorWidth / 100;
  err_ << '\r' << '[' << std::string(static_cast<std::size_t>(filled), '#')
       << std::string(static_cast<std::size_t>(kIndicatorWidth - filled), ' ') << "] " << percent
       << '%';
  err_.flush();
  indicator_shown_ = true;
}

void ConsoleView::ClearIndicator() {
  if (!indicator_shown_) return;
  err_ << '\r' << std::string(kIndicatorWidth + 8, ' ') << '\r';
  err_.flush();
  indicator_shown_ = false;
  last_percent_ = -1;
}

void ConsoleView::Finish() {
  ClearIndicator();
  if (verbosity_ == Verbosity::kQuiet && !final_text_.empty()) {
    (final_is_error_ ? err_ : out_) << final_text_ << '\n';
  }
  final_text_.clear();
}

void ConsoleView::ToggleOption(report::Option option) {
  switch (option) {
    case report::Option::kEraseBeforeWriting:
      marks_.erase_before_writing = !marks_.erase_before_writing;
      break;
    case report::Option::kVerifyAfterWriting:
      marks_.verify_after_writing = !marks_.verify_after_writing;
      break;
    case report::Option::kEnhancedIcsp:
      marks_.enhanced_icsp = !marks_.enhanced_icsp;
      break;
    case report::Option::kWideVdd:
      break;
  }
}

}  // namespace quillon::cli
