// Decoding of the 24-bit instruction words that reach the target through
// SIX. Only the instructions an ICSP programmer needs are known; every other
// word decodes as kInvalid so that the caller can report it.
#pragma once

#include <cstdint>
#include <string>

namespace quillon::sim {

enum class Opcode : std::uint8_t {
  kNop,
  kNopr,
  kGoto,         // first word; the next word is its second word
  kMovLiteral,   // MOV #lit16, Wd
  kMovToFile,    // MOV Ws, f
  kMovFromFile,  // MOV f, Wd
  kClr,          // CLR{.B} Wd with an addressing mode
  kBset,         // BSET f, #b
  kBclr,         // BCLR f, #b
  kTblrdl,
  kTblrdh,
  kTblwtl,
  kTblwth,
  kInvalid,
};

// Addressing modes of the p and q fields.
enum AddressMode : std::uint8_t {
  kDirect = 0,    // Wn
  kIndirect = 1,  // [Wn]
  kPostDec = 2,   // [Wn--]
  kPostInc = 3,   // [Wn++]
  kPreDec = 4,    // [--Wn]
  kPreInc = 5,    // [++Wn]
};

struct Instruction {
  Opcode op = Opcode::kInvalid;
  bool byte_mode = false;
  std::uint8_t dst = 0;        // Wd (d field)
  std::uint8_t dst_mode = 0;   // q field
  std::uint8_t src = 0;        // Ws (s field)
  std::uint8_t src_mode = 0;   // p field
  std::uint16_t literal = 0;   // MOV #lit16
  std::uint16_t file = 0;      // data address of MOV f / BSET / BCLR (always even)
  std::uint8_t bit = 0;        // BSET / BCLR bit number 0..15
  std::uint16_t goto_low = 0;  // GOTO target bits 15..0
};

Instruction Decode(std::uint32_t word);

// Assembler-like text for traces and fault messages ("TBLRDL [W6++], [W7]").
std::string Disassemble(std::uint32_t word);

}  // namespace quillon::sim
