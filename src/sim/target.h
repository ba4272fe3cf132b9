// The simulated target chip: its memories with flash physics, the register
// file and SFRs that ICSP sequences touch, and the NVM controller of either
// family form. Time is virtual and only moves through Advance().
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "devices/catalogue.h"
#include "sim/decoder.h"

namespace quillon::sim {

inline constexpr std::uint64_t kMillisecond = 1'000'000;  // in nanoseconds

// How long flash operations take. dsPIC30F operations are externally timed:
// the values are the least time WR must stay set. dsPIC33F/PIC24 operations
// are self-timed: WR clears by itself after these times.
struct TargetTiming {
  std::uint64_t timed_program_ns = 2 * kMillisecond;
  std::uint64_t timed_erase_ns = 200 * kMillisecond;
  std::uint64_t bulk_erase_ns = 400 * kMillisecond;
  std::uint64_t page_erase_ns = 40 * kMillisecond;
  std::uint64_t row_program_ns = 2 * kMillisecond;
  std::uint64_t word_program_ns = 50'000;
  // Inference: no figure is published for a configuration register write;
  // it is taken to cost as much as a row.
  std::uint64_t config_program_ns = 2 * kMillisecond;
};

enum class TargetMode : std::uint8_t {
  kOff,       // running (or unpowered); not driving PGD
  kReset,     // entered the wrong way: held in reset
  kIcsp,      // SIX and REGOUT work
  kEnhanced,  // the programming executive owns the chip
};

// Data-space addresses of the registers the model gives meaning to.
inline constexpr std::uint16_t kNvmcon = 0x0760;
inline constexpr std::uint16_t kNvmadr = 0x0762;
inline constexpr std::uint16_t kNvmadru = 0x0764;
inline constexpr std::uint16_t kNvmkey = 0x0766;
inline constexpr std::uint16_t kVisi = 0x0784;
inline constexpr std::uint16_t kWr = 0x8000;
inline constexpr std::uint16_t kWren = 0x4000;
inline constexpr std::uint16_t kWrerr = 0x2000;

inline constexpr std::uint32_t kExecutiveBase = 0x800000;
inline constexpr std::uint32_t kConfigBase = 0xF80000;
inline constexpr std::uint32_t kDeviceIdAddress = 0xFF0000;
inline constexpr int kConfigRegisters = 16;

class Target {
 public:
  Target(const devices::DeviceRecord& device, const TargetTiming& timing, std::uint16_t device_id,
         std::uint16_t revision);

  const devices::DeviceRecord& device() const { return *device_; }
  const devices::FamilyForm& form() const { return devices::Form(*device_); }
  // Self-timed NVM operations (dsPIC33F, PIC24); dsPIC30F ones are timed by the host.
  bool self_timed() const { return form().self_timed(); }
  std::uint32_t row_instructions() const { return form().row_instructions; }

  // --- ICSP pins ---
  // MCLR pulse plus entry: `key_entry` is the key sequence (board commands
  // 0x0D/0x8D), otherwise high voltage (0x0C/0x8C). The wrong kind leaves
  // the part in reset.
  void Enter(bool key_entry, bool enhanced);
  void Exit();
  TargetMode mode() const { return mode_; }
  void Execute(std::uint32_t word);  // SIX
  std::uint16_t RegOut();            // REGOUT: VISI, or all ones when PGD is not driven
  bool ExecutiveRunning() const { return mode_ == TargetMode::kEnhanced && executive_running_; }
  bool HasApplicationId() const;

  // --- virtual time ---
  void Advance(std::uint64_t ns);
  std::uint64_t now_ns() const { return now_ns_; }

  // --- access used by the programming executive (flash physics apply) ---
  std::uint32_t ReadProgramSpace(std::uint32_t address) const;  // 24-bit, 0 where unimplemented
  // Programs `count` instructions (or EEPROM words) from `values` at the
  // row-aligned `address`; returns false when the address is not writable.
  bool ProgramBlock(std::uint32_t address, const std::uint32_t* values, std::uint32_t count);

