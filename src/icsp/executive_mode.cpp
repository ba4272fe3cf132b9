// Through the programming executive: blocks of 64 instructions or EEPROM
// words read, rows and EEPROM rows written, each answered by the executive.
#include <algorithm>
#include <array>
#include <span>
#include <string>

#include "icsp/mode_driver.h"
#include "icsp/primitives.h"
#include "icsp/verify.h"
#include "image/formats.h"

namespace quillon::icsp {

namespace {

constexpr std::uint32_t kBlock = 64;  // instructions or EEPROM words of one read
constexpr std::uint32_t kEepromRow = 16;

// Receives the answer header and tests it for a PASS of `command`. A FAIL,
// a NACK or an answer to another command is reported and noted as a problem;
// false then, or when the transfer failed: the operation must stop.
bool ExecutiveAnswered(Session& session, std::uint8_t command, std::uint32_t address) {
  session.link().ReceiveReply(4);
  session.link().StoreReplyWords(2);
  if (session.link().failed()) return false;
  // Header word 0: status in bits 15..12 (1 PASS, 2 FAIL, 3 NACK), the
  // executive's opcode (the low nibble of the board command) in bits 11..8.
  const std::uint16_t header = session.link().ReplyWord(0);
  if (header >> 12 == 1 && (header >> 8 & 0xF) == (command & 0xF)) return true;
  session.NoteOutcome(Outcome::kProblem);
  const std::string detail =
      std::string(report::kLineBreak) + "Adr " + Hex6(address) + " Ans:" + image::Hex4(header);
  report::MessagePair message =
      report::MessagePair{"Error : the programming executive refused the block!",
                          "ｴﾗｰ : ﾌﾟﾛｸﾞﾗﾐﾝｸﾞ･ｴｸﾞｾﾞｸﾃｨﾌﾞがﾌﾞﾛｯｸを処理できません。"} +
      detail;
  // A write the executive failed on a part not erased first: most likely the
  // flash there was not blank, which programming alone cannot change.
  const bool write = command == link::cmd::kExecWriteCode || command == link::cmd::kExecWriteData;
  if (write && header >> 12 == 2 && !session.OptionChecked(report::Option::kEraseBeforeWriting)) {
    const std::string at = Hex6(address);
    message = message + report::kLineBreak +
              report::MessagePair{"The part was not erased before writing: the flash at " + at +
                                      " is likely not blank. Erase it first.",
                                  "書き込み前に消去していません: " + at +
                                      " のﾌﾗｯｼｭが空でない可能性があります。先に消去してください。"};
  }
  session.reporter().ReportError(message, report::FailureKind::kRefused, address);
  return false;
}

bool ExecutiveRead(Session& session, std::uint8_t command, std::uint32_t address,
                   std::size_t words) {
  session.link().SendCommand(command);
  session.link().SendAddress24(address);
  session.link().SendAddress24(64);
  // A refusal carries no data: reading on would wait for bytes that never come.
  if (!ExecutiveAnswered(session, command, address)) return false;
  session.link().ReceiveReply(2 * words);
  session.link().StoreReplyWords(words);
  return !session.link().failed();
}

// 64 instructions, left packed (96 words) in link.words().
bool ExecutiveReadCode(Session& session, std::uint32_t address) {
  return ExecutiveRead(session, link::cmd::kExecReadCode, address, 96);
}

bool ExecutiveReadData(Session& session, std::uint32_t address) {
  return ExecutiveRead(session, link::cmd::kExecReadData, address, 64);
}

void UnpackLinkWords(const Session& session, std::size_t groups, std::uint16_t* units) {
  for (std::size_t k = 0; k < groups; ++k) {
    UnpackQuad(session.link().words().data() + 6 * k, units + 8 * k);
  }
}

class ExecutiveDriver final : public ModeDriver {
 public:
  using ModeDriver::ModeDriver;

  bool NeedsExecutive() const override { return true; }
  bool Enter() override { return EnterEnhancedIcsp(s_); }

  bool BeginReads() override {
    cached_block_ = -1;
    if (EnterEnhancedIcsp(s_)) return true;
    ExitIcsp(s_);
    return false;
  }
  void EndReads() override {
    ExitIcsp(s_);
    cached_block_ = -1;
  }

