// Instruction execution: the register file, data space and table
// instructions of the simulated chip.
#include <cstdio>

#include "sim/target.h"

namespace quillon::sim {

void Target::Execute(std::uint32_t word) {
  if (mode_ != TargetMode::kIcsp) return;  // held in reset or running the executive
  word &= 0xFFFFFF;
  Advance(0);
  if (goto_pending_) {
    // The word after a GOTO is its second word whatever its upper byte says.
    goto_pending_ = false;
    return;
  }
  const Instruction in = Decode(word);
  key_written_ = wr_written_ = false;
  switch (in.op) {
    case Opcode::kNop:
    case Opcode::kNopr:
      return;
    case Opcode::kGoto:
      goto_pending_ = true;
      break;
    case Opcode::kMovLiteral:
      SetW(in.dst, in.literal);
      break;
    case Opcode::kMovToFile:
      WriteData(in.file, W(in.src), false);
      break;
    case Opcode::kMovFromFile:
      SetW(in.dst, ReadData(in.file, false));
      break;
    case Opcode::kClr:
      WriteData(EffectiveAddress(in.dst, in.dst_mode, in.byte_mode), 0, in.byte_mode);
      break;
    case Opcode::kBset:
    case Opcode::kBclr: {
      const std::uint16_t mask = static_cast<std::uint16_t>(1u << in.bit);
      const std::uint16_t value = ReadData(in.file, false);
      WriteData(in.file, in.op == Opcode::kBset ? (value | mask) : (value & ~mask), false);
      break;
    }
    case Opcode::kTblrdl:
    case Opcode::kTblrdh:
    case Opcode::kTblwtl:
    case Opcode::kTblwth:
      ExecuteTable(in);
      break;
    case Opcode::kInvalid: {
      char text[64];
      std::snprintf(text, sizeof text, "undecodable instruction word %06X",
                    static_cast<unsigned>(word));
      RecordFault(text);
      return;
    }
  }
  // The unlock holds only until the next instruction that is not a NOP.
  if (key_stage_ == 2 && !key_written_ && !wr_written_) key_stage_ = 0;
}

void Target::SetW(int n, std::uint16_t value) {
  WriteData(static_cast<std::uint16_t>(2 * n), value, false);
}

std::uint16_t Target::ReadData(std::uint16_t address, bool byte) {
  if (byte) return data_[address];
  if ((address & 1) != 0) {
    RecordFault("word access at odd data address");
    address &= 0xFFFE;
  }
  return DataWord(address);
}

void Target::WriteData(std::uint16_t address, std::uint16_t value, bool byte) {
  if (!byte && (address & 1) != 0) {
    RecordFault("word access at odd data address");
    address &= 0xFFFE;
  }
  const std::uint16_t word_address = address & 0xFFFE;
  const std::uint16_t old_value = DataWord(word_address);
  if (byte) {
    data_[address] = static_cast<std::uint8_t>(value);
  } else {
    StoreWord(address, value);
  }
  if (word_address >= 0x20) OnSfrWrite(word_address, old_value);
}

void Target::OnSfrWrite(std::uint16_t word_address, std::uint16_t old_value) {
  const std::uint16_t value = DataWord(word_address);
  if (word_address == tblpag_address()) {
    StoreWord(word_address, value & 0x00FF);  // TBLPAG is eight bits wide
  } else if (word_address == kNvmcon) {
    StoreWord(word_address, old_value);  // the controller decides what sticks
    OnNvmconWrite(old_value, value);
  } else if (word_address == kNvmadr) {
    nvm_address_ = (nvm_address_ & 0xFF0000) | value;
  } else if (word_address == kNvmadru) {
    StoreWord(word_address, value & 0x00FF);
    nvm_address_ = (nvm_address_ & 0x00FFFF) | static_cast<std::uint32_t>((value & 0xFF) << 16);
  } else if (word_address == kNvmkey) {
    StoreWord(word_address, 0);  // write-only
    key_written_ = true;
    const std::uint8_t key = static_cast<std::uint8_t>(value);
    if (key == 0x55) {
      key_stage_ = 1;
    } else if (key == 0xAA && key_stage_ == 1) {
      key_stage_ = 2;
    } else {
      key_stage_ = 0;
    }
  }
}

// Resolves an operand to its data address; register-direct gives the
// register's own address, so W0..W15 and memory are handled alike.
std::uint16_t Target::EffectiveAddress(std::uint8_t reg, std::uint8_t mode, bool byte) {
  const std::uint16_t w = W(reg);
  if (mode == kDirect) return static_cast<std::uint16_t>(2 * reg);
  if (mode == kIndirect) return w;
  // The other modes move the register by the operand size; the pre-modified
  // ones address its new value.
  const int size = byte ? 1 : 2;
  const bool up = mode == kPostInc || mode >= kPreInc;
  const auto moved = static_cast<std::uint16_t>(up ? w + size : w - size);
  SetW(reg, moved);
  return mode >= kPreDec ? moved : w;
}

void Target::ExecuteTable(const Instruction& in) {
  const bool read = in.op == Opcode::kTblrdl || in.op == Opcode::kTblrdh;
  const bool high = in.op == Opcode::kTblrdh || in.op == Opcode::kTblwth;
  const bool byte = in.byte_mode;
  if (read) {
    const std::uint16_t ea = EffectiveAddress(in.src, in.src_mode, byte);
    const std::uint32_t program_address = (static_cast<std::uint32_t>(tblpag()) << 16) | ea;
    const std::uint32_t cell = ReadProgramSpace(program_address);
    std::uint16_t value;
    if (high) {
      value = static_cast<std::uint16_t>((cell >> 16) & 0xFF);  // phantom byte is 0
      if (byte && (ea & 1) != 0) value = 0;
    } else {
      value = static_cast<std::uint16_t>(cell & 0xFFFF);
      if (byte) value = (ea & 1) != 0 ? (value >> 8) : (value & 0xFF);
    }
    const std::uint16_t destination = EffectiveAddress(in.dst, in.dst_mode, byte);
    WriteData(destination, value, byte);
    return;
  }
  const std::uint16_t source = EffectiveAddress(in.src, in.src_mode, byte);
  const std::uint16_t value = ReadData(source, byte);
  const std::uint16_t ea = EffectiveAddress(in.dst, in.dst_mode, byte);
  WriteLatch((static_cast<std::uint32_t>(tblpag()) << 16) | ea, high, byte, value);
}

void Target::ResetLatches() {
  latches_.fill(0xFFFFFF);
  latched_row_.reset();
  latches_span_rows_ = false;
}

// Table writes fill the write latches and latch their address as the
// target of the next NVM operation.
void Target::WriteLatch(std::uint32_t address, bool high, bool byte, std::uint16_t value) {
  std::uint32_t& latch = latches_[(address >> 1) & 63];
  const std::uint32_t row = address & ~(2 * row_instructions() - 1);
  if (!latched_row_) latched_row_ = row;
  if (*latched_row_ != row) latches_span_rows_ = true;
  if (high) {
    if (!byte || (address & 1) == 0)
      latch = (latch & 0x00FFFF) | (static_cast<std::uint32_t>(value & 0xFF) << 16);
  } else if (!byte) {
    latch = (latch & 0xFF0000) | value;
  } else if ((address & 1) == 0) {
    latch = (latch & 0xFFFF00) | (value & 0xFF);
  } else {
    latch = (latch & 0xFF00FF) | (static_cast<std::uint32_t>(value & 0xFF) << 8);
  }
  nvm_address_ = address & 0xFFFFFE;
  StoreWord(kNvmadr, static_cast<std::uint16_t>(nvm_address_));
  data_[kNvmadru] = static_cast<std::uint8_t>(nvm_address_ >> 16);
}

}  // namespace quillon::sim
