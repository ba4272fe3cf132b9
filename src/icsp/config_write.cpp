#include "icsp/config_write.h"

#include "icsp/primitives.h"

namespace quillon::icsp {

namespace {

constexpr std::uint32_t kTblwtlW6ToW7Inc = 0xBB1B86;  // TBLWTL W6, [W7++]
constexpr std::uint32_t kTblwtlW0ToW7Inc = 0xBB1B80;  // TBLWTL W0, [W7++]
constexpr std::uint32_t kConfigPage = 0xF8;

}  // namespace

void WriteConfigWord(Session& session, int k) {
  const devices::DeviceRecord& device = session.device.device;
  const std::uint32_t value = session.config_readback[static_cast<std::size_t>(k)];
  const std::uint32_t tblpag = session.device.load_table_pointer;
  if (!devices::UsesPic24Sequences(device)) {
    // dsPIC30F: externally timed, behind the NVMKEY unlock.
    GotoResetVector100(session);
    AppendWords(session, {MoveLiteral(2 * static_cast<std::uint32_t>(k), 7),
                          MoveLiteral(0x4008, 10), kMovW10ToNvmcon, MoveLiteral(kConfigPage, 0),
                          tblpag, MoveLiteral(value, 6), kNop, kTblwtlW6ToW7Inc, kNop, kNop});
    NvmUnlock(session);
    TimedNvmWrite(session, 1);
    GotoResetVector100(session);
  } else {
    std::uint32_t address = kConfigPage << 16 | 2 * static_cast<std::uint32_t>(k);
    std::uint32_t nvmcon = 0x4000;  // one configuration register
    if (devices::HasFlashConfigWords(device)) {
      address = static_cast<std::uint32_t>(devices::FlashConfigAddress(device, k));
      nvmcon = 0x4003;  // one flash word
    }
    GotoResetVector200(session);
    AppendWords(session, {MoveLiteral(address & 0xFFFF, 7), MoveLiteral(nvmcon, 10),
                          kMovW10ToNvmcon, MoveLiteral(address >> 16, 0), tblpag,
                          MoveLiteral(value, 0), kTblwtlW0ToW7Inc, kNop, kNop});
    StartNvmWrite(session);
    PollNvmWrite(session, 100);
    GotoResetVector200(session);
  }
  session.reporter.Pump();
}

}  // namespace quillon::icsp
