// Verification and the step helpers the quad and block loops share. Blank
// parts of the image are never read back: a success proves that the file's
// data are in the part, not that the rest of the part is blank.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "icsp/session.h"
#include "image/memory_image.h"

namespace quillon::icsp {

// Compares quads 0 to `last_quad` of a code region from program address
// `base` with `units` (unit = offset from base); true when all matched.
// `held_only`: only the words the file holds are compared, not the blank
// rest of their quad. The part is in ICSP mode.
bool VerifyCodeQuads(Session& session, std::uint32_t base, const std::vector<std::uint16_t>& units,
                     long last_quad, std::string_view status_text, std::string_view tag,
                     bool held_only = false);
// Reads `steps` quads of a code region from program address `base` into
// `into`, one step each.
void ReadCodeQuads(Session& session, std::uint32_t base, long steps, image::UnitBuffer& into,
                   std::string_view status_text);

// Reports a differing unit and notes Outcome::kProblem; when the link is
// gone the values are stale, so nothing is reported. Always false.
bool Mismatch(Session& session, std::string_view tag, std::uint32_t address, std::uint16_t read,
              std::uint16_t expected, const report::Mismatch& typed);

// Progress bar and the per-step status text (`text` + Hex4).
void ShowStep(Session& session, std::string_view text, long step, long last, std::uint32_t shown);
// ShowStep at the start of a row or block the operation may stop before:
// false (nothing shown) when it stops there. `address` names the place in
// the stop message where `shown` is not a program address.
bool BeginStep(Session& session, std::string_view text, long step, long last, std::uint32_t shown,
               std::optional<std::uint32_t> address = std::nullopt);

inline constexpr std::uint32_t kBlankInstruction = 0xFFFFFF;

// Six upper-case hex digits of a program address.
std::string Hex6(std::uint32_t address);

// The whole instruction whose half is units[unit].
inline std::uint32_t WholeInstruction(const std::uint16_t* units, std::uint32_t unit) {
  unit &= ~1u;
  return units[unit] | static_cast<std::uint32_t>(units[unit + 1] & 0xFF) << 16;
}
// True when all `count` instructions from instruction `first` (or words from
// `first`) are blank.
bool InstructionsBlank(const std::vector<std::uint16_t>& units, std::size_t first,
                       std::size_t count);
bool WordsBlank(const std::vector<std::uint16_t>& words, std::size_t first, std::size_t count);

}  // namespace quillon::icsp
