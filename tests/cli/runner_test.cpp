// Whole commands run in-process against the simulated board, with a manual
// clock so error pauses cost nothing.
#include "cli/runner.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>

#include "app/kept_words_directory.h"
#include "cli/cli_test_support.h"
#include "cli/exit_codes.h"
#include "image/hex_loader.h"
#include "image/sha256.h"
#include "report/status_sink.h"
#include "sim/sim_port.h"

namespace quillon::cli {
namespace {

namespace fs = std::filesystem;
using cli_test::kExecDir;
constexpr auto npos = std::string::npos;

// The programming executives the simulated board accepts.

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
// counts openings and lets a test act before each write.
class SharedPort : public link::SerialPort {
 public:
  SharedPort(sim::SimPort& sim, std::vector<std::uint8_t>& commands,
             std::function<void()>& before_write, int& opens)
      : sim_(sim), commands_(commands), before_write_(before_write), opens_(opens) {}
  std::vector<std::string> Open(const std::string& name) override {
    ++opens_;
    return sim_.Open(name);
  }
  std::vector<std::string> Close() override { return sim_.Close(); }
  link::Transfer Read(std::uint8_t* data, std::size_t n) override { return sim_.Read(data, n); }
  link::Transfer Write(const std::uint8_t* data, std::size_t n) override {
    if (before_write_) before_write_();
    if (n == 1) commands_.push_back(data[0]);
    return sim_.Write(data, n);
  }

 private:
  sim::SimPort& sim_;
  std::vector<std::uint8_t>& commands_;
  std::function<void()>& before_write_;
  int& opens_;
};

// One board of several, used by one session only.
class BoardPort : public link::SerialPort {
 public:
  explicit BoardPort(sim::SimPort& sim) : sim_(sim) {}
  std::vector<std::string> Open(const std::string& name) override { return sim_.Open(name); }
  std::vector<std::string> Close() override { return sim_.Close(); }
  link::Transfer Read(std::uint8_t* data, std::size_t n) override { return sim_.Read(data, n); }
  link::Transfer Write(const std::uint8_t* data, std::size_t n) override {
    return sim_.Write(data, n);
  }

 private:
  sim::SimPort& sim_;
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
    opens = 0;
    ParseOutcome parsed = ParseCommandLine(args, out, err);
    if (!parsed.options) return ExitStatus(parsed.result);
    Environment env{
        settings,
        out,
        err,
        clock,
        [this](const std::string& name, std::string&) -> std::unique_ptr<link::SerialPort> {
          // Boards of a run on several ports, each made in its own thread.
          if (boards.contains(name)) return std::make_unique<BoardPort>(*boards.at(name));
          ports_made.push_back(name);
          if (name.starts_with("sim:BOGUS") || name.ends_with(",gone")) return nullptr;
          return std::make_unique<SharedPort>(*sim, commands, before_write, opens);
        },
        report::kEnglishLangId};
    env.stop_request = &stop;
    app::KeptWordsDirectory kept(dir / "rows");
    env.kept_words = &kept;
    env.make_clock = [] { return std::make_unique<report::ManualClock>(); };
    env.config_dir = dir / "cfg";
    return ExitStatus(RunCommand(*parsed.options, env));
  }

