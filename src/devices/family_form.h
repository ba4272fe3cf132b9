// How each family of parts is programmed, as data: the engine asks a part's
// form and nothing else tells the families apart. The simulator takes sizes
// and registers from it but decodes NVMCON with tables of its own.
#pragma once

#include <cstdint>
#include <string_view>

namespace quillon::devices {

// Which published NVM controller a form has (the simulator keeps one decoding
// table per controller).
enum class NvmController : std::uint8_t { kDsPic30F, kDsPic33F, kPic24FKA };

// dsPIC30F writes are timed by the host between setting and clearing WR,
// behind the NVMKEY unlock; the others time themselves and are polled.
enum class WriteTiming : std::uint8_t { kExternal, kSelfTimed };

// The NVMCON values a form uses. Zero: the form has no such operation.
struct NvmCodes {
  std::uint16_t row_program = 0;      // one row from the latches
  std::uint16_t bulk_erase = 0;       // chip (or user memory) erase
  std::uint16_t executive_erase = 0;  // executive memory as a whole (externally timed form)
  std::uint16_t page_erase = 0;       // one page at the latched address
  std::uint16_t config_write = 0;     // one configuration register or flash word
  std::uint16_t eeprom_write = 0;     // one EEPROM row or word (see EepromForm)
  // Piecewise changes (the incremental write).
  std::uint16_t unit_erase = 0;         // one erase unit at the latched address
  std::uint16_t eeprom_word_erase = 0;  // one EEPROM word (0: its write erases it)
  std::uint16_t eeprom_word_write = 0;  // one EEPROM word
};

enum class ConfigLayout : std::uint8_t {
  kRegisters,   // registers at 0xF80000 + 2k
  kFlashWords,  // two words in the last instructions of program memory
};

struct ConfigForm {
  ConfigLayout layout = ConfigLayout::kRegisters;
  int written = 0;        // entries a write handles
  int read = 0;           // entries read back
  int listed = 16;        // entries in the listing
  int hex_registers = 8;  // registers the HEX files carry under upper address 0x01F0
  // Bits the host writes and keeps of each value.
  std::uint16_t value_mask = 0xFFFF;
  // The bulk erase clears the registers itself (no blank writes first).
  bool erased_by_bulk_erase = false;
  // Unit ID words right after the registers that HEX files may carry.
  int unit_id_words = 0;
  // The entry whose bits, all set, say that the code is neither code- nor
  // write-protected (general segment), so it may be read and erased piecewise.
  int protection_entry = 0;
  std::uint16_t protection_bits = 0;
  // Bits the part's registers keep and read back (0x00FF: 8-bit registers,
  // whose HEX values have an upper byte of all zeros or all ones).
  std::uint16_t register_bits = 0xFFFF;
};

enum class EepromWrite : std::uint8_t {
  kRow16,  // sixteen words per write from the latches
  kWord,   // one word per write, erased by the write itself
};

struct EepromForm {
  EepromWrite write = EepromWrite::kRow16;
};

struct ExecutiveForm {
  bool present = false;
  std::string_view file;          // Microchip's executive file for the family
  std::int32_t instructions = 0;  // executive memory from 0x800000
  int read_units = 0;             // units covered by Read and the listing
  int write_rows = 0;             // rows written and verified
  int row_instructions = 0;
  int last_quad = 0;               // last verified quad
  int check_first_quad = 0;        // quads read by the presence check
  std::uint32_t id_unit = 0;       // unit of the application ID
  std::uint16_t id_value = 0;      // what the family's executive carries there
  std::uint16_t id_alternate = 0;  // also accepted (0: none)
  // Factory words at the end of executive memory that an erase must not lose
  // (0: none). The host saves them before erasing and writes them back.
  std::uint32_t factory_words_from = 0;
  // The unit ID words (the user's own data) after the executive that the
  // erase takes too (0: none); kept and written back the same way.
  std::uint32_t unit_id_from = 0;
};

inline constexpr std::uint32_t kResetVector100 = 0x100;
inline constexpr std::uint32_t kResetVector200 = 0x200;
inline constexpr std::uint32_t kTablePointerAt0032 = 0x880190;  // MOV W0, TBLPAG (0x0032)
inline constexpr std::uint32_t kTablePointerAt0054 = 0x8802A0;  // MOV W0, TBLPAG (0x0054)

struct FamilyForm {
  std::string_view name;
  NvmController controller = NvmController::kDsPic30F;
  std::uint8_t icsp_entry = 0x0C;      // board command entering ICSP
  std::uint8_t enhanced_entry = 0x8C;  // board command entering Enhanced ICSP
  std::uint32_t reset_vector = kResetVector100;
  std::uint16_t tblpag_address = 0x0032;
  WriteTiming timing = WriteTiming::kExternal;
  std::uint32_t row_instructions = 32;
  // The smallest erase of program memory and what a summary calls it (the
  // engine's EraseStrategy for the form's timing erases it).
  std::uint32_t erase_unit_instructions = 32;
  std::string_view erase_unit_name = "row";
  std::string_view erase_unit_name_ja = "行";
  NvmCodes nvm;
  ConfigForm config;
  EepromForm eeprom{};
  ExecutiveForm executive{};

