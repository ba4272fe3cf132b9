#include "sim/decoder.h"

#include <algorithm>
#include <cstdio>

namespace quillon::sim {
namespace {

Instruction DecodeTable(std::uint32_t word) {
  const bool write = (word & 0x010000) != 0;
  const bool high = (word & 0x8000) != 0;
  Instruction in;
  in.op = write ? (high ? Opcode::kTblwth : Opcode::kTblwtl)
                : (high ? Opcode::kTblrdh : Opcode::kTblrdl);
  in.byte_mode = (word & 0x4000) != 0;
  in.dst_mode = static_cast<std::uint8_t>((word >> 11) & 7);
  in.dst = static_cast<std::uint8_t>((word >> 7) & 15);
  in.src_mode = static_cast<std::uint8_t>((word >> 4) & 7);
  in.src = static_cast<std::uint8_t>(word & 15);
  if (in.dst_mode > kPreInc || in.src_mode > kPreInc) return {.op = Opcode::kInvalid};
  // Inference: the program-space operand (source of a read, destination of a
  // write) is always a pointer; register-direct there has no meaning.
  const std::uint8_t program_side = write ? in.dst_mode : in.src_mode;
  if (program_side == kDirect) return {.op = Opcode::kInvalid};
  return in;
}

}  // namespace

Instruction Decode(std::uint32_t word) {
  word &= 0xFFFFFF;
  const std::uint32_t top = word >> 16;
  if (top == 0x00) return {.op = Opcode::kNop};
  if (top == 0xFF) return {.op = Opcode::kNopr};
  if (top == 0x04) {
    if ((word & 1) != 0) return {.op = Opcode::kInvalid};
    return {.op = Opcode::kGoto, .goto_low = static_cast<std::uint16_t>(word & 0xFFFE)};
  }
  if ((word >> 20) == 0x2) {
    Instruction in{.op = Opcode::kMovLiteral};
    in.literal = static_cast<std::uint16_t>((word >> 4) & 0xFFFF);
    in.dst = static_cast<std::uint8_t>(word & 15);
    return in;
  }
  if ((word & 0xF80000) == 0x800000 || (word & 0xF80000) == 0x880000) {
    const bool to_file = (word & 0x080000) != 0;
    Instruction in{.op = to_file ? Opcode::kMovToFile : Opcode::kMovFromFile};
    in.file = static_cast<std::uint16_t>(((word >> 4) & 0x7FFF) << 1);
    if (to_file) {
      in.src = static_cast<std::uint8_t>(word & 15);
    } else {
      in.dst = static_cast<std::uint8_t>(word & 15);
    }
    return in;
  }
  if ((word & 0xFF807F) == 0xEB0000) {
    Instruction in{.op = Opcode::kClr};
    in.byte_mode = (word & 0x4000) != 0;
    in.dst_mode = static_cast<std::uint8_t>((word >> 11) & 7);
    in.dst = static_cast<std::uint8_t>((word >> 7) & 15);
    if (in.dst_mode > kPreInc) return {.op = Opcode::kInvalid};
    return in;
  }
  if (top == 0xA8 || top == 0xA9) {
    Instruction in{.op = top == 0xA8 ? Opcode::kBset : Opcode::kBclr};
    in.file = static_cast<std::uint16_t>(word & 0x1FFE);
    in.bit = static_cast<std::uint8_t>((((word >> 13) & 7) << 1) | (word & 1));
    return in;
  }
  if ((word & 0xFE0000) == 0xBA0000) return DecodeTable(word);
  return {.op = Opcode::kInvalid};
}

namespace {

std::string Operand(std::uint8_t reg, std::uint8_t mode) {
  static constexpr const char* kBefore[] = {"", "[", "[", "[", "[--", "[++"};
  static constexpr const char* kAfter[] = {"", "]", "--]", "++]", "]", "]"};
  const std::size_t m = std::min<std::size_t>(mode, kPreInc);
  // Built by appending: GCC 12 at -O3 misreads prefix concatenation as an
  // overlapping copy (-Wrestrict).
  std::string text(kBefore[m]);
  text.append("W").append(std::to_string(reg)).append(kAfter[m]);
  return text;
}

std::string Hex(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

}  // namespace

std::string Disassemble(std::uint32_t word) {
  const Instruction in = Decode(word);
  const std::string suffix = in.byte_mode ? ".B" : "";
  switch (in.op) {
    case Opcode::kNop:
      return "NOP";
    case Opcode::kNopr:
      return "NOPR";
    case Opcode::kGoto:
      return "GOTO " + Hex(in.goto_low) + " (first word)";
    case Opcode::kMovLiteral:
      return "MOV #" + Hex(in.literal) + ", W" + std::to_string(in.dst);
    case Opcode::kMovToFile:
      return "MOV W" + std::to_string(in.src) + ", " + Hex(in.file);
    case Opcode::kMovFromFile:
      return "MOV " + Hex(in.file) + ", W" + std::to_string(in.dst);
    case Opcode::kClr:
      return "CLR" + suffix + " " + Operand(in.dst, in.dst_mode);
    case Opcode::kBset:
    case Opcode::kBclr:
      return (in.op == Opcode::kBset ? "BSET " : "BCLR ") + Hex(in.file) + ", #" +
             std::to_string(in.bit);
    case Opcode::kTblrdl:
    case Opcode::kTblrdh:
    case Opcode::kTblwtl:
    case Opcode::kTblwth: {
      static constexpr const char* kNames[] = {"TBLRDL", "TBLRDH", "TBLWTL", "TBLWTH"};
      const int index = static_cast<int>(in.op) - static_cast<int>(Opcode::kTblrdl);
      return std::string(kNames[index]) + suffix + " " + Operand(in.src, in.src_mode) + ", " +
             Operand(in.dst, in.dst_mode);
    }
    case Opcode::kInvalid:
      break;
  }
  char text[32];
  std::snprintf(text, sizeof text, "undecodable word %06X", static_cast<unsigned>(word & 0xFFFFFF));
  return text;
}

}  // namespace quillon::sim
