// Whole commands run in-process against the simulated board, with a manual
// clock so error pauses cost nothing.
#include "cli/runner.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "cli/cli_test_support.h"
#include "cli/exit_codes.h"
#include "image/hex_loader.h"
#include "report/status_sink.h"
#include "sim/sim_port.h"

namespace quillon::cli {
namespace {

namespace fs = std::filesystem;

// The programming executives the simulated board accepts.
const std::string kExecDir = QUILLON_SOURCE_DIR "/examples/executive";

class MapSettings : public app::SettingsStore {
 public:
  void Store(std::string_view name, std::string_view value) override {
    values[std::string(name)] = std::string(value);
  }
  std::string Load(std::string_view name) override {
    auto it = values.find(std::string(name));
    return it == values.end() ? "" : it->second;
  }
  std::map<std::string, std::string> values;
};

// Hands the same simulated chip to every run, logs each one-byte command,
// counts opens against closes and lets a test act before each write.
class SharedPort : public link::SerialPort {
 public:
  SharedPort(sim::SimPort& sim, std::vector<std::uint8_t>& commands, int& open_ports,
             std::function<void()>& before_write)
      : sim_(sim), commands_(commands), open_ports_(open_ports), before_write_(before_write) {}
  std::vector<std::string> Open(const std::string& name) override {
    ++open_ports_;
    return sim_.Open(name);
  }
  std::vector<std::string> Close() override {
    --open_ports_;
    return sim_.Close();
  }
  link::Transfer Read(std::uint8_t* data, std::size_t n) override { return sim_.Read(data, n); }
  link::Transfer Write(const std::uint8_t* data, std::size_t n) override {
    if (before_write_) before_write_();
    if (n == 1) commands_.push_back(data[0]);
    return sim_.Write(data, n);
  }

 private:
  sim::SimPort& sim_;
  std::vector<std::uint8_t>& commands_;
  int& open_ports_;
  std::function<void()>& before_write_;
};

// A port that cannot be opened, and says so as the POSIX port does.
class MissingPort : public link::SerialPort {
 public:
  std::vector<std::string> Open(const std::string&) override {
    return {"open Error=2 (No such file or directory)"};
  }
  std::vector<std::string> Close() override { return {"tcflush Error=9 (Bad file descriptor)"}; }
  link::Transfer Read(std::uint8_t*, std::size_t) override {
    return {0, "read Error=9 (Bad file descriptor)"};
  }
  link::Transfer Write(const std::uint8_t*, std::size_t) override {
    return {0, "write Error=9 (Bad file descriptor)"};
  }
};

class RunnerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = cli_test::TempDir("runner");
    UseBoard("sim:dsPIC30F4013");
  }
  void TearDown() override { fs::remove_all(dir); }

  void UseBoard(const std::string& port_name) {
    sim = sim::MakeSimPort(port_name);
    ASSERT_TRUE(sim);
  }

  // Runs a command line (without the program name); returns the exit status.
  int Run(std::vector<std::string> args) {
    args.insert(args.begin(), "quillon");
    out.str("");
    err.str("");
    ParseOutcome parsed = ParseCommandLine(args, out, err);
    if (!parsed.options) return parsed.exit_code;
    Environment env{settings,
                    out,
                    err,
                    clock,
                    [this](const std::string& name) -> std::unique_ptr<link::SerialPort> {
                      ports_made.push_back(name);
                      if (name.starts_with("sim:BOGUS")) return nullptr;
                      if (name.starts_with("/dev/missing")) return std::make_unique<MissingPort>();
                      return std::make_unique<SharedPort>(*sim, commands, open_ports, before_write);
                    },
                    report::kEnglishLangId};
    env.stop_request = &stop;
    return RunCommand(*parsed.options, env);
  }

  fs::path dir;
  MapSettings settings;
  report::ManualClock clock;
  std::unique_ptr<sim::SimPort> sim;
  std::vector<std::uint8_t> commands;
  std::vector<std::string> ports_made;
  std::ostringstream out, err;
  int open_ports = 0;
  std::function<void()> before_write;
  std::atomic<bool> stop{false};
};

