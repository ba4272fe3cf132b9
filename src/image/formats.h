// Number and clock formats shared by status texts, listings and HEX records.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "report/clock.h"

namespace quillon::image {

// Four upper-case hex digits of v & 0xFFFF (negative values as 16-bit two's
// complement, larger values by their last four digits).
std::string Hex4(std::int64_t v);

// The run of hex digits at the start of s, stopping at the first other
// character; 0 when s does not start with one. Low 16 bits only.
std::uint16_t HexValue(std::string_view s);

inline constexpr int LowByte(std::int64_t v) {
  return static_cast<int>(v & 0xFF);
}
inline constexpr int HighByte(std::int64_t v) {
  return static_cast<int>((v >> 8) & 0xFF);
}
inline constexpr int UpperByte(std::int64_t v) {
  return static_cast<int>((v >> 16) & 0xFF);
}

// Local time as HH:MM:SS.
std::string TimeOfDay(report::Clock& clock);
std::string FormatTime(report::LocalTime t);

// Time from start to end (both HH:MM:SS) as HH:MM:SS, wrapping past midnight.
std::string ElapsedTime(std::string_view start, std::string_view end);

}  // namespace quillon::image
