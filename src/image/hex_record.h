// Intel HEX records as this tool writes and reads them: byte address =
// 2 x program address, four bytes per instruction, type-04 records for the
// upper 16 bits of the byte address.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace quillon::image {

// Values of the type-04 record (upper 16 bits of the byte address) that
// select a region of the memory image.
inline constexpr int kEepromUpper = 0xFF;      // data EEPROM, program 0x7F8000 upwards
inline constexpr int kExecutiveUpper = 0x100;  // executive memory, program 0x800000 upwards
inline constexpr int kConfigUpper = 0x1F0;     // configuration registers, 0xF80000 upwards
inline constexpr int kRecordDataBytes = 16;    // data bytes per record the writer emits

inline constexpr std::string_view kEndOfFileRecord = ":00000001FF";

// The pending data record of the writer: 16-bit units are appended low byte
// first and the record is formatted once full.
class HexRecord {
 public:
  // Byte address of the next record; only its low 16 bits are written.
  void SetOffset(std::int64_t offset) { offset_ = offset; }
  std::int64_t offset() const { return offset_; }
  int count() const { return count_; }  // pending data bytes

  // Adds one unit (two data bytes). Units beyond the record's capacity are
  // ignored; callers format the record once count() reaches 16.
  void AppendWord(std::uint16_t unit);

  // The record line (no line end) of the pending data; then the offset
  // advances by the data bytes and the record starts empty again.
  std::string_view FormatDataRecord();

 private:
  static constexpr int kMaxWords = kRecordDataBytes / 2;
  std::array<std::uint16_t, kMaxWords> words_{};
  int count_ = 0;
  int sum_ = 0;
  std::int64_t offset_ = 0;
  // ":" + 8 header digits + 32 data digits + 2 checksum digits.
  std::array<char, 1 + 8 + 2 * kRecordDataBytes + 2> line_{};
};

// ":02000004" + Hex4(v) + checksum, e.g. ":020000040000FA" for 0.
std::string FormatUpperAddressRecord(int v);

}  // namespace quillon::image
