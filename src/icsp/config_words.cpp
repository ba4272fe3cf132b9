#include "icsp/config_words.h"

#include "icsp/primitives.h"
#include "image/formats.h"

namespace quillon::icsp {

namespace {

constexpr std::uint32_t kMovConfigPageToW0 = MoveLiteral(kConfigPage, 0);  // 0x200F80
constexpr std::uint32_t kTblrdlToW7 = kTblrdlW6IncToW7;                    // TBLRDL [W6++], [W7]

void ReadConfig30F(Session& session) {
  link::Link& link = session.link();
  GotoResetVector100(session);
  AppendWords(link,
              {kMovConfigPageToW0, session.device().load_table_pointer, kClrW6, kClrW7, kNop});
  link.SendBatch();
  // W7 = 0 makes W0 the destination of each table read.
  for (std::size_t i = 0; i < static_cast<std::size_t>(session.form().config.read); ++i) {
    AppendWords(link, {kTblrdlToW7, kNop, kNop, MoveToVisi(0), kNop});
    link.SendBatch();
    session.config_readback()[i] = RegOut(session.link());
    link.AppendInstruction(kNop);
    GotoResetVector100(session);
  }
}

// Reads straight into VISI: W7 holds its address.
std::uint16_t ReadToVisi(Session& session) {
  AppendWords(session.link(), {kTblrdlToW7, kNop, kNop});
  session.link().SendBatch();
  return RegOut(session.link());
}

void ReadConfigPic24(Session& session) {
  link::Link& link = session.link();
  const devices::DeviceRecord& device = session.device().device;
  GotoResetVector200(session);
  if (session.form().config.layout == devices::ConfigLayout::kFlashWords) {
    // Flash word 2 sits just below flash word 1, the last instruction.
    const std::uint32_t a = static_cast<std::uint32_t>(devices::FlashConfigAddress(device, 1));
    AppendWords(link, {MoveLiteral((a >> 16) & 0xFF, 0), session.device().load_table_pointer,
                       MoveLiteral(a & 0xFFFF, 6), kMovVisiAddressToW7, kNop});
    link.SendBatch();
    session.config_readback()[1] = ReadToVisi(session);
    session.config_readback()[0] = ReadToVisi(session);
  } else {
    AppendWords(link, {kMovConfigPageToW0, session.device().load_table_pointer, kClrW6,
                       kMovVisiAddressToW7, kNop});
    link.SendBatch();
    const std::size_t count = static_cast<std::size_t>(session.form().config.read);
    for (std::size_t i = 0; i < count; ++i) session.config_readback()[i] = ReadToVisi(session);
  }
  GotoResetVector200(session);
}

}  // namespace

void ReadConfigWords(Session& session) {
  if (session.form().self_timed()) {
    ReadConfigPic24(session);
  } else {
    ReadConfig30F(session);
  }
}

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

std::string ConfigText(const Session& session) {
  const auto h = [&](std::size_t k) { return image::Hex4(session.config_readback()[k]); };
  const std::string br(report::kLineBreak);
  const devices::ConfigForm& form = session.form().config;
  if (form.layout == devices::ConfigLayout::kFlashWords) {
    return br + "config1=" + h(0) + br + "config2=" + h(1);
  }
  std::string text;
  for (std::size_t k = 0; k < 4; ++k) {
    text += br + "config" + std::to_string(k + 1) + "=" + h(k) + " config" + std::to_string(k + 5) +
            "=" + h(k + 4);
  }
  // Registers past the eighth, one per line.
  for (std::size_t k = 8; k < static_cast<std::size_t>(form.written); ++k) {
    text += br + "config" + std::to_string(k + 1) + "=" + h(k);
  }
  return text;
}

}  // namespace quillon::icsp
