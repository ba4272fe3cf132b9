#include "icsp/executive_write.h"

#include "icsp/primitives.h"
#include "icsp/verify.h"

namespace quillon::icsp {

namespace {

// Executive memory of the dsPIC33F/PIC24 form: two pages of 512 instructions.
constexpr std::uint32_t kPageOffsets[] = {0x0000, 0x0400};

// Every row, blank or not, after the erase.
void WriteExecutiveRows(Session& session, const devices::ExecutiveExtent& extent) {
  LoadNvmcon(session, 0x4001);
  SetTablePointer(session, kExecutiveBase, 7);
  session.link.AppendInstruction(kNop);
  session.link.SendBatch();
  const std::uint32_t row = static_cast<std::uint32_t>(extent.row_instructions);
  for (int r = 0; r < extent.rows; ++r) {
    const std::uint32_t first = row * static_cast<std::uint32_t>(r);
    // No stop here: the pages are erased, and on dsPIC33F/PIC24 the last row
    // carries the part's factory words back.
    ShowStep(session, "Writing:Exe Adr ", r, extent.rows - 1, first);
    WriteCodeRow(session, QuadSource::kExecutive, kExecutiveBase, first, row);
  }
}

void WriteExecutive30F(Session& session, const devices::ExecutiveExtent& extent) {
  GotoResetVector100(session);
  LoadNvmcon(session, 0x4072);
  NvmUnlock(session);
  // An erase, not a row write: the part needs up to 200 ms before WR clears.
  TimedNvmWrite(session, 100);
  WriteExecutiveRows(session, extent);
}

void WriteExecutive24(Session& session, const devices::ExecutiveExtent& extent) {
  GotoResetVector200(session);
  LoadNvmcon(session, 0x4042);
  session.link.SendBatch();
  // A page erase works on the address of the last table write; without one
  // it would erase page 0 of program memory and leave the executive in place.
  for (int i = 0; i < 4; ++i) {
    AppendWords(session, {MoveLiteral(kExecutivePage, 0), session.device.load_table_pointer,
                          MoveLiteral(kPageOffsets[i % 2], 0), kTblwtlW0ToW0, kNop, kNop});
    StartNvmWrite(session);
    PollNvmWrite(session, 10);
  }
  WriteExecutiveRows(session, extent);
}

}  // namespace

void WriteExecutive(Session& session) {
  const devices::DeviceRecord& device = session.device.device;
  const devices::ExecutiveExtent extent = devices::ExecutiveWriteExtent(device);
  if (devices::UsesPic24Sequences(device)) {
    WriteExecutive24(session, extent);
  } else {
    WriteExecutive30F(session, extent);
  }
}

bool VerifyExecutive(Session& session) {
  const devices::ExecutiveExtent extent = devices::ExecutiveWriteExtent(session.device.device);
  return VerifyCodeQuads(session, kExecutiveBase, session.image.executive, extent.last_quad,
                         "Verifying:Exe Adr ", "Exe ");
}

}  // namespace quillon::icsp
