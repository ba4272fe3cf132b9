// The built-in letters of firmware above 1.0. Each one clocks the same
// instruction words into the target as the host's batch form of that step,
// so the letters and the batches share one model of the chip.
#include "sim/board.h"

namespace quillon::sim {
namespace {

constexpr std::uint32_t kNop = 0x000000;
constexpr std::uint32_t kBsetWr = 0xA8E761;
constexpr std::uint32_t kBclrWr = 0xA9E761;

}  // namespace

// Inference: 'u' does not clock its key words at once. The unlock only
// holds when the keys come immediately before WR is set, and the host may
// send its NVMCON set-up packet between 'u' and the letter that sets WR, so
// the board keeps the keys and clocks them right before that letter's BSET.
void Board::FlushUnlock() {
  if (!unlock_pending_) return;
  unlock_pending_ = false;
  Six({0x200558, 0x883B38, 0x200AA9, 0x883B39});
}

void Board::TimedWrite(int waits) {
  FlushUnlock();
  Six({kBsetWr, kNop, kNop, kNop, kNop});
  Wait(waits);
  Six({kBclrWr, kNop, kNop, kNop, kNop});
}

void Board::PollWrite(int waits) {
  Wait(waits);
  for (int poll = 1; poll <= 101; ++poll) {
    Six({kNop, 0x040200, kNop, 0x803B02, 0x883C22, kNop});
    AdvanceTime(config_.letter_poll_ns);
    if ((RegOut() & 0x8000) == 0) break;
  }
}

bool Board::Letter(std::uint8_t letter) {
  switch (letter) {
    case 0x70:  // 'p' GotoResetVector100
      Six({kNop, 0x040100, 0x040100, kNop});
      break;
    case 0x71:  // 'q' GotoResetVector200
      Six({0x040200, 0x040200, kNop});
      break;
    case 0x72:  // 'r' LoadCodeLatches
      Six({0xEB0300, kNop, 0xBB0BB6, kNop, kNop, 0xBBDBB6, kNop, kNop, 0xBBEBB6, kNop, kNop});
      Six({0xBB1BB6, kNop, kNop, 0xBB0BB6, kNop, kNop, 0xBBDBB6, kNop, kNop, 0xBBEBB6, kNop, kNop,
           0xBB1BB6, kNop, kNop});
      break;
    case 0x73:  // 's' ReadCodeQuad
      Six({0xEB0380, kNop, 0xBA1B96, kNop, kNop, 0xBADBB6, kNop, kNop, 0xBADBD6, kNop, kNop,
           0xBA1BB6, kNop});
      Six({kNop, 0xBA1B96, kNop, kNop, 0xBADBB6, kNop, kNop, 0xBADBD6, kNop, kNop, 0xBA0BB6, kNop,
           kNop});
      break;
    case 0x74:  // 't' FetchCodeQuad: W0..W5
      for (std::uint32_t n = 0; n < 6; ++n) {
        if (n == 1) Six(kNop);
        Six({0x883C20 + n, kNop});
        ReplyWord(RegOut());
      }
      Six(kNop);
      return true;
    case 0x75:  // 'u' NvmUnlock
      unlock_pending_ = true;
      break;
    case 0x76:  // 'v' TimedNvmWrite(1): n + 1 waits
      TimedWrite(2);
      break;
    case 0x77:  // 'w' TimedNvmWrite(100)
      TimedWrite(101);
      break;
    case 0x78:  // 'x' StartNvmWrite
      FlushUnlock();
      Six({kBsetWr, kNop, kNop, kNop, kNop});
      break;
    case 0x79:  // 'y' PollNvmWrite(1)
      PollWrite(1);
      break;
    case 0x7A:  // 'z' PollNvmWrite(n > 1)
      PollWrite(config_.letter_long_waits);
      break;
    case 0x7B:  // '{' ReadDataQuad
      Six({0xEB0380, kNop});
      for (int i = 0; i < 4; ++i) Six({0xBA1BB6, kNop, kNop});
      break;
    case 0x7C:  // '|' FetchDataQuad: W0..W3
      for (std::uint32_t n = 0; n < 4; ++n) {
        Six({0x883C20 + n, kNop});
        ReplyWord(RegOut());
        Six(kNop);
      }
      return true;
    case 0x7D:  // '}' LoadDataLatches
      Six({0xEB0300, kNop});
      for (int i = 0; i < 4; ++i) Six({0xBB1BB6, kNop, kNop});
      break;
    default:
      return false;
  }
  Reply(kAck);
  return true;
}

}  // namespace quillon::sim