  // --- backdoors for set-up and inspection (no flash physics, no time) ---
  std::uint32_t Program(std::uint32_t address) const;
  void SetProgram(std::uint32_t address, std::uint32_t instruction);
  std::uint16_t Eeprom(std::uint32_t address) const;
  void SetEeprom(std::uint32_t address, std::uint16_t value);
  std::uint32_t Executive(std::uint32_t address) const;
  void SetExecutive(std::uint32_t address, std::uint32_t instruction);
  std::uint16_t Config(int k) const;
  void SetConfig(int k, std::uint16_t value);
  void FillRandom(std::uint32_t seed);  // program, EEPROM and executive (calibration words kept)
  void EraseAll();  // program, EEPROM, executive (calibration words kept), configuration
  // Bits in `mask` of the instruction at a program address always read as
  // the same bits of `value`, whatever is programmed or erased there.
  void SetStuckBits(std::uint32_t address, std::uint32_t mask, std::uint32_t value);

  std::uint32_t program_words() const { return static_cast<std::uint32_t>(program_.size()); }
  std::uint32_t eeprom_base() const {
    return kExecutiveBase - 2 * static_cast<std::uint32_t>(eeprom_.size());
  }
  std::uint32_t executive_end() const {
    return kExecutiveBase + 2 * static_cast<std::uint32_t>(executive_.size());
  }
  bool config_is_byte_wide() const { return self_timed(); }
  // Registers from 0xF80000 (none on the flash-word forms).
  int config_registers() const {
    return form().config.layout == devices::ConfigLayout::kRegisters ? form().config.read : 0;
  }
  std::uint32_t application_id_address() const { return kExecutiveBase + form().executive.id_unit; }

  // --- register file and NVM state, for tests ---
  std::uint16_t W(int n) const { return DataWord(static_cast<std::uint16_t>(2 * n)); }
  std::uint16_t DataWord(std::uint16_t address) const;
  std::uint8_t tblpag() const { return data_[tblpag_address()]; }
  std::uint16_t tblpag_address() const { return form().tblpag_address; }
  std::uint16_t nvmcon() const { return DataWord(kNvmcon); }
  std::uint32_t nvm_address() const { return nvm_address_; }
  // Erases and writes that were started but never took effect: a dsPIC30F
  // WR cleared too early, or an operation abandoned by leaving ICSP.
  int unfinished_operations() const { return unfinished_; }
  int completed_operations() const { return completed_; }
  // What the memories went through, by where it landed: programming
  // operations (a row, a word, an executive block), configuration writes and
  // erases of any size.
  struct Tally {
    int program_writes = 0;
    int eeprom_writes = 0;
    int executive_writes = 0;
    int config_writes = 0;
    int erases = 0;
    bool operator==(const Tally&) const = default;
  };
  const Tally& tally() const { return tally_; }

  // --- protocol faults (words or uses the chip cannot make sense of) ---
  bool protocol_fault() const { return !faults_.empty(); }
  std::string fault_text() const;
  void RecordFault(std::string text);

 private:
  enum class NvmOp : std::uint8_t {
    kNone,
    kRowProgram,
    kWordProgram,
    kEepromWord,
    kEepromRow,
    kConfig,
    kChipErase,
    kCodeRowErase,
    kExecutiveErase,
    kEepromWordErase,
    kEepromRowErase,
    kBulkErase,
    kPageErase,
    // PIC24F KA
    kEepromWordReplace,  // EEPROM word write that erases the word first
    kChipEraseAll,       // program, EEPROM and configuration registers
    kEepromErase,        // all of data EEPROM
    kRowsErase4,         // four program rows
    kEepromErase4,
    kEepromErase8,
  };

