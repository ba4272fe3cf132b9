#include "icsp/primitives.h"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <span>
#include <string>

#include "image/formats.h"
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

bool ExecutiveAnswered(Session& session, std::uint8_t command, std::uint32_t address) {
  if (session.link().failed()) return false;
  // Header word 0: status in bits 15..12 (1 PASS, 2 FAIL, 3 NACK), the
  // executive's opcode (the low nibble of the board command) in bits 11..8.
  const std::uint16_t header = session.link().ReplyWord(0);
  if (header >> 12 == 1 && (header >> 8 & 0xF) == (command & 0xF)) return true;
  session.NoteOutcome(Outcome::kProblem);
  const std::string detail = std::string(report::kLineBreak) + "Adr " +
                             image::Hex4(address >> 16).substr(2) + image::Hex4(address & 0xFFFF) +
                             " Ans:" + image::Hex4(header);
  report::MessagePair message =
      report::MessagePair{"Error : the programming executive refused the block!",
                          "ｴﾗｰ : ﾌﾟﾛｸﾞﾗﾐﾝｸﾞ･ｴｸﾞｾﾞｸﾃｨﾌﾞがﾌﾞﾛｯｸを処理できません。"} +
      detail;
  // A write the executive failed on a part not erased first: most likely the
  // flash there was not blank, which programming alone cannot change.
  const bool write = command == link::cmd::kExecWriteCode || command == link::cmd::kExecWriteData;
  if (write && header >> 12 == 2 && !session.OptionChecked(report::Option::kEraseBeforeWriting)) {
    const std::string at = image::Hex4(address >> 16).substr(2) + image::Hex4(address & 0xFFFF);
    message = message + report::kLineBreak +
              report::MessagePair{"The part was not erased before writing: the flash at " + at +
                                      " is likely not blank. Erase it first.",
                                  "書き込み前に消去していません: " + at +
                                      " のﾌﾗｯｼｭが空でない可能性があります。先に消去してください。"};
  }
  session.reporter().ReportError(message);
  return false;
}

namespace {

bool ExecutiveRead(Session& session, std::uint8_t command, std::uint32_t address,
                   std::size_t words) {
  session.link().SendCommand(command);
  session.link().SendAddress24(address);
  session.link().SendAddress24(64);
  session.link().ReceiveReply(4);
  session.link().StoreReplyWords(2);
  // A refusal carries no data: reading on would only wait for bytes that
  // never come.
  if (!ExecutiveAnswered(session, command, address)) return false;
  session.link().ReceiveReply(2 * words);
  session.link().StoreReplyWords(words);
  return !session.link().failed();
}

}  // namespace

bool ExecutiveReadCode(Session& session, std::uint32_t address) {
  return ExecutiveRead(session, link::cmd::kExecReadCode, address, 96);
}

bool ExecutiveReadData(Session& session, std::uint32_t address) {
  return ExecutiveRead(session, link::cmd::kExecReadData, address, 64);
}

void UnpackLinkWords(const Session& session, std::size_t groups, std::uint16_t* units) {
  for (std::size_t k = 0; k < groups; ++k) {
    UnpackQuad(session.link().words().data() + 6 * k, units + 8 * k);
  }
}

bool ExecutiveWriteCodeRow(Session& session, std::uint32_t first, std::uint32_t row) {
  std::array<std::uint16_t, link::kLinkWordCount> block{};
  for (std::uint32_t g = 0; g < row / 4; ++g) {
    PackQuad(session.image().program.data() + 2 * first + 8 * g, block.data() + 6 * g);
  }
  session.link().SendCommand(link::cmd::kExecWriteCode);
  session.link().SendAddress24(2 * first);
  session.link().SendAddress24(row);
  session.link().SendWordBlock(std::span<const std::uint16_t>(block.data(), 3 * row / 2));
  session.link().ReceiveReply(4);
  session.link().StoreReplyWords(2);
  return ExecutiveAnswered(session, link::cmd::kExecWriteCode, 2 * first);
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

}  // namespace quillon::icsp
