// Memories, backdoors, entry and time of the simulated chip. Instruction
// execution lives in target_cpu.cpp, the NVM controller in target_nvm.cpp.
#include "sim/target.h"

#include <algorithm>
#include <cstring>
#include <random>

namespace quillon::sim {
namespace {

constexpr std::uint32_t kBlankInstruction = 0xFFFFFF;
constexpr std::uint32_t kCalibrationStart = 0x8007F4;

}  // namespace

Target::Target(const devices::DeviceRecord& device, const TargetTiming& timing,
               std::uint16_t device_id, std::uint16_t revision)
    : device_(&device),
      timing_(timing),
      device_id_(device_id),
      revision_(revision),
      program_(static_cast<std::size_t>(device.program_words)),
      eeprom_(static_cast<std::size_t>(device.eeprom_bytes / 2)),
      // dsPIC30F: executive and unit ID up to 0x8005FF; dsPIC33F and PIC24FJ
      // two pages; none on PIC24F KA.
      executive_(static_cast<std::size_t>(devices::Form(device).executive.instructions)) {
  EraseAll();
  ResetLatches();
}

// Inference: PIC24FJ parts keep their configuration in flash words at the
// top of program memory and have no registers at 0xF80000. PIC24F KA parts
// have nine, the second of them (0xF80002) unimplemented.
bool Target::ConfigImplemented(std::uint32_t address) const {
  const std::uint32_t k = (address - kConfigBase) / 2;
  if (address < kConfigBase || k >= static_cast<std::uint32_t>(config_registers())) return false;
  return form().controller != devices::NvmController::kPic24FKA || k != 1;
}

bool Target::HasApplicationId() const {
  if (executive_.empty()) return false;
  const std::uint32_t id = Executive(application_id_address()) & 0xFFFF;
  return id == 0x00BB || (self_timed() && id == 0x00CB);
}

// --- ICSP pins -------------------------------------------------------------

void Target::Enter(bool key_entry, bool enhanced) {
  if (busy_ || armed_) ++unfinished_;  // MCLR aborts whatever was running
  busy_ = armed_ = false;
  op_ = NvmOp::kNone;
  std::fill(data_.begin(), data_.end(), 0);
  ResetLatches();
  nvm_address_ = 0;  // not published; the cautious value
  key_stage_ = 0;
  goto_pending_ = false;
  if (key_entry != form().key_entry()) {
    mode_ = TargetMode::kReset;
  } else {
    mode_ = enhanced ? TargetMode::kEnhanced : TargetMode::kIcsp;
  }
  executive_running_ = mode_ == TargetMode::kEnhanced && HasApplicationId();
}

void Target::Exit() {
  Advance(0);
  if (busy_ || armed_) ++unfinished_;  // Inference: leaving ICSP resets the part mid-operation
  busy_ = armed_ = false;
  op_ = NvmOp::kNone;
  mode_ = TargetMode::kOff;
  executive_running_ = false;
}

std::uint16_t Target::RegOut() {
  if (mode_ != TargetMode::kIcsp) return 0xFFFF;
  Advance(0);
  return DataWord(kVisi);
}

void Target::Advance(std::uint64_t ns) {
  now_ns_ += ns;
  if (busy_ && now_ns_ >= op_done_ns_) FinishSelfTimed();
}

std::uint16_t Target::DataWord(std::uint16_t address) const {
  return static_cast<std::uint16_t>(data_[address & 0xFFFE] | (data_[(address & 0xFFFE) + 1] << 8));
}

// --- memories --------------------------------------------------------------

std::uint32_t Target::Stuck(std::uint32_t address, std::uint32_t value) const {
  for (const StuckBits& s : stuck_) {
    if (s.address == address) value = (value & ~s.mask) | (s.value & s.mask);
  }
  return value;
}

std::uint32_t Target::ReadProgramSpace(std::uint32_t address) const {
  address &= 0xFFFFFE;
  if (address < 2 * program_words()) return Stuck(address, program_[address / 2]);
  // Inference: the upper byte of an EEPROM word reads 0.
  if (InEeprom(address)) return eeprom_[(address - eeprom_base()) / 2];
  if (address >= kExecutiveBase && address < executive_end()) {
    return Stuck(address, executive_[(address - kExecutiveBase) / 2]);
  }
  if (ConfigImplemented(address)) return config_[(address - kConfigBase) / 2];
  if (address == kDeviceIdAddress) return device_id_;
  if (address == kDeviceIdAddress + 2) return revision_;
  return 0;  // Inference: unimplemented program space reads as zero
}

std::uint32_t* Target::FlashCell(std::uint32_t address) {
  address &= 0xFFFFFE;
  if (address < 2 * program_words()) return &program_[address / 2];
  if (address >= kExecutiveBase && address < executive_end()) {
    return &executive_[(address - kExecutiveBase) / 2];
  }
  return nullptr;
}

// Programming can only clear bits: the result is the AND of old and new.
void Target::ProgramCell(std::uint32_t address, std::uint32_t value) {
  if (std::uint32_t* cell = FlashCell(address)) {
    *cell &= value & 0xFFFFFF;
  } else if (InEeprom(address)) {
    eeprom_[(address - eeprom_base()) / 2] &= static_cast<std::uint16_t>(value);
  }
}

void Target::EraseRange(std::uint32_t first, std::uint32_t end) {
  for (std::uint32_t address = first & 0xFFFFFE; address < end; address += 2) {
    if (std::uint32_t* cell = FlashCell(address)) {
      *cell = kBlankInstruction;
    } else if (InEeprom(address)) {
      eeprom_[(address - eeprom_base()) / 2] = 0xFFFF;
    }
  }
}

// Inference: a configuration register write replaces the whole value (the
// registers are rewritten, not ANDed: writing 0xFFFF restores them). On the
// dsPIC33F/PIC24 form only the low 8 bits exist.
void Target::WriteConfigRegister(std::uint32_t address, std::uint16_t value) {
  if (ConfigImplemented(address)) SetConfig(static_cast<int>((address - kConfigBase) / 2), value);
}

bool Target::ProgramBlock(std::uint32_t address, const std::uint32_t* values, std::uint32_t count) {
  address &= 0xFFFFFE;
  const std::uint32_t end = address + 2 * count;
  const bool in_program = end <= 2 * program_words();
  const bool in_eeprom = address >= eeprom_base() && end <= kExecutiveBase;
  const bool in_executive = address >= kExecutiveBase && end <= executive_end();
  if (count == 0 || !(in_program || in_eeprom || in_executive)) return false;
  for (std::uint32_t i = 0; i < count; ++i) ProgramCell(address + 2 * i, values[i]);
  Count(in_eeprom ? NvmOp::kEepromRow : NvmOp::kRowProgram, address);
  Advance(in_eeprom ? timing_.timed_program_ns : timing_.row_program_ns);
  return true;
}

// --- backdoors ---------------------------------------------------------------

std::uint32_t Target::Program(std::uint32_t address) const {
  const std::uint32_t index = (address & 0xFFFFFE) / 2;
  return index < program_.size() ? Stuck(address & 0xFFFFFE, program_[index]) : 0;
}

void Target::SetProgram(std::uint32_t address, std::uint32_t instruction) {
  const std::uint32_t index = (address & 0xFFFFFE) / 2;
  if (index < program_.size()) program_[index] = instruction & 0xFFFFFF;
}

std::uint16_t Target::Eeprom(std::uint32_t address) const {
  if (!InEeprom(address)) return 0;
  return eeprom_[(address - eeprom_base()) / 2];
}

void Target::SetEeprom(std::uint32_t address, std::uint16_t value) {
  if (!InEeprom(address)) return;
  eeprom_[(address - eeprom_base()) / 2] = value;
}

std::uint32_t Target::Executive(std::uint32_t address) const {
  if (address < kExecutiveBase || address >= executive_end()) return 0;
  return Stuck(address & 0xFFFFFE, executive_[(address - kExecutiveBase) / 2]);
}

void Target::SetExecutive(std::uint32_t address, std::uint32_t instruction) {
  if (address < kExecutiveBase || address >= executive_end()) return;
  executive_[(address - kExecutiveBase) / 2] = instruction & 0xFFFFFF;
}

std::uint16_t Target::Config(int k) const {
  return k >= 0 && k < kConfigRegisters ? config_[static_cast<std::size_t>(k)] : 0;
}

void Target::SetConfig(int k, std::uint16_t value) {
  if (k < 0 || k >= kConfigRegisters) return;
  config_[static_cast<std::size_t>(k)] = config_is_byte_wide() ? (value & 0x00FF) : value;
}

void Target::FillRandom(std::uint32_t seed) {
  std::mt19937 random(seed);
  for (std::uint32_t& cell : program_) cell = random() & 0xFFFFFF;
  for (std::uint16_t& word : eeprom_) word = static_cast<std::uint16_t>(random());
  for (std::uint32_t address = kExecutiveBase; address < executive_end(); address += 2) {
    if (self_timed() && address >= kCalibrationStart) break;
    executive_[(address - kExecutiveBase) / 2] = random() & 0xFFFFFF;
  }
}

void Target::EraseAll() {
  std::fill(program_.begin(), program_.end(), kBlankInstruction);
  std::fill(eeprom_.begin(), eeprom_.end(), 0xFFFF);
  std::fill(executive_.begin(), executive_.end(), kBlankInstruction);
  config_.fill(config_is_byte_wide() ? 0x00FF : 0xFFFF);
  // Inference: the factory calibration words at 0x8007F4 and up are present
  // on every new dsPIC33F/PIC24 part; their values here are arbitrary but not blank.
  if (executive_.empty() || !self_timed()) return;
  for (std::uint32_t address = kCalibrationStart; address < executive_end(); address += 2) {
    executive_[(address - kExecutiveBase) / 2] = 0x00C000 | ((address & 0xFF) << 4) | 0x5;
  }
}

void Target::SetStuckBits(std::uint32_t address, std::uint32_t mask, std::uint32_t value) {
  stuck_.push_back({address & 0xFFFFFE, mask & 0xFFFFFF, value & 0xFFFFFF});
}

// --- faults ----------------------------------------------------------------

void Target::RecordFault(std::string text) {
  if (faults_.size() < 64) faults_.push_back(std::move(text));
}

std::string Target::fault_text() const {
  std::string text;
  for (const std::string& fault : faults_) text += fault + '\n';
  if (!text.empty()) text.pop_back();
  return text;
}

}  // namespace quillon::sim
