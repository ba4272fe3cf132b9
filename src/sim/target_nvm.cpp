// The NVM controller: NVMCON operations of both family forms, their timing,
// and what they do to the memories.
#include <algorithm>
#include <cstdio>

#include "sim/target.h"

namespace quillon::sim {
namespace {

constexpr std::uint32_t kPageBytes = 1024;     // 512 instructions
constexpr std::uint32_t kEepromRowBytes = 32;  // 16 words

}  // namespace

void Target::SetNvmconWr(bool on) {
  const std::uint16_t value = DataWord(kNvmcon);
  StoreWord(kNvmcon, on ? (value | kWr) : (value & ~kWr));
}

Target::NvmOp Target::Decode30F(std::uint16_t nvmcon) const {
  switch (nvmcon & 0x7F) {
    case 0x01:
      return NvmOp::kRowProgram;
    case 0x04:
      return NvmOp::kEepromWord;
    case 0x05:
      return NvmOp::kEepromRow;
    case 0x08:
      return NvmOp::kConfig;
    case 0x7F:
      return NvmOp::kChipErase;
    case 0x71:
      return NvmOp::kCodeRowErase;
    case 0x72:
      return NvmOp::kExecutiveErase;
    case 0x74:
      return NvmOp::kEepromWordErase;
    case 0x75:
      return NvmOp::kEepromRowErase;
    default:
      return NvmOp::kNone;
  }
}

Target::NvmOp Target::Decode24(std::uint16_t nvmcon) const {
  switch (nvmcon & 0x7F) {
    case 0x4F:
      return NvmOp::kBulkErase;
    case 0x42:
      return NvmOp::kPageErase;
    case 0x01:
      return NvmOp::kRowProgram;
    case 0x03:
      return NvmOp::kWordProgram;
    case 0x00:
      return NvmOp::kConfig;
    default:
      return NvmOp::kNone;
  }
}

// PIC24F KA: one code (0x4004) writes a program row, an EEPROM word or a
// configuration register, told apart by the latched address.
Target::NvmOp Target::DecodeKA(std::uint16_t nvmcon) const {
  const std::uint32_t address = nvm_address_ & 0xFFFFFE;
  switch (nvmcon & 0x7F) {
    case 0x04:
      if (InProgram(address)) return NvmOp::kRowProgram;
      if (InEeprom(address)) return NvmOp::kEepromWordReplace;
      if (ConfigImplemented(address)) return NvmOp::kConfig;
      return NvmOp::kNone;
    case 0x64:
      return NvmOp::kChipEraseAll;
    case 0x50:
      return NvmOp::kEepromErase;
    case 0x5A:
      if (InProgram(address)) return NvmOp::kRowsErase4;
      return InEeprom(address) ? NvmOp::kEepromErase8 : NvmOp::kNone;
    case 0x59:
      return InEeprom(address) ? NvmOp::kEepromErase4 : NvmOp::kNone;
    case 0x58:
      return InEeprom(address) ? NvmOp::kEepromWordErase : NvmOp::kNone;
    default:
      return NvmOp::kNone;
  }
}

std::uint64_t Target::Duration(NvmOp op) const {
  if (!self_timed()) {
    switch (op) {
      case NvmOp::kChipErase:
      case NvmOp::kCodeRowErase:
      case NvmOp::kExecutiveErase:
      case NvmOp::kEepromWordErase:
      case NvmOp::kEepromRowErase:
        return timing_.timed_erase_ns;
      default:
        return timing_.timed_program_ns;
    }
  }
  switch (op) {
    case NvmOp::kBulkErase:
    case NvmOp::kChipEraseAll:
    case NvmOp::kEepromErase:
      return timing_.bulk_erase_ns;
    case NvmOp::kRowsErase4:
    case NvmOp::kEepromErase4:
    case NvmOp::kEepromErase8:
    case NvmOp::kEepromWordErase:
    case NvmOp::kPageErase:
      return timing_.page_erase_ns;
    case NvmOp::kWordProgram:
      return timing_.word_program_ns;
    case NvmOp::kConfig:
      return timing_.config_program_ns;
    default:
      return timing_.row_program_ns;
  }
}

void Target::OnNvmconWrite(std::uint16_t old_value, std::uint16_t new_value) {
  // Inference: NVMCON cannot be changed while a self-timed operation runs;
  // a second WR set during it starts nothing.
  if (busy_) return;
  const bool old_wr = (old_value & kWr) != 0;
  const bool new_wr = (new_value & kWr) != 0;

  if (armed_) {  // dsPIC30F, WR set: only clearing WR matters
    if (new_wr) return;
    StoreWord(kNvmcon, new_value);
    armed_ = false;
    // Inference: the operation takes effect when WR is cleared after an
    // adequate wait; cleared too early, it is not performed at all.
    if (now_ns_ - op_started_ns_ >= Duration(op_)) {
      Perform(op_);
      ++completed_;
    } else {
      ++unfinished_;
    }
    op_ = NvmOp::kNone;
    return;
  }

  StoreWord(kNvmcon, new_value & ~kWr);
  if (old_wr || !new_wr) return;
  wr_written_ = true;
  const bool unlocked = key_stage_ == 2;
  key_stage_ = 0;
  // WREN gates every operation. On the dsPIC30F form WR has no effect
  // without the NVMKEY unlock; the dsPIC33F/PIC24 form needs none in ICSP.
  if ((new_value & kWren) == 0) return;
  if (!self_timed() && !unlocked) return;
  const devices::NvmController controller = form().controller;
  const NvmOp op = controller == devices::NvmController::kDsPic30F   ? Decode30F(new_value)
                   : controller == devices::NvmController::kDsPic33F ? Decode24(new_value)
                                                                     : DecodeKA(new_value);
  char text[96] = {};
  if (op == NvmOp::kNone) {
    std::snprintf(text, sizeof text, "unsupported NVMCON operation %04X at %06X",
                  static_cast<unsigned>(new_value), static_cast<unsigned>(nvm_address_));
  } else if (op == NvmOp::kRowProgram && latches_span_rows_) {
    // The part has latches for one row; table writes past it are not a row.
    std::snprintf(text, sizeof text, "row write from latches beyond one %u-instruction row",
                  static_cast<unsigned>(row_instructions()));
  }
  if (text[0] != 0) {
    RecordFault(text);
    ResetLatches();
    StoreWord(kNvmcon, (new_value & ~kWr) | kWrerr);
    return;
  }
  // The operation works on the latches and address as they are now; the
  // latches read as blank again afterwards (Inference).
  op_ = op;
  op_address_ = nvm_address_;
  op_latches_ = latches_;
  ResetLatches();
  op_started_ns_ = now_ns_;
  SetNvmconWr(true);
  if (self_timed()) {
    busy_ = true;
    op_done_ns_ = now_ns_ + Duration(op);
  } else {
    armed_ = true;
  }
}

void Target::FinishSelfTimed() {
  busy_ = false;
  Perform(op_);
  op_ = NvmOp::kNone;
  ++completed_;
  SetNvmconWr(false);
}

void Target::Count(NvmOp op, std::uint32_t address) {
  switch (op) {
    case NvmOp::kRowProgram:
    case NvmOp::kWordProgram:
    case NvmOp::kEepromWord:
    case NvmOp::kEepromRow:
    case NvmOp::kEepromWordReplace:
      ++(InProgram(address)  ? tally_.program_writes
         : InEeprom(address) ? tally_.eeprom_writes
                             : tally_.executive_writes);
      return;
    case NvmOp::kConfig:
      ++tally_.config_writes;
      return;
    case NvmOp::kNone:
      return;
    default:
      ++tally_.erases;
  }
}

void Target::Perform(NvmOp op) {
  const std::uint32_t address = op_address_ & 0xFFFFFE;
  Count(op, address);
  auto latch = [this](std::uint32_t a) { return op_latches_[(a >> 1) & 63]; };
  switch (op) {
    case NvmOp::kRowProgram: {
      const std::uint32_t row_bytes = 2 * row_instructions();
      const std::uint32_t base = address & ~(row_bytes - 1);
      for (std::uint32_t a = base; a < base + row_bytes; a += 2) ProgramCell(a, latch(a));
      return;
    }
    case NvmOp::kWordProgram:
    case NvmOp::kEepromWord:
      ProgramCell(address, latch(address));
      return;
    case NvmOp::kEepromWordReplace:
      EraseRange(address, address + 2);
      ProgramCell(address, latch(address));
      return;
    case NvmOp::kChipEraseAll:
      config_.fill(0x00FF);
      [[fallthrough]];
    case NvmOp::kChipErase:  // leaves the configuration registers and the DeviceID alone
      EraseRange(0, 2 * program_words());
      [[fallthrough]];
    case NvmOp::kEepromErase:
      EraseRange(eeprom_base(), kExecutiveBase);
      return;
    case NvmOp::kRowsErase4: {
      const std::uint32_t bytes = 4 * 2 * row_instructions();
      const std::uint32_t base = address & ~(bytes - 1);
      EraseRange(base, std::min(base + bytes, 2 * program_words()));
      return;
    }
    case NvmOp::kEepromErase4:
    case NvmOp::kEepromErase8: {
      const std::uint32_t bytes = op == NvmOp::kEepromErase4 ? 8 : 16;
      const std::uint32_t base = address & ~(bytes - 1);
      if (base >= eeprom_base()) EraseRange(base, base + bytes);
      return;
    }
    case NvmOp::kEepromRow: {
      const std::uint32_t base = address & ~(kEepromRowBytes - 1);
      for (std::uint32_t a = base; a < base + kEepromRowBytes; a += 2) {
        if (InEeprom(a)) ProgramCell(a, latch(a));
      }
      return;
    }
    case NvmOp::kConfig:
      WriteConfigRegister(address, static_cast<std::uint16_t>(latch(address)));
      return;
    case NvmOp::kCodeRowErase: {
      const std::uint32_t base = address & ~(2 * row_instructions() - 1);
      EraseRange(base, base + 2 * row_instructions());
      return;
    }
    case NvmOp::kExecutiveErase:
      // Inference: the unit ID words at 0x8005C0 and up go with the rest.
      EraseRange(kExecutiveBase, executive_end());
      return;
    case NvmOp::kEepromWordErase:
      if (InEeprom(address)) EraseRange(address, address + 2);
      return;
    case NvmOp::kEepromRowErase: {
      const std::uint32_t base = address & ~(kEepromRowBytes - 1);
      if (InEeprom(base)) EraseRange(base, base + kEepromRowBytes);
      return;
    }
    case NvmOp::kBulkErase:
      // Inference: "must survive an erase" is the programmer's duty (the host
      // saves and rewrites them); the executive bulk erase clears the
      // calibration words from 0x8007F4 up like the rest of the page.
      if ((address >> 16) == 0x80) {
        EraseRange(kExecutiveBase, executive_end());
      } else {
        EraseRange(0, 2 * program_words());
      }
      return;
    case NvmOp::kPageErase: {
      const std::uint32_t base = address & ~(kPageBytes - 1);
      EraseRange(base, base + kPageBytes);
      return;
    }
    case NvmOp::kNone:
      return;
  }
}

}  // namespace quillon::sim
