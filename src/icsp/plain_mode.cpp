// Plain ICSP: quads read through the table registers and rows written from
// the latches, in the board's steps.
#include <algorithm>
#include <array>

#include "icsp/erase_units.h"
#include "icsp/mode_driver.h"
#include "icsp/primitives.h"
#include "icsp/verify.h"

namespace quillon::icsp {

namespace {

class PlainDriver final : public ModeDriver {
 public:
  using ModeDriver::ModeDriver;

  bool NeedsExecutive() const override { return false; }
  bool Enter() override {
    EnterIcsp(s_);
    return true;
  }
  bool VerifyProgram(bool held_only) override {
    return VerifyCodeQuads(s_, 0, s_.image().program, device().program_words / 4 - 1,
                           "Verifying:Prg Adr ", "Prg ", held_only);
  }
  void ReadProgram() override {
    ReadCodeQuads(s_, 0, device().program_words / 4, s_.image().program, "Reading:Prg Adr ");
  }

  bool BeginReads() override {
    EnterIcsp(s_);
    GotoResetVector(s_);
    return true;
  }
  void EndReads() override {
    EndAtResetVector(s_);
    ExitIcsp(s_);
  }

  bool WriteEeprom(const std::vector<std::uint32_t>& writes) override {
    if (s_.form().eeprom.write == devices::EepromWrite::kWord) {
      WriteEepromWords(writes);
      return true;
    }
    std::size_t next = 0;
    const long last = device().eeprom_bytes / 32 - 1;
    const std::vector<std::uint16_t>& eeprom = s_.image().eeprom;
    GotoResetVector100(s_);
    for (long r = 0; r <= last; ++r) {
      const std::uint32_t first = kEepromRowWords * static_cast<std::uint32_t>(r);
      if (!BeginStep(s_, "Writing:Dat Adr ", r, last, 2 * first, EepromBase() + 2 * first)) break;
      if (!Planned(writes, next, first)) continue;
      LoadNvmcon(s_, s_.form().nvm.eeprom_write);
      SetTablePointer(s_, EepromBase() + 2 * first, 7);
      for (std::uint32_t g = 0; g < 4; ++g) {
        for (unsigned i = 0; i < 4; ++i) {
          s_.link().AppendInstruction(MoveLiteral(eeprom[first + 4 * g + i], i));
        }
        s_.link().SendBatch();
        LoadDataLatches(s_);
      }
      NvmUnlock(s_);
      TimedNvmWrite(s_, 1);
      GotoResetVector100(s_);
    }
    return true;
  }
  bool VerifyEeprom(bool held_only) override {
    const long last = device().eeprom_bytes / 8 - 1;
    const std::vector<std::uint16_t>& expected = s_.image().eeprom;
    BeginTableReads(s_, EepromBase());
    for (long q = 0; q <= last; ++q) {
      const std::uint32_t offset = 8 * static_cast<std::uint32_t>(q);
      if (!BeginStep(s_, "Verifying:Dat Adr ", q, last, offset, EepromBase() + offset))
        return false;
      if (WordsBlank(expected, 4 * static_cast<std::size_t>(q), 4)) continue;
      SetTablePointer(s_, EepromBase() + offset, 6);
      s_.link().SendBatch();
      ReadDataQuad(s_);
      FetchDataQuad(s_, data_quad_);
      GotoResetVector(s_);
      for (std::uint32_t k = 0; k < 4; ++k) {
        const std::uint16_t read = data_quad_[k];
        const std::uint16_t want = expected[offset / 2 + k];
        if (held_only && want == 0xFFFF) continue;
        // Batch addresses are byte offsets from the start of the EEPROM.
        if (read != want) {
          return Mismatch(s_, "Eep ", offset + 2 * k, read, want,
                          {report::Memory::kEeprom, EepromBase() + offset + 2 * k, read, want});
        }
      }
    }
    return true;
  }
  void ReadEeprom() override {
    const long steps = device().eeprom_bytes / 8;
    // The table reads advance W6 from quad to quad, so it is set only once.
    BeginTableReads(s_, EepromBase());
    for (long r = 0; r < steps; ++r) {
      const std::uint32_t offset = 8 * static_cast<std::uint32_t>(r);
      if (!BeginStep(s_, "Reading:Dat Adr ", r, steps - 1, offset, EepromBase() + offset)) break;
      ReadDataQuad(s_);
      FetchDataQuad(s_, s_.image().eeprom, static_cast<std::size_t>(r));
      GotoResetVector(s_);
    }
  }
  Scan CheckProgram(NotBlankWord& found) override {
    const long groups = device().program_words / 4;
    BeginTableReads(s_, 0);
    for (long g = 0; g < groups; ++g) {
      const std::uint32_t address = 8 * static_cast<std::uint32_t>(g);
      if (!BeginStep(s_, "Checking:Prg Adr ", g, groups - 1, address)) return Scan::kIncomplete;
      SetTablePointer(s_, address, 6);
      ReadCodeQuad(s_);
      FetchCodeQuad(s_, s_.image().program, static_cast<std::size_t>(g));
      GotoResetVector(s_);
      const std::uint16_t* units = s_.image().program.data() + address;
      for (std::uint32_t k = 0; k < 4; ++k) {
        const std::uint32_t read =
            units[2 * k] | static_cast<std::uint32_t>(units[2 * k + 1] & 0xFF) << 16;
        // The upper byte is shown at the odd unit that holds it.
        if (units[2 * k] != 0xFFFF) {
          found = {address + 2 * k, units[2 * k], address + 2 * k, read};
          return Scan::kNotBlank;
        }
        if (units[2 * k + 1] != 0xFF) {
          found = {address + 2 * k + 1, units[2 * k + 1], address + 2 * k, read};
          return Scan::kNotBlank;
        }
      }
    }
    EndAtResetVector(s_);
    return Scan::kBlank;
  }
  Scan CheckEeprom(NotBlankWord& found) override {
    const long groups = device().eeprom_bytes / 8;
    BeginTableReads(s_, EepromBase());
    for (long g = 0; g < groups; ++g) {
      const std::uint32_t offset = 8 * static_cast<std::uint32_t>(g);
      if (!BeginStep(s_, "Checking:Dat Adr ", g, groups - 1, offset, EepromBase() + offset)) {
        return Scan::kIncomplete;
      }
      ReadDataQuad(s_);
      FetchDataQuad(s_, s_.image().eeprom, static_cast<std::size_t>(g));
      GotoResetVector(s_);
      for (std::uint32_t k = 0; k < 4; ++k) {
        const std::uint16_t word = s_.image().eeprom[4 * g + k];
        if (word != 0xFFFF) {
          found = {offset + 2 * k, word, EepromBase() + offset + 2 * k, word};
          return Scan::kNotBlank;
        }
      }
    }
    return Scan::kBlank;
  }
  void ReadCode(std::uint32_t first, std::uint32_t count, std::uint16_t* units) override {
    for (std::uint32_t q = 0; q < count / 4; ++q) {
      SetTablePointer(s_, 2 * (first + 4 * q), 6);
      ReadCodeQuad(s_);
      FetchCodeQuad(s_, quad_);
      GotoResetVector(s_);
      std::copy_n(quad_.begin(), 8, units + 8 * q);
    }
  }
  void ReadEepromWords(std::uint32_t first, std::uint32_t count, std::uint16_t* words) override {
    // The table reads advance W6, as in ReadEeprom.
    BeginTableReads(s_, EepromBase() + 2 * first);
    for (std::uint32_t q = 0; q < count / 4; ++q) {
      ReadDataQuad(s_);
      FetchDataQuad(s_, data_quad_);
      GotoResetVector(s_);
      std::copy_n(data_quad_.begin(), 4, words + 4 * q);
    }
  }
  // Each unit is erased and written again in one step.
  bool RewriteUnits(const std::vector<std::uint32_t>& units,
                    std::optional<PhaseScope>& phase) override {
    phase.reset();
    phase.emplace(s_, report::Phase::kWriting);
    EnterIcsp(s_);
    const long last = static_cast<long>(units.size()) - 1;
    for (long i = 0; i <= last; ++i) {
      const std::uint32_t u = units[static_cast<std::size_t>(i)];
      if (!BeginStep(s_, "Erasing:Prg Adr ", i, last, u * UnitInstructions())) return false;
      EraseUnit(u);
      // The erase changed NVMCON.
      LoadRowNvmcon();
      WriteUnitRows(u);
    }
    ExitIcsp(s_);
    return true;
  }

