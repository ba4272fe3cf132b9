// A hand-written host talking raw bytes to the simulated board: DeviceID,
// one row in each family form by batches and by letters, and the executive.
#include <gtest/gtest.h>

#include "sim/sim_port.h"
#include "sim_client.h"

namespace quillon::sim {
namespace {

using testing::Client;
using testing::Concat;
using testing::MovLit;
using testing::Words;

BoardConfig ConfigFor(const char* device, std::uint16_t firmware = 0x0102, bool executive = true) {
  BoardConfig config;
  config.device = device;
  config.firmware = firmware;
  config.executive = executive;
  return config;
}

std::uint16_t ReadDeviceIdOld(Client& c) {
  c.Batch(Concat({testing::kGoto100,
                  {0x200FF0, 0x880190, 0xEB0300, 0xEB0380, 0, 0xBA0BB6, 0, 0, 0x883C20, 0}}));
  return c.RegOut();
}

std::uint16_t ReadDeviceIdNew(Client& c) {
  c.Batch(Concat({testing::kGoto200, {0x200FF0, 0x880190, 0x200006, 0x207847, 0, 0xBA0BB6, 0, 0}}));
  c.Batch({0});
  return c.RegOut();
}

TEST(ClientTest, DeviceIdNeedsTheFamilysEntryCommand) {
  SimPort old_part(ConfigFor("dsPIC30F4013"));
  Client a(old_part);
  a.Command(0x0C);
  EXPECT_EQ(ReadDeviceIdOld(a), 0x0141);
  a.Command(0x20);
  a.Command(0x0D);
  EXPECT_EQ(ReadDeviceIdNew(a), 0xFFFF);
  a.Command(0x20);

  SimPort new_part(ConfigFor("dsPIC33FJ128GP706"));
  Client b(new_part);
  const std::uint16_t id = devices::FindByName("dsPIC33FJ128GP706")->device_id;
  b.Command(0x0D);
  EXPECT_EQ(ReadDeviceIdNew(b), id);
  b.Command(0x20);
  b.Command(0x0C);
  EXPECT_EQ(ReadDeviceIdOld(b), 0xFFFF);
  b.Command(0x20);

  SimPort key_30f(ConfigFor("dsPIC30F2020"));  // FamilyCode 2: key entry, dsPIC30F sequences
  Client k(key_30f);
  k.Command(0x0D);
  EXPECT_EQ(ReadDeviceIdOld(k), devices::FindByName("dsPIC30F2020")->device_id);
  EXPECT_FALSE(old_part.board().protocol_fault() || new_part.board().protocol_fault() ||
               key_30f.board().protocol_fault())
      << old_part.board().fault_text() << new_part.board().fault_text();
}

std::vector<std::uint32_t> RowValues(std::size_t n, std::uint32_t seed) {
  std::vector<std::uint32_t> v(n);
  for (std::size_t i = 0; i < n; ++i)
    v[i] = (seed + 0x010203u * static_cast<std::uint32_t>(i)) & 0xFFFFFF;
  return v;
}

Words QuadToRegisters(const std::uint32_t* quad) {
  const auto packed = testing::Pack(quad);
  Words words;
  for (std::uint32_t n = 0; n < 6; ++n) words.push_back(MovLit(packed[n], n));
  return words;
}

// Writes one row and reads it back quad by quad, by batches or by letters.
std::vector<std::uint32_t> WriteAndReadRow(Client& c, bool pic24, bool letters,
                                           std::uint32_t address,
                                           const std::vector<std::uint32_t>& row) {
  const Words& reset = pic24 ? testing::kGoto200 : testing::kGoto100;
  auto goto_reset = [&] { letters ? c.Command(pic24 ? 0x71 : 0x70) : c.Batch(reset); };
  goto_reset();
  c.Batch({MovLit(0x4001, 10), 0x883B0A, MovLit(address >> 16, 0), 0x880190,
           MovLit(address & 0xFFFF, 7)});
  for (std::size_t q = 0; q < row.size(); q += 4) {
    if (letters) {
      c.Batch(QuadToRegisters(&row[q]));
      c.Command(0x72);
    } else {
      c.Batch(Concat({QuadToRegisters(&row[q]), testing::kLoadLatches}));
    }
  }
  if (pic24) {
    if (letters) {
      c.Command(0x78);
      c.Command(0x79);
    } else {
      c.Batch(testing::kSetWr);
      c.Waits(1);
      for (int poll = 0; poll < 101; ++poll) {
        c.Batch({0, 0x040200, 0, 0x803B02, 0x883C22, 0});
        if ((c.RegOut() & 0x8000) == 0) break;
      }
    }
  } else if (letters) {
    c.Command(0x75);
    c.Command(0x76);
  } else {
    c.Batch(Concat({testing::kUnlock, testing::kSetWr}));
    c.Waits(2);
    c.Batch(testing::kClearWr);
  }
  goto_reset();

  std::vector<std::uint32_t> read;
  c.Batch({MovLit(address >> 16, 0), 0x880190, MovLit(address & 0xFFFF, 6)});
  for (std::size_t q = 0; q < row.size(); q += 4) {
    std::array<std::uint16_t, 6> regs{};
    if (letters) {
      c.Command(0x73);
      const auto words = c.Words16(0x74, 6);
      for (std::size_t n = 0; n < words.size() && n < 6; ++n) regs[n] = words[n];
    } else {
      c.Batch(testing::kReadQuad);
      for (std::uint32_t n = 0; n < 6; ++n) {
        c.Batch({0x883C20 + n, 0});
        regs[n] = c.RegOut();
      }
    }
    for (std::uint32_t value : testing::Unpack(regs)) read.push_back(value);
  }
  return read;
}

struct RowCase {
  const char* device;
  bool letters;
};

class RowTest : public ::testing::TestWithParam<RowCase> {};

TEST_P(RowTest, ProgramsAndReadsBackOneRow) {
  SimPort port(ConfigFor(GetParam().device));
  Client c(port);
  const devices::DeviceRecord& row = *devices::FindByName(GetParam().device);
  const bool pic24 = devices::Form(row).self_timed();
  const std::size_t n = pic24 ? 64 : 32;
  const std::uint32_t address = pic24 ? 0x0180 : 0x00C0;
  const auto values = RowValues(n, 0x5A1234);
  c.Command(devices::IcspEntryCommand(row));
  EXPECT_EQ(WriteAndReadRow(c, pic24, GetParam().letters, address, values), values);
  c.Command(0x20);
  EXPECT_EQ(port.target().Program(address + 2 * (n - 1)), values.back());
  EXPECT_EQ(port.target().Program(address + 2 * n), 0xFFFFFFu);  // the next row is untouched
  EXPECT_FALSE(port.board().protocol_fault()) << port.board().fault_text();
}

INSTANTIATE_TEST_SUITE_P(
    Families, RowTest,
    ::testing::Values(RowCase{"dsPIC30F4013", false}, RowCase{"dsPIC30F4013", true},
                      RowCase{"dsPIC33FJ128GP706", false}, RowCase{"dsPIC33FJ128GP706", true},
                      RowCase{"PIC24FJ128GA310", true}, RowCase{"PIC24HJ128GP506", false}));

TEST(ClientTest, UnlockLetterMayPrecedeTheSetUpPacket) {
  // 'u', then the NVMCON and latch set-up, then 'v': the write still happens.
  SimPort port(ConfigFor("dsPIC30F4013"));
  Client c(port);
  c.Command(0x0C);
  c.Command(0x70);
  c.Command(0x75);
  c.Batch({MovLit(4, 7), MovLit(0x4008, 10), 0x883B0A, MovLit(0xF8, 0), 0x880190, MovLit(0x310F, 6),
           0, 0xBB1B86, 0, 0});
  c.Command(0x76);
  c.Command(0x70);
  c.Command(0x20);
  EXPECT_EQ(port.target().Config(2), 0x310F);
}

TEST(ClientTest, DataQuadLetters) {
  SimPort port(ConfigFor("dsPIC30F4013"));
  Client c(port);
  c.Command(0x0C);
  c.Command(0x70);
  c.Batch({MovLit(0x4005, 10), 0x883B0A, MovLit(0x7F, 0), 0x880190, MovLit(0xFC00, 7)});
  for (std::uint32_t g = 0; g < 4; ++g) {
    Words regs;
    for (std::uint32_t i = 0; i < 4; ++i) regs.push_back(MovLit(0x100 * g + i, i));
    c.Batch(regs);
    c.Command(0x7D);
  }
  c.Command(0x75);
  c.Command(0x76);
  c.Command(0x70);
  c.Batch({MovLit(0x7F, 0), 0x880190, MovLit(0xFC10, 6)});
  c.Command(0x7B);
  EXPECT_EQ(c.Words16(0x7C, 4), (std::vector<std::uint16_t>{0x200, 0x201, 0x202, 0x203}));
  c.Command(0x7B);
  EXPECT_EQ(c.Words16(0x7C, 4), (std::vector<std::uint16_t>{0x300, 0x301, 0x302, 0x303}));
  EXPECT_FALSE(port.board().protocol_fault()) << port.board().fault_text();
}

}  // namespace
}  // namespace quillon::sim
