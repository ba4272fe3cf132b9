// Decides which status texts reach the screen. Repainting the status control
// for every row of a full-size device costs more than the rows themselves, so
// routine texts are painted at most once per interval; results and errors are
// painted at once, and a routine text held back is painted when the operation
// ends (Flush) or when its interval has passed (TakeDue). Texts are never
// altered, only skipped when a later one replaces them before they are due.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "report/status_sink.h"

namespace quillon::win32 {

class StatusThrottle {
 public:
  static constexpr std::uint64_t kDefaultIntervalMs = 30;

  explicit StatusThrottle(std::uint64_t interval_ms = kDefaultIntervalMs)
      : interval_ms_(interval_ms) {}

  // The text to paint now, or nothing when it is held back.
  std::optional<std::string> Offer(std::string_view text, report::StatusKind kind,
                                   std::uint64_t now_ms);
  // The held-back text once its interval has passed.
  std::optional<std::string> TakeDue(std::uint64_t now_ms);
  // The held-back text, whatever the time (end of an operation).
  std::optional<std::string> Flush(std::uint64_t now_ms);

  bool has_pending() const { return pending_.has_value(); }

 private:
  bool Due(std::uint64_t now_ms) const {
    return !painted_ || now_ms - last_paint_ms_ >= interval_ms_;
  }
  std::optional<std::string> Paint(std::string text, std::uint64_t now_ms);

  std::uint64_t interval_ms_;
  bool painted_ = false;
  std::uint64_t last_paint_ms_ = 0;
  std::optional<std::string> pending_;
};

}  // namespace quillon::win32