 protected:
  void BeginRows() override {
    GotoResetVector(s_);
    LoadRowNvmcon();
  }
  bool WriteRow(std::uint32_t first, std::uint32_t row) override {
    WriteCodeRow(s_, QuadSource::kProgram, 0, first, row);
    return true;
  }

 private:
  // NVMCON keeps its value between self-timed writes: loaded once per run.
  void LoadRowNvmcon() {
    if (!s_.form().self_timed()) return;
    LoadNvmcon(s_, s_.form().nvm.row_program);
    s_.link().SendBatch();
  }
  // One word per self-timed write, which erases the word first: the plan
  // sends every word, blank or not.
  void WriteEepromWords(const std::vector<std::uint32_t>& writes) {
    std::size_t next = 0;
    const long last = device().eeprom_bytes / 32 - 1;
    const std::vector<std::uint16_t>& eeprom = s_.image().eeprom;
    GotoResetVector(s_);
    LoadNvmcon(s_, s_.form().nvm.eeprom_write);
    s_.link().SendBatch();
    for (long r = 0; r <= last; ++r) {
      const std::uint32_t first = kEepromRowWords * static_cast<std::uint32_t>(r);
      if (!BeginStep(s_, "Writing:Dat Adr ", r, last, 2 * first, EepromBase() + 2 * first)) break;
      for (std::uint32_t j = first; j < first + kEepromRowWords; ++j) {
        if (!Planned(writes, next, j)) continue;
        SetTablePointer(s_, EepromBase() + 2 * j, 7);
        AppendWords(s_.link(), {MoveLiteral(eeprom[j], 6), kTblwtlW6ToW7, kNop, kNop});
        FinishNvmWrite(s_, 1);
      }
    }
  }

