// Detection: the DeviceID reads on the wire, every catalogue part against the
// simulated chip, and the failure reports.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "icsp/operations.h"
#include "icsp/primitives.h"
#include "scripted_board.h"
#include "test_support/sim_session.h"

namespace quillon::icsp {
namespace {

using test_support::BoardFor;
using test_support::SimSession;

class RecordingListener : public DetectionListener {
 public:
  void DeviceDetected(const std::string& name) override { names.push_back(name); }
  std::vector<std::string> names;
};

// --- the wire ---

class DetectWireTest : public ScriptedSessionTest {};

TEST_F(DetectWireTest, ReadsTheDeviceIdWithBatchesWhateverTheFirmware) {
  session.set_firmware_version(0x0102);
  board.regout = {0x1234};
  DetectDevice(session);
  ASSERT_GE(port.writes.size(), 6u);
  EXPECT_EQ(port.writes[0], Bytes{0x0D});
  EXPECT_EQ(port.writes[1], BatchPacket({0x040200, 0x040200, 0, 0x200FF0, 0x880190, 0x200006,
                                         0x207847, 0, 0xBA0BB6, 0, 0}));
  EXPECT_EQ(port.writes[2], BatchPacket({0}));
  EXPECT_EQ(port.writes[3], Bytes{0x12});
  EXPECT_EQ(port.writes[4], BatchPacket({0, 0x040200, 0}));
  EXPECT_EQ(port.writes[5], Bytes{0x20});
  for (const Bytes& w : port.writes) EXPECT_FALSE(w.size() == 1 && w[0] >= 0x70 && w[0] <= 0x7D);
  // 0x1234 names no part: no dsPIC30F attempt follows.
  for (const Bytes& w : port.writes) EXPECT_NE(w, Bytes{0x0C});
  EXPECT_EQ(Errors(), std::vector<std::string>{"Error : unknown device\r\ndevice=1234"});
  EXPECT_EQ(session.outcome(), Outcome::kProblem);
  EXPECT_FALSE(session.device().selected);
}

TEST_F(DetectWireTest, NoAnswerAfter0DFallsBackTo0C) {
  // First read, the read through the other table pointer, then the dsPIC30F read.
  board.regout = {65509,  0xFFFF, 0x0101, 0xC703, 0x803F, 0x87B3,
                  0x310F, 0x330F, 0x0007, 0xC003, 0x0000};
  RecordingListener listener;
  session.set_detection_listener(&listener);
  DetectDevice(session);
  // The dsPIC30F read, then the configuration read of the part it found.
  EXPECT_EQ(std::count(port.writes.begin(), port.writes.end(), Bytes{0x0C}), 2);
  const auto old_read = std::find(port.writes.begin(), port.writes.end(), Bytes{0x0C}) + 1;
  EXPECT_EQ(*old_read, BatchPacket({0, 0x040100, 0x040100, 0, 0x200FF0, 0x880190, 0xEB0300,
                                    0xEB0380, 0, 0xBA0BB6, 0, 0, 0x883C20, 0}));
  EXPECT_EQ(sink.last_text(),
            "Detecting Successful!\r\ndevice=0101\r\nname=dsPIC30F4011\r\nsocket=40a"
            "\r\nconfig1=C703 config5=330F\r\nconfig2=803F config6=0007"
            "\r\nconfig3=87B3 config7=C003\r\nconfig4=310F config8=0000");
  EXPECT_EQ(listener.names, std::vector<std::string>{"dsPIC30F4011"});
  EXPECT_EQ(session.device().device.name, "dsPIC30F4011");
  EXPECT_EQ(session.outcome(), Outcome::kOk);
}

TEST_F(DetectWireTest, ValuesAtTheNoAnswerLimits) {
  // 0xFFF7 after 0x0C is still a DeviceID; 0xFFF8 is not.
  board.regout = {0xFFFF, 0xFFFF, 0xFFF7};
  DetectDevice(session);
  EXPECT_EQ(Errors(), std::vector<std::string>{"Error : unknown device\r\ndevice=FFF7"});
  Clear();
  board.regout = {0xFFE0, 0xFFE0, 0xFFF8};
  DetectDevice(session);
  EXPECT_EQ(Errors(), std::vector<std::string>{"Error : no DeviceID"});
  Clear();
  sink.lang = report::kJapaneseLangId;
  board.regout = {0xFFFF, 0xFFFF, 0xFFFF};
  DetectDevice(session);
  EXPECT_EQ(Errors(), std::vector<std::string>{"ｴﾗｰ :DeviceIDなし"});
  Clear();
  board.regout = {0x1234, 0x1234};
  DetectDevice(session);
  EXPECT_EQ(Errors(), std::vector<std::string>{"ｴﾗｰ :未知のdevice\r\ndevice=1234"});
}

TEST_F(DetectWireTest, SharedDeviceIdGoesToThePartThatEnteredThatWay) {
  board.regout = {0x00C1};
  DetectDevice(session);
  EXPECT_EQ(session.device().device.name, "dsPIC33FJ64GP206");

  Clear();
  board.regout = {0xFFFF, 0xFFFF, 0x00C1};
  DetectDevice(session);
  EXPECT_EQ(session.device().device.name, "dsPIC30F3012");
}

TEST_F(DetectWireTest, RetryThroughTheOtherTablePointerOnlyBelievesPartsThatUseIt) {
  // 0x0200 names dsPIC30F5015 only: not a part that answers after 0x0D with
  // TBLPAG at 0x0054, so the first value stands.
  board.regout = {0xFFFF, 0x0200, 0xFFFF};
  DetectDevice(session);
  ASSERT_GE(port.writes.size(), 8u);
  EXPECT_EQ(WordsOf(port.writes[7])[4], 0x8802A0u);
  EXPECT_EQ(Errors(), std::vector<std::string>{"Error : no DeviceID"});

  Clear();
  board.regout = {0x0000, 0x410E};
  DetectDevice(session);
  EXPECT_EQ(session.device().device.name, "PIC24FJ256DA210");
}

// --- against the simulated chip ---

// Firmware mode, and the part selected before detection: none, one whose
// TBLPAG is at 0x0032, one whose TBLPAG is at 0x0054.
class DetectSimTest : public ::testing::TestWithParam<std::tuple<std::uint16_t, const char*>> {};

TEST_P(DetectSimTest, EveryCataloguePartIsDetectedAsItself) {
  const auto [firmware, selected_before] = GetParam();
  for (const devices::DeviceRecord& row : devices::Catalogue()) {
    SimSession sim(BoardFor(std::string(row.name), firmware));
    if (*selected_before != '\0') {
      ASSERT_TRUE(sim.Select(selected_before));
    }
    RecordingListener listener;
    sim.session.set_detection_listener(&listener);
    DetectDevice(sim.session);
    ASSERT_EQ(sim.session.device().device.name, row.name) << sim.sink.last_text();
    EXPECT_EQ(listener.names, std::vector<std::string>{std::string(row.name)});
    EXPECT_TRUE(sim.sink.last_text().starts_with("Detecting Successful!\r\ndevice="))
        << row.name << ": " << sim.sink.last_text();
    EXPECT_TRUE(sim.Errors().empty()) << row.name << ": " << sim.Errors().front();
    EXPECT_FALSE(sim.port.board().protocol_fault())
        << row.name << ": " << sim.port.board().fault_text();
  }
}

INSTANTIATE_TEST_SUITE_P(
    BothBoardModesAnySelection, DetectSimTest,
    ::testing::Combine(::testing::Values(test_support::kFirmware10, test_support::kFirmware12),
                       ::testing::Values("", "dsPIC30F4013", "PIC24FJ256DA210")));

TEST(DetectSim, DetectsATablePointerVariantWhateverWasSelectedBefore) {
  SimSession sim(BoardFor("PIC24FJ128GA310"));
  sim.target().SetProgram(0, 0x040200);  // what the misdirected read sees
  ASSERT_TRUE(sim.Select("dsPIC30F4011"));
  DetectDevice(sim.session);
  EXPECT_EQ(sim.session.device().device.name, "PIC24FJ128GA310");

  SimSession other(BoardFor("dsPIC33FJ128GP206"));
  ASSERT_TRUE(other.Select("PIC24FJ256DA210"));
  DetectDevice(other.session);
  EXPECT_EQ(other.session.device().device.name, "dsPIC33FJ128GP206");
}

TEST(DetectSim, ShowsTheConfigurationWordsOfTheFoundPart) {
  SimSession sim(BoardFor("PIC24HJ12GP201", test_support::kFirmware10));
  sim.target().SetConfig(0, 0x00A5);
  sim.target().SetConfig(4, 0x0012);
  DetectDevice(sim.session);
  EXPECT_NE(sim.sink.last_text().find("\r\nconfig1=00A5 config5=0012\r\n"), std::string::npos)
      << sim.sink.last_text();
}

TEST(DetectSim, NoChipAndUnknownChipAreReportedNotSelected) {
  sim::BoardConfig none = BoardFor("dsPIC33FJ12GP201");
  none.target_present = false;
  SimSession empty(none);
  ASSERT_TRUE(empty.Select("PIC24HJ12GP201"));
  DetectDevice(empty.session);
  EXPECT_EQ(empty.Errors(), std::vector<std::string>{"Error : no DeviceID"});
  EXPECT_EQ(empty.session.device().device.name, "PIC24HJ12GP201");
  EXPECT_EQ(empty.session.outcome(), Outcome::kProblem);

  sim::BoardConfig odd = BoardFor("dsPIC33FJ12GP201");
  odd.device_id_override = 0x0ABC;
  SimSession unknown(odd);
  DetectDevice(unknown.session);
  EXPECT_EQ(unknown.Errors(), std::vector<std::string>{"Error : unknown device\r\ndevice=0ABC"});
  EXPECT_FALSE(unknown.session.device().selected);
}

}  // namespace
}  // namespace quillon::icsp
