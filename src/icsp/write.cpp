// Write: program (or executive) memory, data EEPROM, the optional
// verification, then the configuration words the file supplied.
#include <algorithm>
#include <array>
#include <span>
#include <string>

#include "icsp/config_write.h"
#include "icsp/executive_write.h"
#include "icsp/operations.h"
#include "icsp/primitives.h"
#include "icsp/verify.h"
#include "image/formats.h"

namespace quillon::icsp {

namespace {

constexpr std::uint32_t kEepromRowWords = 16;

class Writer {
 public:
  explicit Writer(Session& session) : s_(session), device_(session.device.device) {}

  void WriteProgramIcsp();
  // The executive paths stop at the first block it does not accept.
  bool WriteProgramEnhanced();
  void WriteEepromIcsp();
  bool WriteEepromEnhanced();

 private:
  bool ProgramRowBlank(std::uint32_t first, std::uint32_t count) const {
    return InstructionsBlank(s_.image.program, first, count);
  }
  std::uint32_t EepromBase() const {
    return kEepromEnd - static_cast<std::uint32_t>(device_.eeprom_bytes);
  }
  void WriteEepromWords();

  Session& s_;
  const devices::DeviceRecord& device_;
};

void Writer::WriteProgramIcsp() {
  const devices::FamilyForm& form = s_.form();
  const std::uint32_t row = form.row_instructions;
  const long last = device_.program_words / static_cast<long>(row) - 1;
  GotoResetVector(s_);
  if (form.self_timed()) {
    // NVMCON keeps its value between self-timed writes: loaded once.
    LoadNvmcon(s_, form.nvm.row_program);
    s_.link.SendBatch();
  }
  for (long r = 0; r <= last; ++r) {
    const std::uint32_t first = row * static_cast<std::uint32_t>(r);
    // Only the last four digits of the instruction number are shown.
    if (!BeginStep(s_, "Writing:Prg Adr ", r, last, first, 2 * first)) break;
    if (ProgramRowBlank(first, row)) continue;
    WriteCodeRow(s_, QuadSource::kProgram, 0, first, row);
  }
}

bool Writer::WriteProgramEnhanced() {
  const std::uint32_t row = s_.form().row_instructions;
  const long last = device_.program_words / static_cast<long>(row) - 1;
  for (long r = 0; r <= last; ++r) {
    const std::uint32_t first = row * static_cast<std::uint32_t>(r);
    if (!BeginStep(s_, "Writing:Prg Adr ", r, last, first, 2 * first)) break;
    if (ProgramRowBlank(first, row)) continue;
    if (!ExecutiveWriteCodeRow(s_, first, row)) return false;
  }
  return true;
}

void Writer::WriteEepromIcsp() {
  if (s_.form().eeprom.write == devices::EepromWrite::kWord) return WriteEepromWords();
  const long last = device_.eeprom_bytes / 32 - 1;
  const std::vector<std::uint16_t>& eeprom = s_.image.eeprom;
  GotoResetVector100(s_);
  for (long r = 0; r <= last; ++r) {
    const std::uint32_t first = kEepromRowWords * static_cast<std::uint32_t>(r);
    if (!BeginStep(s_, "Writing:Dat Adr ", r, last, 2 * first, EepromBase() + 2 * first)) break;
    if (WordsBlank(eeprom, first, kEepromRowWords)) continue;
    LoadNvmcon(s_, s_.form().nvm.eeprom_write);
    SetTablePointer(s_, EepromBase() + 2 * first, 7);
    for (std::uint32_t g = 0; g < 4; ++g) {
      for (unsigned i = 0; i < 4; ++i) {
        s_.link.AppendInstruction(MoveLiteral(eeprom[first + 4 * g + i], i));
      }
      s_.link.SendBatch();
      LoadDataLatches(s_);
    }
    NvmUnlock(s_);
    TimedNvmWrite(s_, 1);
    GotoResetVector100(s_);
  }
}

// One word per self-timed write; the write erases the word first, so every
// word the image holds goes out, blank or not.
void Writer::WriteEepromWords() {
  const long last = device_.eeprom_bytes / 32 - 1;
  const std::vector<std::uint16_t>& eeprom = s_.image.eeprom;
  GotoResetVector(s_);
  LoadNvmcon(s_, s_.form().nvm.eeprom_write);
  s_.link.SendBatch();
  for (long r = 0; r <= last; ++r) {
    const std::uint32_t first = kEepromRowWords * static_cast<std::uint32_t>(r);
    if (!BeginStep(s_, "Writing:Dat Adr ", r, last, 2 * first, EepromBase() + 2 * first)) break;
    for (std::uint32_t j = first; j < first + kEepromRowWords; ++j) {
      SetTablePointer(s_, EepromBase() + 2 * j, 7);
      AppendWords(s_.link, {MoveLiteral(eeprom[j], 6), kTblwtlW6ToW7, kNop, kNop});
      FinishNvmWrite(s_, 1);
    }
  }
}

bool Writer::WriteEepromEnhanced() {
  const long last = device_.eeprom_bytes / 32 - 1;
  for (long r = 0; r <= last; ++r) {
    const std::uint32_t first = kEepromRowWords * static_cast<std::uint32_t>(r);
    // Word offsets here, byte offsets on the batch path.
    if (!BeginStep(s_, "Writing:Dat Adr ", r, last, first, EepromBase() + 2 * first)) break;
    if (WordsBlank(s_.image.eeprom, first, kEepromRowWords)) continue;
    s_.link.SendCommand(link::cmd::kExecWriteData);
    s_.link.SendAddress24(EepromBase() + 2 * first);
    s_.link.SendWordBlock(
        std::span<const std::uint16_t>(s_.image.eeprom.data() + first, kEepromRowWords));
    s_.link.ReceiveReply(4);
    s_.link.StoreReplyWords(2);
    if (!ExecutiveAnswered(s_, link::cmd::kExecWriteData, EepromBase() + 2 * first)) return false;
  }
  return true;
}

enum class Region { kProgram, kEeprom };

// Programs one region by the path the options and the image choose. False
// when the executive refused a block.
bool WriteRegion(Session& session, Region region) {
  Writer writer(session);
  bool accepted = true;
  if (region == Region::kProgram && session.image.executive_present) {
    EnterIcsp(session);
    WriteExecutive(session);
  } else if (session.UsesExecutive()) {
    // Blocks sent to an executive that never answered would go nowhere.
    if (EnterEnhancedIcsp(session)) {
      accepted =
          region == Region::kProgram ? writer.WriteProgramEnhanced() : writer.WriteEepromEnhanced();
    }
  } else {
    EnterIcsp(session);
    region == Region::kProgram ? writer.WriteProgramIcsp() : writer.WriteEepromIcsp();
  }
  ExitIcsp(session);
  return accepted;
}

// `held_only`: the verify command compares only the words the file holds.
bool VerifyRegion(Session& session, Region region, bool held_only = false) {
  bool matched = false;
  if (region == Region::kProgram && session.image.executive_present) {
    EnterIcsp(session);
    matched = VerifyExecutive(session);
  } else if (session.UsesExecutive()) {
    // Without an answering executive there is nothing to compare.
    if (EnterEnhancedIcsp(session)) {
      matched = region == Region::kProgram ? VerifyProgramEnhanced(session, held_only)
                                           : VerifyEepromEnhanced(session, held_only);
    }
  } else {
    EnterIcsp(session);
    matched = region == Region::kProgram ? VerifyProgramIcsp(session, held_only)
                                         : VerifyEepromIcsp(session, held_only);
  }
  ExitIcsp(session);
  return matched;
}

// The whole write, or (`whole_job` false) the executive's load as a step of
// another operation, which must not end in the Write's success message.
bool WriteImage(Session& session, bool whole_job) {
  const std::string start = image::TimeOfDay(session.reporter.clock());
  const bool executive = session.image.executive_present;
  const bool eeprom = session.device.device.eeprom_bytes > 0 && !executive;
  // Putting the executive in place is one phase, its verification included.
  PhaseScope whole(session, executive ? std::optional(report::Phase::kExecutive) : std::nullopt);
  auto own_phase = [executive](report::Phase phase) {
    return executive ? std::nullopt : std::optional(phase);
  };
  // A failure, a refused block or a stop ends the write with its report (or
  // the link failure's) as the last word, before anything else is written.
  auto ended = [&session] {
    if (session.link.failed()) session.ReportLinkFailure();
    return false;
  };
  {
    PhaseScope writing(session, own_phase(report::Phase::kWriting));
    if (!WriteRegion(session, Region::kProgram)) return ended();
    if (eeprom && !WriteRegion(session, Region::kEeprom)) return ended();
  }
  if (session.Ended()) return ended();

  // The mark is read at each step, so a change during the write counts.
  auto verified = [&session](Region region) {
    if (!session.OptionChecked(report::Option::kVerifyAfterWriting)) return true;
    return VerifyRegion(session, region);
  };
  bool matched = false;
  {
    const bool verifying_now = session.OptionChecked(report::Option::kVerifyAfterWriting);
    PhaseScope verifying(session,
                         verifying_now ? own_phase(report::Phase::kVerifying) : std::nullopt);
    matched = verified(Region::kProgram) && (!eeprom || verified(Region::kEeprom));
  }
  // The mismatch report stays the last word, unless the link failed: then
  // the part was never (or not reliably) compared.
  if (!matched || session.Ended()) return ended();

  const std::string time = std::string(report::kLineBreak) + "Time=" +
                           image::ElapsedTime(start, image::TimeOfDay(session.reporter.clock()));
  const devices::ConfigForm& config = session.form().config;
  for (std::size_t k = 0; k < static_cast<std::size_t>(config.written); ++k) {
    session.config_readback[k] = session.image.config[k] & config.value_mask;
    if (!session.image.config_present[k]) continue;
    if (!session.ContinueAt("Writing:Configuration")) return ended();
    session.reporter.ShowStatus("Writing:Configuration");
    EnterIcsp(session);
    WriteConfigWord(session, static_cast<int>(k));
    ExitIcsp(session);
  }
  if (!whole_job) {
    if (session.Ended()) return ended();
    // A step of the job, not its result: a console's summary replaces it.
    session.reporter.ShowMessagePair(
        {"The programming executive is in place.", "ﾌﾟﾛｸﾞﾗﾐﾝｸﾞ･ｴｸﾞｾﾞｸﾃｨﾌﾞを書き込みました。"});
    return true;
  }
  session.FinishWith(report::MessagePair{"Writing Successful!", "Writing 成功!"} + time);
  return session.outcome() == Outcome::kOk;
}

}  // namespace

bool WriteDevice(Session& session) {
  return WriteImage(session, true);
}

bool LoadExecutive(Session& session) {
  return WriteImage(session, false);
}

Outcome VerifyDevice(Session& session) {
  const std::string start = image::TimeOfDay(session.reporter.clock());
  const bool eeprom = session.device.device.eeprom_bytes > 0 && !session.image.executive_present;
  bool matched = false;
  {
    PhaseScope verifying(session, report::Phase::kVerifying);
    matched = VerifyRegion(session, Region::kProgram, true) &&
              (!eeprom || VerifyRegion(session, Region::kEeprom, true));
  }
  if (!matched || session.Ended()) {
    // A lost link compared nothing: it must not end as a clean finding.
    if (session.link.failed()) session.ReportLinkFailure();
    return session.outcome();
  }
  const std::string time = std::string(report::kLineBreak) + "Time=" +
                           image::ElapsedTime(start, image::TimeOfDay(session.reporter.clock()));
  session.FinishWith(report::MessagePair{"Verifying Successful!", "Verifying 成功!"} + time);
  return session.outcome();
}

}  // namespace quillon::icsp
