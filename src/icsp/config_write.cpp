#include "icsp/config_write.h"

#include "icsp/primitives.h"

namespace quillon::icsp {

void WriteConfigWord(Session& session, int k) {
  const devices::DeviceRecord& device = session.device().device;
  const devices::FamilyForm& form = session.form();
  const std::uint32_t value = session.config_readback()[static_cast<std::size_t>(k)];
  const std::uint32_t tblpag = session.device().load_table_pointer;
  const std::uint32_t nvmcon = form.nvm.config_write;
  if (!form.self_timed()) {
    // Externally timed, behind the NVMKEY unlock.
    GotoResetVector100(session);
    AppendWords(session.link(),
                {MoveLiteral(2 * static_cast<std::uint32_t>(k), 7), MoveLiteral(nvmcon, 10),
                 kMovW10ToNvmcon, MoveLiteral(kConfigPage, 0), tblpag, MoveLiteral(value, 6), kNop,
                 kTblwtlW6ToW7Inc, kNop, kNop});
  } else {
    std::uint32_t address = kConfigPage << 16 | 2 * static_cast<std::uint32_t>(k);
    if (form.config.layout == devices::ConfigLayout::kFlashWords) {
      address = static_cast<std::uint32_t>(devices::FlashConfigAddress(device, k));
    }
    GotoResetVector200(session);
    AppendWords(session.link(), {MoveLiteral(address & 0xFFFF, 7), MoveLiteral(nvmcon, 10),
                                 kMovW10ToNvmcon, MoveLiteral(address >> 16, 0), tblpag,
                                 MoveLiteral(value, 0), kTblwtlW0ToW7Inc, kNop, kNop});
  }
  FinishNvmWrite(session, form.self_timed() ? 100 : 1);
  session.reporter().Pump();
}

}  // namespace quillon::icsp
