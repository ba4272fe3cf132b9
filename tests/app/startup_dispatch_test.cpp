#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/app_fixture.h"
#include "devices/catalogue.h"

namespace quillon::app::testing {
namespace {

using ::testing::ElementsAre;

// --- start-up ---

TEST_F(AppTest, StartUpRunsItsStepsInOrderAndEndsWithTheAboutText) {
  settings.values["COM"] = "COM5";
  settings.values["CHIP"] = "dsPIC30F4013";
  app->Start();

  std::vector<std::string> expected;
  for (int n = 1; n <= 9; ++n) expected.push_back("com add COM" + std::to_string(n));
  for (std::string e :
       {"com select 0", "com select 4", "progress reset", "enable 1001 on", "enable 1003 off",
        "enable 1004 off", "enable 1005 off", "enable 1006 off", "enable 1007 off",
        "enable 1002 off", "device add", "device select dsPIC30F4013", "status Socket 40b"}) {
    expected.push_back(e);
  }
  expected.push_back("status " + AboutText(std::nullopt));
  EXPECT_EQ(view.events, expected);
  EXPECT_EQ(view.devices.size(), devices::Catalogue().size());
  EXPECT_EQ(settings.stores, 0) << "the remembered device is not stored again";
}

TEST_F(AppTest, StartUpStateWithoutStoredSettings) {
  app->Start();
  EXPECT_EQ(ControlStates(), "EED DDDDD");
  EXPECT_EQ(view.com_ports.front(), "COM1");
  EXPECT_EQ(view.com_ports.back(), "COM9");
  EXPECT_EQ(view.com_index, 0);
  EXPECT_EQ(view.device_selection, "");
  EXPECT_FALSE(app->session().device().selected);
  EXPECT_EQ(view.progress, 0);
  EXPECT_EQ(clock.ElapsedMs(), 0);
}

TEST_F(AppTest, StoredDeviceIsSelectedButTheListStaysDisabled) {
  settings.values["CHIP"] = "PIC24HJ12GP201";
  app->Start();
  EXPECT_EQ(view.device_selection, "PIC24HJ12GP201");
  EXPECT_TRUE(app->session().device().selected);
  EXPECT_EQ(app->session().device().name, "PIC24HJ12GP201");
  EXPECT_FALSE(view.Enabled(kDeviceList));
}

TEST_F(AppTest, UnknownStoredDeviceIsReportedThenAboutIsShown) {
  settings.values["CHIP"] = "dsPIC99X";
  app->Start();
  EXPECT_FALSE(app->session().device().selected);
  ASSERT_GE(view.statuses.size(), 2u);
  EXPECT_EQ(view.statuses[view.statuses.size() - 2], "Please select PIC type.");
  EXPECT_EQ(clock.ElapsedMs(), 1000);
  EXPECT_EQ(view.last_status(), AboutText(std::nullopt));
}

TEST_F(AppTest, StoredComPortValues) {
  struct Case {
    const char* stored;
    int index;
  };
  for (Case c : {Case{"COM5", 4}, Case{"COM9", 8}, Case{"COM1", 0}, Case{"COM0", 0},
                 Case{"COM10", 0}, Case{"COMX", 0}, Case{"", 0}, Case{"/dev/ttyUSB3", 2}}) {
    FakeView v;
    FakeSettings s;
    FakeSystem sys{v};
    s.values["COM"] = c.stored;
    Application a(v, s, sys, port, clock, nullptr);
    a.Start();
    EXPECT_EQ(v.com_index, c.index) << c.stored;
  }
}

TEST(AboutTextTest, LinesAndOptionalOsLine) {
  const std::string with = AboutText(std::string("Windows NT/2000/XP/Vista/7 V6.1"));
  EXPECT_TRUE(with.starts_with("Quillon Ver 1.9c\r\n"));
  EXPECT_TRUE(with.ends_with("\r\n\r\nWindows NT/2000/XP/Vista/7 V6.1"));
  EXPECT_NE(with.find(std::string(kWebAddress) + "\r\n"), std::string::npos);
  const std::string without = AboutText(std::nullopt);
  EXPECT_TRUE(without.ends_with(std::string(kWebAddress) + "\r\n\r\n"));
  // Version, two maker lines, the address, the empty line.
  EXPECT_EQ(std::count(without.begin(), without.end(), '\n'), 5);
}

// --- dispatch ---

TEST_F(AppTest, ChoosingAComPortStoresItAtOnce) {
  app->Start();
  view.com_index = 1;
  app->Dispatch(kComList, kSelectionChange);
  EXPECT_EQ(settings.values["COM"], "COM2");
  view.com_index = 6;
  app->Dispatch(kComList, 0);  // not a selection change
  EXPECT_EQ(settings.values["COM"], "COM2");
}

TEST_F(AppTest, ChoosingADeviceSelectsAndStoresOnlyKnownNames) {
  app->Start();
  view.device_selection = "dsPIC30F3011";
  app->Dispatch(kDeviceList, kSelectionChange);
  EXPECT_EQ(settings.values["CHIP"], "dsPIC30F3011");
  EXPECT_EQ(view.last_status(), "Socket 40a");
  EXPECT_EQ(app->session().device().name, "dsPIC30F3011");

  const int stores = settings.stores;
  EXPECT_FALSE(app->ChooseDevice("dspic30f3011"));
  EXPECT_EQ(settings.stores, stores);
  EXPECT_EQ(view.last_status(), "Please select PIC type.");
  EXPECT_EQ(app->session().device().name, "dsPIC30F3011");
}

TEST_F(AppTest, OptionItemsToggle) {
  using report::Option;
  app->Dispatch(kMenuEraseBeforeWriting, 0);
  EXPECT_FALSE(view.IsChecked(Option::kEraseBeforeWriting));
  app->Dispatch(kMenuEraseBeforeWriting, 0);
  EXPECT_TRUE(view.IsChecked(Option::kEraseBeforeWriting));
  app->Dispatch(kMenuVerifyAfterWriting, 0);
  app->Dispatch(kMenuEnhancedIcsp, 0);
  app->Dispatch(kMenuWideVdd, 0);
  EXPECT_FALSE(view.IsChecked(Option::kVerifyAfterWriting));
  EXPECT_FALSE(view.IsChecked(Option::kEnhancedIcsp));
  EXPECT_TRUE(view.IsChecked(Option::kWideVdd));
}

TEST_F(AppTest, MenuCommands) {
  view.com_index = 1;
  std::size_t mark = Mark();
  app->Dispatch(kMenuUpdate, 0);
  EXPECT_THAT(EventsSince(mark), ElementsAre("launch brackwen.bat Quillon.hex -c2"));

  view.com_index = -1;
  mark = Mark();
  app->Dispatch(kMenuUpdate, 0);
  EXPECT_TRUE(EventsSince(mark).empty()) << "no COM selection: Update does nothing";

  mark = Mark();
  app->Dispatch(kMenuWebHome, 0);
  EXPECT_THAT(EventsSince(mark), ElementsAre("web " + std::string(kWebAddress)));

  system.os_line = "Windows NT/2000/XP/Vista/7 V6.1";
  app->Dispatch(kMenuAbout, 0);
  EXPECT_EQ(view.last_status(), AboutText(system.os_line));

  mark = Mark();
  app->Dispatch(kMenuExit, 0);
  EXPECT_THAT(EventsSince(mark), ElementsAre("exit 0"));
}

TEST_F(AppTest, IdsWithoutACommandDoNothing) {
  app->Start();
  const std::size_t mark = Mark();
  for (int id : {kMenuCalibrate, kStatusText, kProgressBar, 999, 1019, 40000}) {
    app->Dispatch(id, 0);
    app->Dispatch(id, 1);
  }
  // Buttons only answer clicks, lists only selection changes.
  for (int id = kConnectButton; id <= kReadButton; id += 2) app->Dispatch(id, kSelectionChange);
  app->Dispatch(kDeviceList, kButtonClicked);
  EXPECT_TRUE(EventsSince(mark).empty());
  EXPECT_EQ(port.opens, 0);
}

TEST_F(AppTest, ButtonsRunTheirCommands) {
  ConnectedOn(1);
  system.chosen_file = "";  // Write asks for a file, cancelled here
  struct Row {
    int id;
    const char* first_text;
  };
  for (Row r : {Row{kDetectButton, "Detecting..."}, Row{kEraseButton, "Erasing..."},
                Row{kCheckButton, "Checking..."}, Row{kReadButton, "Reading..."}}) {
    const std::size_t mark = Mark();
    app->Dispatch(r.id, kButtonClicked);
    ASSERT_FALSE(EventsSince(mark).empty());
    EXPECT_EQ(EventsSince(mark).front(), std::string("status ") + r.first_text);
  }
  system.chosen_file = "/nonexistent/a.hex";
  const std::size_t mark = Mark();
  app->Dispatch(kWriteButton, kButtonClicked);
  EXPECT_EQ(EventsSince(mark).front(), "status Loading...");
}

}  // namespace
}  // namespace quillon::app::testing