  fs::path dir;
  MapSettings settings;
  report::ManualClock clock;
  std::unique_ptr<sim::SimPort> sim;
  std::map<std::string, std::unique_ptr<sim::SimPort>> boards;
  std::vector<std::uint8_t> commands;
  std::vector<std::string> ports_made;
  std::ostringstream out, err;
  std::function<void()> before_write;
  int opens = 0;
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
  EXPECT_EQ(Run({"-P", "", "connect"}), kExitUsage);
  EXPECT_EQ(err.str(), "quillon: -P: the port name is empty\n");
  EXPECT_EQ(Run({"devices", "NOMATCH"}), kExitSuccess);
  EXPECT_EQ(err.str(), "quillon: no part matches \"NOMATCH\" (quillon devices lists them all)\n");
}

TEST_F(RunnerTest, BoardThatDoesNotAnswerConnect) {
  sim->board().faults().silent_after = 0;
  EXPECT_EQ(Run({"-P", "sim", "detect"}), kExitLinkFailure);
  EXPECT_EQ(err.str(), "disconnected!\n");
  EXPECT_TRUE(settings.values.empty()) << "a port whose board does not answer is not remembered";
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
  EXPECT_TRUE(out.str().starts_with("dsPIC30F4013: blank, ")) << out.str();
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
  EXPECT_NE(out.str().find("dsPIC30F4013: wrote "), std::string::npos);
  // Connect, the identity check and the write share one opening of the port.
  EXPECT_EQ(opens, 1);

  ASSERT_EQ(Run({"--exec-dir", kExecDir, "read", dir.string()}), kExitSuccess) << err.str();
  EXPECT_EQ(opens, 1);
  EXPECT_TRUE(fs::exists(dir / "$Quill$.txt"));
  cli_test::ExpectSameProgram(hex, (dir / "$Quill$.hex").string(), "dsPIC30F4013");

  EXPECT_EQ(Run({"--exec-dir", kExecDir, "check"}), kExitProblem);
  EXPECT_NE(err.str().find("not blank at program address 0x000000: read 0x"), std::string::npos)
      << err.str();
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

  // Incremental over the same file: nothing to do, foreign data outside the
  // file's rows kept. A protected part is erased and written in full.
  sim->target().SetProgram(0x7000, 0x00ABCD);
  EXPECT_EQ(Run({"--exec-dir", kExecDir, "write", "--incremental", hex}), kExitSuccess);
  EXPECT_NE(out.str().find("already up to date: "), std::string::npos) << out.str();
  EXPECT_EQ(out.str().find("Erasing..."), std::string::npos);
  EXPECT_EQ(sim->target().Program(0x7000), 0x00ABCDu);
  sim->target().SetConfig(5, 0xFFFD);  // FGS: GCP clear
  EXPECT_EQ(Run({"--exec-dir", kExecDir, "write", "--incremental", hex}), kExitSuccess);
  EXPECT_NE(err.str().find("write-protected"), std::string::npos) << err.str();
  EXPECT_TRUE(out.str().starts_with("dsPIC30F4013: wrote 66 program words, ")) << out.str();
  EXPECT_EQ(sim->target().Program(0x7000), 0xFFFFFFu);
}

TEST_F(RunnerTest, BadFilesNeverReachTheBoard) {
  const std::string missing = (dir / "missing.hex").string();
  EXPECT_EQ(Run({"-P", "sim", "-p", "dsPIC30F4013", "write", missing}), kExitFileRejected);
  EXPECT_TRUE(commands.empty()) << "a missing file is refused before the part is erased";

  // A directory opens like a file on some systems but cannot be read.
  EXPECT_EQ(Run({"-P", "sim", "-p", "dsPIC30F4013", "write", dir.string()}), kExitFileRejected);
  EXPECT_NE(err.str().find("quillon: cannot read HEX file " + dir.string() + ": "), npos)
      << err.str();
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

TEST_F(RunnerTest, VerifyComparesWithoutWritingAndNamesTheFirstDifference) {
  const std::string hex = cli_test::WriteSampleHex(dir / "sample.hex");
  ASSERT_EQ(Run({"-P", "sim", "-p", "dsPIC30F4013", "--icsp", "write", hex}), kExitSuccess);
  EXPECT_EQ(Run({"--icsp", "verify", hex}), kExitSuccess) << err.str();
  EXPECT_TRUE(out.str().starts_with("dsPIC30F4013: verified 66 program words against "))
      << out.str();

  sim->target().SetProgram(0x000102, 0x005A00);  // one bit of the second word cleared
  commands.clear();
  EXPECT_EQ(Run({"--icsp", "verify", hex}), kExitProblem);
  EXPECT_TRUE(err.str().ends_with(
      "  failed\nverification failed at program address 0x000102: read 0x005A00, "
      "expected 0x005A01\n"))
      << err.str();
  EXPECT_EQ(sim->target().Program(0x000102), 0x005A00u) << "verify writes nothing";
  EXPECT_EQ(clock.ElapsedMs(), 0) << "no pause after an error on a console";
}

TEST_F(RunnerTest, ReadIntoNamedFiles) {
  const std::string hex = cli_test::WriteSampleHex(dir / "sample.hex");
  ASSERT_EQ(Run({"-P", "sim", "-p", "dsPIC30F4013", "--icsp", "write", hex}), kExitSuccess);
  const fs::path image = dir / "image.HEX", raw = dir / "image.bin", listing = dir / "list.txt";
  ASSERT_EQ(Run({"--icsp", "read", "-o", image.string(), "--listing", listing.string()}),
            kExitSuccess)
      << err.str();
  cli_test::ExpectSameProgram(hex, image.string(), "dsPIC30F4013");
  EXPECT_TRUE(fs::exists(listing));
  ASSERT_EQ(Run({"--icsp", "read", "-o", raw.string()}), kExitSuccess) << err.str();
  std::ifstream in(raw, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(bytes.size(), 4u * 16384);
  EXPECT_EQ(bytes.substr(0, 8), std::string("\x00\x01\x04\x00\x00\x00\x00\x00", 8));
  EXPECT_EQ(bytes.substr(4 * 0x80, 4), std::string("\x00\x5A\x00\x00", 4));
  EXPECT_FALSE(fs::exists(dir / "$Quill$.hex"));

  // Output that cannot be written is refused before anything is read.
  fs::create_directories(dir / "d.hex");
  const struct {
    std::vector<std::string> args;
    int status;
  } kRefused[] = {
      {{"read", "-o", (dir / "none" / "x.hex").string()}, kExitUsage},
      {{"read", "-o", (dir / "x.srec").string()}, kExitUsage},
      {{"read", "-o", (dir / "d.hex").string()}, kExitUsage},
      {{"read", "-o", raw.string(), "--listing", (dir / "d.hex").string()}, kExitUsage},
      {{"read", "-o", "/proc/x.hex"}, kExitFileRejected},  // a folder even root cannot write
      {{"read", "/proc"}, kExitFileRejected},
  };
  // Under Wine, /proc is reached through the Z: drive and its links loop.
#ifdef _WIN32
  const bool has_proc = false;
#else
  const bool has_proc = fs::is_directory("/proc/self");
#endif
  for (const auto& c : kRefused) {
    if (c.status == kExitFileRejected && !has_proc) continue;
    commands.clear();
    EXPECT_EQ(Run(c.args), c.status) << c.args[2];
    EXPECT_TRUE(commands.empty()) << c.args[2] << ": " << err.str();
  }
  if (has_proc) {
    EXPECT_NE(err.str().find("read: cannot write /proc/$Quill$.txt: "), std::string::npos)
        << err.str();
  }
}

// The settings keep only what the socket confirmed, in a form that holds
// from any directory.
TEST_F(RunnerTest, RememberedSettings) {
  const struct {
    std::vector<std::string> args;
    std::string chip_before;
    int status;
    std::string chip_after;
  } kCases[] = {
      {{"-p", "dsPIC30F4011", "erase"}, "", kExitProblem, ""},
      {{"-p", "dsPIC30F4011", "erase"}, "dsPIC30F4013", kExitProblem, "dsPIC30F4013"},
      {{"-p", "dsPIC30F4011", "connect"}, "", kExitSuccess, "dsPIC30F4011"},
      // The simulated board's part is selected without -p.
      {{"-P", "sim:dsPIC30F4013", "erase"}, "dsPIC33FJ128GP802", kExitSuccess, "dsPIC30F4013"},
  };
  for (const auto& c : kCases) {
    settings.values.clear();
    if (!c.chip_before.empty()) settings.values["CHIP"] = c.chip_before;
    std::vector<std::string> args = c.args;
    if (args[0] != "-P") args.insert(args.begin(), {"-P", "sim"});
    EXPECT_EQ(Run(args), c.status) << args[2] << err.str();
    EXPECT_EQ(settings.values["CHIP"], c.chip_after) << args[2];
  }
  EXPECT_EQ(Run({"-P", "board/tty0", "connect"}), kExitSuccess) << err.str();
#ifdef _WIN32
  // Windows ports are names (COM3), not paths: kept as given.
  EXPECT_EQ(settings.values["COM"], "board/tty0");
#else
  EXPECT_EQ(settings.values["COM"], (fs::current_path() / "board" / "tty0").string());
#endif
}

TEST_F(RunnerTest, JsonObjectAndDryRun) {
  const std::string hex = cli_test::WriteSampleHex(dir / "sample.hex");
  sim->target().SetProgram(0x000000, 0x123456);
  EXPECT_EQ(Run({"-P", "sim", "-n", "--icsp", "write", hex}), kExitSuccess) << err.str();
  EXPECT_TRUE(
      out.str().starts_with("dsPIC30F4013: would erase, then write 66 program words and "
                            "verify; nothing was touched"))
      << out.str();
  EXPECT_EQ(sim->target().Program(0x000000), 0x123456u);
  EXPECT_EQ(Run({"-n", "--json", "erase"}), kExitSuccess);
  EXPECT_EQ(sim->target().Program(0x000000), 0x123456u);
  EXPECT_NE(out.str().find("\"dry_run\":true"), std::string::npos) << out.str();
  ASSERT_EQ(Run({"--json", "--icsp", "read", dir.string()}), kExitSuccess);
  EXPECT_NE(out.str().find("\"sha256\":\"" + *image::FileSha256Hex((dir / "$Quill$.hex").string())),
            std::string::npos)
      << out.str();

  EXPECT_EQ(Run({"--json", "--icsp", "write", hex}), kExitSuccess) << err.str();
  const std::string json = out.str();
  for (const char* field :
       {"{\"operation\":\"write\",\"part\":\"dsPIC30F4013\",\"device_id\":\"0x0141\"",
        "\"result\":\"ok\"", "\"words\":{\"program\":66,\"eeprom\":0,\"configuration\":0}",
        "\"verified\":true", "\"exit_status\":0}\n"}) {
    EXPECT_NE(json.find(field), std::string::npos) << field << " in " << json;
  }
  EXPECT_NE(json.find("\"sha256\":\"" + *image::FileSha256Hex(hex) + "\""), std::string::npos);
  EXPECT_EQ(std::count(json.begin(), json.end(), '\n'), 1) << "nothing else on standard output";
  EXPECT_EQ(Run({"--json", "--icsp", "check"}), kExitProblem);
  EXPECT_NE(out.str().find("\"result\":\"problem\""), std::string::npos) << out.str();
}

// A dry run prints the plan the write then follows: its counts are what the
// simulated chip goes through, plain, incremental and with a serial number.
TEST_F(RunnerTest, DryRunPlanIsWhatTheChipGoesThrough) {
  const std::string hex = cli_test::WriteSampleHex(dir / "sample.hex");
  const std::string state = (dir / "serial.txt").string();
  const std::vector<std::string> kCases[] = {
      {"write", hex},
      {"write", "--incremental", hex},
      {"--serial", "0x4000", "--serial-state", state, "write", hex},
  };
  const auto field = [](const std::string& json, const std::string& name) {
    const std::size_t at = json.find("\"" + name + "\":");
    return at == npos ? -1L : std::stol(json.substr(at + name.size() + 3));
  };
  for (const auto& args : kCases) {
    sim->target().EraseAll();
    std::vector<std::string> dry{"-P", "sim", "--icsp", "--json", "-n"};
    dry.insert(dry.end(), args.begin(), args.end());
    ASSERT_EQ(Run(dry), kExitSuccess) << err.str();
    const std::string plan = out.str().substr(out.str().find("\"plan\":"));
    const sim::Target::Tally before = sim->target().tally();
    std::vector<std::string> real(dry.begin(), dry.end() - static_cast<long>(args.size()) - 1);
    real.insert(real.end(), args.begin(), args.end());
    ASSERT_EQ(Run(real), kExitSuccess) << err.str();
    const sim::Target::Tally& after = sim->target().tally();
    const std::string what = args.front() + " " + args.back();
    EXPECT_EQ(after.program_writes - before.program_writes, field(plan, "program_rows")) << what;
    EXPECT_EQ(after.eeprom_writes - before.eeprom_writes, field(plan, "eeprom_writes")) << what;
    EXPECT_EQ(after.config_writes - before.config_writes,
              field(plan, "configuration_words") + field(plan, "configuration_blanked"))
        << what;
    const long units = field(plan, "units_compared");
    // A blank chip differs in every unit the file touches.
    if (units >= 0) {
      EXPECT_EQ(after.erases - before.erases, units) << what;
    } else {
      EXPECT_GT(after.erases, before.erases) << what;
    }
  }
  // The serial number's row is in the plan: one more row than without it.
  EXPECT_EQ(sim->target().Program(0x4000), 1u);
}

// Every run gives one JSON object on standard output, also one refused
// before any operation; part and DeviceID only as read from the chip.
TEST_F(RunnerTest, JsonForEveryRun) {
  const std::string hex = cli_test::WriteSampleHex(dir / "sample.hex");
  settings.values["CHIP"] = "dsPIC30F4013";
  const struct {
    std::vector<std::string> args;
    int status;
    std::string expected;  // a part of the object
  } kCases[] = {
      {{"--json", "bogus"}, kExitUsage, "{\"operation\":null,\"part\":null"},
      {{"--json", "write"}, kExitUsage, "{\"operation\":\"write\""},
      {{"--json", "connect"}, kExitUsage, "\"result\":\"usage error\""},
      {{"--json", "-P", "sim", "-p", "dsPIC99", "check"}, kExitUsage, "\"operation\":\"check\""},
      {{"--json", "-P", "sim", "write", (dir / "none.hex").string()},
       kExitFileRejected,
       "\"result\":\"file rejected\""},
      {{"--json", "-P", "sim:BOGUS", "connect"}, kExitUsage, "\"operation\":\"connect\""},
      {{"--json", "-P", "sim", "connect"}, kExitSuccess, "\"part\":null,\"device_id\":null"},
      {{"--json", "-P", "sim", "--icsp", "verify", hex},
       kExitProblem,
       "\"part\":\"dsPIC30F4013\",\"device_id\":\"0x0141\""},
      {{"--json", "-P", "sim", "--icsp", "write", "--incremental", hex},
       kExitSuccess,
       "\"words\":{\"program\":66,\"eeprom\":0,\"configuration\":0},\"unit\":\"row\","
       "\"units_compared\":3,\"units_written\":3"},
      {{"--json", "devices", "30F401"}, kExitSuccess, "[{\"name\":\"dsPIC30F4011\""},
      {{"--json", "devices", "NOMATCH"}, kExitSuccess, "[]"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(Run(c.args), c.status) << c.args.back() << err.str();
    const std::string json = out.str();
    EXPECT_NE(json.find(c.expected), npos) << json;
    EXPECT_TRUE(json.ends_with("}\n") || json.ends_with("]\n")) << json;
    EXPECT_EQ(std::count(json.begin(), json.end(), '\n'), 1) << json;
  }
}

// An incremental write reads like a write: phases, one summary line, the
// engine's texts only with -v; a dry run says what it would compare.
TEST_F(RunnerTest, IncrementalWriteSummaries) {
  const std::string hex = cli_test::WriteSampleHex(dir / "sample.hex");
  const struct {
    std::vector<std::string> args;
    std::string summary;
  } kCases[] = {
      {{"-n", "write", "--incremental", hex},
       "dsPIC30F4013: would compare 3 rows with the file's 66 program words and write those that "
       "differ, then verify; nothing was touched, "},
      {{"write", "--incremental", hex}, "dsPIC30F4013: wrote 3 of 3 rows compared, verified, "},
      {{"write", "--incremental", hex},
       "dsPIC30F4013: already up to date: 3 rows compared, none written, "},
  };
  for (const auto& c : kCases) {
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), {"-P", "sim", "-p", "dsPIC30F4013", "--icsp"});
    EXPECT_EQ(Run(args), kExitSuccess) << err.str();
    const std::string text = out.str();
    EXPECT_TRUE(text.starts_with(c.summary)) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
  }
  EXPECT_NE(err.str().find("Comparing | "), npos) << err.str();
  EXPECT_EQ(Run({"-v", "--icsp", "write", "--incremental", hex}), kExitSuccess);
  EXPECT_NE(out.str().find("already up to date: 3 rows compared, none written\nTime="), npos)
      << out.str();
}

TEST_F(RunnerTest, QuietAndJapanese) {
  EXPECT_EQ(Run({"-P", "sim", "-p", "dsPIC30F4013", "-q", "--lang", "ja", "erase"}), kExitSuccess);
  EXPECT_TRUE(out.str().starts_with("dsPIC30F4013: 消去完了, ")) << out.str();
  EXPECT_TRUE(out.str().ends_with(" 秒\n")) << out.str();
  EXPECT_EQ(err.str(), "");
}

// --- the part in the socket; stop requests; ports that fail ---

TEST_F(RunnerTest, OnlyTheSelectedPartIsTouched) {
  sim->target().SetProgram(0x000100, 0x123456);
  settings.values["CHIP"] = "dsPIC30F4011";  // remembered; a 30F4013 sits in the socket
  const std::string hex = cli_test::WriteSampleHex(dir / "sample.hex");
  for (std::vector<std::string> command :
       std::vector<std::vector<std::string>>{{"erase"},
                                             {"check"},
                                             {"write", hex},
                                             {"read", dir.string()},
                                             {"-p", "dsPIC30F3012", "erase"}}) {
    command.insert(command.begin(), {"-P", "sim", "--exec-dir", kExecDir});
    EXPECT_EQ(Run(command), kExitProblem) << command[4];
    EXPECT_NE(err.str().find("answers is dsPIC30F4013 (DeviceID 0141), not the selected"), npos);
  }
  EXPECT_NE(err.str().find("selected dsPIC30F3012 (DeviceID 00C1)."), npos) << err.str();
  EXPECT_EQ(sim->target().Program(0x000100), 0x123456u) << "nothing erased or written";
  EXPECT_FALSE(fs::exists(dir / "$Quill$.hex"));
  EXPECT_EQ(Run({"--force", "erase"}), kExitSuccess);
  EXPECT_NE(err.str().find("Going on as told (--force)."), npos) << err.str();
  EXPECT_EQ(sim->target().Program(0x000100), 0xFFFFFFu);
  // An empty socket reads all ones: not a blank part.
  UseBoard("sim:dsPIC30F4013,notarget");
  EXPECT_EQ(Run({"--icsp", "check"}), kExitProblem);
  EXPECT_NE(err.str().find("Error : no target responds (DeviceID FFFF)"), npos) << err.str();
}

// The unit ID words an erase takes are kept in a file first and written back;
// when they are found blank, the kept file is offered and restore-row puts
// it back on that part only.
TEST_F(RunnerTest, EraseKeepsTheUnitIdWordsAndRestoreRowPutsThemBack) {
  auto unit_ids = [this] {
    std::vector<std::uint32_t> words;
    for (std::uint32_t a = 0x8005C0; a < 0x800600; a += 2)
      words.push_back(sim->target().Executive(a));
    return words;
  };
  for (std::uint32_t a = 0x8005C0; a < 0x800600; a += 2) sim->target().SetExecutive(a, a & 0xFFFF);
  const std::vector<std::uint32_t> ids = unit_ids();
  ASSERT_EQ(Run({"-P", "sim", "-p", "dsPIC30F4013", "erase"}), kExitSuccess) << err.str();
  EXPECT_EQ(unit_ids(), ids);
  std::vector<fs::path> kept(fs::directory_iterator(dir / "rows"), {});
  ASSERT_EQ(kept.size(), 1u);
  const std::string file = kept[0].string();
  EXPECT_TRUE(kept[0].filename().string().starts_with("DeviceID-0141-"));

  for (std::uint32_t a = 0x8005C0; a < 0x800600; a += 2) sim->target().SetExecutive(a, 0xFFFFFF);
  ASSERT_EQ(Run({"erase"}), kExitSuccess);
  EXPECT_NE(err.str().find(" restore-row " + file), npos) << err.str();
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "rows"), {}), 1) << "good copy kept newest";

  EXPECT_EQ(Run({"restore-row", (dir / "none").string()}), kExitFileRejected);
  EXPECT_EQ(Run({"restore-row", file}), kExitSuccess) << err.str();
  EXPECT_EQ(unit_ids(), ids);
  UseBoard("sim:dsPIC30F4011");
  EXPECT_EQ(Run({"-p", "dsPIC30F4011", "restore-row", file}), kExitProblem);
  EXPECT_NE(err.str().find("has DeviceID 0101. Nothing was written."), npos) << err.str();
}

