#include "sim/target.h"

#include <gtest/gtest.h>

#include "sim_client.h"

namespace quillon::sim {
namespace {

using testing::MovLit;

class TargetTest : public ::testing::Test {
 protected:
  explicit TargetTest(const char* name = "dsPIC30F4013")
      : row_(*devices::FindByName(name)), target_(row_, TargetTiming{}, row_.device_id, 0x3002) {}
  void Run(std::initializer_list<std::uint32_t> words) {
    for (std::uint32_t w : words) target_.Execute(w);
  }
  const devices::DeviceRecord& row_;
  Target target_;
};

TEST_F(TargetTest, MovesBetweenRegistersAndFiles) {
  target_.Enter(false, false);
  Run({MovLit(0x1234, 3), 0x883C23});  // MOV W3, VISI
  EXPECT_EQ(target_.RegOut(), 0x1234);
  Run({MovLit(0xBEEF, 0), 0x880190, 0x800192});  // TBLPAG := W0; MOV TBLPAG, W2
  EXPECT_EQ(target_.tblpag(), 0xEF);             // eight bits wide
  EXPECT_EQ(target_.W(2), 0x00EF);
  EXPECT_FALSE(target_.protocol_fault());
}

TEST_F(TargetTest, ClrStepsTwoForWordsAndOneForBytes) {
  target_.Enter(false, false);
  for (int n = 0; n < 6; ++n) Run({MovLit(0xFFFF, static_cast<std::uint32_t>(n))});
  Run({MovLit(0, 7), 0xEB1B80});  // CLR [W7++]
  EXPECT_EQ(target_.W(0), 0);
  EXPECT_EQ(target_.W(7), 2);
  Run({MovLit(3, 7), 0xEB5B80});  // CLR.B [W7++] at odd address 3: high byte of W1
  EXPECT_EQ(target_.W(1), 0x00FF);
  EXPECT_EQ(target_.W(7), 4);
  Run({MovLit(8, 7), 0xEB2380, 0xEB6B80});  // CLR [--W7], then CLR.B [++W7]
  EXPECT_EQ(target_.W(3), 0x0000);          // [--W7] cleared data 6 (W3)
  EXPECT_EQ(target_.W(7), 7);               // pre-increment by one in byte mode
  EXPECT_EQ(target_.W(3), 0);
  Run({MovLit(10, 7), 0xEB1380});  // CLR [W7--]
  EXPECT_EQ(target_.W(5), 0);
  EXPECT_EQ(target_.W(7), 8);
  Run({MovLit(0xFFFF, 4), MovLit(8, 7), 0xEB0B80});  // CLR [W7]: no pointer change
  EXPECT_EQ(target_.W(4), 0);
  EXPECT_EQ(target_.W(7), 8);
  Run({0xEB4380});  // CLR.B W7 clears only the low byte
  EXPECT_EQ(target_.W(7), 0);
}

TEST_F(TargetTest, TableReadsFillRegistersInPackedForm) {
  const std::uint32_t quad[4] = {0x123456, 0xABCDEF, 0x0055AA, 0xFF00FF};
  for (int i = 0; i < 4; ++i) target_.SetProgram(0x100 + 2 * i, quad[i]);
  target_.Enter(false, false);
  Run({MovLit(0, 0), 0x880190, MovLit(0x100, 6)});
  for (std::uint32_t w : testing::kReadQuad) target_.Execute(w);
  std::array<std::uint16_t, 6> regs{};
  for (int n = 0; n < 6; ++n) regs[static_cast<std::size_t>(n)] = target_.W(n);
  EXPECT_EQ(regs, testing::Pack(quad));
  EXPECT_EQ(target_.W(6), 0x108);  // the next quad
}

TEST_F(TargetTest, ByteTableReadsPickBytesAndThePhantomByte) {
  target_.SetProgram(0x200, 0xA1B2C3);
  target_.Enter(false, false);
  Run({MovLit(0, 0), 0x880190, MovLit(0x200, 6), MovLit(0x10, 7)});  // W7 -> W8
  Run({0xBA4B96});  // TBLRDL.B [W6], [W7]: bits 7..0
  EXPECT_EQ(target_.W(8) & 0xFF, 0xC3);
  Run({MovLit(0x201, 6), 0xBA4B96});  // odd address: bits 15..8
  EXPECT_EQ(target_.W(8) & 0xFF, 0xB2);
  Run({MovLit(0x200, 6), 0xBACB96});  // TBLRDH.B even: bits 23..16
  EXPECT_EQ(target_.W(8) & 0xFF, 0xA1);
  Run({MovLit(0x201, 6), 0xBACB96});  // TBLRDH.B odd: phantom byte
  EXPECT_EQ(target_.W(8) & 0xFF, 0x00);
  Run({MovLit(0x200, 6), 0xBA8B96});  // TBLRDH word: 0x00 : bits 23..16
  EXPECT_EQ(target_.W(8), 0x00A1);
  Run({MovLit(0x200, 6), MovLit(0x11, 7), 0xBA4B96});  // byte store at odd address: high byte
  EXPECT_EQ(target_.W(8), 0xC3A1);
  Run({MovLit(0x200, 6), 0xBA4196});  // TBLRDL.B [W6], W3 (direct): low byte only
  EXPECT_EQ(target_.W(3) & 0xFF, 0xC3);
  Run({MovLit(0x204, 6), MovLit(0x10, 7), 0xBA4BA6, 0xBA4BA6});  // [W6--] in byte mode
  EXPECT_EQ(target_.W(6), 0x202);
  Run({0xBA0BC6});  // [--W6] word: reads 0x200
  EXPECT_EQ(target_.W(6), 0x200);
  EXPECT_EQ(target_.W(8), 0xB2C3);
}

TEST_F(TargetTest, DeviceIdAndRevision) {
  target_.Enter(false, false);
  Run({MovLit(0xFF, 0), 0x880190, 0xEB0300, 0xEB0380, 0xBA1BB6, 0xBA1BB6});
  EXPECT_EQ(target_.W(0), row_.device_id);
  EXPECT_EQ(target_.W(1), 0x3002);
}

TEST_F(TargetTest, WrongEntryHoldsThePartInReset) {
  target_.Enter(true, false);  // key entry on a high-voltage part
  EXPECT_EQ(target_.mode(), TargetMode::kReset);
  Run({MovLit(0x1234, 0), 0x883C20});
  EXPECT_EQ(target_.RegOut(), 0xFFFF);
  EXPECT_EQ(target_.W(0), 0);
  target_.Exit();
  EXPECT_EQ(target_.RegOut(), 0xFFFF);
}

TEST_F(TargetTest, UndecodableWordIsAProtocolFaultAndHasNoEffect) {
  target_.Enter(false, false);
  Run({0x123456});
  EXPECT_TRUE(target_.protocol_fault());
  EXPECT_NE(target_.fault_text().find("123456"), std::string::npos);
}

TEST_F(TargetTest, GotoConsumesItsSecondWordWhateverItHolds) {
  target_.Enter(false, false);
  Run({0x040100, 0x123456});  // undecodable, but a second word
  EXPECT_FALSE(target_.protocol_fault());
  Run({MovLit(0x1111, 0), 0x883C20});
  EXPECT_EQ(target_.RegOut(), 0x1111);
}

class TablePointer54Test : public TargetTest {
 protected:
  TablePointer54Test() : TargetTest("PIC24FJ128GA310") {}
};

TEST_F(TablePointer54Test, OnlyItsOwnAddressLoadsTblpag) {
  EXPECT_EQ(target_.tblpag_address(), 0x0054);
  target_.Enter(true, false);
  Run({MovLit(0xFF, 0), 0x880190});
  EXPECT_EQ(target_.tblpag(), 0);
  Run({0x8802A0});
  EXPECT_EQ(target_.tblpag(), 0xFF);
}

}  // namespace
}  // namespace quillon::sim