TEST_F(RunnerTest, DevicesNeedsNoPort) {
  EXPECT_EQ(Run({"devices", "4013"}), kExitSuccess);
  EXPECT_EQ(out.str(), "dsPIC30F4013       0141  40b    16384  1024  dsPIC30F\n");
  EXPECT_TRUE(ports_made.empty());
}

TEST_F(RunnerTest, ConnectRemembersThePortAndReportsTheFirmware) {
  EXPECT_EQ(Run({"-P", "sim:dsPIC30F4013", "connect"}), kExitSuccess);
  EXPECT_EQ(out.str(), "connected!\nfirmware=1.2\n");
  EXPECT_EQ(settings.values["COM"], "sim:dsPIC30F4013");
  // Without -P the remembered port is used.
  EXPECT_EQ(Run({"connect"}), kExitSuccess);
  EXPECT_EQ(ports_made.back(), "sim:dsPIC30F4013");
}

TEST_F(RunnerTest, UsageErrorsTouchNoPort) {
  EXPECT_EQ(Run({"connect"}), kExitUsage);
  EXPECT_NE(err.str().find("-P PORT"), std::string::npos);
  EXPECT_EQ(Run({"-P", "sim", "-p", "dsPIC99", "erase"}), kExitUsage);
  EXPECT_EQ(Run({"-P", "sim", "--exec-dir", (dir / "none").string(), "check"}), kExitUsage);
  EXPECT_EQ(Run({"-P", "sim", "read", (dir / "none").string()}), kExitUsage);
  EXPECT_TRUE(ports_made.empty());
  EXPECT_TRUE(settings.values.empty());
  EXPECT_EQ(Run({"-P", "sim:BOGUS", "connect"}), kExitUsage);
  EXPECT_TRUE(commands.empty());
}

TEST_F(RunnerTest, BoardThatDoesNotAnswerConnect) {
  sim->board().faults().silent_after = 0;
  EXPECT_EQ(Run({"-P", "sim", "detect"}), kExitLinkFailure);
  EXPECT_EQ(err.str(), "disconnected!\n");
}

TEST_F(RunnerTest, BoardThatFallsSilentAfterConnect) {
  sim->board().faults().silent_after = 1;
  EXPECT_EQ(Run({"-P", "sim", "-p", "dsPIC30F4013", "erase"}), kExitLinkFailure);
  EXPECT_LT(clock.ElapsedMs(), 10000);
}

TEST_F(RunnerTest, DeviceOptionIsRememberedAndDetectionStoresWhatItFound) {
  EXPECT_EQ(Run({"-P", "sim", "-p", "dsPIC30F4011", "connect"}), kExitSuccess);
  EXPECT_EQ(settings.values["CHIP"], "dsPIC30F4011");
  EXPECT_EQ(Run({"detect"}), kExitSuccess);
  EXPECT_NE(out.str().find("Detecting Successful!\ndevice=0141\nname=dsPIC30F4013"),
            std::string::npos);
  EXPECT_EQ(settings.values["CHIP"], "dsPIC30F4013");
}

TEST_F(RunnerTest, WithoutAnyDeviceDetectionRunsFirst) {
  EXPECT_EQ(Run({"-P", "sim", "check"}), kExitSuccess);
  const std::string text = out.str();
  EXPECT_NE(text.find("Detecting Successful!"), std::string::npos);
  EXPECT_GT(text.find("Checking Successful!"), text.find("Detecting Successful!"));
  EXPECT_EQ(settings.values["CHIP"], "dsPIC30F4013");
}

TEST_F(RunnerTest, UnknownDeviceIdStopsBeforeTheOperation) {
  UseBoard("sim:dsPIC30F4013,id=1234");
  EXPECT_EQ(Run({"-P", "sim", "erase"}), kExitProblem);
  EXPECT_NE(err.str().find("Error : unknown device\ndevice=1234"), std::string::npos);
  EXPECT_EQ(out.str().find("Erasing"), std::string::npos);
}