TEST_F(RunnerTest, AStopRequestEndsTheWriteBetweenWholeRows) {
  for (const std::string board :
       {"sim:dsPIC30F4013", "sim:dsPIC30F4013,--icsp", "sim:dsPIC30F4013,fw=1.0,--icsp",
        "sim:dsPIC33FJ128GP802", "sim:dsPIC33FJ128GP802,fw=1.0,--icsp"}) {
    SCOPED_TRACE(board);
    const bool plain = board.ends_with(",--icsp");
    UseBoard(plain ? board.substr(0, board.size() - 7) : board);
    const unsigned row = sim->target().row_instructions();
    const std::string hex = cli_test::WriteFilledHex(dir / "rows.hex", 8 * row);
    stop = false;
    before_write = [this, row] { stop = stop || sim->target().Program(4 * row) != 0xFFFFFF; };
    EXPECT_EQ(Run({"-P", "sim", "-p", std::string(sim->target().device().name), "--exec-dir",
                   kExecDir, plain ? "--icsp" : "-v", "write", hex}),
              kExitStopped);
    before_write = nullptr;
    EXPECT_NE(err.str().find("Stopped on request before Writing:Prg Adr "), npos) << err.str();
    EXPECT_EQ(sim->target().mode(), sim::TargetMode::kOff) << "programming mode left";
    EXPECT_FALSE(sim->board().protocol_fault()) << sim->board().fault_text();
    const int whole = cli_test::WholeRowsFromStart(
        [this](unsigned i) { return sim->target().Program(2 * i); }, 8, row);
    EXPECT_TRUE(whole >= 3 && whole < 8) << whole;  // row 2 was in when Ctrl-C came
  }
}