  bool WriteEeprom(const std::vector<std::uint32_t>& writes) override {
    const long last = device().eeprom_bytes / 32 - 1;
    std::size_t next = 0;
    for (long r = 0; r <= last; ++r) {
      const std::uint32_t first = kEepromRow * static_cast<std::uint32_t>(r);
      // Word offsets here, byte offsets on the batch path.
      if (!BeginStep(s_, "Writing:Dat Adr ", r, last, first, EepromBase() + 2 * first)) break;
      if (!Planned(writes, next, first)) continue;
      s_.link().SendCommand(link::cmd::kExecWriteData);
      s_.link().SendAddress24(EepromBase() + 2 * first);
      s_.link().SendWordBlock(
          std::span<const std::uint16_t>(s_.image().eeprom.data() + first, kEepromRow));
      if (!ExecutiveAnswered(s_, link::cmd::kExecWriteData, EepromBase() + 2 * first)) return false;
    }
    return true;
  }
  bool VerifyProgram(bool held_only) override {
    // 64-instruction blocks on every family, although dsPIC30F rows are written
    // 32 at a time.
    const std::vector<std::uint16_t>& expected = s_.image().program;
    return Blocks("Verifying:Prg Adr ", false, [&](std::uint32_t first, std::uint32_t address) {
      if (InstructionsBlank(expected, first, 64)) return true;
      if (!ExecutiveReadCode(s_, address)) return false;
      UnpackLinkWords(s_, 16, block_.data());
      const std::uint16_t* want = expected.data() + address;
      for (std::uint32_t k = 0; k < 128; ++k) {
        if (held_only && WholeInstruction(want, k) == 0xFFFFFF) continue;
        if (block_[k] != want[k]) {
          const report::Mismatch typed{report::Memory::kProgram, (address + k) & ~1u,
                                       WholeInstruction(block_.data(), k),
                                       WholeInstruction(want, k)};
          return Mismatch(s_, "Prg ", address + k, block_[k], want[k], typed);
        }
      }
      return true;
    });
  }
  bool VerifyEeprom(bool held_only) override {
    const std::vector<std::uint16_t>& expected = s_.image().eeprom;
    return Blocks("Verifying:Dat Adr ", true, [&](std::uint32_t first, std::uint32_t address) {
      if (WordsBlank(expected, first, 64)) return true;
      if (!ExecutiveReadData(s_, address)) return false;
      for (std::uint32_t k = 0; k < 64; ++k) {
        const std::uint16_t read = s_.link().words()[k];
        if (held_only && expected[first + k] == 0xFFFF) continue;
        // Block addresses are word offsets.
        if (read != expected[first + k]) {
          return Mismatch(s_, "Eep ", first + k, read, expected[first + k],
                          {report::Memory::kEeprom, address + 2 * k, read, expected[first + k]});
        }
      }
      return true;
    });
  }
  // A refused block is reported; the rest of the image stays blank.
  void ReadProgram() override {
    Blocks("Reading:Prg Adr ", false, [this](std::uint32_t, std::uint32_t address) {
      if (!ExecutiveReadCode(s_, address)) return false;
      UnpackLinkWords(s_, 16, s_.image().program.data() + address);
      return true;
    });
  }
  void ReadEeprom() override {
    Blocks("Reading:Dat Adr ", true, [this](std::uint32_t first, std::uint32_t address) {
      if (!ExecutiveReadData(s_, address)) return false;
      std::copy_n(s_.link().words().begin(), 64, s_.image().eeprom.begin() + first);
      return true;
    });
  }
  Scan CheckProgram(NotBlankWord& found) override {
    Scan scan = Scan::kIncomplete;
    const bool blank =
        Blocks("Checking:Prg Adr ", false, [&](std::uint32_t, std::uint32_t address) {
          if (!ExecutiveReadCode(s_, address)) return false;
          UnpackLinkWords(s_, 16, block_.data());
          for (std::uint32_t i = 0; i < 64; ++i) {
            const std::uint32_t read = WholeInstruction(block_.data(), 2 * i);
            // Both halves of an instruction are reported at its even address here.
            if (block_[2 * i] != 0xFFFF || block_[2 * i + 1] != 0xFF) {
              const std::uint16_t word =
                  block_[2 * i] != 0xFFFF ? block_[2 * i] : block_[2 * i + 1];
              found = {address + 2 * i, word, address + 2 * i, read};
              scan = Scan::kNotBlank;
              return false;
            }
          }
          return true;
        });
    return blank ? Scan::kBlank : scan;
  }
  Scan CheckEeprom(NotBlankWord& found) override {
    Scan scan = Scan::kIncomplete;
    const bool blank =
        Blocks("Checking:Dat Adr ", true, [&](std::uint32_t first, std::uint32_t address) {
          if (!ExecutiveReadData(s_, address)) return false;
          for (std::uint32_t k = 0; k < 64; ++k) {
            const std::uint16_t word = s_.link().words()[k];
            if (word != 0xFFFF) {
              found = {first + k, word, address + 2 * k, word};
              scan = Scan::kNotBlank;
              return false;
            }
          }
          return true;
        });
    return blank ? Scan::kBlank : scan;
  }
  void ReadCode(std::uint32_t first, std::uint32_t count, std::uint16_t* units) override {
    ReadCached(first, count, units, 2, [this](std::uint32_t block) {
      ExecutiveReadCode(s_, 2 * kBlock * block);
      UnpackLinkWords(s_, kBlock / 4, block_.data());
    });
  }
  void ReadEepromWords(std::uint32_t first, std::uint32_t count, std::uint16_t* words) override {
    ReadCached(first, count, words, 1, [this](std::uint32_t block) {
      ExecutiveReadData(s_, EepromBase() + 2 * kBlock * block);
      std::copy_n(s_.link().words().begin(), kBlock, block_.begin());
    });
  }
  // Every unit is erased with plain ICSP first, then the executive writes the
  // rows; a stop on request is taken only before the erase begins.
  bool RewriteUnits(const std::vector<std::uint32_t>& units,
                    std::optional<PhaseScope>& phase) override {
    const long last = static_cast<long>(units.size()) - 1;
    phase.reset();
    phase.emplace(s_, report::Phase::kErasing);
    EnterIcsp(s_);
    for (long i = 0; i <= last; ++i) {
      const std::uint32_t u = units[static_cast<std::size_t>(i)];
      ShowStep(s_, "Erasing:Prg Adr ", i, last, u * UnitInstructions());
      EraseUnit(u);
    }
    ExitIcsp(s_);
    phase.reset();
    phase.emplace(s_, report::Phase::kWriting);
    if (!EnterEnhancedIcsp(s_)) {
      ExitIcsp(s_);
      return false;
    }
    for (long i = 0; i <= last && !s_.Ended(); ++i) {
      const std::uint32_t u = units[static_cast<std::size_t>(i)];
      ShowStep(s_, "Writing:Prg Adr ", i, last, u * UnitInstructions());
      WriteUnitRows(u);
    }
    ExitIcsp(s_);
    return true;
  }