TEST_F(RunnerTest, WriteReadRoundTripAndCheckFindsTheData) {
  const std::string hex = cli_test::WriteSampleHex(dir / "sample.hex");
  ASSERT_EQ(Run({"-P", "sim", "-p", "dsPIC30F4013", "--exec-dir", kExecDir, "write", hex}),
            kExitSuccess)
      << err.str();
  EXPECT_NE(out.str().find("Writing Successful!"), std::string::npos);

  ASSERT_EQ(Run({"--exec-dir", kExecDir, "read", dir.string()}), kExitSuccess) << err.str();
  EXPECT_TRUE(fs::exists(dir / "$Quill$.txt"));
  cli_test::ExpectSameProgram(hex, (dir / "$Quill$.hex").string(), "dsPIC30F4013");

  EXPECT_EQ(Run({"--exec-dir", kExecDir, "check"}), kExitProblem);
  EXPECT_NE(err.str().find("Not blank!"), std::string::npos);
  EXPECT_EQ(Run({"erase"}), kExitSuccess);
  EXPECT_EQ(Run({"--exec-dir", kExecDir, "check"}), kExitSuccess);
}

TEST_F(RunnerTest, WriteOptions) {
  const std::string hex = cli_test::WriteSampleHex(dir / "sample.hex");
  EXPECT_EQ(Run({"-P", "sim", "-p", "dsPIC30F4013", "-v", "--no-erase", "--icsp", "write", hex}),
            kExitSuccess)
      << err.str();
  EXPECT_EQ(out.str().find("Erasing..."), std::string::npos);
  // Plain ICSP: no executive entry, no executive command.
  for (std::uint8_t c : commands) EXPECT_TRUE(c < 0x80 || c > 0x8F) << int(c);

  commands.clear();
  EXPECT_EQ(Run({"-v", "--exec-dir", kExecDir, "write", hex}), kExitSuccess);
  EXPECT_NE(out.str().find("Erasing..."), std::string::npos);
}

TEST_F(RunnerTest, BadFilesNeverReachTheBoard) {
  const std::string missing = (dir / "missing.hex").string();
  EXPECT_EQ(Run({"-P", "sim", "-p", "dsPIC30F4013", "write", missing}), kExitFileRejected);
  EXPECT_TRUE(commands.empty()) << "a missing file is refused before the part is erased";

  // A directory opens like a file on some systems but cannot be read.
  EXPECT_EQ(Run({"-P", "sim", "-p", "dsPIC30F4013", "write", dir.string()}), kExitFileRejected);
  EXPECT_NE(err.str().find("cannot read HEX file"), std::string::npos) << err.str();
  EXPECT_TRUE(commands.empty()) << "a directory is refused before the part is erased";

  // A good record, then a bad checksum: the partial image must not be
  // programmed over what the part holds.
  sim->target().SetProgram(0x000000, 0x123456);
  const fs::path bad = dir / "bad.hex";
  std::ofstream(bad) << cli_test::Record(4, 0, {0, 0})
                     << cli_test::Record(0, 0, {0, 0, 0, 0, 0, 0, 0, 0})
                     << ":10001000FFFFFF00FFFFFF00FFFFFF00FFFFFF0000\n";
  EXPECT_EQ(Run({"-P", "sim", "--no-erase", "--icsp", "write", bad.string()}), kExitFileRejected);
  EXPECT_TRUE(err.str().ends_with("Error : check sum error!\n")) << err.str();
  EXPECT_EQ(out.str().find("Writing Successful!"), std::string::npos);
  EXPECT_EQ(sim->target().Program(0x000000), 0x123456u);
}

TEST_F(RunnerTest, MissingExecutiveFileSkipsTheRead) {
  UseBoard("sim:dsPIC30F4013,noexec");
  sim->target().SetExecutive(sim->target().application_id_address(), 0xFFFFFF);
  EXPECT_EQ(
      Run({"-P", "sim", "-p", "dsPIC30F4013", "--exec-dir", dir.string(), "read", dir.string()}),
      kExitFileRejected);
  EXPECT_FALSE(fs::exists(dir / "$Quill$.hex"));
  EXPECT_EQ(out.str().find("Reading Successful!"), std::string::npos);
}

