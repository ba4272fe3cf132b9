#include "icsp/primitives.h"

#include <array>
#include <initializer_list>
#include <span>
#include <string>

#include "image/formats.h"
#include "link/link.h"

namespace quillon::icsp {

namespace {

void Letter(Session& session, std::uint8_t letter) {
  session.link.SendBatch();
  session.link.SendCommandAck(letter);
}

std::uint16_t* CodeQuadUnits(Session& session, CodeDestination destination, std::size_t quad) {
  switch (destination) {
    case CodeDestination::kVerify:
      return session.verify_buffer.data();
    case CodeDestination::kProgram:
      if (8 * quad + 8 > session.image.program.size()) return nullptr;
      return session.image.program.data() + 8 * quad;
    case CodeDestination::kExecutive:
      if (8 * quad + 8 > session.image.executive.size()) return nullptr;
      return session.image.executive.data() + 8 * quad;
  }
  return nullptr;
}

std::uint16_t* DataQuadUnits(Session& session, DataDestination destination, std::size_t quad) {
  switch (destination) {
    case DataDestination::kVerify:
      return session.scratch_data_quad.data();
    case DataDestination::kEeprom:
      if (4 * quad + 4 > session.image.eeprom.size()) return nullptr;
      return session.image.eeprom.data() + 4 * quad;
  }
  return nullptr;
}

}  // namespace

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

void AppendWords(Session& session, std::initializer_list<std::uint32_t> words) {
  for (std::uint32_t w : words) session.link.AppendInstruction(w);
}

void LoadNvmcon(Session& session, std::uint32_t value) {
  AppendWords(session, {MoveLiteral(value, 10), kMovW10ToNvmcon});
}

std::uint16_t RegOut(Session& session) {
  session.link.SendCommand(link::cmd::kRegOut);
  session.link.ReceiveReply(2);
  return session.link.ReplyWord(0);
}

void Wait(Session& session) {
  session.link.SendCommand(link::cmd::kWait);
  session.link.ReceiveReply(1);
}

void StoreReplyWords(Session& session, std::size_t n) {
  session.link.StoreReplyWords(n);
}

void EnterIcsp(Session& session) {
  // Every phase begins here: after a failure or a stop nothing more reaches
  // the part in this operation.
  if (session.Ended()) {
    session.link.Stop();
    return;
  }
  session.link.EnterIcsp(devices::IcspEntryCommand(session.device.device));
}

void ExitIcsp(Session& session) {
  session.link.ExitIcsp();
}

bool EnterEnhancedIcsp(Session& session) {
  if (session.Ended()) {
    session.link.Stop();
    return false;
  }
  const devices::FamilyForm& form = session.form();
  return session.link.EnterEnhancedIcsp(form.icsp_entry, form.enhanced_entry);
}

bool ExecutiveAnswered(Session& session, std::uint8_t command, std::uint32_t address) {
  if (session.link.failed()) return false;
  // Header word 0: status in bits 15..12 (1 PASS, 2 FAIL, 3 NACK), the
  // executive's opcode (the low nibble of the board command) in bits 11..8.
  const std::uint16_t header = session.link.ReplyWord(0);
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
  session.reporter.ReportError(message, report::FailureKind::kRefused, address);
  return false;
}

namespace {

bool ExecutiveRead(Session& session, std::uint8_t command, std::uint32_t address,
                   std::size_t words) {
  session.link.SendCommand(command);
  session.link.SendAddress24(address);
  session.link.SendAddress24(64);
  session.link.ReceiveReply(4);
  session.link.StoreReplyWords(2);
  // A refusal carries no data: reading on would only wait for bytes that
  // never come.
  if (!ExecutiveAnswered(session, command, address)) return false;
  session.link.ReceiveReply(2 * words);
  session.link.StoreReplyWords(words);
  return !session.link.failed();
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
    UnpackQuad(session.link.words().data() + 6 * k, units + 8 * k);
  }
}

bool ExecutiveWriteCodeRow(Session& session, std::uint32_t first, std::uint32_t row) {
  std::array<std::uint16_t, link::kLinkWordCount> block{};
  for (std::uint32_t g = 0; g < row / 4; ++g) {
    PackQuad(session.image.program.data() + 2 * first + 8 * g, block.data() + 6 * g);
  }
  session.link.SendCommand(link::cmd::kExecWriteCode);
  session.link.SendAddress24(2 * first);
  session.link.SendAddress24(row);
  session.link.SendWordBlock(std::span<const std::uint16_t>(block.data(), 3 * row / 2));
  session.link.ReceiveReply(4);
  session.link.StoreReplyWords(2);
  return ExecutiveAnswered(session, link::cmd::kExecWriteCode, 2 * first);
}

void GotoResetVector100(Session& session) {
  if (session.UsesBoardLetters()) return Letter(session, link::cmd::kGotoResetVector100);
  AppendWords(session, {kNop, kGoto100, kGoto100, kNop});
  session.link.SendBatch();
}

void GotoResetVector200(Session& session) {
  if (session.UsesBoardLetters()) return Letter(session, link::cmd::kGotoResetVector200);
  AppendWords(session, {kGoto200, kGoto200, kNop});
  session.link.SendBatch();
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

void NvmUnlock(Session& session) {
  if (session.UsesBoardLetters()) {
    // Deliberately ahead of anything pending: the board expects the NVMCON
    // set-up words to follow the unlock letter.
    session.link.SendCommandAck(link::cmd::kNvmUnlock);
    return;
  }
  AppendWords(session,
              {MoveLiteral(0x55, 8), kMovW8ToNvmkey, MoveLiteral(0xAA, 9), kMovW9ToNvmkey});
}

void StartNvmWrite(Session& session) {
  if (session.UsesBoardLetters()) return Letter(session, link::cmd::kStartNvmWrite);
  AppendWords(session, {kBsetNvmconWr, kNop, kNop, kNop, kNop});
  session.link.SendBatch();
}

void TimedNvmWrite(Session& session, int n) {
  if (session.UsesBoardLetters()) {
    return Letter(session, n == 1 ? link::cmd::kTimedNvmWrite1 : link::cmd::kTimedNvmWriteN);
  }
  AppendWords(session, {kBsetNvmconWr, kNop, kNop, kNop, kNop});
  session.link.SendBatch();
  for (int i = 0; i <= n; ++i) Wait(session);
  // The caller's next send (normally the reset-vector GOTO) carries these.
  AppendWords(session, {kBclrNvmconWr, kNop, kNop, kNop, kNop});
}

void PollNvmWrite(Session& session, int n) {
  if (session.UsesBoardLetters()) {
    return Letter(session, n == 1 ? link::cmd::kPollNvmWrite1 : link::cmd::kPollNvmWriteN);
  }
  for (int i = 0; i < n; ++i) Wait(session);
  // A part that never clears WR is given up on silently after 101 polls.
  for (int polls = 1; polls <= 101; ++polls) {
    AppendWords(session, {kNop, kGoto200, kNop, kMovNvmconToW2, kMovW2ToVisi, kNop});
    session.link.SendBatch();
    const std::uint16_t nvmcon = RegOut(session);
    if ((nvmcon & 0x8000) == 0 || session.link.lost()) break;
  }
}

void ReadCodeQuad(Session& session) {
  if (session.UsesBoardLetters()) return Letter(session, link::cmd::kReadCodeQuad);
  AppendWords(session, {kClrW7, kNop, kTblrdlW6ToW7, kNop, kNop, kTblrdhbW6IncToW7Inc, kNop, kNop,
                        kTblrdhbPreW6ToW7Inc, kNop, kNop, kTblrdlW6IncToW7Inc, kNop});
  session.link.SendBatch();
  AppendWords(session, {kNop, kTblrdlW6ToW7, kNop, kNop, kTblrdhbW6IncToW7Inc, kNop, kNop,
                        kTblrdhbPreW6ToW7Inc, kNop, kNop, kTblrdlW6IncToW7, kNop, kNop});
  session.link.SendBatch();
}

void FetchCodeQuad(Session& session, CodeDestination destination, std::size_t quad) {
  std::uint16_t w[6] = {};
  if (session.UsesBoardLetters()) {
    session.link.SendBatch();
    session.link.SendCommand(link::cmd::kFetchCodeQuad);
    session.link.ReceiveReply(12);
    for (std::size_t n = 0; n < 6; ++n) w[n] = session.link.ReplyWord(n);
  } else {
    for (unsigned n = 0; n < 6; ++n) {
      if (n == 1) session.link.AppendInstruction(kNop);
      AppendWords(session, {MoveToVisi(n), kNop});
      session.link.SendBatch();
      w[n] = RegOut(session);
    }
    session.link.AppendInstruction(kNop);
    session.link.SendBatch();
  }
  if (std::uint16_t* units = CodeQuadUnits(session, destination, quad)) UnpackQuad(w, units);
}

void LoadCodeLatches(Session& session) {
  if (session.UsesBoardLetters()) return Letter(session, link::cmd::kLoadCodeLatches);
  AppendWords(session, {kClrW6, kNop, kTblwtlW6IncToW7, kNop, kNop, kTblwthbW6IncToW7Inc, kNop,
                        kNop, kTblwthbW6IncToPreW7, kNop, kNop});
  session.link.SendBatch();
  AppendWords(session,
              {kTblwtlW6IncToW7Inc, kNop, kNop, kTblwtlW6IncToW7, kNop, kNop, kTblwthbW6IncToW7Inc,
               kNop, kNop, kTblwthbW6IncToPreW7, kNop, kNop, kTblwtlW6IncToW7Inc, kNop, kNop});
  session.link.SendBatch();
}

void ReadDataQuad(Session& session) {
  if (session.UsesBoardLetters()) {
    session.link.SendCommandAck(link::cmd::kReadDataQuad);
    return;
  }
  AppendWords(session, {kClrW7, kNop});
  for (int i = 0; i < 4; ++i) AppendWords(session, {kTblrdlW6IncToW7Inc, kNop, kNop});
}

void FetchDataQuad(Session& session, DataDestination destination, std::size_t quad) {
  std::uint16_t w[4] = {};
  if (session.UsesBoardLetters()) {
    session.link.SendBatch();
    session.link.SendCommand(link::cmd::kFetchDataQuad);
    session.link.ReceiveReply(8);
    for (std::size_t n = 0; n < 4; ++n) w[n] = session.link.ReplyWord(n);
  } else {
    for (unsigned n = 0; n < 4; ++n) {
      AppendWords(session, {MoveToVisi(n), kNop});
      session.link.SendBatch();
      w[n] = RegOut(session);
      session.link.AppendInstruction(kNop);
    }
  }
  if (std::uint16_t* units = DataQuadUnits(session, destination, quad)) {
    for (int n = 0; n < 4; ++n) units[n] = w[n];
  }
}

void LoadDataLatches(Session& session) {
  if (session.UsesBoardLetters()) return Letter(session, link::cmd::kLoadDataLatches);
  AppendWords(session, {kClrW6, kNop});
  for (int i = 0; i < 4; ++i) AppendWords(session, {kTblwtlW6IncToW7Inc, kNop, kNop});
  session.link.SendBatch();
}

void SetTablePointer(Session& session, std::uint32_t address, unsigned n) {
  AppendWords(session, {MoveLiteral(address >> 16, 0), session.device.load_table_pointer,
                        MoveLiteral(address & 0xFFFF, n)});
}

void MoveQuadToRegisters(Session& session, QuadSource source, std::size_t quad) {
  const std::vector<std::uint16_t>& units =
      source == QuadSource::kProgram ? session.image.program : session.image.executive;
  std::uint16_t u[8] = {};
  for (std::size_t i = 0; i < 8 && 8 * quad + i < units.size(); ++i) u[i] = units[8 * quad + i];
  std::uint16_t w[6];
  PackQuad(u, w);
  for (unsigned n = 0; n < 6; ++n) session.link.AppendInstruction(MoveLiteral(w[n], n));
}

void WriteCodeRow(Session& session, QuadSource source, std::uint32_t base, std::uint32_t first,
                  std::uint32_t row_instructions) {
  const devices::FamilyForm& form = session.form();
  if (!form.self_timed()) LoadNvmcon(session, form.nvm.row_program);
  SetTablePointer(session, base + 2 * first, 7);
  session.link.SendBatch();
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