TEST_F(RunnerTest, AStopRequestSaysWhatWasDone) {
  sim->target().SetProgram(0x000100, 0x123456);
  stop = true;
  EXPECT_EQ(Run({"-P", "sim", "-p", "dsPIC30F4013", "erase"}), kExitStopped);
  EXPECT_NE(err.str().find("Stopped on request before erase began: nothing of it was done."), npos);
  EXPECT_EQ(sim->target().Program(0x000100), 0x123456u);
  EXPECT_EQ(Run({"connect"}), kExitStopped);
  EXPECT_NE(err.str().find("Stop requested after connect had completed"), npos);
  // A read stopped part way leaves no file behind.
  int writes = 0;
  stop = false;
  before_write = [&] { stop = stop || ++writes == 200; };
  EXPECT_EQ(Run({"--exec-dir", kExecDir, "read", dir.string()}), kExitStopped);
  EXPECT_NE(err.str().find("Stopped on request before Reading:"), npos) << err.str();
  EXPECT_FALSE(fs::exists(dir / "$Quill$.txt") || fs::exists(dir / "$Quill$.hex"));
  // The executive is written whole: its pages are erased first, and on
  // dsPIC33F the last row brings the factory words back.
  UseBoard("sim:dsPIC33FJ128GP802,noexec");
  const std::uint32_t factory = sim->target().Executive(0x8007F4);
  stop = false;
  before_write = [this] { stop = stop || sim->target().Executive(0x800000) != 0xFFFFFF; };
  EXPECT_EQ(Run({"-p", "dsPIC33FJ128GP802", "--exec-dir", kExecDir, "read", dir.string()}),
            kExitStopped);
  EXPECT_NE(err.str().find("Stopped on request before Verifying:Exe Adr "), npos) << err.str();
  EXPECT_EQ(sim->target().Executive(0x8007F4), factory);
  EXPECT_TRUE(sim->target().HasApplicationId());
}

