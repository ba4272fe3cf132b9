#include "icsp/primitives.h"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <span>

#include "link/link.h"

namespace quillon::icsp {

void PackQuad(const std::uint16_t* units, std::uint16_t* words) {
  words[0] = units[0];
  words[1] = static_cast<std::uint16_t>((units[3] & 0xFF) << 8 | (units[1] & 0xFF));
  words[2] = units[2];
  words[3] = units[4];
  words[4] = static_cast<std::uint16_t>((units[7] & 0xFF) << 8 | (units[5] & 0xFF));
  words[5] = units[6];
}

void UnpackQuad(const std::uint16_t* words, std::uint16_t* units) {
  units[0] = words[0];
  units[1] = words[1] & 0xFF;
  units[2] = words[2];
  units[3] = words[1] >> 8;
  units[4] = words[3];
  units[5] = words[4] & 0xFF;
  units[6] = words[5];
  units[7] = words[4] >> 8;
}

void AppendWords(link::Link& link, std::initializer_list<std::uint32_t> words) {
  for (std::uint32_t w : words) link.AppendInstruction(w);
}

void LoadNvmcon(Session& session, std::uint32_t value) {
  AppendWords(session.link(), {MoveLiteral(value, 10), kMovW10ToNvmcon});
}

std::uint16_t RegOut(link::Link& link) {
  link.SendCommand(link::cmd::kRegOut);
  link.ReceiveReply(2);
  return link.ReplyWord(0);
}

void Wait(link::Link& link) {
  link.SendCommand(link::cmd::kWait);
  link.ReceiveReply(1);
}

void EnterIcsp(Session& session) {
  // Every phase begins here: after a failure or a stop nothing more reaches
  // the part in this operation.
  if (session.Ended()) {
    session.link().Stop();
    return;
  }
  session.link().EnterIcsp(devices::IcspEntryCommand(session.device().device));
}

void ExitIcsp(Session& session) {
  session.link().ExitIcsp();
}

bool EnterEnhancedIcsp(Session& session) {
  if (session.Ended()) {
    session.link().Stop();
    return false;
  }
  const devices::FamilyForm& form = session.form();
  return session.link().EnterEnhancedIcsp(form.icsp_entry, form.enhanced_entry);
}

void GotoResetVector(Session& session) {
  if (session.form().reset_vector == devices::kResetVector200) {
    GotoResetVector200(session);
  } else {
    GotoResetVector100(session);
  }
}

void EndAtResetVector(Session& session) {
  if (session.form().self_timed()) GotoResetVector200(session);
}

void FetchCodeQuad(Session& session, std::span<std::uint16_t, 8> units) {
  std::uint16_t w[6] = {};
  session.steps().FetchCodeQuad(session.link(), w);
  UnpackQuad(w, units.data());
}

void FetchCodeQuad(Session& session, image::UnitBuffer& memory, std::size_t quad) {
  std::array<std::uint16_t, 8> units{};
  FetchCodeQuad(session, units);
  if (8 * quad + 8 <= memory.size())
    std::copy(units.begin(), units.end(), memory.data() + 8 * quad);
}

void FetchDataQuad(Session& session, std::span<std::uint16_t, 4> words) {
  std::uint16_t w[4] = {};
  session.steps().FetchDataQuad(session.link(), w);
  std::copy(w, w + 4, words.begin());
}

void FetchDataQuad(Session& session, image::UnitBuffer& eeprom, std::size_t quad) {
  std::array<std::uint16_t, 4> words{};
  FetchDataQuad(session, words);
  if (4 * quad + 4 <= eeprom.size())
    std::copy(words.begin(), words.end(), eeprom.data() + 4 * quad);
}

void SetTablePointer(Session& session, std::uint32_t address, unsigned n) {
  AppendWords(session.link(), {MoveLiteral(address >> 16, 0), session.device().load_table_pointer,
                               MoveLiteral(address & 0xFFFF, n)});
}

void BeginTableReads(Session& session, std::uint32_t address) {
  GotoResetVector(session);
  SetTablePointer(session, address, 6);
  session.link().SendBatch();
}

void MoveQuadToRegisters(Session& session, QuadSource source, std::size_t quad) {
  const std::vector<std::uint16_t>& units =
      source == QuadSource::kProgram ? session.image().program : session.image().executive;
  std::uint16_t u[8] = {};
  for (std::size_t i = 0; i < 8 && 8 * quad + i < units.size(); ++i) u[i] = units[8 * quad + i];
  std::uint16_t w[6];
  PackQuad(u, w);
  for (unsigned n = 0; n < 6; ++n) session.link().AppendInstruction(MoveLiteral(w[n], n));
}

void WriteCodeRow(Session& session, QuadSource source, std::uint32_t base, std::uint32_t first,
                  std::uint32_t row_instructions) {
  const devices::FamilyForm& form = session.form();
  if (!form.self_timed()) LoadNvmcon(session, form.nvm.row_program);
  SetTablePointer(session, base + 2 * first, 7);
  session.link().SendBatch();
  for (std::uint32_t g = 0; g < row_instructions / 4; ++g) {
    MoveQuadToRegisters(session, source, first / 4 + g);
    LoadCodeLatches(session);
  }
  FinishNvmWrite(session, 1);
}

void FinishNvmWrite(Session& session, int waits) {
  if (session.form().self_timed()) {
    StartNvmWrite(session);
    PollNvmWrite(session, waits);
    GotoResetVector200(session);
  } else {
    NvmUnlock(session);
    TimedNvmWrite(session, waits);
    GotoResetVector100(session);
  }
}

void ReadExecutiveQuads(Session& session, std::size_t first, std::size_t last) {
  BeginTableReads(session, kExecutiveBase);
  for (std::size_t q = first; q <= last; ++q) {
    SetTablePointer(session, kExecutiveBase + 8 * static_cast<std::uint32_t>(q), 6);
    ReadCodeQuad(session);
    FetchCodeQuad(session, session.image().executive, q);
    GotoResetVector(session);
  }
}

bool CheckExecutive(Session& session) {
  const devices::ExecutiveForm& form = session.form().executive;
  if (!form.present) return false;
  const std::vector<std::uint16_t>& exe = session.image().executive;
  const std::size_t first = static_cast<std::size_t>(form.check_first_quad);
  ReadExecutiveQuads(session, first, first + 1);
  if (form.factory_words_from != 0) {
    std::copy(exe.begin() + 8 * first, exe.begin() + 8 * first + 16,
              session.executive_tail().begin());
  }
  const std::uint16_t id = exe[form.id_unit];
  return id == form.id_value || (form.id_alternate != 0 && id == form.id_alternate);
}

void PutBackFactoryWords(Session& session) {
  // The tail the check read begins at its first quad, a few units before them.
  const devices::ExecutiveForm& form = session.form().executive;
  const std::size_t from = form.factory_words_from - kExecutiveBase;
  const std::size_t skip = from - 8 * static_cast<std::size_t>(form.check_first_quad);
  std::copy(session.executive_tail().begin() + skip, session.executive_tail().end(),
            session.image().executive.begin() + from);
}

}  // namespace quillon::icsp
