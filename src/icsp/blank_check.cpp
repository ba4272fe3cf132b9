// Check: program memory and data EEPROM, stopping at the first word that is
// not blank.
#include "icsp/config_words.h"
#include "icsp/executive_check.h"
#include "icsp/operations.h"
#include "icsp/primitives.h"
#include "icsp/verify.h"
#include "image/formats.h"

namespace quillon::icsp {

namespace {

// kIncomplete: the link was lost, the check was stopped on request or the
// executive refused a block; the report is out and the finish must not
// claim a blank part.
enum class CheckResult { kBlank, kNotBlank, kIncomplete };

constexpr std::uint16_t kBlankLow = 0xFFFF;
constexpr std::uint16_t kBlankUpper = 0xFF;

// The instruction at `address` whose low half is units[unit].
report::Mismatch ProgramFinding(const std::uint16_t* units, std::uint32_t address,
                                std::uint32_t unit) {
  const std::uint32_t read = units[unit] | static_cast<std::uint32_t>(units[unit + 1] & 0xFF) << 16;
  return {report::Memory::kProgram, address, read, 0xFFFFFF, report::Comparison::kBlankCheck};
}

report::Mismatch EepromFinding(std::uint32_t address, std::uint16_t word) {
  return {report::Memory::kEeprom, address, word, kBlankLow, report::Comparison::kBlankCheck};
}

class BlankChecker {
 public:
  explicit BlankChecker(Session& session) : s_(session), device_(session.device.device) {}

  void Run();

 private:
  CheckResult CheckProgramIcsp();
  CheckResult CheckEepromIcsp();
  CheckResult CheckProgramEnhanced();
  CheckResult CheckEepromEnhanced();
  // Program memory or EEPROM, by the current mark of "Enhanced ICSP".
  CheckResult CheckRegion(bool eeprom);
  // `shown` is the window's coded address; `typed` the finding in linker-map
  // terms for front-ends that show it in words.
  CheckResult NotBlank(std::string_view label, std::uint32_t shown, std::uint16_t value,
                       const report::Mismatch& typed);
  // False when the check stops here on request.
  bool Step(std::string_view text, long step, long last, std::uint32_t shown,
            std::optional<std::uint32_t> address = std::nullopt);
  void Reset() { GotoResetVector(s_); }
  std::uint32_t EepromBase() const {
    return 0x800000u - static_cast<std::uint32_t>(device_.eeprom_bytes);
  }

