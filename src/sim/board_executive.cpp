// The board's executive commands and the programming executive that answers
// them inside the target. Replies always have the exchange sizes the host
// expects; when no executive runs the board reads all ones from the target.
#include <cstdio>

#include "sim/board.h"

namespace quillon::sim {
namespace {

constexpr std::uint16_t kPass = 0x1;
constexpr std::uint16_t kFail = 0x2;
constexpr std::uint16_t kNack = 0x3;
constexpr std::uint32_t kMaxReadCount = 64;  // this board's read block limit

}  // namespace

void Board::ExecutiveHeader(std::uint16_t status, std::uint8_t opcode, std::uint16_t length) {
  ReplyWord(static_cast<std::uint16_t>(status << 12 | opcode << 8));
  ReplyWord(length);
}

std::uint32_t Board::CommandWord24(std::size_t at) const {
  return static_cast<std::uint32_t>(command_[at] << 16 | command_[at + 1] << 8 | command_[at + 2]);
}

bool Board::ExecutiveRunning() const {
  return config_.target_present && target_.ExecutiveRunning();
}

void Board::ExecutiveNack(std::uint8_t opcode, const char* why) {
  char text[96];
  std::snprintf(text, sizeof text, "executive command %02X refused: %s", command_[0], why);
  Fault(text);
  ExecutiveHeader(kNack, opcode, 2);
}

void Board::ReplyAllOnes(std::size_t words) {
  for (std::size_t i = 0; i < words; ++i) ReplyWord(0xFFFF);
}

// SCHECK
void Board::ExecutiveSanityCheck() {
  if (!ExecutiveRunning()) return ReplyAllOnes(2);
  ExecutiveHeader(kPass, 0x0, 2);
}

// READP (code, packed) and READD (EEPROM words).
void Board::ExecutiveRead(bool code) {
  const std::uint32_t address = CommandWord24(1);
  const std::uint32_t count = CommandWord24(4);
  const std::uint8_t opcode = code ? 0x2 : 0x1;
  if (count == 0 || count > kMaxReadCount || (code && count % 2 != 0)) {
    return ExecutiveNack(opcode, "count out of range");
  }
  const std::size_t data_words = code ? count / 2 * 3 : count;
  if (!ExecutiveRunning()) return ReplyAllOnes(2 + data_words);
  ExecutiveHeader(kPass, opcode, static_cast<std::uint16_t>(2 + data_words));
  if (!code) {
    for (std::uint32_t i = 0; i < count; ++i) {
      ReplyWord(static_cast<std::uint16_t>(target_.ReadProgramSpace(address + 2 * i)));
    }
    return;
  }
  for (std::uint32_t i = 0; i < count; i += 2) {
    const std::uint32_t i0 = target_.ReadProgramSpace(address + 2 * i);
    const std::uint32_t i1 = target_.ReadProgramSpace(address + 2 * i + 2);
    ReplyWord(static_cast<std::uint16_t>(i0));
    ReplyWord(static_cast<std::uint16_t>(((i1 >> 16) & 0xFF) << 8 | ((i0 >> 16) & 0xFF)));
    ReplyWord(static_cast<std::uint16_t>(i1));
  }
}

// PROGP (one packed code row) and PROGD (one EEPROM row of 16 words):
// program, then read back as the executive does, answering FAIL when the
// cells did not take the data.
void Board::ExecutiveProgram(bool code) {
  const std::uint8_t opcode = code ? 0x5 : 0x4;
  const std::uint32_t address = CommandWord24(1);
  const std::size_t block_at = code ? 7 : 4;
  const std::size_t block_bytes = command_[block_at];
  const std::uint8_t* block = command_.data() + block_at + 1;
  if (!ExecutiveRunning()) return ReplyAllOnes(2);
  auto word = [block](std::uint32_t k) {
    return static_cast<std::uint32_t>(block[2 * k] << 8 | block[2 * k + 1]);
  };
  std::array<std::uint32_t, 64> values{};
  std::uint32_t count = 0;
  if (code) {
    count = CommandWord24(4);
    const std::uint32_t row = target_.row_instructions();
    if (count != row || block_bytes != 3 * count)
      return ExecutiveNack(opcode, "not one packed row");
    if (address % (2 * row) != 0 || address + 2 * row > 2 * target_.program_words()) {
      return ExecutiveNack(opcode, "row address outside program memory");
    }
    for (std::uint32_t pair = 0; pair < count / 2; ++pair) {
      const std::uint32_t lo0 = word(3 * pair), mid = word(3 * pair + 1), lo1 = word(3 * pair + 2);
      values[2 * pair] = (mid & 0xFF) << 16 | lo0;
      values[2 * pair + 1] = (mid >> 8) << 16 | lo1;
    }
  } else {
    count = 16;
    if (block_bytes != 32) return ExecutiveNack(opcode, "not one EEPROM row of 16 words");
    if (target_.eeprom_base() == kExecutiveBase || address % 32 != 0 ||
        address < target_.eeprom_base() || address >= kExecutiveBase) {
      return ExecutiveNack(opcode, "row address outside data EEPROM");
    }
    for (std::uint32_t k = 0; k < count; ++k) values[k] = word(k);
  }
  target_.ProgramBlock(address, values.data(), count);
  bool same = true;
  const std::uint32_t mask = code ? 0xFFFFFF : 0xFFFF;
  for (std::uint32_t k = 0; k < count; ++k) {
    same = same && (target_.ReadProgramSpace(address + 2 * k) & mask) == (values[k] & mask);
  }
  ExecutiveHeader(same ? kPass : kFail, opcode, 2);
}

}  // namespace quillon::sim