// --- several boards side by side; serial numbers; the production log ---

TEST_F(RunnerTest, SeveralBoardsSerialNumbersAndTheLog) {
  const std::string hex = cli_test::WriteSampleHex(dir / "sample.hex");  // 0x100, 0x1000
  const std::string log = (dir / "line.jsonl").string();
  const std::vector<std::string> names{"sim:dsPIC30F4013,a", "sim:dsPIC30F4013,b",
                                       "sim:dsPIC30F4011,c"};
  for (const std::string& name : names) boards[name] = sim::MakeSimPort(name.substr(0, 16));
  boards[names[1]]->board().faults().silent_after = 40;  // falls silent in the erase
  auto gang = [&](std::vector<std::string> args, std::size_t ports = 3) {
    for (std::size_t i = ports; i-- > 0;) args.insert(args.begin(), {"-P", names[i]});
    return Run(args);
  };
  const std::vector<std::string> write{"-p",       "dsPIC30F4013",  "--exec-dir", kExecDir, "write",
                                       "--serial", "0x2000:0x10:2", "--log",      log,      hex};
  // The silent board is the most severe; the wrong part is refused; the
  // good board is programmed with its serial number and verified.
  ASSERT_EQ(gang(write), kExitLinkFailure) << err.str();
  // The boards take their numbers in the order they come to it.
  const std::uint32_t used = boards[names[0]]->target().Program(0x2000);
  ASSERT_TRUE(used == 16 || used == 18) << used;
  const std::string spoiled = std::to_string(34 - used);
  const std::string table = out.str();
  for (const std::string& row :
       {std::string("PORT                PART          SERIAL        RESULT        SECONDS\n"),
        "sim:dsPIC30F4013,a  dsPIC30F4013  " + std::to_string(used) + "            ok      ",
        "sim:dsPIC30F4013,b  dsPIC30F4013  " + spoiled + " (spoiled)  link failure  ",
        std::string("sim:dsPIC30F4011,c  dsPIC30F4011  -             problem       ")}) {
    EXPECT_NE(table.find(row), npos) << row << " in\n" << table;
  }
  EXPECT_NE(err.str().find("sim:dsPIC30F4011,c: Error : the part that answers is dsPIC30F4011"),
            npos)
      << err.str();
  EXPECT_EQ(boards[names[0]]->target().Program(0x1000), 0x005A00u) << "the file as well";
  EXPECT_EQ(boards[names[2]]->target().Program(0x2000), 0xFFFFFFu);
  EXPECT_TRUE(settings.values["COM"].empty()) << "a list of ports is not remembered";

  // Numbers go on from the state, one run after another; --json: an object
  // per port.
  boards.erase(names[1]);
  boards.erase(names[2]);
  ASSERT_EQ(Run({"-P", names[0], "--json", "write", "--serial", "0x2000", "--log", log, hex}),
            kExitSuccess)
      << err.str();
  EXPECT_NE(out.str().find("\"serial\":20,"), npos) << out.str();
  EXPECT_EQ(boards[names[0]]->target().Program(0x2000), 0x000014u);
  boards[names[1]] = sim::MakeSimPort("sim:dsPIC30F4013");
  ASSERT_EQ(gang({"--json", "write", "--serial", "0x2000:1:2", hex}, 2), kExitSuccess);
  const std::string json = out.str();
  EXPECT_NE(json.find("\"port\":\"sim:dsPIC30F4013,a\""), npos) << json;
  EXPECT_EQ(std::count(json.begin(), json.end(), '\n'), 2) << json;
  std::set<std::uint32_t> serials;
  for (const auto& [name, board] : boards) serials.insert(board->target().Program(0x2000));
  EXPECT_EQ(serials, (std::set<std::uint32_t>{21, 23}));
  for (int twice = 0; twice < 2; ++twice) {  // a dry run takes no number
    ASSERT_EQ(Run({"-P", names[0], "-n", "write", "--serial", "0x2000", hex}), kExitSuccess);
    EXPECT_NE(out.str().find("next serial number 25, "), npos) << out.str();
  }

  // Every part has its line in the log, the spoiled number among them.
  std::ifstream in(log);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 4u);
  for (const std::string& line : lines) {
    EXPECT_TRUE(line.starts_with("{\"time\":\"") && line.ends_with("}")) << line;
  }
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [&](const std::string& l) {
                            return l.find("\"serial\":" + spoiled +
                                          ",\"serial_status\":\"spoiled\"") != npos;
                          }),
            1)
      << lines[0] << lines[1] << lines[2];

  // An address the file uses, or outside the part, takes no number; read
  // writes files that several boards would share.
  const std::string state = (dir / "cfg" / "serial-001000.txt").string();
  EXPECT_EQ(Run({"-P", names[0], "write", "--serial", "0x1000", hex}), kExitUsage);
  EXPECT_NE(err.str().find("the file already holds data at 0x001000"), npos) << err.str();
  EXPECT_EQ(Run({"-P", names[0], "write", "--serial", "0x8000", hex}), kExitUsage);
  EXPECT_NE(err.str().find("outside the part's program memory"), npos) << err.str();
  EXPECT_FALSE(fs::exists(state));
  EXPECT_EQ(Run({"-P", names[0], "write", "--serial", "0x1000", "--log", dir.string(), hex}),
            kExitFileRejected)
      << "a log that cannot be written, found before any part is touched";
  EXPECT_FALSE(fs::exists(state));
  EXPECT_EQ(gang({"read", dir.string()}), kExitUsage);
  EXPECT_EQ(gang({"restore-row", hex}), kExitUsage);  // a kept copy belongs to one part
  // A board whose port cannot be had still names the file in its record.
  EXPECT_EQ(Run({"-P", names[0], "-P", "sim:dsPIC30F4013,gone", "--json", "verify", hex}),
            kExitLinkFailure);
  EXPECT_NE(out.str().find("\"port\":\"sim:dsPIC30F4013,gone\",\"file\":\""), npos) << out.str();
  ports_made.clear();

  // Without a part given or remembered each board's own is detected (and
  // no board's detection becomes its neighbours' selection); a stop
  // request reaches every board.
  settings.values.erase("CHIP");
  boards[names[2]] = sim::MakeSimPort("sim:dsPIC30F4011");
  EXPECT_EQ(gang({"erase"}), kExitSuccess) << err.str();
  EXPECT_NE(out.str().find("sim:dsPIC30F4011,c  dsPIC30F4011  -       ok"), npos) << out.str();
  settings.values.erase("CHIP");
  stop = true;
  EXPECT_EQ(gang({"erase"}), kExitStopped);
  const std::string stopped = out.str();
  int rows = 0;
  for (std::size_t at = 0; (at = stopped.find("  stopped  ", at)) != npos; ++at) ++rows;
  EXPECT_EQ(rows, 3) << stopped;
  EXPECT_EQ(Run({"-P", names[0], "-P", names[0], "erase"}), kExitUsage);
#ifndef _WIN32  // links to devices are a POSIX matter
  fs::create_symlink("/dev/null", dir / "by-id");
  EXPECT_EQ(Run({"-P", (dir / "by-id").string(), "-P", "/dev/null", "erase"}), kExitUsage);
  EXPECT_NE(err.str().find("are the same port"), npos) << err.str();
#endif
  EXPECT_TRUE(ports_made.empty());
}

}  // namespace
}  // namespace quillon::cli
