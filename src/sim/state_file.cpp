#include "sim/state_file.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace quillon::sim {
namespace {

constexpr const char* kMagic = "quillon-sim state 1";

void Line(std::ostream& out, char kind, std::uint32_t address, std::uint32_t value, int width) {
  char text[32];
  std::snprintf(text, sizeof text, "%c %06X %0*X\n", kind, static_cast<unsigned>(address), width,
                static_cast<unsigned>(value));
  out << text;
}

}  // namespace

void SaveState(const Target& target, std::ostream& out) {
  out << kMagic << '\n' << "device " << devices::TrimBlanks(target.device().name) << '\n';
  for (std::uint32_t a = 0; a < 2 * target.program_words(); a += 2) {
    if (target.Program(a) != 0xFFFFFF) Line(out, 'P', a, target.Program(a), 6);
  }
  for (std::uint32_t a = target.eeprom_base(); a < kExecutiveBase; a += 2) {
    if (target.Eeprom(a) != 0xFFFF) Line(out, 'E', a, target.Eeprom(a), 4);
  }
  for (std::uint32_t a = kExecutiveBase; a < target.executive_end(); a += 2) {
    if (target.Executive(a) != 0xFFFFFF) Line(out, 'X', a, target.Executive(a), 6);
  }
  for (int k = 0; k < kConfigRegisters; ++k) {
    char text[32];  // room for any int, though k stays below 16
    std::snprintf(text, sizeof text, "C %d %04X\n", k, static_cast<unsigned>(target.Config(k)));
    out << text;
  }
}

void SaveStateFile(const Target& target, const std::string& path) {
  if (path.empty()) return;
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::trunc);
    SaveState(target, out);
    if (!out) return;
  }
  std::error_code ignored;
  std::filesystem::rename(temporary, path, ignored);
}

bool LoadState(Target& target, std::istream& in, std::string& error) {
  std::string line;
  if (!std::getline(in, line) || line != kMagic) {
    error = "not a simulator state file";
    return false;
  }
  if (!std::getline(in, line) ||
      line != "device " + std::string(devices::TrimBlanks(target.device().name))) {
    error = "state file is for another device (" + line + ")";
    return false;
  }
  target.EraseAll();
  for (std::uint32_t a = kExecutiveBase; a < target.executive_end(); a += 2)
    target.SetExecutive(a, 0xFFFFFF);
  int number = 2;
  while (std::getline(in, line)) {
    ++number;
    if (line.empty()) continue;
    std::istringstream fields(line);
    char kind = 0;
    std::string first, second;
    fields >> kind >> first >> second;
    unsigned long address = 0, value = 0;
    try {
      address = std::stoul(first, nullptr, kind == 'C' ? 10 : 16);
      value = std::stoul(second, nullptr, 16);
    } catch (...) {
      error = "bad line " + std::to_string(number);
      return false;
    }
    const auto a = static_cast<std::uint32_t>(address);
    switch (kind) {
      case 'P':
        target.SetProgram(a, static_cast<std::uint32_t>(value));
        break;
      case 'E':
        target.SetEeprom(a, static_cast<std::uint16_t>(value));
        break;
      case 'X':
        target.SetExecutive(a, static_cast<std::uint32_t>(value));
        break;
      case 'C':
        target.SetConfig(static_cast<int>(a), static_cast<std::uint16_t>(value));
        break;
      default:
        error = "bad line " + std::to_string(number);
        return false;
    }
  }
  return true;
}

}  // namespace quillon::sim