TEST_F(RunnerTest, QuietAndJapanese) {
  EXPECT_EQ(Run({"-P", "sim", "-p", "dsPIC30F4013", "-q", "--lang", "ja", "erase"}), kExitSuccess);
  EXPECT_EQ(out.str(), "Erasing 成功!\n");
  EXPECT_EQ(err.str(), "");
}

// --- the part must be the one selected; stop requests; ports that fail ---

constexpr auto npos = std::string::npos;

TEST_F(RunnerTest, APartOtherThanTheSelectedOneIsNotTouched) {
  const std::string hex = cli_test::WriteSampleHex(dir / "sample.hex");
  sim->target().SetProgram(0x000100, 0x123456);
  settings.values["CHIP"] = "dsPIC30F4011";  // remembered; a 30F4013 sits in the socket
  const std::vector<std::vector<std::string>> commands = {{"erase"},
                                                          {"check"},
                                                          {"write", hex},
                                                          {"read", dir.string()},
                                                          {"-p", "dsPIC30F3012", "erase"}};
  for (std::vector<std::string> command : commands) {
    const std::string wanted =
        command.size() == 3 ? "dsPIC30F3012 (DeviceID 00C1)" : "dsPIC30F4011 (DeviceID 0101)";
    command.insert(command.begin(), {"-P", "sim", "--exec-dir", kExecDir});
    EXPECT_EQ(Run(command), kExitProblem) << command[4];
    EXPECT_NE(err.str().find("the part that answers is dsPIC30F4013 (DeviceID 0141), not the "
                             "selected " +
                             wanted),
              npos)
        << err.str();
  }
  EXPECT_EQ(sim->target().Program(0x000100), 0x123456u) << "nothing erased or written";
  EXPECT_FALSE(fs::exists(dir / "$Quill$.hex"));

  EXPECT_EQ(Run({"--force", "erase"}), kExitSuccess);
  EXPECT_NE(err.str().find("Going on as told (--force)."), npos) << err.str();
  EXPECT_EQ(sim->target().Program(0x000100), 0xFFFFFFu);
}

TEST_F(RunnerTest, NoTargetIsNotReadAsABlankPart) {
  UseBoard("sim:dsPIC30F4013,notarget");
  EXPECT_EQ(Run({"-P", "sim", "-p", "dsPIC30F4013", "--icsp", "check"}), kExitProblem);
  EXPECT_NE(err.str().find("Error : no target responds (DeviceID FFFF)"), npos) << err.str();
  EXPECT_EQ(out.str().find("Checking Successful!"), npos);
}

// Eight full rows, each instruction a value of its own.
std::string WriteFullRows(const fs::path& path, unsigned row) {
  std::string text = cli_test::Record(4, 0, {0, 0});
  for (unsigned i = 0; i < 8 * row; i += 4) {
    std::vector<int> data;
    for (unsigned k = i; k < i + 4; ++k) {
      data.insert(data.end(), {int(k & 0xFF), 0xA5, int(k >> 8), 0});
    }
    text += cli_test::Record(0, 4 * i, data);
  }
  std::ofstream(path, std::ios::binary) << text + cli_test::Record(1, 0, {});
  return path.string();
}