  // data space
  std::uint16_t ReadData(std::uint16_t address, bool byte);
  void WriteData(std::uint16_t address, std::uint16_t value, bool byte);
  void OnSfrWrite(std::uint16_t word_address, std::uint16_t old_value);
  std::uint16_t EffectiveAddress(std::uint8_t reg, std::uint8_t mode, bool byte);
  void SetW(int n, std::uint16_t value);
  // Stores a word at an even address without the side effects of a write.
  void StoreWord(std::uint16_t address, std::uint16_t value) {
    data_[address] = static_cast<std::uint8_t>(value);
    data_[address + 1] = static_cast<std::uint8_t>(value >> 8);
  }

  // instructions
  void ExecuteTable(const Instruction& in);
  void WriteLatch(std::uint32_t address, bool high, bool byte, std::uint16_t value);

  // NVM controller
  void OnNvmconWrite(std::uint16_t old_value, std::uint16_t new_value);
  NvmOp Decode30F(std::uint16_t nvmcon) const;
  NvmOp Decode24(std::uint16_t nvmcon) const;
  NvmOp DecodeKA(std::uint16_t nvmcon) const;
  bool InProgram(std::uint32_t address) const { return address < 2 * program_words(); }
  bool InEeprom(std::uint32_t address) const {
    return address >= eeprom_base() && address < kExecutiveBase;
  }
  bool ConfigImplemented(std::uint32_t address) const;
  std::uint64_t Duration(NvmOp op) const;
  void Perform(NvmOp op);
  void Count(NvmOp op, std::uint32_t address);
  void FinishSelfTimed();
  void SetNvmconWr(bool on);
  void ResetLatches();

  // memories
  std::uint32_t* FlashCell(std::uint32_t address);  // program or executive
  std::uint32_t Stuck(std::uint32_t address, std::uint32_t value) const;
  void ProgramCell(std::uint32_t address, std::uint32_t value);
  void EraseRange(std::uint32_t first, std::uint32_t end);
  void WriteConfigRegister(std::uint32_t address, std::uint16_t value);

  const devices::DeviceRecord* device_;
  TargetTiming timing_;
  std::uint16_t device_id_;
  std::uint16_t revision_;

  std::vector<std::uint32_t> program_;
  std::vector<std::uint16_t> eeprom_;
  std::vector<std::uint32_t> executive_;
  std::array<std::uint16_t, kConfigRegisters> config_{};
  std::vector<std::uint8_t> data_ = std::vector<std::uint8_t>(0x10000);  // data space

  struct StuckBits {
    std::uint32_t address;
    std::uint32_t mask;
    std::uint32_t value;
  };
  std::vector<StuckBits> stuck_;

  std::array<std::uint32_t, 64> latches_{};
  std::uint32_t nvm_address_ = 0;
  // Row of the first table write since the latches were last reset, and
  // whether a later one fell in another row.
  std::optional<std::uint32_t> latched_row_;
  bool latches_span_rows_ = false;

  TargetMode mode_ = TargetMode::kOff;
  bool executive_running_ = false;
  bool goto_pending_ = false;
  int key_stage_ = 0;         // 0 none, 1 after 0x55, 2 after 0x55 then 0xAA
  bool key_written_ = false;  // this instruction wrote NVMKEY
  bool wr_written_ = false;   // this instruction set WR

  // operation in progress
  NvmOp op_ = NvmOp::kNone;
  bool armed_ = false;  // dsPIC30F: WR set after a valid unlock
  bool busy_ = false;   // dsPIC33F/PIC24: self-timed operation running
  std::uint64_t op_started_ns_ = 0;
  std::uint64_t op_done_ns_ = 0;
  std::uint32_t op_address_ = 0;
  std::array<std::uint32_t, 64> op_latches_{};

  std::uint64_t now_ns_ = 0;
  int unfinished_ = 0;
  int completed_ = 0;
  Tally tally_;
  std::vector<std::string> faults_;
};

}  // namespace quillon::sim
