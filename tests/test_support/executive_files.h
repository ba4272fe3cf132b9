// Stand-in programming executive files: a few instructions from 0x800000 and
// the application ID the executive check looks for. They satisfy the
// simulated board, which runs its own executive once the ID is present.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

namespace quillon::test_support {

struct ExecutiveFile {
  const char* name;
  std::uint32_t id_address;
  std::uint16_t application_id;
};

inline constexpr ExecutiveFile kExecutiveFiles[] = {
    {"pe.hex", 0x8005BE, 0x00BB},     // dsPIC30F form
    {"pe24f.hex", 0x8007F0, 0x00BB},  // "PIC24F" names
    {"pe33f.hex", 0x8007F0, 0x00CB},  // dsPIC33F and PIC24H
};

// Intel HEX text (byte address = 2 x program address, four bytes per
// instruction), one record per instruction, CR LF line ends.
inline std::string HexOfInstructions(const std::map<std::uint32_t, std::uint32_t>& code) {
  std::string text;
  auto record = [&text](std::uint32_t type, std::uint32_t offset,
                        std::initializer_list<std::uint32_t> data) {
    std::uint32_t sum = static_cast<std::uint32_t>(data.size()) + (offset >> 8) + offset + type;
    char field[16];
    std::snprintf(field, sizeof field, ":%02X%04X%02X", static_cast<unsigned>(data.size()),
                  static_cast<unsigned>(offset & 0xFFFF), static_cast<unsigned>(type));
    text += field;
    for (std::uint32_t b : data) {
      std::snprintf(field, sizeof field, "%02X", static_cast<unsigned>(b & 0xFF));
      text += field;
      sum += b;
    }
    std::snprintf(field, sizeof field, "%02X\r\n",
                  static_cast<unsigned>((0x100 - (sum & 0xFF)) & 0xFF));
    text += field;
  };
  std::uint32_t upper = 0;
  for (const auto& [address, word] : code) {
    const std::uint32_t byte_address = 2 * address;
    if (byte_address >> 16 != upper) {
      upper = byte_address >> 16;
      record(4, 0, {upper >> 8, upper});
    }
    record(0, byte_address & 0xFFFF, {word, word >> 8, word >> 16, 0});
  }
  record(1, 0, {});
  return text;
}

inline std::string ExecutiveHex(const ExecutiveFile& file) {
  // MOV #0, W0; NOP; BRA $; NOP, then the application ID.
  return HexOfInstructions({{0x800000, 0x200000},
                            {0x800002, 0x000000},
                            {0x800004, 0x37FFFF},
                            {0x800006, 0x000000},
                            {file.id_address, file.application_id}});
}

// Writes all three files into `dir` (created when missing).
inline void WriteExecutiveFiles(const std::filesystem::path& dir) {
  std::filesystem::create_directories(dir);
  for (const ExecutiveFile& file : kExecutiveFiles) {
    std::ofstream(dir / file.name, std::ios::binary) << ExecutiveHex(file);
  }
}

}  // namespace quillon::test_support
