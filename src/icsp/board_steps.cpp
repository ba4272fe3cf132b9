#include "icsp/board_steps.h"

#include "icsp/primitives.h"

namespace quillon::icsp {

namespace {

using link::Link;
namespace cmd = link::cmd;

// A letter goes out after whatever the batch holds.
void Letter(Link& link, std::uint8_t letter) {
  link.SendBatch();
  link.SendCommandAck(letter);
}

class BatchSteps final : public BoardSteps {
 public:
  void GotoResetVector100(Link& link) const override {
    AppendWords(link, {kNop, kGoto100, kGoto100, kNop});
    link.SendBatch();
  }
  void GotoResetVector200(Link& link) const override {
    AppendWords(link, {kGoto200, kGoto200, kNop});
    link.SendBatch();
  }
  void NvmUnlock(Link& link) const override {
    AppendWords(link, {MoveLiteral(0x55, 8), kMovW8ToNvmkey, MoveLiteral(0xAA, 9), kMovW9ToNvmkey});
  }
  void StartNvmWrite(Link& link) const override {
    AppendWords(link, {kBsetNvmconWr, kNop, kNop, kNop, kNop});
    link.SendBatch();
  }
  void TimedNvmWrite(Link& link, int n) const override {
    AppendWords(link, {kBsetNvmconWr, kNop, kNop, kNop, kNop});
    link.SendBatch();
    for (int i = 0; i <= n; ++i) Wait(link);
    // The caller's next send (normally the reset-vector GOTO) carries these.
    AppendWords(link, {kBclrNvmconWr, kNop, kNop, kNop, kNop});
  }
  void PollNvmWrite(Link& link, int n) const override {
    for (int i = 0; i < n; ++i) Wait(link);
    // A part that never clears WR is given up on silently after 101 polls.
    for (int polls = 1; polls <= 101; ++polls) {
      AppendWords(link, {kNop, kGoto200, kNop, kMovNvmconToW2, kMovW2ToVisi, kNop});
      link.SendBatch();
      const std::uint16_t nvmcon = RegOut(link);
      if ((nvmcon & 0x8000) == 0 || link.lost()) break;
    }
  }
  void ReadCodeQuad(Link& link) const override {
    AppendWords(link, {kClrW7, kNop, kTblrdlW6ToW7, kNop, kNop, kTblrdhbW6IncToW7Inc, kNop, kNop,
                       kTblrdhbPreW6ToW7Inc, kNop, kNop, kTblrdlW6IncToW7Inc, kNop});
    link.SendBatch();
    AppendWords(link, {kNop, kTblrdlW6ToW7, kNop, kNop, kTblrdhbW6IncToW7Inc, kNop, kNop,
                       kTblrdhbPreW6ToW7Inc, kNop, kNop, kTblrdlW6IncToW7, kNop, kNop});
    link.SendBatch();
  }
  void FetchCodeQuad(Link& link, std::uint16_t (&words)[6]) const override {
    for (unsigned n = 0; n < 6; ++n) {
      if (n == 1) link.AppendInstruction(kNop);
      AppendWords(link, {MoveToVisi(n), kNop});
      link.SendBatch();
      words[n] = RegOut(link);
    }
    link.AppendInstruction(kNop);
    link.SendBatch();
  }
  void LoadCodeLatches(Link& link) const override {
    AppendWords(link, {kClrW6, kNop, kTblwtlW6IncToW7, kNop, kNop, kTblwthbW6IncToW7Inc, kNop, kNop,
                       kTblwthbW6IncToPreW7, kNop, kNop});
    link.SendBatch();
    AppendWords(
        link, {kTblwtlW6IncToW7Inc, kNop, kNop, kTblwtlW6IncToW7, kNop, kNop, kTblwthbW6IncToW7Inc,
               kNop, kNop, kTblwthbW6IncToPreW7, kNop, kNop, kTblwtlW6IncToW7Inc, kNop, kNop});
    link.SendBatch();
  }
  void ReadDataQuad(Link& link) const override {
    AppendWords(link, {kClrW7, kNop});
    for (int i = 0; i < 4; ++i) AppendWords(link, {kTblrdlW6IncToW7Inc, kNop, kNop});
  }
  void FetchDataQuad(Link& link, std::uint16_t (&words)[4]) const override {
    for (unsigned n = 0; n < 4; ++n) {
      AppendWords(link, {MoveToVisi(n), kNop});
      link.SendBatch();
      words[n] = RegOut(link);
      link.AppendInstruction(kNop);
    }
  }
  void LoadDataLatches(Link& link) const override {
    AppendWords(link, {kClrW6, kNop});
    for (int i = 0; i < 4; ++i) AppendWords(link, {kTblwtlW6IncToW7Inc, kNop, kNop});
    link.SendBatch();
  }
};

class LetterSteps final : public BoardSteps {
 public:
  void GotoResetVector100(Link& link) const override { Letter(link, cmd::kGotoResetVector100); }
  void GotoResetVector200(Link& link) const override { Letter(link, cmd::kGotoResetVector200); }
  void NvmUnlock(Link& link) const override {
    // Deliberately ahead of anything pending: the board expects the NVMCON
    // set-up words to follow the unlock letter.
    link.SendCommandAck(cmd::kNvmUnlock);
  }
  void StartNvmWrite(Link& link) const override { Letter(link, cmd::kStartNvmWrite); }
  void TimedNvmWrite(Link& link, int n) const override {
    Letter(link, n == 1 ? cmd::kTimedNvmWrite1 : cmd::kTimedNvmWriteN);
  }
  void PollNvmWrite(Link& link, int n) const override {
    Letter(link, n == 1 ? cmd::kPollNvmWrite1 : cmd::kPollNvmWriteN);
  }
  void ReadCodeQuad(Link& link) const override { Letter(link, cmd::kReadCodeQuad); }
  void FetchCodeQuad(Link& link, std::uint16_t (&words)[6]) const override {
    Fetch(link, cmd::kFetchCodeQuad, words);
  }
  void LoadCodeLatches(Link& link) const override { Letter(link, cmd::kLoadCodeLatches); }
  void ReadDataQuad(Link& link) const override { link.SendCommandAck(cmd::kReadDataQuad); }
  void FetchDataQuad(Link& link, std::uint16_t (&words)[4]) const override {
    Fetch(link, cmd::kFetchDataQuad, words);
  }
  void LoadDataLatches(Link& link) const override { Letter(link, cmd::kLoadDataLatches); }

 private:
  template <std::size_t N>
  static void Fetch(Link& link, std::uint8_t letter, std::uint16_t (&words)[N]) {
    link.SendBatch();
    link.SendCommand(letter);
    link.ReceiveReply(2 * N);
    for (std::size_t n = 0; n < N; ++n) words[n] = link.ReplyWord(n);
  }
};

const BatchSteps kBatchSteps;
const LetterSteps kLetterSteps;

}  // namespace

const BoardSteps& StepsFor(std::uint16_t firmware) {
  switch (PlainModeFor(firmware)) {
    case ProgrammingMode::kPlainLetters:
      return kLetterSteps;
    case ProgrammingMode::kPlainBatches:
    case ProgrammingMode::kExecutive:
      break;
  }
  return kBatchSteps;
}

}  // namespace quillon::icsp
