// Check: program memory and data EEPROM, up to the first word not blank.
#include "icsp/config_words.h"
#include "icsp/mode_driver.h"
#include "icsp/operations.h"
#include "icsp/primitives.h"
#include "image/formats.h"

namespace quillon::icsp {

namespace {

class BlankChecker {
 public:
  explicit BlankChecker(Session& session) : s_(session), device_(session.device().device) {}

  void Run();

 private:
  // Program memory or EEPROM, by the current mark of "Enhanced ICSP".
  Scan CheckRegion(bool eeprom);
  // Reports the finding as the window shows it and in the part's terms.
  Scan NotBlank(bool eeprom, const NotBlankWord& found);

  Session& s_;
  const devices::DeviceRecord& device_;
  std::string config_text_;
  // An executive answers in the part. A check never loads one: that would
  // erase executive memory, and a check must cost the part nothing.
  bool executive_ = false;
};

Scan BlankChecker::NotBlank(bool eeprom, const NotBlankWord& found) {
  // With the link gone the buffers hold stale bytes, not the part's contents.
  if (s_.link().lost()) return Scan::kIncomplete;
  const std::string detail = std::string(report::kLineBreak) + (eeprom ? "Eep:" : "Adr:") +
                             image::Hex4(found.shown) + " Dat:" + image::Hex4(found.value) +
                             config_text_;
  s_.NoteOutcome(Outcome::kProblem);
  s_.reporter().ReportMismatch(
      {eeprom ? report::Memory::kEeprom : report::Memory::kProgram, found.address, found.read,
       eeprom ? 0xFFFFu : 0xFFFFFFu, report::Comparison::kBlankCheck},
      report::MessagePair{"Not blank!", "ブランクではありません。"} + detail);
  return Scan::kNotBlank;
}

Scan BlankChecker::CheckRegion(bool eeprom) {
  // Without an executive in the part the check runs with plain ICSP.
  ModeDriver& mode = executive_ ? s_.OpenMode() : s_.PlainMode();
  NotBlankWord found;
  // Without an answering executive every block would be stale bytes; the
  // failure is already reported and the finish says the check is incomplete.
  Scan result = Scan::kIncomplete;
  if (mode.Enter()) result = eeprom ? mode.CheckEeprom(found) : mode.CheckProgram(found);
  if (result == Scan::kNotBlank) result = NotBlank(eeprom, found);
  ExitIcsp(s_);
  return result;
}

void BlankChecker::Run() {
  const std::string start = image::TimeOfDay(s_.reporter().clock());
  if (!s_.ContinueAt("Checking:Prg Adr 0000")) return;
  EnterIcsp(s_);
  if (s_.OpenMode().NeedsExecutive()) {
    executive_ = CheckExecutive(s_);
    if (!executive_ && !s_.Ended()) {
      s_.reporter().ShowNotice({"No programming executive in the part: checked with plain ICSP.",
                                "ﾃﾞﾊﾞｲｽにﾌﾟﾛｸﾞﾗﾐﾝｸﾞ･ｴｸﾞｾﾞｸﾃｨﾌﾞがないため、通常のICSPで"
                                "ﾁｪｯｸします。"});
    }
  }
  ReadConfigWords(s_);
  ExitIcsp(s_);
  if (s_.Ended()) return s_.FinishWith({});
  config_text_ = ConfigText(s_);

  Scan result = CheckRegion(false);
  if (result == Scan::kBlank && device_.eeprom_bytes > 0) result = CheckRegion(true);
  if (result == Scan::kNotBlank) return;

  const std::string tail = config_text_ + std::string(report::kLineBreak) + "Time=" +
                           image::ElapsedTime(start, image::TimeOfDay(s_.reporter().clock()));
  s_.FinishWith(report::MessagePair{"Checking Successful!", "Checking 成功!"} + tail);
}

}  // namespace

Outcome BlankCheck(Session& session) {
  PhaseScope phase(session, report::Phase::kChecking);
  BlankChecker(session).Run();
  return session.outcome();
}

}  // namespace quillon::icsp
