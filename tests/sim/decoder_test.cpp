#include "sim/decoder.h"

#include <gtest/gtest.h>

namespace quillon::sim {
namespace {

struct TableCase {
  std::uint32_t word;
  Opcode op;
  bool byte;
  int q, d, p, s;
  const char* text;
};

// The published example words of the table instructions, field by field.
TEST(DecoderTest, TableInstructionExamples) {
  const TableCase cases[] = {
      {0xBA1B96, Opcode::kTblrdl, false, 3, 7, 1, 6, "TBLRDL [W6], [W7++]"},
      {0xBA1BB6, Opcode::kTblrdl, false, 3, 7, 3, 6, "TBLRDL [W6++], [W7++]"},
      {0xBA0BB6, Opcode::kTblrdl, false, 1, 7, 3, 6, "TBLRDL [W6++], [W7]"},
      {0xBADBB6, Opcode::kTblrdh, true, 3, 7, 3, 6, "TBLRDH.B [W6++], [W7++]"},
      {0xBADBD6, Opcode::kTblrdh, true, 3, 7, 5, 6, "TBLRDH.B [++W6], [W7++]"},
      {0xBB0BB6, Opcode::kTblwtl, false, 1, 7, 3, 6, "TBLWTL [W6++], [W7]"},
      {0xBB1BB6, Opcode::kTblwtl, false, 3, 7, 3, 6, "TBLWTL [W6++], [W7++]"},
      {0xBBDBB6, Opcode::kTblwth, true, 3, 7, 3, 6, "TBLWTH.B [W6++], [W7++]"},
      {0xBBEBB6, Opcode::kTblwth, true, 5, 7, 3, 6, "TBLWTH.B [W6++], [++W7]"},
      {0xBB1B86, Opcode::kTblwtl, false, 3, 7, 0, 6, "TBLWTL W6, [W7++]"},
      {0xBB1B80, Opcode::kTblwtl, false, 3, 7, 0, 0, "TBLWTL W0, [W7++]"},
      {0xBB0800, Opcode::kTblwtl, false, 1, 0, 0, 0, "TBLWTL W0, [W0]"},
  };
  for (const TableCase& c : cases) {
    const Instruction in = Decode(c.word);
    EXPECT_EQ(in.op, c.op) << std::hex << c.word;
    EXPECT_EQ(in.byte_mode, c.byte) << std::hex << c.word;
    EXPECT_EQ(in.dst_mode, c.q) << std::hex << c.word;
    EXPECT_EQ(in.dst, c.d) << std::hex << c.word;
    EXPECT_EQ(in.src_mode, c.p) << std::hex << c.word;
    EXPECT_EQ(in.src, c.s) << std::hex << c.word;
    EXPECT_EQ(Disassemble(c.word), c.text);
  }
}

TEST(DecoderTest, RegisterAndFileInstructions) {
  EXPECT_EQ(Disassemble(0x883B0A), "MOV W10, 0x760");
  EXPECT_EQ(Disassemble(0x883B38), "MOV W8, 0x766");
  EXPECT_EQ(Disassemble(0x883B39), "MOV W9, 0x766");
  for (std::uint32_t n = 0; n < 6; ++n) {
    const Instruction in = Decode(0x883C20 + n);
    EXPECT_EQ(in.op, Opcode::kMovToFile);
    EXPECT_EQ(in.file, 0x0784);
    EXPECT_EQ(in.src, n);
  }
  EXPECT_EQ(Decode(0x880190).file, 0x0032);
  EXPECT_EQ(Decode(0x8802A0).file, 0x0054);
  const Instruction read = Decode(0x803B02);
  EXPECT_EQ(read.op, Opcode::kMovFromFile);
  EXPECT_EQ(read.file, 0x0760);
  EXPECT_EQ(read.dst, 2);

  const Instruction lit = Decode(0x2ABFE7);
  EXPECT_EQ(lit.op, Opcode::kMovLiteral);
  EXPECT_EQ(lit.literal, 0xABFE);
  EXPECT_EQ(lit.dst, 7);

  const Instruction bset = Decode(0xA8E761);
  EXPECT_EQ(bset.op, Opcode::kBset);
  EXPECT_EQ(bset.file, 0x0760);
  EXPECT_EQ(bset.bit, 15);
  const Instruction bclr = Decode(0xA9E761);
  EXPECT_EQ(bclr.op, Opcode::kBclr);
  EXPECT_EQ(bclr.bit, 15);
  EXPECT_EQ(Decode(0xA80762).bit, 0);  // bit 0 of the word is the low bit number
  EXPECT_EQ(Decode(0xA80763).bit, 1);
}

TEST(DecoderTest, NopsAndGoto) {
  EXPECT_EQ(Decode(0x000000).op, Opcode::kNop);
  EXPECT_EQ(Decode(0x00ABCD).op, Opcode::kNop);
  EXPECT_EQ(Decode(0xFF0000).op, Opcode::kNopr);
  EXPECT_EQ(Decode(0xFFFFFF).op, Opcode::kNopr);
  const Instruction go = Decode(0x040200);
  EXPECT_EQ(go.op, Opcode::kGoto);
  EXPECT_EQ(go.goto_low, 0x0200);
  EXPECT_EQ(Decode(0x040101).op, Opcode::kInvalid);  // bit 0 must be clear
}

TEST(DecoderTest, ClrWordByteAndModes) {
  const Instruction w6 = Decode(0xEB0300);
  EXPECT_EQ(w6.op, Opcode::kClr);
  EXPECT_EQ(w6.dst, 6);
  EXPECT_EQ(w6.dst_mode, kDirect);
  EXPECT_FALSE(w6.byte_mode);
  EXPECT_EQ(Decode(0xEB0380).dst, 7);
  const Instruction byte = Decode(0xEB4380);
  EXPECT_TRUE(byte.byte_mode);
  for (std::uint32_t q = 0; q <= 5; ++q) {
    EXPECT_EQ(Decode(0xEB0000 | q << 11 | 7 << 7).dst_mode, q);
  }
  EXPECT_EQ(Decode(0xEB3380).op, Opcode::kInvalid);  // mode 6
  EXPECT_EQ(Decode(0xEB3B80).op, Opcode::kInvalid);  // mode 7
  EXPECT_EQ(Decode(0xEB0381).op, Opcode::kInvalid);  // low bits belong to other instructions
}

TEST(DecoderTest, TableModesSixAndSevenAndDirectProgramOperandAreInvalid) {
  EXPECT_EQ(Decode(0xBA1BE6).op, Opcode::kInvalid);  // p = 6
  EXPECT_EQ(Decode(0xBA1BF6).op, Opcode::kInvalid);  // p = 7
  EXPECT_EQ(Decode(0xBA3396).op, Opcode::kInvalid);  // q = 6
  EXPECT_EQ(Decode(0xBA3B96).op, Opcode::kInvalid);  // q = 7
  EXPECT_EQ(Decode(0xBA1B86).op, Opcode::kInvalid);  // read from register-direct program address
  EXPECT_EQ(Decode(0xBB0386).op, Opcode::kInvalid);  // write to register-direct program address
  for (std::uint32_t p = 0; p <= 5; ++p) EXPECT_NE(Decode(0xBB0B86 | p << 4).op, Opcode::kInvalid);
}

TEST(DecoderTest, UnknownWordsAreInvalid) {
  for (std::uint32_t word : {0x123456u, 0x780000u, 0xEF0000u, 0xB90000u, 0x4F0000u, 0x010000u}) {
    EXPECT_EQ(Decode(word).op, Opcode::kInvalid) << std::hex << word;
    EXPECT_NE(Disassemble(word).find("undecodable"), std::string::npos);
  }
}

}  // namespace
}  // namespace quillon::sim
