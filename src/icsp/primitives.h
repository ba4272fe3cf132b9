// The ICSP steps every device operation is assembled from. The board steps
// go through the session's BoardSteps, read anew at every call.
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
inline constexpr std::uint32_t kMovVisiAddressToW7 = MoveLiteral(0x784, 7);  // 0x207847

// MOV Wn, VISI (n = 0 to 5).
constexpr std::uint32_t MoveToVisi(unsigned n) {
  return 0x883C20u + n;
}

enum class QuadSource { kProgram, kExecutive };

// Four instructions (image units) in six words: I0<15:0>; I1<23:16>:I0<23:16>;
// I1<15:0>; then the same for I2, I3.
void PackQuad(const std::uint16_t* units, std::uint16_t* words);
void UnpackQuad(const std::uint16_t* words, std::uint16_t* units);

// VISI, read out by the board.
std::uint16_t RegOut(link::Link& link);
void Wait(link::Link& link);

// After a failure or a stop these enter nothing and the link stays quiet.
void EnterIcsp(Session& session);
void ExitIcsp(Session& session);
// False (after "Error : Connect failed!") when the executive never answered.
bool EnterEnhancedIcsp(Session& session);

void AppendWords(link::Link& link, std::initializer_list<std::uint32_t> words);
void LoadNvmcon(Session& session, std::uint32_t value);

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
// (nothing past its end); W0..W3 likewise for the EEPROM.
void FetchCodeQuad(Session& session, std::span<std::uint16_t, 8> units);
void FetchCodeQuad(Session& session, image::UnitBuffer& memory, std::size_t quad);
void FetchDataQuad(Session& session, std::span<std::uint16_t, 4> words);
void FetchDataQuad(Session& session, image::UnitBuffer& eeprom, std::size_t quad);

void GotoResetVector(Session& session);
// The extra reset-vector exit the self-timed forms end their read loops with.
void EndAtResetVector(Session& session);

// Appends the loads of TBLPAG and Wn (6 for reading, 7 for writing).
void SetTablePointer(Session& session, std::uint32_t address, unsigned n);
// From the reset vector, points W6 at `address` ahead of a run of reads.
void BeginTableReads(Session& session, std::uint32_t address);
// Appends the six MOV #lit words that put quad q in packed form into W0..W5.
void MoveQuadToRegisters(Session& session, QuadSource source, std::size_t quad);

// Programs one row of `source` from instruction `first` at program address
// base + 2 * first. The externally timed form loads NVMCON itself; the
// self-timed forms expect it loaded already. Ends at the reset vector.
void WriteCodeRow(Session& session, QuadSource source, std::uint32_t base, std::uint32_t first,
                  std::uint32_t row_instructions);

// Reads quads `first` to `last` of executive memory into the image.
void ReadExecutiveQuads(Session& session, std::size_t first, std::size_t last);
// Reads the last two quads of executive memory into the image and tells
// whether the executive's identification word is there (false, with nothing
// read, without an executive). Where the family keeps factory words there,
// the 16 units read are also kept in session.executive_tail().
bool CheckExecutive(Session& session);
// The factory words from 0x8007F4, as CheckExecutive kept them, into the image.
void PutBackFactoryWords(Session& session);

// Starts the NVM operation NVMCON holds and sees it through in the form's
// way (timed by the host or polled). Ends at the reset vector.
void FinishNvmWrite(Session& session, int waits);

}  // namespace quillon::icsp
