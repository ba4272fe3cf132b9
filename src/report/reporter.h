// The one way the core reports: status texts, bilingual results and errors
// with their pause, and the progress bar.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "report/clock.h"
#include "report/message.h"
#include "report/status_sink.h"

namespace quillon::report {

// Asked again for every message; nothing is cached.
using LanguageSource = std::function<std::uint16_t()>;

class Reporter {
 public:
  Reporter(StatusSink& sink, Clock& clock, LanguageSource language);

  // A plain text, the same in both languages (start texts, per-row texts,
  // port-level errors). No pause.
  void ShowStatus(std::string_view text);
  // A result or progress message in the user's language. No pause.
  void ShowMessagePair(const MessagePair& pair);
  // A text that is neither a step nor the result (StatusKind::kNotice).
  void ShowNotice(const MessagePair& pair);
  // A loop's step text ("Writing:Prg Adr 0040"). No pause.
  void ShowStep(std::string_view text);
  // A failure: shown, then the caller is held for one second (a window's
  // status line would otherwise be overwritten before it can be read).
  void ReportError(const MessagePair& pair, FailureKind kind,
                   std::optional<std::uint32_t> address = std::nullopt);
  // A difference a verification or blank check found, with its text.
  void ReportMismatch(const Mismatch& mismatch, const MessagePair& pair);
  // The port's own error text ("open Error=2 (...)"): the same in both
  // languages and, as the window has always shown it, without a pause.
  void ReportPortError(std::string_view text);
  // A console keeps every error on screen and needs no pause.
  void set_error_pause(bool pause) { error_pause_ = pause; }
  // Step `done` of a loop whose last step is `last`: the bar at
  // trunc(done / last * 100) in single precision, and the counts.
  void Progress(long done, long last);
  void Pump() { sink_.Pump(); }

  const std::string& Pick(const MessagePair& pair) const;
  StatusSink& sink() { return sink_; }
  Clock& clock() { return clock_; }

 private:
  void ShowFailure(const Failure& failure);

  StatusSink& sink_;
  Clock& clock_;
  LanguageSource language_;
  bool error_pause_ = true;
};

// trunc(done / total * 100) computed in single precision; a loop with a
// single step (total 0) counts as complete rather than dividing by zero.
int ProgressPercent(long done, long total);

}  // namespace quillon::report