  Session& s_;
  const devices::DeviceRecord& device_;
  std::string config_text_;
  // An executive answers in the part. A check never loads one: that would
  // erase executive memory, and a check must cost the part nothing.
  bool executive_ = false;
};

bool BlankChecker::Step(std::string_view text, long step, long last, std::uint32_t shown,
                        std::optional<std::uint32_t> address) {
  return BeginStep(s_, text, step, last, shown, address);
}

CheckResult BlankChecker::NotBlank(std::string_view label, std::uint32_t shown, std::uint16_t value,
                                   const report::Mismatch& typed) {
  // With the link gone the buffers hold stale bytes, not the part's contents.
  if (s_.link.lost()) return CheckResult::kIncomplete;
  const std::string detail = std::string(report::kLineBreak) + std::string(label) +
                             image::Hex4(shown) + " Dat:" + image::Hex4(value) + config_text_;
  s_.NoteOutcome(Outcome::kProblem);
  s_.reporter.ReportMismatch(
      typed, report::MessagePair{"Not blank!", "ブランクではありません。"} + detail);
  return CheckResult::kNotBlank;
}

CheckResult BlankChecker::CheckProgramIcsp() {
  const long groups = device_.program_words / 4;
  Reset();
  SetTablePointer(s_, 0, 6);
  s_.link.SendBatch();
  for (long g = 0; g < groups; ++g) {
    const std::uint32_t address = 8 * static_cast<std::uint32_t>(g);
    if (!Step("Checking:Prg Adr ", g, groups - 1, address)) return CheckResult::kIncomplete;
    SetTablePointer(s_, address, 6);
    ReadCodeQuad(s_);
    FetchCodeQuad(s_, CodeDestination::kProgram, static_cast<std::size_t>(g));
    Reset();
    const std::uint16_t* units = s_.image.program.data() + address;
    for (std::uint32_t k = 0; k < 4; ++k) {
      const report::Mismatch typed = ProgramFinding(units, address + 2 * k, 2 * k);
      if (units[2 * k] != kBlankLow) {
        return NotBlank("Adr:", address + 2 * k, units[2 * k], typed);
      }
      // The upper byte is shown at the odd unit that holds it.
      if (units[2 * k + 1] != kBlankUpper) {
        return NotBlank("Adr:", address + 2 * k + 1, units[2 * k + 1], typed);
      }
    }
  }
  EndAtResetVector(s_);
  return CheckResult::kBlank;
}

CheckResult BlankChecker::CheckEepromIcsp() {
  const long groups = device_.eeprom_bytes / 8;
  Reset();
  SetTablePointer(s_, 0x800000u - static_cast<std::uint32_t>(device_.eeprom_bytes), 6);
  s_.link.SendBatch();
  for (long g = 0; g < groups; ++g) {
    const std::uint32_t offset = 8 * static_cast<std::uint32_t>(g);
    if (!Step("Checking:Dat Adr ", g, groups - 1, offset,
              0x800000u - static_cast<std::uint32_t>(device_.eeprom_bytes) + offset)) {
      return CheckResult::kIncomplete;
    }
    ReadDataQuad(s_);
    FetchDataQuad(s_, DataDestination::kEeprom, static_cast<std::size_t>(g));
    Reset();
    for (std::uint32_t k = 0; k < 4; ++k) {
      const std::uint16_t word = s_.image.eeprom[4 * g + k];
      if (word != kBlankLow) {
        return NotBlank("Eep:", offset + 2 * k, word,
                        EepromFinding(EepromBase() + offset + 2 * k, word));
      }
    }
  }
  return CheckResult::kBlank;
}

CheckResult BlankChecker::CheckProgramEnhanced() {
  const long blocks = device_.program_words / 64;
  for (long b = 0; b < blocks; ++b) {
    const std::uint32_t address = 128 * static_cast<std::uint32_t>(b);
    if (!Step("Checking:Prg Adr ", b, blocks - 1, 64 * static_cast<std::uint32_t>(b), address))
      return CheckResult::kIncomplete;
    if (!ExecutiveReadCode(s_, address)) return CheckResult::kIncomplete;
    std::uint16_t* units = s_.verify_buffer.data() + address;
    UnpackLinkWords(s_, 16, units);
    for (std::uint32_t i = 0; i < 64; ++i) {
      const report::Mismatch typed = ProgramFinding(units, address + 2 * i, 2 * i);
      // Both halves of an instruction are reported at its even address here.
      if (units[2 * i] != kBlankLow) {
        return NotBlank("Adr:", address + 2 * i, units[2 * i], typed);
      }
      if (units[2 * i + 1] != kBlankUpper) {
        return NotBlank("Adr:", address + 2 * i, units[2 * i + 1], typed);
      }
    }
  }
  return CheckResult::kBlank;
}

CheckResult BlankChecker::CheckEepromEnhanced() {
  const long blocks = device_.eeprom_bytes / 128;
  const std::uint32_t base = 0x800000u - static_cast<std::uint32_t>(device_.eeprom_bytes);
  for (long b = 0; b < blocks; ++b) {
    const std::uint32_t first_word = 64 * static_cast<std::uint32_t>(b);
    if (!Step("Checking:Dat Adr ", b, blocks - 1, first_word, base + 2 * first_word)) {
      return CheckResult::kIncomplete;
    }
    if (!ExecutiveReadData(s_, base + 128 * static_cast<std::uint32_t>(b))) {
      return CheckResult::kIncomplete;
    }
    for (std::uint32_t k = 0; k < 64; ++k) {
      const std::uint16_t word = s_.link.words()[k];
      if (word != kBlankLow) {
        return NotBlank("Eep:", first_word + k, word,
                        EepromFinding(base + 2 * (first_word + k), word));
      }
    }
  }
  return CheckResult::kBlank;
}

CheckResult BlankChecker::CheckRegion(bool eeprom) {
  CheckResult result = CheckResult::kBlank;
  if (executive_ && s_.UsesExecutive()) {
    // Without an answering executive every block would be stale bytes; the
    // failure is already reported and the finish says the check is incomplete.
    result = EnterEnhancedIcsp(s_) ? (eeprom ? CheckEepromEnhanced() : CheckProgramEnhanced())
                                   : CheckResult::kIncomplete;
  } else {
    EnterIcsp(s_);
    result = eeprom ? CheckEepromIcsp() : CheckProgramIcsp();
  }
  ExitIcsp(s_);
  return result;
}

void BlankChecker::Run() {
  const std::string start = image::TimeOfDay(s_.reporter.clock());
  if (!s_.ContinueAt("Checking:Prg Adr 0000")) return;
  EnterIcsp(s_);
  if (s_.UsesExecutive()) {
    executive_ = CheckExecutive(s_);
    if (!executive_ && !s_.Ended()) {
      s_.reporter.ShowNotice({"No programming executive in the part: checked with plain ICSP.",
                              "ﾃﾞﾊﾞｲｽにﾌﾟﾛｸﾞﾗﾐﾝｸﾞ･ｴｸﾞｾﾞｸﾃｨﾌﾞがないため、通常のICSPで"
                              "ﾁｪｯｸします。"});
    }
  }
  ReadConfigWords(s_);
  ExitIcsp(s_);
  if (s_.Ended()) return s_.FinishWith({});
  config_text_ = ConfigText(s_);

  CheckResult result = CheckRegion(false);
  if (result == CheckResult::kBlank && device_.eeprom_bytes > 0) result = CheckRegion(true);
  if (result == CheckResult::kNotBlank) return;

  const std::string tail = config_text_ + std::string(report::kLineBreak) + "Time=" +
                           image::ElapsedTime(start, image::TimeOfDay(s_.reporter.clock()));
  s_.FinishWith(report::MessagePair{"Checking Successful!", "Checking 成功!"} + tail);
}

}  // namespace

Outcome BlankCheck(Session& session) {
  PhaseScope phase(session, report::Phase::kChecking);
  BlankChecker(session).Run();
  return session.outcome();
}

}  // namespace quillon::icsp