TEST_F(RunnerTest, AStopRequestEndsTheWriteBetweenWholeRows) {
  const std::vector<std::pair<std::string, bool>> boards = {{"sim:dsPIC30F4013", false},
                                                            {"sim:dsPIC30F4013", true},
                                                            {"sim:dsPIC30F4013,fw=1.0", true},
                                                            {"sim:dsPIC33FJ128GP802", false},
                                                            {"sim:dsPIC33FJ128GP802,fw=1.0", true}};
  for (const auto& [board, plain] : boards) {
    SCOPED_TRACE(board + (plain ? " --icsp" : ""));
    UseBoard(board);
    stop = false;
    const unsigned row = sim->target().row_instructions();
    const std::string hex = WriteFullRows(dir / "rows.hex", row);
    // Ctrl-C once row 2 is in the part.
    before_write = [this, row] {
      if (sim->target().Program(4 * row) != 0xFFFFFF) stop = true;
    };
    std::vector<std::string> args = {
        "-P",         "sim",    "-p",    std::string(sim->target().device().name),
        "--exec-dir", kExecDir, "write", hex};
    if (plain) args.push_back("--icsp");
    EXPECT_EQ(Run(args), kExitStopped) << err.str();
    before_write = nullptr;
    EXPECT_TRUE(err.str().starts_with("Stopped on request before Writing:Prg Adr ")) << err.str();
    EXPECT_EQ(open_ports, 0);
    EXPECT_EQ(sim->target().mode(), sim::TargetMode::kOff) << "programming mode left";
    EXPECT_FALSE(sim->board().protocol_fault()) << sim->board().fault_text();
    // A prefix of whole rows, never part of one.
    unsigned whole = 0;
    for (unsigned r = 0; r < 8; ++r) {
      unsigned same = 0;
      for (unsigned i = r * row; i < (r + 1) * row; ++i) {
        same += sim->target().Program(2 * i) == (0xA500u | (i & 0xFF) | (i >> 8) << 16);
      }
      EXPECT_EQ(same, whole == r && same == row ? row : 0u) << "row " << r;
      whole += whole == r && same == row;
    }
    EXPECT_GE(whole, 3u);
    EXPECT_LT(whole, 8u);
  }
}

TEST_F(RunnerTest, TheExecutiveIsWrittenWholeWhateverTheStopRequest) {
  // Its pages are erased first; the last row brings the factory words back.
  UseBoard("sim:dsPIC33FJ128GP802,noexec");
  const std::uint32_t factory = sim->target().Executive(0x8007F4);
  before_write = [this] { stop = stop || sim->target().Executive(0x800000) != 0xFFFFFF; };
  EXPECT_EQ(Run({"-P", "sim", "-p", "dsPIC33FJ128GP802", "--exec-dir", kExecDir, "check"}),
            kExitStopped);
  EXPECT_TRUE(err.str().starts_with("Stopped on request before Verifying:Exe Adr ")) << err.str();
  EXPECT_EQ(sim->target().Executive(0x8007F4), factory);
  EXPECT_TRUE(sim->target().HasApplicationId());
}

TEST_F(RunnerTest, AStopRequestOutsideARowSaysWhatWasDone) {
  sim->target().SetProgram(0x000100, 0x123456);
  stop = true;
  EXPECT_EQ(Run({"-P", "sim", "-p", "dsPIC30F4013", "erase"}), kExitStopped);
  EXPECT_NE(err.str().find("Stopped on request before erase began: nothing of it was done."), npos);
  EXPECT_EQ(sim->target().Program(0x000100), 0x123456u);
  EXPECT_EQ(Run({"connect"}), kExitStopped);
  EXPECT_NE(err.str().find("Stop requested after connect had completed"), npos);

  // A read stopped part way leaves no file behind.
  stop = false;
  int writes = 0;
  before_write = [&] { stop = stop || ++writes == 200; };
  EXPECT_EQ(Run({"--exec-dir", kExecDir, "read", dir.string()}), kExitStopped);
  EXPECT_NE(err.str().find("Stopped on request before Reading:"), npos) << err.str();
  EXPECT_FALSE(fs::exists(dir / "$Quill$.txt"));
  EXPECT_FALSE(fs::exists(dir / "$Quill$.hex"));
  EXPECT_EQ(open_ports, 0);
}

TEST_F(RunnerTest, APortThatCannotBeOpenedIsNamedOnceAndNotRemembered) {
  settings.values["COM"] = "sim";
  EXPECT_EQ(Run({"-P", "/dev/missing0", "-p", "dsPIC30F4013", "write", kExecDir + "/pe.hex"}),
            kExitLinkFailure);
  EXPECT_EQ(err.str(), "quillon: cannot open /dev/missing0: No such file or directory\n");
  EXPECT_EQ(out.str(), "");
  // Nor is a port whose board does not answer.
  sim->board().faults().silent_after = 0;
  EXPECT_EQ(Run({"-P", "sim:dsPIC30F4013", "connect"}), kExitLinkFailure);
  EXPECT_EQ(settings.values["COM"], "sim");
}

}  // namespace
}  // namespace quillon::cli
