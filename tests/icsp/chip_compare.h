// Comparisons of what the engine read with what the simulated chip holds,
// and of the listing and HEX files with the image.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "devices/catalogue.h"
#include "image/formats.h"
#include "image/memory_image.h"
#include "sim/sim_port.h"

namespace quillon::icsp {

// First difference of two unit ranges, as text; empty when they agree.
inline std::string FirstDifference(const std::string& what, const std::vector<std::uint16_t>& got,
                                   const std::vector<std::uint16_t>& want) {
  if (got.size() != want.size()) {
    return what + ": " + std::to_string(got.size()) + " units, expected " +
           std::to_string(want.size());
  }
  for (std::size_t i = 0; i < got.size(); ++i) {
    if (got[i] != want[i]) {
      return what + " unit " + image::Hex4(static_cast<std::int64_t>(i)) + " (" +
             std::to_string(i) + "): " + image::Hex4(got[i]) + " expected " + image::Hex4(want[i]);
    }
  }
  return {};
}

// A run of 24-bit instructions as image units (low word, upper byte).
inline std::vector<std::uint16_t> AsUnits(const std::vector<std::uint32_t>& instructions) {
  std::vector<std::uint16_t> units;
  for (std::uint32_t w : instructions) {
    units.push_back(static_cast<std::uint16_t>(w & 0xFFFF));
    units.push_back(static_cast<std::uint16_t>(w >> 16));
  }
  return units;
}

inline std::vector<std::uint16_t> ChipProgram(const sim::Target& t) {
  std::vector<std::uint32_t> words;
  for (std::uint32_t i = 0; i < static_cast<std::uint32_t>(t.device().program_words); ++i) {
    words.push_back(t.Program(2 * i));
  }
  return AsUnits(words);
}

inline std::vector<std::uint16_t> ChipEeprom(const sim::Target& t) {
  std::vector<std::uint16_t> words;
  for (std::uint32_t a = 0x800000 - static_cast<std::uint32_t>(t.device().eeprom_bytes);
       a < 0x800000; a += 2) {
    words.push_back(t.Eeprom(a));
  }
  return words;
}

inline std::vector<std::uint16_t> ChipExecutive(const sim::Target& t, int units) {
  std::vector<std::uint32_t> words;
  for (int i = 0; i < units / 2; ++i) words.push_back(t.Executive(0x800000 + 2 * i));
  return AsUnits(words);
}

inline std::vector<std::uint16_t> Slice(const std::vector<std::uint16_t>& v, std::size_t n) {
  return std::vector<std::uint16_t>(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(n));
}

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The listing as sections: title, then the value column of its lines. The
// address column is checked against the rule of each section on the way.
struct Listing {
  std::vector<std::string> titles;
  std::vector<std::vector<std::uint16_t>> values;
  std::string problem;
};

inline Listing ParseListing(const std::string& text) {
  Listing listing;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) {
      listing.problem = "line without CR LF at byte " + std::to_string(pos);
      break;
    }
    const std::string line = text.substr(pos, end - pos);
    pos = end + 2;
    if (line.size() == 9 && line[4] == '\t') {
      if (listing.values.empty()) {
        listing.problem = "data line before any title";
        break;
      }
      std::vector<std::uint16_t>& values = listing.values.back();
      const std::string& title = listing.titles.back();
      const std::size_t i = values.size();
      const std::int64_t address =
          title == "Data" ? static_cast<std::int64_t>(2 * i) : static_cast<std::int64_t>(i);
      if (line.substr(0, 4) != image::Hex4(address) && listing.problem.empty()) {
        listing.problem =
            title + " line " + std::to_string(i) + " has address " + line.substr(0, 4);
      }
      values.push_back(image::HexValue(line.substr(5)));
    } else {
      listing.titles.push_back(line);
      listing.values.emplace_back();
    }
  }
  return listing;
}

}  // namespace quillon::icsp
