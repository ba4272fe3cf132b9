#include "image/formats.h"

#include <cstdio>

namespace quillon::image {

std::string Hex4(std::int64_t v) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(v & 0xFFFF));
  return text;
}

std::uint16_t HexValue(std::string_view s) {
  std::uint32_t value = 0;
  for (char c : s) {
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else if (c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else
      break;
    value = ((value << 4) | static_cast<std::uint32_t>(digit)) & 0xFFFF;
  }
  return static_cast<std::uint16_t>(value);
}

std::string FormatTime(report::LocalTime t) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", t.hour % 100, t.minute % 100, t.second % 100);
  return text;
}

std::string TimeOfDay(report::Clock& clock) {
  return FormatTime(clock.Now());
}

namespace {

int Digits(std::string_view text, std::size_t at) {
  int value = 0;
  for (std::size_t i = at; i < at + 2 && i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') break;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

int Seconds(std::string_view text) {
  return Digits(text, 0) * 3600 + Digits(text, 3) * 60 + Digits(text, 6);
}

}  // namespace

std::string ElapsedTime(std::string_view start, std::string_view end) {
  int d = Seconds(end) - Seconds(start);
  if (d < 0) d += 86400;
  const int hours = d / 3600;
  const int minutes = (d - hours * 3600) / 60;
  const int seconds = d - hours * 3600 - minutes * 60;
  return FormatTime(report::LocalTime{hours, minutes, seconds});
}

}  // namespace quillon::image
