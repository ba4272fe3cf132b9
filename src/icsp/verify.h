// Verification: reads back what a write put into the part and compares it
// with the image, stopping at the first difference. Parts of the image that
// are blank are never read, so a success proves that the file's data are in
// the part, not that the rest of the part is blank.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "icsp/session.h"
#include "image/memory_image.h"

namespace quillon::icsp {

// Verification returns true when every compared unit matched. A mismatch is
// reported ("Error : Not match!" with the region tag, address, value read
// and value expected) and notes Outcome::kProblem. With the link lost the
// buffers hold stale bytes, so nothing is reported and the result is false.
// Blank quads of the image are not read; `held_only`: only the words the
// file holds (not blank in the image) are compared, not the blank rest of
// their quad or block. The part is in ICSP mode.
//
// Quads 0 to `last_quad` of a code region from program address `base`,
// compared with `units` (laid out like the image, unit = offset from base).
// Shared by program and executive memory.
bool VerifyCodeQuads(Session& session, std::uint32_t base, const std::vector<std::uint16_t>& units,
                     long last_quad, std::string_view status_text, std::string_view tag,
                     bool held_only = false);
// Reads `steps` quads of a code region from program address `base` into
// `into` (unit = offset from base), one step each.
void ReadCodeQuads(Session& session, std::uint32_t base, long steps, image::UnitBuffer& into,
                   std::string_view status_text);

// Reports the first differing unit ("Error : Not match!" + tag, address,
// value read, value expected) and notes Outcome::kProblem; when the link is
// gone the values are stale, so nothing is reported. Always false.
// `typed` goes to the front-end first, in the part's own terms.
bool Mismatch(Session& session, std::string_view tag, std::uint32_t address, std::uint16_t read,
              std::uint16_t expected, const report::Mismatch& typed);

// Progress bar and the per-step status text ("Writing:Prg Adr " + Hex4).
void ShowStep(Session& session, std::string_view text, long step, long last, std::uint32_t shown);
// ShowStep at the start of a row or block the operation may stop before:
// false (nothing shown) when it stops there on request. Where `shown` is not
// a program address (an instruction number, an EEPROM offset), `address`
// gives it for the stop message, in the unit of mismatch and blank-check
// reports and of a linker map.
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
// True when all `count` instructions from unit 2 * first are 0xFFFFFF.
bool InstructionsBlank(const std::vector<std::uint16_t>& units, std::size_t first,
                       std::size_t count);
// True when all `count` words from index `first` are 0xFFFF.
bool WordsBlank(const std::vector<std::uint16_t>& words, std::size_t first, std::size_t count);

}  // namespace quillon::icsp
