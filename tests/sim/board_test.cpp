// Board protocol: reply sizes, firmware versions, the executive, fault
// injection, statistics and the port factory.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "sim/sim_port.h"
#include "sim_client.h"

namespace quillon::sim {
namespace {

using testing::Client;

BoardConfig Config(const char* device, bool executive = true) {
  BoardConfig config;
  config.device = device;
  config.executive = executive;
  return config;
}

std::vector<std::uint8_t> Address(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8),
          static_cast<std::uint8_t>(v)};
}

std::vector<std::uint8_t> Cat(std::initializer_list<std::vector<std::uint8_t>> parts) {
  std::vector<std::uint8_t> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(BoardTest, ReplySizesOfTheCommandTable) {
  SimPort port(Config("dsPIC30F4013"));
  Client c(port);
  EXPECT_EQ(c.Exchange({0x1E}, 2), (std::vector<std::uint8_t>{0x01, 0x02}));
  EXPECT_EQ(c.Exchange({0x0C}, 1).size(), 1u);
  EXPECT_EQ(c.Exchange({0x0F, 3, 0, 0, 0}, 1).size(), 1u);
  EXPECT_EQ(c.Exchange({0x0F, 0}, 1).size(), 1u);  // an empty batch is still acknowledged
  EXPECT_EQ(c.Exchange({0x12}, 2).size(), 2u);
  EXPECT_EQ(c.Exchange({0x13}, 1).size(), 1u);
  EXPECT_EQ(c.Exchange({0x14}, 100).size(), 72u);
  for (std::uint8_t letter : {0x70, 0x71, 0x72, 0x73, 0x75, 0x78, 0x79, 0x7B, 0x7D}) {
    EXPECT_EQ(c.Exchange({letter}, 20).size(), 1u) << int{letter};
  }
  EXPECT_EQ(c.Exchange({0x74}, 20).size(), 12u);
  EXPECT_EQ(c.Exchange({0x7C}, 20).size(), 8u);
  EXPECT_EQ(c.Exchange({0x20}, 2).size(), 1u);
  EXPECT_FALSE(port.board().protocol_fault()) << port.board().fault_text();
}

TEST(BoardTest, WaitAdvancesVirtualTimeByTheBoardsDuration) {
  SimPort port(Config("dsPIC30F4013"));
  Client c(port);
  const std::uint64_t before = port.target().now_ns();
  c.Waits(10);
  EXPECT_GE(port.target().now_ns() - before, 20 * kMillisecond);
  EXPECT_LT(port.target().now_ns() - before, 25 * kMillisecond);
}

TEST(BoardTest, FirmwareOneZeroHasNoLetters) {
  BoardConfig config = Config("dsPIC30F4013");
  config.firmware = 0x0100;
  SimPort port(config);
  Client c(port);
  EXPECT_EQ(c.Exchange({0x1E}, 2), (std::vector<std::uint8_t>{0x01, 0x00}));
  EXPECT_TRUE(c.Exchange({0x71}, 1).empty());
  EXPECT_TRUE(port.board().protocol_fault());
  EXPECT_NE(port.board().fault_text().find("71"), std::string::npos);
  EXPECT_EQ(c.Exchange({0x13}, 1).size(), 1u);  // the link stays in step
}

TEST(BoardTest, BatchOfIncompleteInstructionIsAFault) {
  SimPort port(Config("dsPIC30F4013"));
  Client c(port);
  c.Command(0x0C);
  EXPECT_EQ(c.Exchange({0x0F, 2, 0, 0}, 1).size(), 1u);
  EXPECT_TRUE(port.board().protocol_fault());
}

TEST(BoardTest, CommandsSplitAcrossWritesAreReassembled) {
  SimPort port(Config("dsPIC30F4013"));
  const std::uint8_t bytes[] = {0x0C, 0x0F, 6, 0x20, 0x12, 0x34, 0x88};
  const std::uint8_t rest[] = {0x3C, 0x24, 0x12};  // MOV #0x123, W4; MOV W4, VISI
  for (std::uint8_t b : bytes) port.Write(&b, 1);
  port.Write(rest, sizeof rest);
  std::uint8_t reply[8] = {};
  EXPECT_EQ(port.Read(reply, 8).count, 4u);
  EXPECT_EQ(reply[2], 0x01);
  EXPECT_EQ(reply[3], 0x23);
}

TEST(ExecutiveTest, SanityCheckNeedsTheApplicationIdAndTheRightEntry) {
  for (const char* device : {"dsPIC30F4013", "dsPIC33FJ128GP706", "PIC24FJ64GA002"}) {
    const bool key = devices::FindByName(device)->family_code != 0;
    SimPort with(Config(device));
    Client a(with);
    a.Command(key ? 0x8D : 0x8C);
    EXPECT_EQ(a.Words16(0x80, 2), (std::vector<std::uint16_t>{0x1000, 0x0002})) << device;
    a.Command(0x20);
    a.Command(key ? 0x8C : 0x8D);  // wrong entry
    EXPECT_NE(a.Words16(0x80, 2).at(1), 2) << device;

    SimPort without(Config(device, false));
    Client b(without);
    b.Command(key ? 0x8D : 0x8C);
    EXPECT_NE(b.Words16(0x80, 2).at(1), 2) << device;
  }
}

TEST(ExecutiveTest, ProgramsAndReadsRowsInBothForms) {
  for (const char* device : {"dsPIC30F4013", "dsPIC33FJ128GP706"}) {
    SimPort port(Config(device));
    Client c(port);
    const bool pic24 = devices::Form(*devices::FindByName(device)).self_timed();
    const std::uint32_t n = pic24 ? 64 : 32;
    const std::uint32_t address = 4 * n;  // row 2
    std::vector<std::uint32_t> values(n);
    for (std::uint32_t i = 0; i < n; ++i) values[i] = (0x3C0000 + 0x10101 * i) & 0xFFFFFF;
    std::vector<std::uint8_t> block{static_cast<std::uint8_t>(3 * n)};
    for (std::uint32_t q = 0; q < n; q += 4) {
      for (std::uint16_t w : testing::Pack(&values[q])) {
        block.push_back(static_cast<std::uint8_t>(w >> 8));
        block.push_back(static_cast<std::uint8_t>(w));
      }
    }
    c.Command(pic24 ? 0x8D : 0x8C);
    const auto status = c.Exchange(Cat({{0x85}, Address(address), Address(n), block}), 4);
    EXPECT_EQ(status, (std::vector<std::uint8_t>{0x15, 0x00, 0x00, 0x02})) << device;
    for (std::uint32_t i = 0; i < n; ++i)
      ASSERT_EQ(port.target().Program(address + 2 * i), values[i]) << device;

    const auto header = c.Exchange(Cat({{0x82}, Address(address), Address(64)}), 4);
    EXPECT_EQ(header, (std::vector<std::uint8_t>{0x12, 0x00, 0x00, 98})) << device;
    const auto data = c.Exchange({}, 192);
    ASSERT_EQ(data.size(), 192u);
    const auto word = [&data](std::size_t k) {
      return static_cast<std::uint32_t>(data[2 * k] << 8 | data[2 * k + 1]);
    };
    for (std::uint32_t i = 0; i < n; i += 2) {
      EXPECT_EQ((word(3 * i / 2 + 1) & 0xFF) << 16 | word(3 * i / 2), values[i]);
      EXPECT_EQ((word(3 * i / 2 + 1) >> 8) << 16 | word(3 * i / 2 + 2), values[i + 1]);
    }
    // A second write over the row yields the AND; the executive reports FAIL.
    std::vector<std::uint8_t> zeros(block.size(), 0);
    zeros[0] = block[0];
    const auto again = c.Exchange(Cat({{0x85}, Address(address), Address(n), zeros}), 4);
    EXPECT_EQ(again[0], 0x15);  // zeros can be programmed over anything
    EXPECT_EQ(port.target().Program(address), 0u);
    EXPECT_FALSE(port.board().protocol_fault()) << port.board().fault_text();
  }
}

TEST(ExecutiveTest, EepromBlocksAndRefusedRequests) {
  SimPort port(Config("dsPIC30F4013"));
  Client c(port);
  c.Command(0x8C);
  std::vector<std::uint8_t> block{32};
  for (int i = 0; i < 16; ++i) {
    block.push_back(0xA0);
    block.push_back(static_cast<std::uint8_t>(i));
  }
  EXPECT_EQ(c.Exchange(Cat({{0x84}, Address(0x7FFC40), block}), 4),
            (std::vector<std::uint8_t>{0x14, 0, 0, 2}));
  EXPECT_EQ(port.target().Eeprom(0x7FFC5E), 0xA00F);
  EXPECT_EQ(c.Exchange(Cat({{0x81}, Address(0x7FFC40), Address(16)}), 4),
            (std::vector<std::uint8_t>{0x11, 0, 0, 18}));
  const auto data = c.Exchange({}, 32);
  EXPECT_EQ(data, std::vector<std::uint8_t>(block.begin() + 1, block.end()));
  EXPECT_FALSE(port.board().protocol_fault());
  // Misaligned row: refused, and visible as a fault.
  EXPECT_EQ(c.Exchange(Cat({{0x84}, Address(0x7FFC42), block}), 4)[0], 0x34);
  EXPECT_TRUE(port.board().protocol_fault());
}

TEST(FaultTest, SilenceTruncationCorruptionAndDelay) {
  SimPort port(Config("dsPIC30F4013"));
  Client c(port);
  FaultPlan& f = port.board().faults();
  f.truncate_exchange = 1;
  f.truncate_to = 1;
  EXPECT_EQ(c.Exchange({0x1E}, 2).size(), 1u);
  f.corrupt_exchange = 2;
  f.corrupt_index = 1;
  f.corrupt_xor = 0x10;
  EXPECT_EQ(c.Exchange({0x1E}, 2), (std::vector<std::uint8_t>{0x01, 0x12}));
  f.delay_exchange = 3;
  f.delay_after = 1;
  EXPECT_EQ(c.Exchange({0x1E}, 2), (std::vector<std::uint8_t>{0x01}));
  EXPECT_EQ(c.Exchange({0x1E}, 2), (std::vector<std::uint8_t>{0x02, 0x01}));  // the late byte first
  EXPECT_EQ(c.Exchange({}, 1), (std::vector<std::uint8_t>{0x02}));
  f.silent_after = 4;
  EXPECT_TRUE(c.Exchange({0x1E}, 2).empty());
  EXPECT_TRUE(c.Exchange({0x13}, 1).empty());
}

TEST(StatsTest, CountsBytesExchangesAndTime) {
  SimPort port(Config("dsPIC30F4013"));
  std::ostringstream trace;
  port.board().SetTrace(&trace);
  Client c(port);
  c.Command(0x0C);
  c.Batch({0x040100, 0x040100, 0});
  const Stats& s = port.board().stats();
  EXPECT_EQ(s.exchanges, 2u);
  EXPECT_EQ(s.bytes_to_board, 1u + 11u);
  EXPECT_EQ(s.bytes_from_board, 2u);
  // 14 bytes at 230400 baud plus two turnarounds.
  EXPECT_NEAR(s.simulated_seconds, 14 * 10.0 / 230400 + 2 * 100e-6, 1e-6);
  EXPECT_EQ(trace.str(), "#1 > 0C < 06\n#2 > 0F 09 04 01 00 04 01 00 00 00 00 < 06\n");
}

TEST(MakeSimPortTest, ParsesDeviceAndOptions) {
  auto plain = MakeSimPort("sim");
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(plain->board().config().device, "dsPIC30F4013");
  EXPECT_EQ(plain->board().config().firmware, 0x0102);
  EXPECT_TRUE(plain->target().HasApplicationId());
  auto custom = MakeSimPort("sim:dsPIC33FJ128GP706,fw=1.0,noexec,id=ABCD");
  ASSERT_NE(custom, nullptr);
  EXPECT_EQ(custom->board().config().firmware, 0x0100);
  EXPECT_FALSE(custom->target().HasApplicationId());
  EXPECT_EQ(custom->target().ReadProgramSpace(kDeviceIdAddress), 0xABCDu);
  EXPECT_EQ(MakeSimPort("sim:NoSuchChip"), nullptr);
  EXPECT_EQ(MakeSimPort("sim:dsPIC30F4013,bogus"), nullptr);
  EXPECT_EQ(MakeSimPort("COM3"), nullptr);
#ifndef _WIN32  // a state path that cannot be looked at is refused, not taken for a new chip
  const std::filesystem::path loop = std::filesystem::path(::testing::TempDir()) / "sim_loop";
  std::filesystem::remove(loop);
  std::filesystem::create_symlink(loop, loop);
  std::string why;
  EXPECT_EQ(MakeSimPort("sim:dsPIC30F4013,state=" + (loop / "chip").string(), &why), nullptr);
  EXPECT_NE(why.find("symbolic links"), std::string::npos) << why;
#endif
  auto absent = MakeSimPort("sim:dsPIC30F4013,notarget");
  Client c(*absent);
  c.Command(0x0C);
  EXPECT_EQ(c.RegOut(), 0xFFFF);
}

}  // namespace
}  // namespace quillon::sim
