#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "app/app_fixture.h"
#include "app/kept_words_directory.h"

namespace quillon::app::testing {
namespace {

using ::testing::ElementsAre;
using Bytes = test_support::ScriptedPort::Bytes;

// --- Connect ---

TEST_F(AppTest, SuccessfulConnectUnlocksTheOperations) {
  app->Start();
  ConnectedOn(4);
  EXPECT_EQ(ControlStates(), "DDE EEEEE");
  EXPECT_EQ(view.last_status(), "connected!\r\nfirmware=1.2");
  EXPECT_EQ(view.progress, 100);
  EXPECT_EQ(app->session().firmware_version(), 258);
  EXPECT_EQ(app->port_name(), "COM4");
  EXPECT_TRUE(app->connected());
  EXPECT_EQ(port.opens, 1);
  EXPECT_EQ(port.closes, 1);
}

TEST_F(AppTest, FailedConnectKeepsTheStartUpStateAndVersion) {
  app->Start();
  view.com_index = 2;
  const std::size_t mark = Mark();
  EXPECT_FALSE(app->Connect());
  EXPECT_EQ(ControlStates(), "EED DDDDD");
  EXPECT_EQ(view.last_status(), "disconnected!");
  EXPECT_EQ(view.kinds.back(), report::StatusKind::kError);
  EXPECT_EQ(EventsSince(mark).front(), "open COM3");
  EXPECT_EQ(app->session().firmware_version(), 0);
  EXPECT_FALSE(app->connected());

  // A one-byte reply is no answer either.
  port.responder = [](const Bytes&) { return Bytes{1}; };
  EXPECT_FALSE(app->Connect());
  EXPECT_EQ(view.last_status(), "disconnected!");
}

// --- the operation frame ---

TEST_F(AppTest, OperationFrameOrder) {
  ConnectedOn(3);
  const std::size_t mark = Mark();
  app->Detect();
  std::vector<std::string> events = EventsSince(mark);
  // Only the frame: drop what the engine showed between open and close.
  auto close = std::find(events.begin(), events.end(), "close");
  ASSERT_NE(close, events.end());
  std::vector<std::string> frame(events.begin(), events.begin() + 12);
  frame.insert(frame.end(), close, events.end());
  EXPECT_THAT(
      frame, ElementsAre("status Detecting...", "enable 1001 off", "enable 1003 off",
                         "enable 1004 off", "enable 1005 off", "enable 1006 off", "enable 1007 off",
                         "enable 1002 off", "pump", "timer begin", "open COM3", events[11], "close",
                         // the silent board's error leaves no full bar
                         "progress reset", "timer end", "enable 1001 off", "enable 1003 on",
                         "enable 1004 on", "enable 1005 on", "enable 1006 on", "enable 1007 on",
                         "enable 1002 on", "pump"));
}

TEST_F(AppTest, ControlsAreLockedWhileAnOperationRuns) {
  ConnectedOn(1);
  std::vector<std::string> during;
  port.on_open = [this, &during] { during.push_back(ControlStates()); };
  port.responder = [this, &during](const Bytes&) {
    during.push_back(ControlStates());
    return Bytes{};
  };
  app->Erase();
  port.responder = nullptr;
  port.on_open = nullptr;
  ASSERT_FALSE(during.empty());
  for (const std::string& s : during) EXPECT_EQ(s, "DDD DDDDD");
  EXPECT_EQ(ControlStates(), "DDE EEEEE");
}

TEST_F(AppTest, SilentBoardEndsEveryOperationWithTheControlsEnabled) {
  ConnectedOn(1);
  system.chosen_file = "/nonexistent/file.hex";
  for (auto run : {+[](Application& a) { a.Detect(); }, +[](Application& a) { a.Erase(); },
                   +[](Application& a) { a.Check(); }, +[](Application& a) { a.Write(); },
                   +[](Application& a) { a.Read(); }}) {
    const int opens = port.opens;
    const auto elapsed = clock.ElapsedMs();
    port.writes.clear();
    run(*app);
    if (!port.writes.empty()) {
      EXPECT_EQ(app->session().outcome(), icsp::Outcome::kLinkFailure);
    }
    EXPECT_EQ(port.opens, opens + 1);
    EXPECT_EQ(port.closes, port.opens);
    EXPECT_EQ(ControlStates(), "DDE EEEEE");
    // The link gives up after the first silent transfer: a few seconds at most.
    EXPECT_LE(clock.ElapsedMs() - elapsed, 6000);
  }
}

// --- Write ---

class WriteTest : public AppTest {
 protected:
  void SetUp() override {
    ConnectedOn(2);
    // ctest runs each test in a process of its own, where the fixture often
    // lands at the same address: the process ID keeps their folders apart.
    dir = std::filesystem::temp_directory_path() /
          ("quillon_app_" + std::to_string(::getpid()) + "_" +
           std::to_string(reinterpret_cast<std::uintptr_t>(this)));
    std::filesystem::create_directories(dir);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::string File(const std::string& name, const std::string& contents) {
    const auto path = dir / name;
    std::ofstream(path) << contents;
    return path.string();
  }
  std::filesystem::path dir;
};

TEST_F(WriteTest, CancelledDialogDoesNothingAtAll) {
  system.chosen_file = "";
  const std::size_t mark = Mark();
  app->Dispatch(kWriteButton, kButtonClicked);
  EXPECT_TRUE(EventsSince(mark).empty());
  EXPECT_TRUE(port.writes.empty());
}

TEST_F(WriteTest, EraseBeforeWritingDecidesTheErasingText) {
  ASSERT_TRUE(app->ChooseDevice("dsPIC30F4013"));
  view.marks[report::Option::kEnhancedIcsp] = false;
  const std::string good = File("good.hex", ":0400000000000000FC\n:00000001FF\n");
  for (bool erase : {true, false}) {
    view.marks[report::Option::kEraseBeforeWriting] = erase;
    view.statuses.clear();
    app->WriteFile(good);
    EXPECT_EQ(view.statuses.front(), "Loading...");
    EXPECT_EQ(std::count(view.statuses.begin(), view.statuses.end(), "Erasing..."), erase ? 1 : 0);
  }
}

TEST_F(WriteTest, RejectedFileIsNeverProgrammed) {
  view.marks[report::Option::kEnhancedIcsp] = false;
  for (const std::string& path :
       {File("bad.hex", "garbage\n"), File("sum.hex", ":0400000000000000FF\n"),
        (dir / "missing.hex").string()}) {
    for (bool erase : {false, true}) {
      view.marks[report::Option::kEraseBeforeWriting] = erase;
      port.writes.clear();
      view.statuses.clear();
      EXPECT_EQ(app->WriteFile(path), icsp::Outcome::kFileRejected) << path;
      // Nothing talks to the board before the file is known good.
      EXPECT_TRUE(port.writes.empty()) << path;
      EXPECT_EQ(std::count(view.statuses.begin(), view.statuses.end(), "Writing Successful!"), 0);
      EXPECT_NE(view.statuses.back(), "Loading Successful!");
      EXPECT_EQ(ControlStates(), "DDE EEEEE");
      EXPECT_EQ(port.closes, port.opens);
    }
  }
}

// Kept words are listed newest first by DeviceID and port, two of one
// second apart; a copy records port, time and DeviceID; a store without a
// directory, or one it cannot write, keeps nothing and says why.
TEST(KeptWordsDirectoryTest, NamesByDeviceIdPortAndTimeNewestFirst) {
  const auto dir = std::filesystem::temp_directory_path() / "quillon_kept_words_test";
  std::filesystem::remove_all(dir);
  std::chrono::system_clock::time_point t =
      std::chrono::sys_days{std::chrono::December / 7 / 2026} + std::chrono::hours(9);
  KeptWordsDirectory store(dir, [&t] { return t; });
  std::string why;
  auto save = [&](std::uint16_t id, const std::string& port) {
    icsp::KeptWords words;
    words.device_id = id;
    words.device = "dsPIC33FJ12GP201";
    words.port = port;
    words.first = 0x8007F4;
    words.instructions.assign(6, 0x00C000);
    return store.Save(words, why);
  };
  const std::string first = save(0x080A, "/dev/ttyUSB0");
  const std::string second = save(0x080A, "/dev/ttyUSB0");
  t += std::chrono::seconds(1);
  const std::string third = save(0x080A, "/dev/ttyUSB0");
  const std::string other_port = save(0x080A, "/dev/ttyUSB1");
  save(0x0141, "/dev/ttyUSB0");
  EXPECT_TRUE(first.ends_with("DeviceID-080A-ttyUSB0-20261207T090000Z.txt")) << first;
  EXPECT_TRUE(second.ends_with("DeviceID-080A-ttyUSB0-20261207T090000Z-2.txt")) << second;
  EXPECT_EQ(store.List(0x080A, "/dev/ttyUSB0"), (std::vector<std::string>{third, second, first}));
  EXPECT_EQ(store.List(0x080A, "/dev/ttyUSB1"), (std::vector<std::string>{other_port}));
  const std::optional<icsp::KeptWords> kept = icsp::ParseKeptWords(*store.Load(second));
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->port, "/dev/ttyUSB0");
  EXPECT_EQ(kept->kept_at, "20261207T090000Z");
  EXPECT_EQ(store.Load((dir / "none").string()), std::nullopt);
  // No temporary file is left behind.
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    EXPECT_TRUE(entry.path().extension() == ".txt") << entry.path();
  }

