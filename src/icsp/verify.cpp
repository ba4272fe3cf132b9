// The steps and checks verification and the other quad loops share.
#include "icsp/verify.h"

#include <array>
#include <string>

#include "icsp/primitives.h"
#include "image/formats.h"
#include "image/memory_image.h"

namespace quillon::icsp {

bool Mismatch(Session& session, std::string_view tag, std::uint32_t address, std::uint16_t read,
              std::uint16_t expected, const report::Mismatch& typed) {
  if (session.link().lost()) return false;
  const std::string detail = std::string(report::kLineBreak) + std::string(tag) +
                             image::Hex4(address) + ":" + image::Hex4(read) + "<-" +
                             image::Hex4(expected);
  session.NoteOutcome(Outcome::kProblem);
  session.reporter().ReportMismatch(
      typed, report::MessagePair{"Error : Not match!", "ｴﾗｰ: 正しく書き込めません。"} + detail);
  return false;
}

void ShowStep(Session& session, std::string_view text, long step, long last, std::uint32_t shown) {
  session.reporter().Progress(step, last);
  session.reporter().ShowStep(std::string(text) + image::Hex4(shown));
}

bool BeginStep(Session& session, std::string_view text, long step, long last, std::uint32_t shown,
               std::optional<std::uint32_t> address) {
  std::string at = std::string(text) + image::Hex4(shown);
  if (address) at += " (0x" + Hex6(*address) + ")";
  if (!session.ContinueAt(at)) return false;
  ShowStep(session, text, step, last, shown);
  return true;
}

std::string Hex6(std::uint32_t address) {
  return image::Hex4(address >> 16).substr(2) + image::Hex4(address & 0xFFFF);
}

bool InstructionsBlank(const std::vector<std::uint16_t>& units, std::size_t first,
                       std::size_t count) {
  for (std::size_t i = first; i < first + count; ++i) {
    if (image::InstructionAt(units, i) != kBlankInstruction) return false;
  }
  return true;
}

bool WordsBlank(const std::vector<std::uint16_t>& words, std::size_t first, std::size_t count) {
  for (std::size_t i = first; i < first + count; ++i) {
    if (words[i] != 0xFFFF) return false;
  }
  return true;
}

bool VerifyCodeQuads(Session& session, std::uint32_t base, const std::vector<std::uint16_t>& units,
                     long last_quad, std::string_view status_text, std::string_view tag,
                     bool held_only) {
  std::array<std::uint16_t, 8> quad{};
  BeginTableReads(session, base);
  for (long q = 0; q <= last_quad; ++q) {
    const std::uint32_t offset = 8 * static_cast<std::uint32_t>(q);
    if (!BeginStep(session, status_text, q, last_quad, offset, base + offset)) return false;
    if (InstructionsBlank(units, offset / 2, 4)) continue;
    SetTablePointer(session, base + offset, 6);
    ReadCodeQuad(session);
    FetchCodeQuad(session, quad);
    GotoResetVector(session);
    for (std::uint32_t k = 0; k < 8; ++k) {
      const std::uint16_t read = quad[k];
      if (held_only && WholeInstruction(units.data() + offset, k) == kBlankInstruction) continue;
      if (read != units[offset + k]) {
        const report::Mismatch typed{
            base >= kExecutiveBase ? report::Memory::kExecutive : report::Memory::kProgram,
            base + ((offset + k) & ~1u), WholeInstruction(quad.data(), k),
            WholeInstruction(units.data() + offset, k)};
        return Mismatch(session, tag, offset + k, read, units[offset + k], typed);
      }
    }
  }
  EndAtResetVector(session);
  return true;
}

void ReadCodeQuads(Session& session, std::uint32_t base, long steps, image::UnitBuffer& into,
                   std::string_view status_text) {
  BeginTableReads(session, base);
  for (long r = 0; r < steps; ++r) {
    const std::uint32_t offset = 8 * static_cast<std::uint32_t>(r);
    if (!BeginStep(session, status_text, r, steps - 1, offset, base + offset)) break;
    SetTablePointer(session, base + offset, 6);
    ReadCodeQuad(session);
    FetchCodeQuad(session, into, static_cast<std::size_t>(r));
    GotoResetVector(session);
  }
  EndAtResetVector(session);
}

}  // namespace quillon::icsp