  bool self_timed() const { return timing == WriteTiming::kSelfTimed; }
  bool key_entry() const { return icsp_entry == 0x0D; }
  // The MOV W0, TBLPAG word for this form's register.
  std::uint32_t load_table_pointer() const {
    return tblpag_address == 0x0054 ? kTablePointerAt0054 : kTablePointerAt0032;
  }
  std::uint32_t row_bytes() const { return 2 * row_instructions; }
};

// --- the forms ---

inline constexpr FamilyForm kFormDsPic30F{
    .name = "dsPIC30F",
    .nvm = {.row_program = 0x4001,
            .bulk_erase = 0x407F,
            .executive_erase = 0x4072,
            .config_write = 0x4008,
            .eeprom_write = 0x4005,
            .unit_erase = 0x4071,  // one row
            .eeprom_word_erase = 0x4074,
            .eeprom_word_write = 0x4004},
    // FGS: GWRP bit 0, GCP bit 1.
    .config = {.layout = ConfigLayout::kRegisters,
               .written = 8,
               .read = 16,
               .protection_entry = 5,
               .protection_bits = 0x0003},
    .executive = {.present = true,
                  .file = "pe.hex",
                  .instructions = 0x300,
                  .read_units = 1472,
                  .write_rows = 23,
                  .row_instructions = 32,
                  .last_quad = 183,
                  .check_first_quad = 182,
                  .id_unit = 0x5BE,
                  .id_value = 0x00BB,
                  .unit_id_from = 0x8005C0},
};

// dsPIC30F parts that enter with the key sequence.
inline constexpr FamilyForm kFormDsPic30FKey = [] {
  FamilyForm f = kFormDsPic30F;
  f.name = "dsPIC30F (0x0D entry)";
  f.icsp_entry = 0x0D;
  f.enhanced_entry = 0x8D;
  f.config.protection_entry = 2;
  return f;
}();

inline constexpr FamilyForm kFormDsPic33F{
    .name = "dsPIC33F/PIC24",
    .controller = NvmController::kDsPic33F,
    .icsp_entry = 0x0D,
    .enhanced_entry = 0x8D,
    .reset_vector = kResetVector200,
    .timing = WriteTiming::kSelfTimed,
    .row_instructions = 64,
    .erase_unit_instructions = 512,
    .erase_unit_name = "page",
    .erase_unit_name_ja = "ページ",
    .nvm = {.row_program = 0x4001,
            .bulk_erase = 0x404F,
            .page_erase = 0x4042,
            .config_write = 0x4000,
            .unit_erase = 0x4042},
    // Eight-bit registers; FGS: GWRP bit 0, GSS bits 2..1.
    .config = {.layout = ConfigLayout::kRegisters,
               .written = 8,
               .read = 16,
               .unit_id_words = 4,
               .protection_entry = 2,
               .protection_bits = 0x0007,
               .register_bits = 0x00FF},
    .executive = {.present = true,
                  .file = "pe33f.hex",
                  .instructions = 0x400,
                  .read_units = 4096,
                  .write_rows = 16,
                  .row_instructions = 64,
                  .last_quad = 255,
                  .check_first_quad = 254,
                  .id_unit = 0x7F0,
                  .id_value = 0x00CB,
                  .id_alternate = 0x00BB,
                  .factory_words_from = 0x8007F4},
};

// PIC24FJ: the dsPIC33F form with its configuration in flash words and an
// executive of its own.
inline constexpr FamilyForm kFormPic24FJ = [] {
  FamilyForm f = kFormDsPic33F;
  f.nvm.config_write = 0x4003;  // one flash word
  // The HEX loader takes register records for the first eight entries on
  // these parts too, but only the two flash words are written.
  // Configuration word 1 (entry 0): GWRP bit 12, GCP bit 13.
  f.config = {.layout = ConfigLayout::kFlashWords,
              .written = 2,
              .read = 2,
              .protection_entry = 0,
              .protection_bits = 0x3000};
  f.executive.file = "pe24f.hex";
  f.executive.read_units = 2048;
  f.executive.id_value = 0x00BB;
  f.executive.id_alternate = 0x00CB;
  return f;
}();

// PIC24FJ DA1/DA2/GB2/GA3: TBLPAG at 0x0054.
inline constexpr FamilyForm kFormPic24FJ0054 = [] {
  FamilyForm f = kFormPic24FJ;
  f.tblpag_address = 0x0054;
  return f;
}();

// PIC24F KA: 32-instruction rows, one NVMCON code (0x4004) for rows, EEPROM
// words and configuration registers, a bulk erase that takes all three
// memories, nine 8-bit registers from 0xF80000, no executive.
inline constexpr FamilyForm kFormPic24FKA{
    .name = "PIC24F KA",
    .controller = NvmController::kPic24FKA,
    .icsp_entry = 0x0D,
    .enhanced_entry = 0x8D,
    .reset_vector = kResetVector200,
    .timing = WriteTiming::kSelfTimed,
    .row_instructions = 32,
    .erase_unit_instructions = 128,  // four rows
    .erase_unit_name = "row group",
    .erase_unit_name_ja = "行グループ",
    .nvm = {.row_program = 0x4004,
            .bulk_erase = 0x4064,
            .config_write = 0x4004,
            .eeprom_write = 0x4004,
            .unit_erase = 0x405A,
            .eeprom_word_write = 0x4004},
    .config = {.layout = ConfigLayout::kRegisters,
               .written = 9,
               .read = 9,
               .listed = 9,
               .hex_registers = 9,
               .value_mask = 0x00FF,
               .erased_by_bulk_erase = true,
               // FGS: GWRP bit 0, GCP bit 1.
               .protection_entry = 2,
               .protection_bits = 0x0003,
               .register_bits = 0x00FF},
    .eeprom = {.write = EepromWrite::kWord},
};

}  // namespace quillon::devices