  EXPECT_EQ(KeptWordsDirectory("").Save(*kept, why), "");
  EXPECT_FALSE(why.empty());
  // A "folder" that is a file cannot take a copy.
  std::ofstream(dir / "file") << "x";
  why.clear();
  EXPECT_EQ(KeptWordsDirectory(dir / "file" / "rows").Save(*kept, why), "");
  EXPECT_NE(why.find("file"), std::string::npos) << why;
  std::filesystem::remove_all(dir);
}

// Runs racing for one name in one second each get a name of their own.
TEST(KeptWordsDirectoryTest, RacingRunsNeverShareACopy) {
  const auto dir = std::filesystem::temp_directory_path() / "quillon_kept_words_race";
  std::filesystem::remove_all(dir);
  const auto t = std::chrono::sys_days{std::chrono::December / 7 / 2026};
  std::vector<std::string> names(8);
  std::vector<std::thread> runs;
  for (std::size_t i = 0; i < names.size(); ++i) {
    runs.emplace_back([&, i] {
      KeptWordsDirectory store(dir, [t] { return t; });
      icsp::KeptWords words;
      words.device_id = 0x080A;
      words.port = "sim";
      words.first = 0x8007F4;
      words.instructions.assign(6, static_cast<std::uint32_t>(i));
      std::string why;
      names[i] = store.Save(words, why);
    });
  }
  for (std::thread& run : runs) run.join();
  std::set<std::string> distinct(names.begin(), names.end());
  EXPECT_EQ(distinct.size(), names.size());
  EXPECT_FALSE(distinct.contains(""));
  KeptWordsDirectory store(dir);
  for (std::size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(icsp::ParseKeptWords(*store.Load(names[i]))->instructions[0], i);
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace quillon::app::testing
