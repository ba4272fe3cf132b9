// The shell's commands against the simulated board.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <utility>

#include "app/application.h"
#include "app/fake_front_end.h"
#include "app/ids.h"
#include "icsp/kept_words.h"
#include "icsp/operations.h"
#include "report/clock.h"
#include "sim/sim_port.h"
#include "test_support/executive_files.h"

namespace quillon::app::testing {
namespace {

namespace fs = std::filesystem;

// Records every byte sent to the simulated board.
class TappedPort : public link::SerialPort {
 public:
  explicit TappedPort(sim::SimPort& sim) : sim_(sim) {}
  std::vector<std::string> Open(const std::string& name) override { return sim_.Open(name); }
  std::vector<std::string> Close() override { return sim_.Close(); }
  link::Transfer Read(std::uint8_t* data, std::size_t n) override { return sim_.Read(data, n); }
  link::Transfer Write(const std::uint8_t* data, std::size_t n) override {
    wire.insert(wire.end(), data, data + n);
    return sim_.Write(data, n);
  }
  std::vector<std::uint8_t> wire;

 private:
  sim::SimPort& sim_;
};

class SimAppTest : public ::testing::Test {
 protected:
  explicit SimAppTest(const char* board = "sim:dsPIC30F4013")
      : sim(sim::MakeSimPort(board)), port(*sim) {
    app = std::make_unique<Application>(view, settings, system, port, clock, nullptr);
    app->Start();
    view.com_index = 0;
    EXPECT_TRUE(app->Connect());
    port.wire.clear();
  }

