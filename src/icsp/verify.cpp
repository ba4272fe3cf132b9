// Verification on the batch path (quad by quad) and through the executive
// (64 instructions or EEPROM words per block).
#include "icsp/verify.h"

#include <string>

#include "icsp/primitives.h"
#include "image/formats.h"
#include "image/memory_image.h"

namespace quillon::icsp {

namespace {

// The whole instruction whose half is unit `unit` of `units`.
std::uint32_t Instruction(const std::uint16_t* units, std::uint32_t unit) {
  unit &= ~1u;
  return units[unit] | static_cast<std::uint32_t>(units[unit + 1] & 0xFF) << 16;
}

constexpr std::uint32_t kBlankInstruction = 0xFFFFFF;
constexpr std::uint16_t kBlankWord = 0xFFFF;

std::uint32_t EepromBase(const Session& session) {
  return kEepromEnd - static_cast<std::uint32_t>(session.device.device.eeprom_bytes);
}

}  // namespace

bool Mismatch(Session& session, std::string_view tag, std::uint32_t address, std::uint16_t read,
              std::uint16_t expected, const report::Mismatch& typed) {
  if (session.link.lost()) return false;
  const std::string detail = std::string(report::kLineBreak) + std::string(tag) +
                             image::Hex4(address) + ":" + image::Hex4(read) + "<-" +
                             image::Hex4(expected);
  session.NoteOutcome(Outcome::kProblem);
  session.reporter.ReportMismatch(
      typed, report::MessagePair{"Error : Not match!", "ｴﾗｰ: 正しく書き込めません。"} + detail);
  return false;
}

void ShowStep(Session& session, std::string_view text, long step, long last, std::uint32_t shown) {
  session.reporter.Progress(step, last);
  session.reporter.ShowStep(std::string(text) + image::Hex4(shown));
}

bool BeginStep(Session& session, std::string_view text, long step, long last, std::uint32_t shown,
               std::optional<std::uint32_t> address) {
  std::string at = std::string(text) + image::Hex4(shown);
  if (address)
    at += " (0x" + image::Hex4(*address >> 16).substr(2) + image::Hex4(*address & 0xFFFF) + ")";
  if (!session.ContinueAt(at)) return false;
  ShowStep(session, text, step, last, shown);
  return true;
}

bool InstructionsBlank(const std::vector<std::uint16_t>& units, std::size_t first,
                       std::size_t count) {
  for (std::size_t i = first; i < first + count; ++i) {
    if (image::InstructionAt(units, i) != 0xFFFFFF) return false;
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
  GotoResetVector(session);
  SetTablePointer(session, base, 6);
  session.link.SendBatch();
  for (long q = 0; q <= last_quad; ++q) {
    const std::uint32_t offset = 8 * static_cast<std::uint32_t>(q);
    if (!BeginStep(session, status_text, q, last_quad, offset, base + offset)) return false;
    if (InstructionsBlank(units, offset / 2, 4)) continue;
    SetTablePointer(session, base + offset, 6);
    ReadCodeQuad(session);
    FetchCodeQuad(session, CodeDestination::kVerify);
    GotoResetVector(session);
    for (std::uint32_t k = 0; k < 8; ++k) {
      const std::uint16_t read = session.verify_buffer[k];
      if (held_only && Instruction(units.data() + offset, k) == kBlankInstruction) continue;
      if (read != units[offset + k]) {
        const report::Mismatch typed{
            base >= kExecutiveBase ? report::Memory::kExecutive : report::Memory::kProgram,
            base + ((offset + k) & ~1u), Instruction(session.verify_buffer.data(), k),
            Instruction(units.data() + offset, k)};
        return Mismatch(session, tag, offset + k, read, units[offset + k], typed);
      }
    }
  }
  EndAtResetVector(session);
  return true;
}

bool VerifyProgramIcsp(Session& session, bool held_only) {
  return VerifyCodeQuads(session, 0, session.image.program,
                         session.device.device.program_words / 4 - 1, "Verifying:Prg Adr ", "Prg ",
                         held_only);
}

bool VerifyProgramEnhanced(Session& session, bool held_only) {
  // 64-instruction blocks on every family, although dsPIC30F rows are written
  // 32 at a time.
  const long last = session.device.device.program_words / 64 - 1;
  const std::vector<std::uint16_t>& expected = session.image.program;
  for (long r = 0; r <= last; ++r) {
    const std::uint32_t address = 128 * static_cast<std::uint32_t>(r);
    if (!BeginStep(session, "Verifying:Prg Adr ", r, last, address / 2, address)) return false;
    if (InstructionsBlank(expected, address / 2, 64)) continue;
    if (!ExecutiveReadCode(session, address)) return false;
    std::uint16_t* read = session.verify_buffer.data() + address;
    UnpackLinkWords(session, 16, read);
    for (std::uint32_t k = 0; k < 128; ++k) {
      if (held_only && Instruction(expected.data() + address, k) == kBlankInstruction) continue;
      if (read[k] != expected[address + k]) {
        const report::Mismatch typed{report::Memory::kProgram, (address + k) & ~1u,
                                     Instruction(read, k),
                                     Instruction(expected.data() + address, k)};
        return Mismatch(session, "Prg ", address + k, read[k], expected[address + k], typed);
      }
    }
  }
  return true;
}

bool VerifyEepromIcsp(Session& session, bool held_only) {
  const long last = session.device.device.eeprom_bytes / 8 - 1;
  const std::vector<std::uint16_t>& expected = session.image.eeprom;
  GotoResetVector(session);
  SetTablePointer(session, EepromBase(session), 6);
  session.link.SendBatch();
  for (long q = 0; q <= last; ++q) {
    const std::uint32_t offset = 8 * static_cast<std::uint32_t>(q);
    if (!BeginStep(session, "Verifying:Dat Adr ", q, last, offset, EepromBase(session) + offset)) {
      return false;
    }
    if (WordsBlank(expected, 4 * static_cast<std::size_t>(q), 4)) continue;
    SetTablePointer(session, EepromBase(session) + offset, 6);
    session.link.SendBatch();
    ReadDataQuad(session);
    FetchDataQuad(session, DataDestination::kVerify);
    GotoResetVector(session);
    for (std::uint32_t k = 0; k < 4; ++k) {
      const std::uint16_t read = session.scratch_data_quad[k];
      const std::uint16_t want = expected[offset / 2 + k];
      if (held_only && want == kBlankWord) continue;
      // Batch addresses are byte offsets from the start of the EEPROM.
      if (read != want) {
        return Mismatch(
            session, "Eep ", offset + 2 * k, read, want,
            {report::Memory::kEeprom, EepromBase(session) + offset + 2 * k, read, want});
      }
    }
  }
  return true;
}

bool VerifyEepromEnhanced(Session& session, bool held_only) {
  const long last = session.device.device.eeprom_bytes / 128 - 1;
  const std::vector<std::uint16_t>& expected = session.image.eeprom;
  for (long b = 0; b <= last; ++b) {
    const std::uint32_t first = 64 * static_cast<std::uint32_t>(b);
    if (!BeginStep(session, "Verifying:Dat Adr ", b, last, first,
                   EepromBase(session) + 2 * first)) {
      return false;
    }
    if (WordsBlank(expected, first, 64)) continue;
    if (!ExecutiveReadData(session, EepromBase(session) + 2 * first)) return false;
    for (std::uint32_t k = 0; k < 64; ++k) {
      const std::uint16_t read = session.link.words()[k];
      if (held_only && expected[first + k] == kBlankWord) continue;
      // Block addresses are word offsets.
      if (read != expected[first + k]) {
        return Mismatch(session, "Eep ", first + k, read, expected[first + k],
                        {report::Memory::kEeprom, EepromBase(session) + 2 * (first + k), read,
                         expected[first + k]});
      }
    }
  }
  return true;
}

}  // namespace quillon::icsp
