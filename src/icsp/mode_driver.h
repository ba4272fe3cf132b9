// How an operation reads and writes the part's memories in one programming
// mode: through the programming executive (blocks of 64) or with plain ICSP
// (quads and rows, in the board's steps). Session::OpenMode picks one; the
// operations ask it and never the protocol.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "icsp/session.h"

namespace quillon::icsp {

// The first word a blank check found set: the window's coded address and
// value, and the program address and value in the part's terms.
struct NotBlankWord {
  std::uint32_t shown = 0;
  std::uint16_t value = 0;
  std::uint32_t address = 0;
  std::uint32_t read = 0;
};
// kIncomplete: stopped, link lost or a refused block; the report is out.
enum class Scan { kBlank, kNotBlank, kIncomplete };

// The erase units of program memory an incremental write replaces.
struct UnitRewrite {
  std::vector<std::uint32_t> units;
  std::uint32_t unit_instructions = 0;
  // Erases one unit by the form's own erase; the part is in ICSP mode.
  std::function<void(std::uint32_t unit)> erase;
};

class ModeDriver {
 public:
  explicit ModeDriver(Session& session) : s_(session) {}
  virtual ~ModeDriver() = default;

  // The mode runs in a programming executive the part must hold.
  virtual bool NeedsExecutive() const = 0;
  // Enters the mode; false (reported) when the executive never answered.
  virtual bool Enter() = 0;

  // --- whole memories, each step a place to stop on request ---
  // Writes: the image's rows the write's plan names (first instruction, or
  // first EEPROM word, of each, in order); false when the executive refused
  // one. Verifies: see verify.h. Reads: into the image, a refused
  // block leaving the rest blank. Checks: up to the first word not blank.
  bool WriteProgram(const std::vector<std::uint32_t>& rows);
  virtual bool WriteEeprom(const std::vector<std::uint32_t>& writes) = 0;
  virtual bool VerifyProgram(bool held_only) = 0;
  virtual bool VerifyEeprom(bool held_only) = 0;
  virtual void ReadProgram() = 0;
  virtual void ReadEeprom() = 0;
  virtual Scan CheckProgram(NotBlankWord& found) = 0;
  virtual Scan CheckEeprom(NotBlankWord& found) = 0;

  // --- piecewise, for the incremental write ---
  // Enters the mode for ReadCode and ReadEepromWords; false (reported, mode
  // left) when the executive never answered.
  virtual bool BeginReads() = 0;
  virtual void EndReads() = 0;
  // Instructions [first, first + count) into `units` (two per instruction),
  // EEPROM words [first, first + count) into `words`.
  virtual void ReadCode(std::uint32_t first, std::uint32_t count, std::uint16_t* units) = 0;
  virtual void ReadEepromWords(std::uint32_t first, std::uint32_t count, std::uint16_t* words) = 0;
  // Erases each unit and writes its rows that are not blank again, under the
  // phases it takes (`phase` is replaced). False when it stopped.
  virtual bool RewriteUnits(const UnitRewrite& rewrite, std::optional<PhaseScope>& phase) = 0;

 protected:
  // What precedes the first row of a run of rows.
  virtual void BeginRows() = 0;
  // One row of the program image from instruction `first`; false when the
  // executive refused it.
  virtual bool WriteRow(std::uint32_t first, std::uint32_t row) = 0;
  // The rows of erase unit `unit` that are not blank.
  void WriteUnitRows(const UnitRewrite& rewrite, std::uint32_t unit);
  // `first` is next in the planned, ascending `rows` (`next` walks them).
  static bool Planned(const std::vector<std::uint32_t>& rows, std::size_t& next,
                      std::uint32_t first) {
    while (next < rows.size() && rows[next] < first) ++next;
    return next < rows.size() && rows[next] == first;
  }

  const devices::DeviceRecord& device() const { return s_.device().device; }
  std::uint32_t EepromBase() const {
    return 0x800000u - static_cast<std::uint32_t>(device().eeprom_bytes);
  }

  Session& s_;
};

std::unique_ptr<ModeDriver> MakeExecutiveDriver(Session& session);
std::unique_ptr<ModeDriver> MakePlainDriver(Session& session);

}  // namespace quillon::icsp
