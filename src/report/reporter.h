// The one way the core reports: status texts, bilingual results and errors
// with their pause, and the progress bar.
#pragma once

#include <cstdint>
#include <functional>
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
  // A failure: shown, then the caller is held for one second (a window's
  // status line would otherwise be overwritten before it can be read).
  void ReportError(const MessagePair& pair);
  // A console keeps every error on screen and needs no pause.
  void set_error_pause(bool pause) { error_pause_ = pause; }
  // Progress bar at trunc(done / total * 100) in single precision.
  void Progress(long done, long total);
  void Pump() { sink_.Pump(); }

  const std::string& Pick(const MessagePair& pair) const;
  StatusSink& sink() { return sink_; }
  Clock& clock() { return clock_; }

 private:
  StatusSink& sink_;
  Clock& clock_;
  LanguageSource language_;
  bool error_pause_ = true;
};

// trunc(done / total * 100) computed in single precision; a loop with a
// single step (total 0) counts as complete rather than dividing by zero.
int ProgressPercent(long done, long total);

}  // namespace quillon::report
