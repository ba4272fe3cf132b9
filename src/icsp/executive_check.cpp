#include "icsp/executive_check.h"

#include <algorithm>

#include "icsp/primitives.h"

namespace quillon::icsp {

namespace {

constexpr std::uint16_t kExecutiveId = 0x00BB;
constexpr std::uint16_t kExecutiveIdAlt = 0x00CB;  // dsPIC33F/PIC24 only

void ReadExecutiveQuads(Session& session, std::size_t first, std::size_t last) {
  GotoResetVector(session);
  SetTablePointer(session, kExecutiveBase, 6);
  session.link.SendBatch();
  for (std::size_t q = first; q <= last; ++q) {
    SetTablePointer(session, kExecutiveBase + 8 * static_cast<std::uint32_t>(q), 6);
    ReadCodeQuad(session);
    FetchCodeQuad(session, CodeDestination::kExecutive, q);
    GotoResetVector(session);
  }
}

}  // namespace

bool CheckExecutive(Session& session) {
  const std::vector<std::uint16_t>& exe = session.image.executive;
  if (!devices::UsesPic24Sequences(session.device.device)) {
    ReadExecutiveQuads(session, 182, 183);
    return exe[0x5BE] == kExecutiveId;
  }
  ReadExecutiveQuads(session, 254, 255);
  std::copy(exe.begin() + 0x7F0, exe.begin() + 0x800, session.executive_tail.begin());
  return exe[0x7F0] == kExecutiveId || exe[0x7F0] == kExecutiveIdAlt;
}

}  // namespace quillon::icsp