 protected:
  void BeginRows() override {}
  bool WriteRow(std::uint32_t first, std::uint32_t row) override {
    std::array<std::uint16_t, link::kLinkWordCount> packed{};
    for (std::uint32_t g = 0; g < row / 4; ++g) {
      PackQuad(s_.image().program.data() + 2 * first + 8 * g, packed.data() + 6 * g);
    }
    s_.link().SendCommand(link::cmd::kExecWriteCode);
    s_.link().SendAddress24(2 * first);
    s_.link().SendAddress24(row);
    s_.link().SendWordBlock(std::span<const std::uint16_t>(packed.data(), 3 * row / 2));
    return ExecutiveAnswered(s_, link::cmd::kExecWriteCode, 2 * first);
  }

 private:
  // Walks the 64-instruction (or 64-word EEPROM) blocks, each a step, while
  // `each(first, address)` goes on. False when a step or `each` ended it.
  template <typename Each>
  bool Blocks(const char* step, bool eeprom, Each each) {
    const long last = (eeprom ? device().eeprom_bytes / 128 : device().program_words / 64) - 1;
    for (long b = 0; b <= last; ++b) {
      const std::uint32_t first = 64 * static_cast<std::uint32_t>(b);
      const std::uint32_t address = (eeprom ? EepromBase() : 0) + 2 * first;
      if (!BeginStep(s_, step, b, last, first, address) || !each(first, address)) return false;
    }
    return true;
  }
  // Copies [first, first + count) of blocks read whole (`per` units an
  // item), each block read once while reads last.
  template <typename ReadBlock>
  void ReadCached(std::uint32_t first, std::uint32_t count, std::uint16_t* out, std::uint32_t per,
                  ReadBlock read_block) {
    for (std::uint32_t i = first; i < first + count;) {
      const long block = static_cast<long>(i / kBlock);
      if (block != cached_block_) {
        read_block(static_cast<std::uint32_t>(block));
        cached_block_ = block;
      }
      const std::uint32_t end =
          std::min(first + count, static_cast<std::uint32_t>(block + 1) * kBlock);
      const std::uint32_t from = i - static_cast<std::uint32_t>(block) * kBlock;
      std::copy_n(block_.begin() + per * from, per * (end - i), out + per * (i - first));
      i = end;
    }
  }

  long cached_block_ = -1;
  std::array<std::uint16_t, 2 * kBlock> block_{};
};

}  // namespace

std::unique_ptr<ModeDriver> MakeExecutiveDriver(Session& session) {
  return std::make_unique<ExecutiveDriver>(session);
}

}  // namespace quillon::icsp
