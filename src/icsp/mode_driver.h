// How an operation reads and writes the part's memories in one programming
// mode: through the programming executive or with plain ICSP. Session::OpenMode
// picks one; the operations ask it and never the protocol.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "icsp/session.h"

namespace quillon::icsp {

// The first word a blank check found set: as the window shows it, and in the
// part's terms.
struct NotBlankWord {
  std::uint32_t shown = 0;
  std::uint16_t value = 0;
  std::uint32_t address = 0;
  std::uint32_t read = 0;
};
// kIncomplete: stopped, link lost or a refused block; the report is out.
enum class Scan { kBlank, kNotBlank, kIncomplete };

class ModeDriver {
 public:
  explicit ModeDriver(Session& session) : s_(session) {}
  virtual ~ModeDriver() = default;

  virtual bool NeedsExecutive() const = 0;
  // Enters the mode; false (reported) when the executive never answered.
  virtual bool Enter() = 0;

  // Whole memories, each step a place to stop on request. Writes: the rows
  // the plan names; false when the executive refused one. Reads: into the
  // image, a refused block leaving the rest blank. Checks: up to the first
  // word not blank.
  bool WriteProgram(const std::vector<std::uint32_t>& rows);
  virtual bool WriteEeprom(const std::vector<std::uint32_t>& writes) = 0;
  virtual bool VerifyProgram(bool held_only) = 0;
  virtual bool VerifyEeprom(bool held_only) = 0;
  virtual void ReadProgram() = 0;
  virtual void ReadEeprom() = 0;
  virtual Scan CheckProgram(NotBlankWord& found) = 0;
  virtual Scan CheckEeprom(NotBlankWord& found) = 0;

  // Piecewise, for the incremental write. BeginReads enters the mode; false
  // (reported, mode left) when the executive never answered.
  virtual bool BeginReads() = 0;
  virtual void EndReads() = 0;
  virtual void ReadCode(std::uint32_t first, std::uint32_t count, std::uint16_t* units) = 0;
  virtual void ReadEepromWords(std::uint32_t first, std::uint32_t count, std::uint16_t* words) = 0;
  // Erases each unit and writes its rows that are not blank again, under the
  // phases it takes (`phase` is replaced). False when it stopped.
  virtual bool RewriteUnits(const std::vector<std::uint32_t>& units,
                            std::optional<PhaseScope>& phase) = 0;

 protected:
  virtual void BeginRows() = 0;
  // False when the executive refused the row.
  virtual bool WriteRow(std::uint32_t first, std::uint32_t row) = 0;
  // Erase unit `unit` of program memory, by the form's erase (ICSP mode).
  std::uint32_t UnitInstructions() const { return s_.form().erase_unit_instructions; }
  void EraseUnit(std::uint32_t unit);
  void WriteUnitRows(std::uint32_t unit);
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
