#include "win32/status_throttle.h"

namespace quillon::win32 {

std::optional<std::string> StatusThrottle::Paint(std::string text, std::uint64_t now_ms) {
  pending_.reset();
  painted_ = true;
  last_paint_ms_ = now_ms;
  return text;
}

std::optional<std::string> StatusThrottle::Offer(std::string_view text, report::StatusKind kind,
                                                 std::uint64_t now_ms) {
  if (!report::IsRoutine(kind) || Due(now_ms)) return Paint(std::string(text), now_ms);
  pending_ = std::string(text);
  return std::nullopt;
}

std::optional<std::string> StatusThrottle::TakeDue(std::uint64_t now_ms) {
  if (!pending_ || !Due(now_ms)) return std::nullopt;
  return Paint(std::move(*pending_), now_ms);
}

std::optional<std::string> StatusThrottle::Flush(std::uint64_t now_ms) {
  if (!pending_) return std::nullopt;
  return Paint(std::move(*pending_), now_ms);
}

}  // namespace quillon::win32
