// The built-in letters of firmware above 1.0. Each one clocks the same
// instruction words into the target as the host's batch form of that step,
// so the letters and the batches share one model of the chip.
#include "link/link.h"
#include "sim/board.h"

namespace quillon::sim {
namespace {

namespace cmd = link::cmd;

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

void Board::Letter(std::uint8_t letter) {
  switch (letter) {
    case cmd::kGotoResetVector100:  // 'p'
      Six({kNop, 0x040100, 0x040100, kNop});
      break;
    case cmd::kGotoResetVector200:  // 'q'
      Six({0x040200, 0x040200, kNop});
      break;
    case cmd::kLoadCodeLatches:  // 'r'
      Six({0xEB0300, kNop, 0xBB0BB6, kNop, kNop, 0xBBDBB6, kNop, kNop, 0xBBEBB6, kNop, kNop});
      Six({0xBB1BB6, kNop, kNop, 0xBB0BB6, kNop, kNop, 0xBBDBB6, kNop, kNop, 0xBBEBB6, kNop, kNop,
           0xBB1BB6, kNop, kNop});
      break;
    case cmd::kReadCodeQuad:  // 's'
      Six({0xEB0380, kNop, 0xBA1B96, kNop, kNop, 0xBADBB6, kNop, kNop, 0xBADBD6, kNop, kNop,
           0xBA1BB6, kNop});
      Six({kNop, 0xBA1B96, kNop, kNop, 0xBADBB6, kNop, kNop, 0xBADBD6, kNop, kNop, 0xBA0BB6, kNop,
           kNop});
      break;
    case cmd::kFetchCodeQuad:  // 't': W0..W5
      for (std::uint32_t n = 0; n < 6; ++n) {
        if (n == 1) Six(kNop);
        Six({0x883C20 + n, kNop});
        ReplyWord(RegOut());
      }
      Six(kNop);
      return;
    case cmd::kNvmUnlock:  // 'u'
      unlock_pending_ = true;
      break;
    case cmd::kTimedNvmWrite1:  // 'v': n + 1 waits
      TimedWrite(2);
      break;
    case cmd::kTimedNvmWriteN:  // 'w'
      TimedWrite(101);
      break;
    case cmd::kStartNvmWrite:  // 'x'
      FlushUnlock();
      Six({kBsetWr, kNop, kNop, kNop, kNop});
      break;
    case cmd::kPollNvmWrite1:  // 'y'
      PollWrite(1);
      break;
    case cmd::kPollNvmWriteN:  // 'z'
      PollWrite(config_.letter_long_waits);
      break;
    case cmd::kReadDataQuad:  // '{'
      Six({0xEB0380, kNop});
      for (int i = 0; i < 4; ++i) Six({0xBA1BB6, kNop, kNop});
      break;
    case cmd::kFetchDataQuad:  // '|': W0..W3
      for (std::uint32_t n = 0; n < 4; ++n) {
        Six({0x883C20 + n, kNop});
        ReplyWord(RegOut());
        Six(kNop);
      }
      return;
    case cmd::kLoadDataLatches:  // '}'
      Six({0xEB0300, kNop});
      for (int i = 0; i < 4; ++i) Six({0xBB1BB6, kNop, kNop});
      break;
    default:
      return;
  }
  Reply(kAck);
}

}  // namespace quillon::sim
