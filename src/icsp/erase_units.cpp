#include "icsp/erase_units.h"

#include "icsp/primitives.h"

namespace quillon::icsp {

namespace {

// Latches the erase address by a dummy table write, behind NVMCON.
void LatchErase(Session& session, std::uint32_t nvmcon, std::uint32_t page, std::uint32_t low) {
  AppendWords(session.link(), {MoveLiteral(nvmcon, 10), kMovW10ToNvmcon, MoveLiteral(page, 0),
                               session.device().load_table_pointer, MoveLiteral(low, 0),
                               kTblwtlW0ToW0, kNop, kNop});
}

// dsPIC30F: every erase behind the NVMKEY unlock, timed by the host (up to
// 200 ms before WR may clear).
class TimedErase final : public EraseStrategy {
 public:
  void EraseChip(Session& session) const override {
    const devices::FamilyForm& form = session.form();
    GotoResetVector100(session);
    AppendWords(session.link(),
                {MoveLiteral(form.nvm.config_write, 10), kMovW10ToNvmcon, MoveLiteral(0xF8, 0),
                 session.device().load_table_pointer, MoveLiteral(6, 7), kClrW6, kNop});
    session.link().SendBatch();
    // Chip erase, then executive memory, each behind its own unlock.
    for (std::uint32_t nvmcon : {form.nvm.bulk_erase, form.nvm.executive_erase}) {
      AppendWords(session.link(), {MoveLiteral(nvmcon, 10), kMovW10ToNvmcon});
      NvmUnlock(session);
      TimedNvmWrite(session, 100);
    }
    GotoResetVector100(session);
  }
  void EraseExecutive(Session& session) const override {
    GotoResetVector100(session);
    LoadNvmcon(session, session.form().nvm.executive_erase);
    NvmUnlock(session);
    TimedNvmWrite(session, 100);
  }
  void EraseUnit(Session& session, std::uint32_t address) const override {
    GotoResetVector(session);
    LatchErase(session, session.form().nvm.unit_erase, address >> 16, address & 0xFFFF);
    FinishNvmWrite(session, 100);
  }
};

// The self-timed forms: the erase takes the page of the last table write
// and is polled until WR clears.
class PolledErase final : public EraseStrategy {
 public:
  void EraseChip(Session& session) const override {
    const devices::FamilyForm& form = session.form();
    GotoResetVector200(session);
    // User memory, then executive memory where there is one.
    const std::uint32_t pages[] = {0x00u, kExecutivePage};
    for (std::size_t p = 0; p < (form.executive.present ? 2u : 1u); ++p) {
      LatchErase(session, form.nvm.bulk_erase, pages[p], 0);
      StartNvmWrite(session);
      PollNvmWrite(session, 100);
      PollNvmWrite(session, 100);
    }
    GotoResetVector200(session);
  }
  // Both pages of executive memory, twice each; without the table write a
  // page erase would take page 0 of program memory and leave the executive.
  void EraseExecutive(Session& session) const override {
    GotoResetVector200(session);
    LoadNvmcon(session, session.form().nvm.page_erase);
    session.link().SendBatch();
    for (int i = 0; i < 4; ++i) {
      AppendWords(session.link(),
                  {MoveLiteral(kExecutivePage, 0), session.device().load_table_pointer,
                   MoveLiteral(i % 2 == 0 ? 0x0000 : 0x0400, 0), kTblwtlW0ToW0, kNop, kNop});
      StartNvmWrite(session);
      PollNvmWrite(session, 10);
    }
  }
  void EraseUnit(Session& session, std::uint32_t address) const override {
    GotoResetVector(session);
    LatchErase(session, session.form().nvm.unit_erase, address >> 16, address & 0xFFFF);
    StartNvmWrite(session);
    // A page erase takes up to 40 ms. The board's long-poll letter would wait
    // 200 ms, so the waits are made here and only the polling is left to it.
    for (int i = 0; i < 20; ++i) Wait(session.link());
    PollNvmWrite(session, 1);
    GotoResetVector200(session);
  }
};

const TimedErase kTimedErase;
const PolledErase kPolledErase;

}  // namespace

const EraseStrategy& EraseFor(const devices::FamilyForm& form) {
  if (form.self_timed()) return kPolledErase;
  return kTimedErase;
}

EraseUnitRules EraseUnitRulesFor(const devices::DeviceRecord& d) {
  const devices::FamilyForm& form = devices::Form(d);
  return {.unit_instructions = form.erase_unit_instructions,
          .unit_name = form.erase_unit_name,
          .unit_name_ja = form.erase_unit_name_ja,
          .eeprom_word_erase = form.nvm.eeprom_word_erase,
          .eeprom_word_write = form.nvm.eeprom_word_write,
          .config_registers =
              form.config.layout == devices::ConfigLayout::kFlashWords ? 0 : form.config.written,
          .config_mask = form.config.register_bits,
          .protection_entry = static_cast<std::size_t>(form.config.protection_entry),
          .protection_bits = form.config.protection_bits};
}

}  // namespace quillon::icsp
