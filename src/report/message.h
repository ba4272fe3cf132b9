// Bilingual texts and the language rule.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quillon::report {

// An English text and its Japanese counterpart (UTF-8). Front-ends convert the
// Japanese member to whatever their display needs.
struct MessagePair {
  std::string english;
  std::string japanese;
};

// Appends the same tail to both members (numbers, times, report details).
inline MessagePair operator+(MessagePair pair, std::string_view tail) {
  pair.english += tail;
  pair.japanese += tail;
  return pair;
}

// Joins two pairs language by language.
inline MessagePair operator+(MessagePair pair, const MessagePair& tail) {
  pair.english += tail.english;
  pair.japanese += tail.japanese;
  return pair;
}

// A pair whose two members are the same text.
inline MessagePair SameText(std::string_view text) {
  return MessagePair{std::string(text), std::string(text)};
}

inline constexpr std::uint16_t kJapaneseLangId = 0x0411;
inline constexpr std::uint16_t kEnglishLangId = 0x0409;

// The whole 16-bit identifier is compared, not the primary language alone.
inline const std::string& Pick(const MessagePair& pair, std::uint16_t lang_id) {
  return lang_id == kJapaneseLangId ? pair.japanese : pair.english;
}

// Language identifier from locale variables: the first one that is set (and
// not empty) decides; "ja_JP..." counts as Japanese. Pass nullptr for unset.
std::uint16_t LanguageFromLocale(const char* lc_all, const char* lc_messages, const char* lang);

inline constexpr std::string_view kLineBreak = "\r\n";

}  // namespace quillon::report
