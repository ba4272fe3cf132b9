// The console's view: results and errors as they come, per-row texts on
// request, and one labelled progress bar per phase on standard error
// (redrawn on a terminal, one line per phase elsewhere).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "app/front_end.h"
#include "report/status_sink.h"

namespace quillon::cli {

enum class Verbosity { kQuiet, kNormal, kVerbose };

// Status texts as lines for a console: CR LF becomes a newline.
std::string ConsoleText(std::string_view text);

// "0.84": milliseconds as seconds, to the hundredth.
std::string SecondsNumber(std::int64_t ms);
// Columns, not bytes: a UTF-8 text pads a little more than needed, never less.
std::string PadTo(std::string text, std::size_t width);

// The time a running phase still needs: estimated from its pace when the
// percent changes, counted down in between and never up, even when a slower
// stretch (or a loop starting again within the phase) would estimate more.
class TimeLeft {
 public:
  // Nothing for phases shorter than a second, or at 0 and 100 percent.
  std::optional<std::int64_t> At(int percent, std::int64_t elapsed_ms);

 private:
  int percent_ = -1;
  std::int64_t estimate_ms_ = 0;
  std::int64_t estimated_at_ms_ = 0;
  std::optional<std::int64_t> shown_ms_;
};

// "verification failed at program address 0x000000: read 0x000100, ..."
std::string MismatchText(const report::Mismatch& mismatch, std::uint16_t language);

// A failure as the console words it: a difference in readable terms,
// everything else in the engine's own text.
std::string FailureText(const report::Failure& failure, std::uint16_t language);

// One phase's bar, as the single view draws it and each port of a gang.
class PhaseBar {
 public:
  void Begin(report::Phase phase, std::int64_t now_ms);
  // Ignored outside a running phase; false when nothing changed.
  bool Set(int percent);
  void End(bool ok, bool stopped, std::int64_t now_ms);
  // The bar as drawn now: running with the time left, or how it ended.
  std::string Line(std::int64_t now_ms, std::uint16_t language);
  bool running() const { return phase_ && running_; }
  const std::optional<report::Phase>& phase() const { return phase_; }

 private:
  std::optional<report::Phase> phase_;
  int percent_ = 0;
  std::int64_t start_ms_ = 0;
  std::int64_t end_ms_ = 0;
  bool running_ = false;
  bool ok_ = true;
  bool stopped_ = false;
  TimeLeft left_;
};

// Milliseconds of the steady clock: the console's default time source.
std::int64_t SteadyMs();

class ConsoleView : public app::StatusView {
 public:
  using MsClock = std::function<std::int64_t()>;

  // Results go to `out`, errors and the progress indicator to `err`.
  ConsoleView(std::ostream& out, std::ostream& err, Verbosity verbosity, bool show_progress,
              MsClock now_ms = nullptr);

  void ShowStatus(std::string_view text, report::StatusKind kind) override;
  void ShowFailure(const report::Failure& failure) override {
    ShowError(FailureText(failure, language_));
  }
  // The console draws from the counts alone.
  void SetProgress(int) override {}
  void ShowProgress(long done, long total) override;
  void BeginPhase(report::Phase phase) override;
  void EndPhase(report::Phase phase, bool ok) override {
    if (bar_.phase() == phase) ClosePhase(ok, false);
  }
  // Stopped on request is not a failure: the line says which it was.
  void StopPhase(report::Phase phase) override {
    if (bar_.phase() == phase) ClosePhase(true, true);
  }
  // Quiet mode prints the last result or error here; the indicator is cleared.
  void Finish();

  // Off: result texts are left to the caller's summary (errors still show).
  void set_results_shown(bool shown) { results_shown_ = shown; }
  void set_language(std::uint16_t language) { language_ = language; }

  bool IsChecked(report::Option option) const override { return marks_.IsChecked(option); }
  report::FixedOptions& marks() { return marks_; }

 private:
  void Print(std::ostream& stream, std::string_view text);
  void ShowError(std::string_view text);
  void ClearIndicator();
  void DrawPhase();
  // The phase ends: its line replaces the bar.
  void ClosePhase(bool ok, bool stopped);

  std::ostream& out_;
  std::ostream& err_;
  Verbosity verbosity_;
  bool show_progress_;
  bool phase_lines_;
  MsClock now_ms_;
  bool results_shown_ = true;
  std::uint16_t language_ = 0x0409;
  PhaseBar bar_;
  std::int64_t phase_drawn_ms_ = 0;
  report::FixedOptions marks_;
  std::string final_text_;
  bool final_is_error_ = false;
  bool indicator_shown_ = false;
  std::int64_t last_step_ms_ = 0;
  bool loop_begun_ = true;  // the next step text is a loop's first
};

}  // namespace quillon::cli
