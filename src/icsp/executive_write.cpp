#include "icsp/executive_write.h"

#include "icsp/erase_units.h"
#include "icsp/primitives.h"
#include "icsp/verify.h"

namespace quillon::icsp {

namespace {

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

}  // namespace

void WriteExecutive(Session& session) {
  const devices::FamilyForm& form = session.form();
  if (!form.executive.present) return;
  EraseFor(form).EraseExecutive(session);
  WriteExecutiveRows(session, form.executive);
}

bool VerifyExecutive(Session& session) {
  const devices::ExecutiveForm& extent = session.form().executive;
  if (!extent.present) return false;
  return VerifyCodeQuads(session, kExecutiveBase, session.image().executive, extent.last_quad,
                         "Verifying:Exe Adr ", "Exe ");
}

}  // namespace quillon::icsp
