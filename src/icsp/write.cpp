// Write: program (or executive) memory, data EEPROM, the verification, then
// the configuration words.
#include <algorithm>
#include <string>

#include "icsp/config_words.h"
#include "icsp/erase_units.h"
#include "icsp/mode_driver.h"
#include "icsp/operations.h"
#include "icsp/primitives.h"
#include "icsp/verify.h"
#include "icsp/write_plan.h"
#include "image/formats.h"

namespace quillon::icsp {

namespace {

enum class Region { kProgram, kEeprom };

// Executive memory is erased, then every row of the image's executive is
// written, blank or not, with plain ICSP.
void WriteExecutive(Session& session) {
  const devices::FamilyForm& form = session.form();
  if (!form.executive.present) return;
  EraseFor(form).EraseExecutive(session);
  LoadNvmcon(session, form.nvm.row_program);
  SetTablePointer(session, kExecutiveBase, 7);
  session.link().AppendInstruction(kNop);
  session.link().SendBatch();
  const auto row = static_cast<std::uint32_t>(form.executive.row_instructions);
  for (int r = 0; r < form.executive.write_rows; ++r) {
    const std::uint32_t first = row * static_cast<std::uint32_t>(r);
    // No stop here: the pages are erased, and on dsPIC33F/PIC24 the last row
    // carries the part's factory words back.
    ShowStep(session, "Writing:Exe Adr ", r, form.executive.write_rows - 1, first);
    WriteCodeRow(session, QuadSource::kExecutive, kExecutiveBase, first, row);
  }
}

// Programs one region in the mode the options choose now, or an executive
// image with plain ICSP. False when the executive refused a block.
bool WriteRegion(Session& session, Region region, const WritePlan& plan) {
  bool accepted = true;
  if (region == Region::kProgram && session.image().executive_present) {
    EnterIcsp(session);
    WriteExecutive(session);
  } else {
    ModeDriver& mode = session.OpenMode();
    // Blocks sent to an executive that never answered would go nowhere.
    if (mode.Enter())
      accepted = region == Region::kProgram ? mode.WriteProgram(plan.program_rows)
                                            : mode.WriteEeprom(plan.eeprom_writes);
  }
  ExitIcsp(session);
  return accepted;
}

// `held_only`: the verify command compares only the words the file holds.
bool VerifyRegion(Session& session, Region region, bool held_only = false) {
  bool matched = false;
  if (region == Region::kProgram && session.image().executive_present) {
    EnterIcsp(session);
    const devices::ExecutiveForm& extent = session.form().executive;
    matched = extent.present && VerifyCodeQuads(session, kExecutiveBase, session.image().executive,
                                                extent.last_quad, "Verifying:Exe Adr ", "Exe ");
  } else {
    ModeDriver& mode = session.OpenMode();
    // Without an answering executive there is nothing to compare.
    if (mode.Enter()) {
      matched =
          region == Region::kProgram ? mode.VerifyProgram(held_only) : mode.VerifyEeprom(held_only);
    }
  }
  ExitIcsp(session);
  return matched;
}

// The whole write, or (`whole_job` false) the executive's load as a step of
// another operation, which must not end in the Write's success message.
bool WriteImage(Session& session, bool whole_job) {
  const std::string start = image::TimeOfDay(session.reporter().clock());
  // What is written is decided here, once; a dry run prints the same plan.
  const WritePlan plan =
      PlanWrite(session.device().device, session.image(), ChoicesOf(session, false));
  const bool executive = session.image().executive_present;
  const bool eeprom = session.device().device.eeprom_bytes > 0 && !executive;
  // Putting the executive in place is one phase, its verification included.
  PhaseScope whole(session, executive ? std::optional(report::Phase::kExecutive) : std::nullopt);
  auto own_phase = [executive](report::Phase phase) {
    return executive ? std::nullopt : std::optional(phase);
  };
  // A failure, a refused block or a stop ends the write with its report as
  // the last word, before anything else is written.
  auto ended = [&session] {
    if (session.link().failed()) session.ReportLinkFailure();
    return false;
  };
  {
    PhaseScope writing(session, own_phase(report::Phase::kWriting));
    if (!WriteRegion(session, Region::kProgram, plan)) return ended();
    if (eeprom && !WriteRegion(session, Region::kEeprom, plan)) return ended();
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
                           image::ElapsedTime(start, image::TimeOfDay(session.reporter().clock()));
  const devices::ConfigForm& config = session.form().config;
  for (int k = 0; k < config.written; ++k) {
    session.config_readback()[static_cast<std::size_t>(k)] =
        session.image().config[static_cast<std::size_t>(k)] & config.value_mask;
    if (!std::ranges::binary_search(plan.config_words, k)) continue;
    if (!session.ContinueAt("Writing:Configuration")) return ended();
    session.reporter().ShowStatus("Writing:Configuration");
    EnterIcsp(session);
    WriteConfigWord(session, k);
    ExitIcsp(session);
  }
  if (!whole_job) {
    if (session.Ended()) return ended();
    // A step of the job, not its result: a console's summary replaces it.
    session.reporter().ShowMessagePair(
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
  const std::string start = image::TimeOfDay(session.reporter().clock());
  const bool eeprom =
      session.device().device.eeprom_bytes > 0 && !session.image().executive_present;
  bool matched = false;
  {
    PhaseScope verifying(session, report::Phase::kVerifying);
    matched = VerifyRegion(session, Region::kProgram, true) &&
              (!eeprom || VerifyRegion(session, Region::kEeprom, true));
  }
  if (!matched || session.Ended()) {
    // A lost link compared nothing: it must not end as a clean finding.
    if (session.link().failed()) session.ReportLinkFailure();
    return session.outcome();
  }
  const std::string time = std::string(report::kLineBreak) + "Time=" +
                           image::ElapsedTime(start, image::TimeOfDay(session.reporter().clock()));
  session.FinishWith(report::MessagePair{"Verifying Successful!", "Verifying 成功!"} + time);
  return session.outcome();
}

}  // namespace quillon::icsp