  std::array<std::uint16_t, 8> quad_{};
  std::array<std::uint16_t, 4> data_quad_{};
};

}  // namespace

bool ModeDriver::WriteProgram(const std::vector<std::uint32_t>& rows) {
  const std::uint32_t row = s_.form().row_instructions;
  const long last = device().program_words / static_cast<long>(row) - 1;
  BeginRows();
  std::size_t next = 0;
  for (long r = 0; r <= last; ++r) {
    const std::uint32_t first = row * static_cast<std::uint32_t>(r);
    // Only the last four digits of the instruction number are shown.
    if (!BeginStep(s_, "Writing:Prg Adr ", r, last, first, 2 * first)) break;
    if (!Planned(rows, next, first)) continue;
    if (!WriteRow(first, row)) return false;
  }
  return true;
}

void ModeDriver::EraseUnit(std::uint32_t unit) {
  EraseFor(s_.form()).EraseUnit(s_, 2 * unit * UnitInstructions());
}

void ModeDriver::WriteUnitRows(std::uint32_t unit) {
  const std::uint32_t row = s_.form().row_instructions;
  const std::uint32_t first = unit * UnitInstructions();
  const std::uint32_t end =
      std::min(first + UnitInstructions(), static_cast<std::uint32_t>(device().program_words));
  for (std::uint32_t r = first; r < end; r += row) {
    if (InstructionsBlank(s_.image().program, r, row)) continue;
    // After a refused row (reported) the rest would only add to the damage.
    if (!WriteRow(r, row)) return;
  }
}

std::unique_ptr<ModeDriver> MakePlainDriver(Session& session) {
  return std::make_unique<PlainDriver>(session);
}

}  // namespace quillon::icsp