  FakeView view;
  FakeSettings settings;
  FakeSystem system{view};
  report::ManualClock clock;
  std::unique_ptr<sim::SimPort> sim;
  TappedPort port;
  std::unique_ptr<Application> app;
};

TEST_F(SimAppTest, DetectSelectsTheDeviceInTheListAndRemembersIt) {
  EXPECT_EQ(app->Detect(), icsp::Outcome::kOk);
  EXPECT_EQ(view.device_selection, "dsPIC30F4013");
  EXPECT_EQ(settings.values["CHIP"], "dsPIC30F4013");
  EXPECT_TRUE(view.last_status().starts_with("Detecting Successful!\r\ndevice=0141"));
}

TEST_F(SimAppTest, PlainIcspPreparesNothing) {
  ASSERT_TRUE(app->ChooseDevice("dsPIC30F4013"));
  view.marks[report::Option::kEnhancedIcsp] = false;
  EXPECT_EQ(app->Check(), icsp::Outcome::kOk);
  EXPECT_EQ(view.last_status().substr(0, 20), "Checking Successful!");

  // The same check on a twin board without the preparation step sends the
  // very same bytes.
  auto twin = sim::MakeSimPort("sim:dsPIC30F4013");
  TappedPort twin_port(*twin);
  FakeView twin_view;
  twin_view.marks[report::Option::kEnhancedIcsp] = false;
  report::Reporter reporter(twin_view, clock, nullptr);
  icsp::Session session(twin_port, reporter, twin_view);
  session.set_firmware_version(app->session().firmware_version());
  ASSERT_TRUE(devices::SelectDevice(session.device(), "dsPIC30F4013", reporter));
  twin_port.wire.clear();
  session.BeginOperation();
  icsp::BlankCheck(session);
  EXPECT_EQ(port.wire, twin_port.wire);
}

// One decision of the programming mode: with "Enhanced ICSP" checked, a
// part without an executive is driven with plain ICSP by every operation.
class PartWithoutExecutiveTest : public SimAppTest {
 protected:
  PartWithoutExecutiveTest() : SimAppTest("sim:PIC24F08KA101") {}
};

TEST_F(PartWithoutExecutiveTest, EveryOperationUsesPlainIcsp) {
  ASSERT_TRUE(app->ChooseDevice("PIC24F08KA101"));
  const fs::path dir = fs::temp_directory_path() / ("quillon_app_ka_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string hex = (dir / "one.hex").string();
  std::ofstream(hex) << ":040000005634120060\n:00000001FF\n";
  const std::pair<const char*, std::function<icsp::Outcome()>> operations[] = {
      {"Checking Successful!", [&] { return app->Check(); }},
      {"Writing Successful!", [&] { return app->WriteFile(hex); }},
      {"already up to date", [&] { return app->WriteFile(hex, true); }},
      {"Verifying Successful!", [&] { return app->VerifyFile(hex); }},
      {"Reading Successful!", [&] { return app->Read(dir.string()); }},
  };
  for (const auto& [success, run] : operations) {
    SCOPED_TRACE(success);
    EXPECT_EQ(run(), icsp::Outcome::kOk);
    EXPECT_TRUE(view.last_status().starts_with(success)) << view.last_status();
  }
  EXPECT_EQ(sim->target().Program(0), 0x123456u);
  fs::remove_all(dir);
}

// Verify refuses what a write refuses, before the part is touched, and
// compares only the words the file holds: other data around them in the
// same row or block is no difference.
TEST_F(SimAppTest, VerifyChecksTheFileAsAWriteAndComparesOnlyItsWords) {
  ASSERT_TRUE(app->ChooseDevice("dsPIC30F4013"));
  const fs::path dir =
      fs::temp_directory_path() / ("quillon_app_verify_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string hex = (dir / "v.hex").string();
  const std::pair<std::string, icsp::Outcome> files[] = {
      {"", icsp::Outcome::kFileRejected},
      {":00000001FF\n", icsp::Outcome::kFileRejected},
      {":040000005634120060\n", icsp::Outcome::kFileRejected},               // no end record
      {":040000005634120061\n:00000001FF\n", icsp::Outcome::kFileRejected},  // checksum
      {":040000005634120060\n:00000001FF\n", icsp::Outcome::kOk},
  };
  sim->target().SetProgram(0, 0x123456);
  sim->target().SetProgram(2, 0x000042);  // beside the file's word, not in the file
  for (bool enhanced : {false, true}) {
    view.marks[report::Option::kEnhancedIcsp] = enhanced;
    for (const auto& [text, outcome] : files) {
      SCOPED_TRACE(text + (enhanced ? " enhanced" : " plain"));
      std::ofstream(hex, std::ios::trunc) << text;
      port.wire.clear();
      EXPECT_EQ(app->VerifyFile(hex), outcome) << view.last_status();
      if (outcome != icsp::Outcome::kOk) {
        EXPECT_TRUE(port.wire.empty());  // refused before the board heard of it
      } else {
        EXPECT_TRUE(view.last_status().starts_with("Verifying Successful!")) << view.last_status();
      }
    }
  }
  fs::remove_all(dir);
}

// A read that fails part way writes no result file and leaves the earlier
// ones as they were.
TEST_F(SimAppTest, AFailedReadLeavesTheEarlierFiles) {
  ASSERT_TRUE(app->ChooseDevice("dsPIC30F4013"));
  view.marks[report::Option::kEnhancedIcsp] = false;
  const fs::path dir =
      fs::temp_directory_path() / ("quillon_app_reread_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "$Quill$.hex") << "earlier";
  sim->board().faults().silent_after = sim->board().stats().exchanges + 300;
  EXPECT_EQ(app->Read(dir.string()), icsp::Outcome::kLinkFailure);
  {
    // Closed before the folder goes: Windows will not remove an open file.
    std::ifstream earlier(dir / "$Quill$.hex");
    std::string text;
    std::getline(earlier, text);
    EXPECT_EQ(text, "earlier");
  }
  EXPECT_FALSE(fs::exists(dir / "$Quill$.txt"));
  fs::remove_all(dir);
}

TEST_F(SimAppTest, BoardFallingSilentMidReadEndsWithTheFailureMessage) {
  ASSERT_TRUE(app->ChooseDevice("dsPIC30F4013"));
  view.marks[report::Option::kEnhancedIcsp] = false;
  const fs::path dir =
      fs::temp_directory_path() / ("quillon_app_silent_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  for (std::uint64_t k : {3u, 500u, 5000u}) {
    sim->board().faults().silent_after = sim->board().stats().exchanges + k;
    const auto paused = clock.ElapsedMs();
    EXPECT_EQ(app->Read(dir.string()), icsp::Outcome::kLinkFailure) << k;
    // Only the first silent transfer is reported (two messages, a second
    // each), then the failure message (a second): no retries, no more pauses.
    EXPECT_LE(clock.ElapsedMs() - paused, 3000) << k;
    EXPECT_EQ(view.last_status(), app->reporter().Pick(icsp::LinkFailureMessage())) << k;
    for (const std::string& s : view.statuses) EXPECT_FALSE(s.starts_with("Reading Successful!"));
    EXPECT_TRUE(view.Enabled(kReadButton));
    EXPECT_TRUE(view.Enabled(kDeviceList));
    EXPECT_FALSE(view.Enabled(kConnectButton));
    // The next operation starts afresh.
    sim->board().faults().silent_after.reset();
    EXPECT_EQ(app->Detect(), icsp::Outcome::kOk) << k;
  }
  fs::remove_all(dir);
}

TEST_F(SimAppTest, MissingExecutiveFileSkipsTheSteps) {
  ASSERT_TRUE(app->ChooseDevice("dsPIC30F4013"));
  sim->target().SetExecutive(sim->target().application_id_address(), 0xFFFFFF);
  const fs::path empty =
      fs::temp_directory_path() / ("quillon_app_noexec_" + std::to_string(::getpid()));
  fs::create_directories(empty);
  app->session().set_executive_dir(empty.string());

  EXPECT_EQ(app->Read(empty.string()), icsp::Outcome::kFileRejected);
  EXPECT_FALSE(fs::exists(empty / "$Quill$.hex"));
  for (const std::string& s : view.statuses) EXPECT_FALSE(s.starts_with("Reading Successful!"));
  EXPECT_EQ(view.Enabled(kReadButton), true);
  // A check costs the part nothing: without an executive there it checks
  // with plain ICSP and loads none.
  EXPECT_EQ(app->Check(), icsp::Outcome::kOk);
  EXPECT_TRUE(view.last_status().starts_with("Checking Successful!")) << view.last_status();
  EXPECT_FALSE(sim->target().HasApplicationId());
  fs::remove_all(empty);
}

// A Write that cannot go ahead is refused before a byte goes to the board:
// the chip's program and EEPROM prove nothing was erased.
TEST_F(SimAppTest, WriteThatCannotGoAheadLeavesThePartUntouched) {
  ASSERT_TRUE(app->ChooseDevice("dsPIC30F4013"));
  sim::Target& chip = sim->target();
  chip.SetProgram(0x0100, 0x123456);
  chip.SetEeprom(0x7FFC00, 0x4321);
  const fs::path dir =
      fs::temp_directory_path() / ("quillon_untouched_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  app->session().set_executive_dir(dir.string());  // no executive file there
  const std::string good = ":0400000000000000FC\n:00000001FF\n";
  const std::pair<const char*, std::string> files[] = {
      {"Error : not HEX file!", ":0400000000000000FC\nnot a record\n:00000001FF\n"},
      {"Error : the file holds no data!", ""},
      {"Error : the file holds no data!", ":00000001FF\n"},
      {"Error : the file has no end record", ":0400000000000000FC\n"},
      {"Error : the file holds data the part cannot hold!\r\nAdr 008000 dsPIC30F4013",
       ":020000040001F9\n" + good},
      {"Error : programming executive file not found!", good},  // needed after the erase
      {"Error : cannot", "directory"},
  };
  view.marks[report::Option::kEraseBeforeWriting] = true;
  view.marks[report::Option::kEnhancedIcsp] = true;
  for (const auto& [error, text] : files) {
    const fs::path path = text == "directory" ? dir : dir / "f.hex";
    if (path != dir) std::ofstream(path) << text;
    EXPECT_EQ(app->WriteFile(path.string()), icsp::Outcome::kFileRejected) << error;
    EXPECT_TRUE(view.last_status().starts_with(error)) << view.last_status();
    EXPECT_EQ(chip.Program(0x0100), 0x123456u);
    EXPECT_EQ(chip.Eeprom(0x7FFC00), 0x4321);
  }
  EXPECT_TRUE(port.wire.empty());
  fs::remove_all(dir);
}

// A KA part has no executive: erase and Enhanced ICSP ask for no executive
// file, and the write goes ahead by plain ICSP.
class SimKaAppTest : public SimAppTest {
 protected:
  SimKaAppTest() : SimAppTest("sim:PIC24F16KA101") {}
};

TEST_F(SimKaAppTest, WriteNeedsNoExecutiveFile) {
  ASSERT_TRUE(app->ChooseDevice("PIC24F16KA101"));
  app->session().set_executive_dir((fs::temp_directory_path() / "quillon_no_such_dir").string());
  view.marks[report::Option::kEraseBeforeWriting] = true;
  view.marks[report::Option::kEnhancedIcsp] = true;
  const fs::path path = fs::temp_directory_path() / ("quillon_ka_" + std::to_string(::getpid()));
  std::ofstream(path) << ":0400000000000000FC\n:00000001FF\n";
  EXPECT_EQ(app->WriteFile(path.string()), icsp::Outcome::kOk) << view.last_status();
  EXPECT_EQ(sim->target().Program(0), 0u);
  fs::remove(path);
}

// What Read wrote, written back after an erase, gives the same program,
// EEPROM and configuration; its executive part is not written.
TEST_F(SimAppTest, ReadFileWritesBackAsAClone) {
  ASSERT_TRUE(app->ChooseDevice("dsPIC30F4013"));
  sim::Target& chip = sim->target();
  const fs::path dir = fs::temp_directory_path() / ("quillon_clone_" + std::to_string(::getpid()));
  test_support::WriteExecutiveFiles(dir);
  app->session().set_executive_dir(dir.string());
  chip.SetProgram(0x7FFE, 0x00ABCD);
  chip.SetEeprom(0x7FFFFE, 0x4321);
  chip.SetConfig(1, 0x803F);
  ASSERT_EQ(app->Read(dir.string()), icsp::Outcome::kOk);
  for (bool enhanced : {false, true}) {
    view.marks[report::Option::kEnhancedIcsp] = enhanced;
    view.statuses.clear();
    EXPECT_EQ(app->WriteFile((dir / "$Quill$.hex").string()), icsp::Outcome::kOk);
    EXPECT_EQ(std::count(view.statuses.begin(), view.statuses.end(),
                         "The file's executive memory data are left unwritten."),
              1);
    EXPECT_EQ(chip.Program(0x7FFE), 0x00ABCDu);
    EXPECT_EQ(chip.Eeprom(0x7FFFFE), 0x4321);
    EXPECT_EQ(chip.Config(1), 0x803F);
  }
  fs::remove_all(dir);
}

// --- the window's checks around an operation ---

// Copies kept in memory, listed for any DeviceID and port.
class MemoryKeptWords : public icsp::KeptWordsStore {
 public:
  std::string Save(icsp::KeptWords words, std::string&) override {
    files["saved"] = icsp::FormatKeptWords(words);
    return "saved";
  }
  std::vector<std::string> List(std::uint16_t, const std::string&) override { return listed; }
  std::optional<std::string> Load(const std::string& name) override {
    const auto it = files.find(name);
    return it == files.end() ? std::nullopt : std::optional<std::string>(it->second);
  }
  std::map<std::string, std::string> files;
  std::vector<std::string> listed;
};

class WindowChecksTest : public SimAppTest {
 protected:
  explicit WindowChecksTest(const char* board = "sim:dsPIC30F4013") : SimAppTest(board) {
    app->set_part_checks(true);
    EXPECT_TRUE(app->ChooseDevice("dsPIC30F4013"));
    view.marks[report::Option::kEnhancedIcsp] = false;
    app->session().set_kept_words_store(&store);
    file = (fs::temp_directory_path() / ("quillon_checks_" + std::to_string(::getpid()) + ".hex"))
               .string();
    std::ofstream(file) << ":040000005634120060\n:00000001FF\n";
  }
  ~WindowChecksTest() override { fs::remove(file); }

  MemoryKeptWords store;
  std::string file;
};

class WrongPartTest : public WindowChecksTest {
 protected:
  WrongPartTest() : WindowChecksTest("sim:dsPIC30F4011") {}
};

// Erase, Check, Write and Read on another part than the selected one stop
// after the DeviceID: the part keeps its words and the bar does not stand full.
TEST_F(WrongPartTest, EveryOperationIsRefusedNamingBothParts) {
  sim::Target& chip = sim->target();
  chip.SetProgram(0x0100, 0x123456);
  const fs::path out =
      fs::temp_directory_path() / ("quillon_refused_" + std::to_string(::getpid()));
  fs::create_directories(out);
  for (auto run : std::initializer_list<std::function<icsp::Outcome()>>{
           [&] { return app->Erase(); }, [&] { return app->Check(); },
           [&] { return app->WriteFile(file); }, [&] { return app->Read(out.string()); }}) {
    view.SetProgress(100);
    EXPECT_EQ(run(), icsp::Outcome::kProblem);
    EXPECT_TRUE(view.last_status().starts_with(
        "Error : the part in the socket is dsPIC30F4011 (DeviceID 0101), not the selected "
        "dsPIC30F4013 (DeviceID 0141). Nothing was done."))
        << view.last_status();
    EXPECT_EQ(chip.Program(0x0100), 0x123456u);
    EXPECT_EQ(view.progress, 0);
    EXPECT_EQ(app->session().device().device.name, "dsPIC30F4013");
  }
  EXPECT_TRUE(fs::is_empty(out));
  fs::remove_all(out);
}

// Blank unit ID words with a copy kept on this port: the write asks before
// it erases. Yes puts the copy back and writes; No writes and leaves the
// note naming the copy.
TEST_F(WindowChecksTest, BlankKeptWordsOfferTheCopyBack) {
  icsp::KeptWords words;
  words.device_id = 0x0141;
  words.device = "dsPIC30F4013";
  words.port = "COM1";
  words.first = 0x8005C0;
  words.instructions.assign(32, 0xFFFFFF);
  words.instructions[0] = 0x00ABCD;
  store.files["copy"] = icsp::FormatKeptWords(words);
  store.listed = {"copy"};
  sim::Target& chip = sim->target();
  for (bool yes : {false, true}) {
    SCOPED_TRACE(yes);
    chip.SetExecutive(0x8005C0, 0xFFFFFF);
    system.answers = {yes};
    EXPECT_EQ(app->WriteFile(file), icsp::Outcome::kOk);
    const auto asked = std::count_if(view.events.begin(), view.events.end(), [](auto& e) {
      return e.starts_with(
          "ask The part's unit ID words are blank. A copy kept from it on this "
          "port: copy");
    });
    EXPECT_EQ(asked, yes ? 2 : 1);
    EXPECT_EQ(chip.Executive(0x8005C0), yes ? 0x00ABCDu : 0xFFFFFFu);
    EXPECT_EQ(chip.Program(0x0000), 0x123456u);
    EXPECT_TRUE(view.last_status().starts_with("Writing Successful!")) << view.last_status();
    EXPECT_EQ(view.last_status().find("restore-row copy") != std::string::npos, !yes);
  }
}

// Exit or the close box while an operation runs: asked once; No goes on,
// Yes stops at the next row, leaves programming mode and then ends the
// process. Without an operation both end at once.
TEST_F(WindowChecksTest, ClosingMidOperationStopsItFirst) {
  EXPECT_TRUE(app->MayClose());
  for (bool yes : {false, true}) {
    SCOPED_TRACE(yes);
    system.answers = {yes};
    bool asked = false;
    view.on_status = [&](std::string_view text) {
      if (asked || !text.starts_with("Writing:")) return;
      asked = true;
      if (yes) {
        app->Exit();
      } else {
        EXPECT_FALSE(app->MayClose());
      }
      EXPECT_FALSE(app->MayClose());  // a second close while the first is pending asks nothing
    };
    const std::size_t mark = view.events.size();
    app->WriteFile(file);
    view.on_status = nullptr;
    const std::vector<std::string> events(view.events.begin() + static_cast<std::ptrdiff_t>(mark),
                                          view.events.end());
    EXPECT_EQ(std::count_if(events.begin(), events.end(),
                            [](auto& e) { return e.starts_with("ask An operation is running."); }),
              yes ? 1 : 2);
    EXPECT_EQ(app->session().stopped(), yes);
    EXPECT_EQ(events.back(), yes ? "exit 0" : "pump");
    if (yes) {
      EXPECT_TRUE(view.last_status().starts_with("Stopped on request before Writing:"));
      EXPECT_EQ(sim->target().mode(), sim::TargetMode::kOff);
    }
  }
}
}  // namespace
}  // namespace quillon::app::testing
