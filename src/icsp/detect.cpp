// Detect: read the DeviceID over ICSP and select the matching catalogue row.

#include "devices/catalogue.h"
#include "icsp/config_words.h"
#include "icsp/operations.h"
#include "icsp/primitives.h"
#include "image/formats.h"
#include "link/link.h"

namespace quillon::icsp {

namespace {

constexpr std::uint32_t kMovDeviceIdPageToW0 = MoveLiteral(0xFF, 0);  // 0x200FF0

// Values above these mean the part never answered.
constexpr std::uint16_t kNoAnswerAfter0D = 65503;
constexpr std::uint16_t kNoAnswerAfter0C = 0xFFF7;

// The DeviceID reads are always instruction batches, whatever the firmware:
// the board letters assume a part already known.
std::uint16_t AttemptNew(Session& session, std::uint32_t load_table_pointer) {
  link::Link& link = session.link();
  link.EnterIcsp(link::cmd::kEnterIcsp);
  AppendWords(link, {kGoto200, kGoto200, kNop, kMovDeviceIdPageToW0, load_table_pointer,
                     MoveLiteral(0, 6), kMovVisiAddressToW7, kNop, kTblrdlW6IncToW7, kNop, kNop});
  link.SendBatch();
  link.AppendInstruction(kNop);
  link.SendBatch();
  const std::uint16_t v = RegOut(link);
  AppendWords(link, {kNop, kGoto200, kNop});
  link.SendBatch();
  link.ExitIcsp();
  return v;
}

// A row of a family that enters with 0x0D and reads its DeviceID through
// this table-pointer word; nullptr when there is none.
const devices::DeviceRecord* RowAfter0D(std::uint16_t v, std::uint32_t load_table_pointer) {
  const devices::DeviceRecord* row = devices::FindByDeviceIdAfterEntry(v, link::cmd::kEnterIcsp);
  if (row == nullptr || devices::IcspEntryCommand(*row) != link::cmd::kEnterIcsp) return nullptr;
  if (devices::Form(*row).load_table_pointer() != load_table_pointer) return nullptr;
  return row;
}

}  // namespace

DeviceIdReading ReadDeviceId(Session& session) {
  // The table pointer of the part selected so far (0x880190 before any).
  const std::uint32_t current_pointer = session.device().load_table_pointer;
  std::uint8_t entry = link::cmd::kEnterIcsp;
  std::uint16_t v = AttemptNew(session, current_pointer);
  // A part whose TBLPAG lives at the other address reads back something that
  // is not its DeviceID (or nothing). Read once more through the other
  // pointer, and believe the answer only if it names a part that uses it.
  const bool first_known = v <= kNoAnswerAfter0D && RowAfter0D(v, current_pointer) != nullptr;
  if (!first_known) {
    const std::uint32_t other = current_pointer == devices::kTablePointerAt0054
                                    ? devices::kTablePointerAt0032
                                    : devices::kTablePointerAt0054;
    const std::uint16_t retry = AttemptNew(session, other);
    if (retry <= kNoAnswerAfter0D && RowAfter0D(retry, other) != nullptr) v = retry;
  }
  if (v > kNoAnswerAfter0D) {
    entry = link::cmd::kEnterIcsp30F;
    link::Link& link = session.link();
    link.EnterIcsp(entry);
    // Only dsPIC30F parts answer after 0x0C, and they all keep TBLPAG at
    // 0x0032: a pointer word of a part selected before would leave TBLPAG
    // alone and read program memory instead of the DeviceID.
    AppendWords(link,
                {kNop, kGoto100, kGoto100, kNop, kMovDeviceIdPageToW0, devices::kTablePointerAt0032,
                 kClrW6, kClrW7, kNop, kTblrdlW6IncToW7, kNop, kNop, MoveToVisi(0), kNop});
    link.SendBatch();
    v = RegOut(link);
    AppendWords(link, {kNop, kGoto100, kNop});
    link.SendBatch();
    link.ExitIcsp();
    if (v > kNoAnswerAfter0C) return DeviceIdReading{false, v, entry, nullptr};
  }
  return DeviceIdReading{true, v, entry, devices::FindByDeviceIdAfterEntry(v, entry)};
}

void DetectDevice(Session& session) {
  const DeviceIdReading reading = ReadDeviceId(session);
  if (!reading.answered) {
    session.NoteOutcome(Outcome::kProblem);
    session.reporter().ReportError({"Error : no DeviceID", "ｴﾗｰ :DeviceIDなし"},
                                   report::FailureKind::kPart);
    return;
  }

  const std::string br(report::kLineBreak);
  std::string text = br + "device=" + image::Hex4(reading.value);
  const devices::DeviceRecord* row = reading.row;
  if (row == nullptr) {
    session.NoteOutcome(Outcome::kProblem);
    session.reporter().ReportError(
        report::MessagePair{"Error : unknown device", "ｴﾗｰ :未知のdevice"} + text,
        report::FailureKind::kPart);
    return;
  }
  const std::string name(row->name);
  text += br + "name=" + name + br + "socket=" + std::string(row->package_tag);
  if (session.detection_listener() != nullptr) session.detection_listener()->DeviceDetected(name);
  devices::SelectDevice(session.device(), name, session.reporter());

  EnterIcsp(session);
  ReadConfigWords(session);
  ExitIcsp(session);
  text += ConfigText(session);
  session.FinishWith(report::MessagePair{"Detecting Successful!", "Detecting 成功!"} + text);
}

}  // namespace quillon::icsp
