// A hand-written host for the simulator tests: raw command bytes through a
// SimPort and the published ICSP instruction words, nothing from the engine.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "sim/sim_port.h"

namespace quillon::sim::testing {

using Words = std::vector<std::uint32_t>;

inline std::uint32_t MovLit(std::uint32_t value, std::uint32_t reg) {
  return 0x200000 | (value & 0xFFFF) << 4 | reg;
}

// The published step sequences, as words.
inline const Words kGoto100 = {0x000000, 0x040100, 0x040100, 0x000000};
inline const Words kGoto200 = {0x040200, 0x040200, 0x000000};
inline const Words kUnlock = {0x200558, 0x883B38, 0x200AA9, 0x883B39};
inline const Words kSetWr = {0xA8E761, 0, 0, 0, 0};
inline const Words kClearWr = {0xA9E761, 0, 0, 0, 0};
inline const Words kLoadLatches = {0xEB0300, 0, 0xBB0BB6, 0, 0, 0xBBDBB6, 0, 0, 0xBBEBB6,
                                   0,        0, 0xBB1BB6, 0, 0, 0xBB0BB6, 0, 0, 0xBBDBB6,
                                   0,        0, 0xBBEBB6, 0, 0, 0xBB1BB6, 0, 0};
inline const Words kReadQuad = {0xEB0380, 0, 0xBA1B96, 0, 0, 0xBADBB6, 0, 0, 0xBADBD6,
                                0,        0, 0xBA1BB6, 0, 0, 0xBA1B96, 0, 0, 0xBADBB6,
                                0,        0, 0xBADBD6, 0, 0, 0xBA0BB6, 0, 0};

// Four instructions in W0..W5, packed.
inline std::array<std::uint16_t, 6> Pack(const std::uint32_t* i) {
  return {static_cast<std::uint16_t>(i[0]),
          static_cast<std::uint16_t>((i[1] >> 16 & 0xFF) << 8 | (i[0] >> 16 & 0xFF)),
          static_cast<std::uint16_t>(i[1]),
          static_cast<std::uint16_t>(i[2]),
          static_cast<std::uint16_t>((i[3] >> 16 & 0xFF) << 8 | (i[2] >> 16 & 0xFF)),
          static_cast<std::uint16_t>(i[3])};
}

inline std::array<std::uint32_t, 4> Unpack(const std::array<std::uint16_t, 6>& w) {
  return {static_cast<std::uint32_t>(w[1] & 0xFF) << 16 | w[0],
          static_cast<std::uint32_t>(w[1] >> 8) << 16 | w[2],
          static_cast<std::uint32_t>(w[4] & 0xFF) << 16 | w[3],
          static_cast<std::uint32_t>(w[4] >> 8) << 16 | w[5]};
}

class Client {
 public:
  explicit Client(SimPort& port) : port_(port) {}

  std::vector<std::uint8_t> Exchange(const std::vector<std::uint8_t>& bytes, std::size_t reply) {
    port_.Write(bytes.data(), bytes.size());
    std::vector<std::uint8_t> in(reply);
    const link::Transfer t = port_.Read(in.data(), reply);
    in.resize(t.count);
    return in;
  }
  void Command(std::uint8_t command, std::size_t reply = 1) {
    EXPECT_EQ(Exchange({command}, reply).size(), reply) << "command " << int{command};
  }
  void Batch(const Words& words) {
    for (std::size_t at = 0; at < words.size(); at += 80) {
      std::vector<std::uint8_t> packet{0x0F, 0};
      for (std::size_t i = at; i < words.size() && i < at + 80; ++i) {
        packet.push_back(static_cast<std::uint8_t>(words[i] >> 16));
        packet.push_back(static_cast<std::uint8_t>(words[i] >> 8));
        packet.push_back(static_cast<std::uint8_t>(words[i]));
      }
      packet[1] = static_cast<std::uint8_t>(packet.size() - 2);
      EXPECT_EQ(Exchange(packet, 1).size(), 1u);
    }
  }
  std::uint16_t RegOut() {
    const auto r = Exchange({0x12}, 2);
    return r.size() == 2 ? static_cast<std::uint16_t>(r[0] << 8 | r[1]) : 0xDEAD;
  }
  std::vector<std::uint16_t> Words16(std::uint8_t command, std::size_t n) {
    const auto r = Exchange({command}, 2 * n);
    std::vector<std::uint16_t> words;
    for (std::size_t i = 0; i + 1 < r.size(); i += 2)
      words.push_back(static_cast<std::uint16_t>(r[i] << 8 | r[i + 1]));
    return words;
  }
  void Waits(int n) {
    for (int i = 0; i < n; ++i) Command(0x13);
  }

 private:
  SimPort& port_;
};

inline Words Concat(std::initializer_list<Words> parts) {
  Words all;
  for (const Words& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

}  // namespace quillon::sim::testing
