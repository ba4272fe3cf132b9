#include "icsp/executive_write.h"

#include "icsp/primitives.h"
#include "icsp/verify.h"

namespace quillon::icsp {

namespace {

// Executive memory of the dsPIC33F/PIC24 form: two pages of 512 instructions.
constexpr std::uint32_t kPageOffsets[] = {0x0000, 0x0400};

// Every row, blank or not, after the erase.
void WriteExecutiveRows(Session& session, const devices::ExecutiveForm& extent) {
  LoadNvmcon(session, session.form().nvm.row_program);
  SetTablePointer(session, kExecutiveBase, 7);
  session.link().AppendInstruction(kNop);
  session.link().SendBatch();
  const std::uint32_t row = static_cast<std::uint32_t>(extent.row_instructions);
  for (int r = 0; r < extent.write_rows; ++r) {
    const std::uint32_t first = row * static_cast<std::uint32_t>(r);
    // No stop here: the pages are erased, and on dsPIC33F/PIC24 the last row
    // carries the part's factory words back.
    ShowStep(session, "Writing:Exe Adr ", r, extent.write_rows - 1, first);
    WriteCodeRow(session, QuadSource::kExecutive, kExecutiveBase, first, row);
  }
}

void WriteExecutiveTimed(Session& session, const devices::ExecutiveForm& extent) {
  GotoResetVector100(session);
  LoadNvmcon(session, session.form().nvm.executive_erase);
  NvmUnlock(session);
  // An erase, not a row write: the part needs up to 200 ms before WR clears.
  TimedNvmWrite(session, 100);
  WriteExecutiveRows(session, extent);
}

void WriteExecutiveSelfTimed(Session& session, const devices::ExecutiveForm& extent) {
  GotoResetVector200(session);
  LoadNvmcon(session, session.form().nvm.page_erase);
  session.link().SendBatch();
  // A page erase works on the address of the last table write; without one
  // it would erase page 0 of program memory and leave the executive in place.
  for (int i = 0; i < 4; ++i) {
    AppendWords(session.link(),
                {MoveLiteral(kExecutivePage, 0), session.device().load_table_pointer,
                 MoveLiteral(kPageOffsets[i % 2], 0), kTblwtlW0ToW0, kNop, kNop});
    StartNvmWrite(session);
    PollNvmWrite(session, 10);
  }
  WriteExecutiveRows(session, extent);
}

}  // namespace

void WriteExecutive(Session& session) {
  const devices::FamilyForm& form = session.form();
  if (!form.executive.present) return;
  if (form.self_timed()) {
    WriteExecutiveSelfTimed(session, form.executive);
  } else {
    WriteExecutiveTimed(session, form.executive);
  }
}

bool VerifyExecutive(Session& session) {
  const devices::ExecutiveForm& extent = session.form().executive;
  if (!extent.present) return false;
  return VerifyCodeQuads(session, kExecutiveBase, session.image().executive, extent.last_quad,
                         "Verifying:Exe Adr ", "Exe ");
}

}  // namespace quillon::icsp
