// The ICSP steps every device operation is assembled from. The board steps
// go through the session's BoardSteps (batches or letters, by the firmware),
// read anew at every call.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>

#include "icsp/board_steps.h"
#include "icsp/session.h"

namespace quillon::icsp {

// --- Instruction words ---
inline constexpr std::uint32_t kNop = 0x000000;
inline constexpr std::uint32_t kGoto100 = 0x040100;  // GOTO 0x100 (next word is its second word)
inline constexpr std::uint32_t kGoto200 = 0x040200;  // GOTO 0x200
inline constexpr std::uint32_t kMovW8ToNvmkey = 0x883B38;
inline constexpr std::uint32_t kMovW9ToNvmkey = 0x883B39;
inline constexpr std::uint32_t kMovW10ToNvmcon = 0x883B0A;
inline constexpr std::uint32_t kBsetNvmconWr = 0xA8E761;
inline constexpr std::uint32_t kBclrNvmconWr = 0xA9E761;
inline constexpr std::uint32_t kMovNvmconToW2 = 0x803B02;
inline constexpr std::uint32_t kMovW2ToVisi = 0x883C22;
inline constexpr std::uint32_t kClrW6 = 0xEB0300;
inline constexpr std::uint32_t kClrW7 = 0xEB0380;
inline constexpr std::uint32_t kTblrdlW6ToW7 = 0xBA1B96;         // TBLRDL [W6], [W7++]
inline constexpr std::uint32_t kTblrdlW6IncToW7Inc = 0xBA1BB6;   // TBLRDL [W6++], [W7++]
inline constexpr std::uint32_t kTblrdlW6IncToW7 = 0xBA0BB6;      // TBLRDL [W6++], [W7]
inline constexpr std::uint32_t kTblrdhbW6IncToW7Inc = 0xBADBB6;  // TBLRDH.B [W6++], [W7++]
inline constexpr std::uint32_t kTblrdhbPreW6ToW7Inc = 0xBADBD6;  // TBLRDH.B [++W6], [W7++]
inline constexpr std::uint32_t kTblwtlW6IncToW7 = 0xBB0BB6;      // TBLWTL [W6++], [W7]
inline constexpr std::uint32_t kTblwtlW6IncToW7Inc = 0xBB1BB6;   // TBLWTL [W6++], [W7++]
inline constexpr std::uint32_t kTblwthbW6IncToW7Inc = 0xBBDBB6;  // TBLWTH.B [W6++], [W7++]
inline constexpr std::uint32_t kTblwthbW6IncToPreW7 = 0xBBEBB6;  // TBLWTH.B [W6++], [++W7]
inline constexpr std::uint32_t kTblwtlW6ToW7 = 0xBB0B86;         // TBLWTL W6, [W7]
inline constexpr std::uint32_t kTblwtlW6ToW7Inc = 0xBB1B86;      // TBLWTL W6, [W7++]
inline constexpr std::uint32_t kTblwtlW0ToW7Inc = 0xBB1B80;      // TBLWTL W0, [W7++]
inline constexpr std::uint32_t kTblwtlW0ToW0 =
    0xBB0800;  // TBLWTL W0, [W0]: latches the erase address

// --- Program-space addresses ---
inline constexpr std::uint32_t kExecutiveBase = 0x800000;  // executive memory starts here
inline constexpr std::uint32_t kExecutivePage = 0x80;      // its TBLPAG
inline constexpr std::uint32_t kEepromEnd = 0x800000;      // data EEPROM ends just below
inline constexpr std::uint32_t kConfigPage = 0xF8;         // configuration registers' TBLPAG

// MOV #v, Wn for a 16-bit literal.
constexpr std::uint32_t MoveLiteral(std::uint32_t v, unsigned n) {
  return 0x200000u + ((v & 0xFFFFu) << 4) + (n & 0xFu);
}
// MOV #VISI, W7: the VISI register's address, for reading it back.
inline constexpr std::uint32_t kMovVisiAddressToW7 = MoveLiteral(0x784, 7);  // 0x207847

// MOV Wn, VISI (n = 0 to 5).
constexpr std::uint32_t MoveToVisi(unsigned n) {
  return 0x883C20u + n;
}

enum class QuadSource { kProgram, kExecutive };

// --- The packed form of four instructions in six words (W0..W5, executive
// blocks): I0<15:0>; I1<23:16>:I0<23:16>; I1<15:0>; then the same for I2, I3.
// `units` is the image layout (low word, upper byte per instruction).
void PackQuad(const std::uint16_t* units, std::uint16_t* words);
void UnpackQuad(const std::uint16_t* words, std::uint16_t* units);

// --- Board exchanges ---
// REGOUT: 0x12 and its two-byte reply (VISI, high byte first).
std::uint16_t RegOut(link::Link& link);
// The board's wait: 0x13 and its acknowledge.
void Wait(link::Link& link);

// --- Programming-mode frame, entry command by the selected part's family ---
// After a failure or a stop request of the operation it enters nothing and
// the link stays quiet: the operation has ended.
void EnterIcsp(Session& session);
void ExitIcsp(Session& session);
// False (after "Error : Connect failed!") when the executive never answered.
bool EnterEnhancedIcsp(Session& session);

// --- Batch building ---
// Appends instruction words in order (nothing is sent).
void AppendWords(link::Link& link, std::initializer_list<std::uint32_t> words);
// Appends MOV #value, W10; MOV W10, NVMCON.
void LoadNvmcon(Session& session, std::uint32_t value);

// --- Steps, in the board's way for the session's firmware (see BoardSteps) ---
// clang-format off
inline void GotoResetVector100(Session& s) { s.steps().GotoResetVector100(s.link()); }
inline void GotoResetVector200(Session& s) { s.steps().GotoResetVector200(s.link()); }
inline void NvmUnlock(Session& s) { s.steps().NvmUnlock(s.link()); }
inline void StartNvmWrite(Session& s) { s.steps().StartNvmWrite(s.link()); }
inline void TimedNvmWrite(Session& s, int n) { s.steps().TimedNvmWrite(s.link(), n); }
inline void PollNvmWrite(Session& s, int n) { s.steps().PollNvmWrite(s.link(), n); }
inline void ReadCodeQuad(Session& s) { s.steps().ReadCodeQuad(s.link()); }
inline void LoadCodeLatches(Session& s) { s.steps().LoadCodeLatches(s.link()); }
inline void ReadDataQuad(Session& s) { s.steps().ReadDataQuad(s.link()); }
inline void LoadDataLatches(Session& s) { s.steps().LoadDataLatches(s.link()); }
// clang-format on
// W0..W5 unpacked into `units`, or into quad `quad` of an image memory
// (nothing past its end).
void FetchCodeQuad(Session& session, std::span<std::uint16_t, 8> units);
void FetchCodeQuad(Session& session, image::UnitBuffer& memory, std::size_t quad);
// W0..W3 into `words` or quad `quad` of the EEPROM image.
void FetchDataQuad(Session& session, std::span<std::uint16_t, 4> words);
void FetchDataQuad(Session& session, image::UnitBuffer& eeprom, std::size_t quad);

// The reset vector of the selected part's family.
void GotoResetVector(Session& session);
// The extra reset-vector exit the self-timed forms end their read loops with.
void EndAtResetVector(Session& session);

// Appends the loads of TBLPAG and Wn (6 for reading, 7 for writing) with a
// program address. Nothing is sent.
void SetTablePointer(Session& session, std::uint32_t address, unsigned n);
// Appends the six MOV #lit words that put quad q in packed form into W0..W5.
void MoveQuadToRegisters(Session& session, QuadSource source, std::size_t quad);

// Programs one row of `row_instructions` instructions of `source`, starting at
// instruction `first`, at program address base + 2 * first, by instruction
// batches in the family's form: the externally timed form loads NVMCON with a
// row write before the row and times the write itself; the self-timed forms
// expect NVMCON loaded already and poll the write. Ends at the reset vector
// with nothing pending.
void WriteCodeRow(Session& session, QuadSource source, std::uint32_t base, std::uint32_t first,
                  std::uint32_t row_instructions);

// Reads quads `first` to `last` of executive memory into the image, each
// pointed at anew. Ends at the reset vector.
void ReadExecutiveQuads(Session& session, std::size_t first, std::size_t last);
// Reads the last two quads of executive memory into the image and tells
// whether the executive's identification word is there (false, with nothing
// read, without an executive). Where the family keeps factory words there,
// the 16 units read are also kept in session.executive_tail().
bool CheckExecutive(Session& session);

// Starts the NVM operation NVMCON holds and sees it through in the form's
// way: unlock, WR set, `waits` + 1 waits, WR clear (externally timed), or WR
// set and polled after `waits` waits (self-timed). Ends at the reset vector.
void FinishNvmWrite(Session& session, int waits);

}  // namespace quillon::icsp
