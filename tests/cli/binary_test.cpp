// End-to-end runs of the built `quillon` tool in a scratch home directory.
#ifndef _WIN32

#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_test_support.h"
#include "devices/catalogue.h"

namespace quillon::cli {
namespace {

namespace fs = std::filesystem;
using cli_test::kExecDir;

std::string Quote(const std::string& arg) {
  std::string quoted = "'";
  for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class BinaryTest : public ::testing::Test {
 protected:
  void SetUp() override { home = cli_test::TempDir("bin"); }
  void TearDown() override { fs::remove_all(home); }

  // The shell command that runs the tool in `home` with its own settings.
  std::string Command(const std::vector<std::string>& args, bool err_to_file = true) const {
    std::string command = "cd " + Quote(home.string()) + " && exec env -u LC_ALL -u LC_MESSAGES " +
                          "LANG=C HOME=" + Quote(home.string()) +
                          " XDG_CONFIG_HOME=" + Quote((home / "cfg").string()) + " " +
                          Quote(QUILLON_CLI_BINARY);
    for (const std::string& a : args) command.append(" ").append(Quote(a));
    return command + " >" + Quote((home / "out.txt").string()) +
           (err_to_file ? " 2>" + Quote((home / "err.txt").string()) : "") + " </dev/null";
  }
  int Finished(int status) {
    out = Slurp(home / "out.txt");
    err = Slurp(home / "err.txt");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // Runs the tool; returns the exit status.
  int Run(const std::vector<std::string>& args) {
    return Finished(std::system(Command(args).c_str()));
  }
  // The same with standard error on a pseudo-terminal, as in a shell.
  int RunOnTerminal(const std::vector<std::string>& args) {
    int master = -1;
    const pid_t child = ::forkpty(&master, nullptr, nullptr, nullptr);
    if (child == 0) {
      ::execl("/bin/sh", "sh", "-c", Command(args, false).c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    err.clear();
    char buffer[4096];
    for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;) err.append(buffer, n);
    ::close(master);
    int status = 0;
    ::waitpid(child, &status, 0);
    out = Slurp(home / "out.txt");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  static int Lines(const std::string& text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
  }

  fs::path home;
  std::string out, err;
};

TEST_F(BinaryTest, DevicesListsTheCatalogue) {
  EXPECT_EQ(Run({"devices"}), 0);
  EXPECT_EQ(Lines(out), 207);
  EXPECT_EQ(Run({"devices", "30F40"}), 0);
  int expected = 0;
  for (const auto& row : devices::Catalogue())
    expected += row.name.find("30F40") != std::string::npos;
  EXPECT_EQ(Lines(out), expected);
  EXPECT_NE(out.find("dsPIC30F4013       0141  40b"), std::string::npos);
}

TEST_F(BinaryTest, ExitStatusesOfTheCommandLineAndThePort) {
  EXPECT_EQ(Run({"--frobnicate"}), 2);
  EXPECT_EQ(Run({"connect"}), 2) << "no port given and none stored";
  EXPECT_NE(err.find("-P PORT"), std::string::npos);
  // A port that cannot be opened: named once, and not remembered.
  const std::string missing = (home / "no-such-tty").string();
  EXPECT_EQ(Run({"-P", missing, "connect"}), 3);
  EXPECT_EQ(err, "quillon: cannot open " + missing + ": No such file or directory\n");
  EXPECT_FALSE(fs::exists(home / "cfg" / "quillon" / "settings"));
  EXPECT_EQ(Run({"--help"}), 0);
  EXPECT_NE(out.find("Exit status:"), std::string::npos);
}

TEST_F(BinaryTest, APortThatIsNotATerminalIsRefusedAndLeftUntouched) {
  // A mistyped -P naming an ordinary file must not have command bytes
  // written into it (as root that could be any file on the system).
  const fs::path file = home / "notes.txt";
  std::ofstream(file) << "root:x:0:0\n";
  EXPECT_EQ(Run({"-P", file.string(), "connect"}), 2);
  EXPECT_EQ(Slurp(file), "root:x:0:0\n");
  EXPECT_NE(err.find("not a serial port"), std::string::npos) << err;
  EXPECT_EQ(out.find("connected!"), std::string::npos);
  EXPECT_EQ(Run({"-P", home.string(), "connect"}), 2);
  EXPECT_FALSE(fs::exists(home / "cfg" / "quillon" / "settings")) << "nothing remembered";
}

TEST_F(BinaryTest, ConnectToTheSimulatedBoardAndRememberIt) {
  EXPECT_EQ(Run({"-P", "sim:dsPIC30F4013", "connect"}), 0);
  EXPECT_EQ(out, "connected!\nfirmware=1.2\n");
  // The simulated board names its part: it is selected as -p would.
  EXPECT_EQ(Slurp(home / "cfg" / "quillon" / "settings"),
            "CHIP=dsPIC30F4013\nCOM=sim:dsPIC30F4013\n");
  EXPECT_EQ(Run({"-q", "detect"}), 0);
  EXPECT_TRUE(out.starts_with("Detecting Successful!\ndevice=0141\nname=dsPIC30F4013\n")) << out;
}

TEST_F(BinaryTest, OperationsAgainstTheSimulatedBoard) {
  const std::string hex = cli_test::WriteSampleHex(home / "sample.hex");
  EXPECT_EQ(Run({"-P", "sim:dsPIC33FJ128GP802", "--exec-dir", kExecDir, "check"}), 0) << err;
  EXPECT_TRUE(out.starts_with("dsPIC33FJ128GP802: blank, ")) << out;
  EXPECT_EQ(Run({"--exec-dir", kExecDir, "write", hex}), 0) << err;
  EXPECT_TRUE(out.starts_with("dsPIC33FJ128GP802: wrote 66 program words, verified, ")) << out;

  fs::create_directory(home / "dump");
  EXPECT_EQ(Run({"--exec-dir", kExecDir, "read", (home / "dump").string()}), 0) << err;
  EXPECT_TRUE(fs::exists(home / "dump" / "$Quill$.txt"));
  // Each run has a fresh simulated chip: the read-back is blank.
  cli_test::ExpectBlankProgram((home / "dump" / "$Quill$.hex").string(), "dsPIC33FJ128GP802");
}

TEST_F(BinaryTest, SimulatedChipKeptInAStateFilePartNamesInAnyCase) {
  const std::string hex = cli_test::WriteSampleHex(home / "sample.hex");
  const std::string board = "sim:DSPIC30F4013,state=" + (home / "chip.state").string();
  ASSERT_EQ(Run({"-P", board, "--exec-dir", kExecDir, "write", hex}), 0) << err;
  fs::create_directory(home / "dump");
  ASSERT_EQ(Run({"-p", "dspic30f4013", "read", (home / "dump").string()}), 0) << err;
  cli_test::ExpectSameProgram(hex, (home / "dump" / "$Quill$.hex").string(), "dsPIC30F4013");
  const std::string settings = Slurp(home / "cfg" / "quillon" / "settings");
  EXPECT_NE(settings.find("COM=sim:dsPIC30F4013,state="), std::string::npos) << settings;
  // Remembered for the simulated board only: a real part never gets the stand-in executive.
  EXPECT_TRUE(settings.starts_with("SIM_EXEC_DIR=" + kExecDir + "\n")) << settings;
  EXPECT_EQ(settings.find("\nEXEC_DIR="), std::string::npos) << settings;

  EXPECT_EQ(Run({"-P", "sim:NOSUCH", "connect"}), 2);
  EXPECT_NE(err.find("unknown part \"NOSUCH\""), std::string::npos) << err;
  std::ofstream(home / "other.state") << "quillon-sim state 1\ndevice PIC24FJ64GA002\n";
  EXPECT_EQ(Run({"-P", "sim:dsPIC30F4013,state=" + (home / "other.state").string(), "connect"}), 2);
  EXPECT_NE(err.find("another device"), std::string::npos) << err;
  // A state file named relative to where the tool ran is remembered as that file.
  ASSERT_EQ(Run({"-P", "sim:dsPIC30F4013,state=./rel.state", "connect"}), 0) << err;
  EXPECT_NE(Slurp(home / "cfg" / "quillon" / "settings")
                .find("state=" + (home / "rel.state").string() + "\n"),
            std::string::npos);
}

TEST_F(BinaryTest, RejectedHexFileGivesFour) {
  std::ofstream(home / "bad.hex") << "this is not a HEX file\n";
  EXPECT_EQ(Run({"-P", "sim", "--exec-dir", kExecDir, "write", (home / "bad.hex").string()}), 4);
  EXPECT_NE(err.find("Error : not HEX file!"), std::string::npos);
  EXPECT_EQ(Run({"-P", "sim", "write", (home / "missing.hex").string()}), 4);
}

// What needs no board: the built tool's own answers and exit statuses.
TEST_F(BinaryTest, VersionPortsSuggestionAndHelpPerCommand) {
  const struct {
    std::vector<std::string> args;
    int status;
    const char* shown;   // in standard output, or standard error on a usage error
    const char* absent;  // an option another command has
  } rows[] = {{{"--version"}, 0, "quillon 1.", nullptr},
              {{"ports"}, 0, "", nullptr},
              {{"-P", "sim", "dectect"}, 2, "did you mean \"detect\"?", nullptr},
              {{"read", "--help"}, 0, "--listing", "--no-verify"},
              {{"verify", "--help"}, 0, "--exec-dir", "--dry-run"},
              {{"devices", "--help"}, 0, "--json", "--port"}};
  for (const auto& row : rows) {
    EXPECT_EQ(Run(row.args), row.status) << testing::PrintToString(row.args) << err;
    const std::string& shown = row.status == 0 ? out : err;
    EXPECT_NE(shown.find(row.shown), std::string::npos) << shown;
    if (row.absent) {
      EXPECT_EQ(out.find(row.absent), std::string::npos) << out;
    }
  }
}

#ifdef QUILLON_SIM_BINARY
// The whole road through the real serial-port code: a simulated board served
// on a pseudo-terminal keeps the chip between runs, so what one run writes
// the next one reads back.
class PtyTest : public BinaryTest {
 protected:
  void SetUp() override {
    BinaryTest::SetUp();
    std::vector<std::string> args{"--device", "dsPIC30F4013", "--state", "chip.state"};
    if (pace) args.push_back("--pace");
    tty = StartBoard("tty", args);
  }
  void TearDown() override {
    StopBoards();
    BinaryTest::TearDown();
  }
  // Stops every board; the link time the first one modelled, from its last line.
  double StopBoards() {
    for (pid_t pid : boards) {
      ::kill(pid, SIGTERM);
      ::waitpid(pid, nullptr, 0);
    }
    boards.clear();
    const std::string log = Slurp(home / "tty.out");
    double seconds = -1;
    if (const std::size_t at = log.find("link time "); at != std::string::npos) {
      std::sscanf(log.c_str() + at, "link time %lf", &seconds);
    }
    return seconds;
  }
  // One more simulated board on a terminal of its own, linked at home/NAME;
  // relative paths in `args` are in home.
  fs::path StartBoard(const std::string& name, std::vector<std::string> args) {
    const fs::path link = home / name;
    const pid_t pid = ::fork();
    if (pid == 0) {
      const std::string log = (home / (name + ".out")).string();
      if (::chdir(home.c_str()) != 0 || std::freopen(log.c_str(), "w", stdout) == nullptr) {
        ::_exit(127);
      }
      ::setenv("LC_ALL", "C", 1);
      args.insert(args.begin(), {QUILLON_SIM_BINARY, "--link", link.string()});
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(QUILLON_SIM_BINARY, argv.data());
      ::_exit(127);
    }
    EXPECT_GT(pid, 0);
    boards.push_back(pid);
    for (int i = 0; i < 100 && !fs::exists(link); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(fs::exists(link)) << "the simulated board did not start";
    return link;
  }
  // The instruction a board's state file holds at a program address.
  unsigned ChipWord(const std::string& state, unsigned address) {
    std::ifstream in(home / state);
    for (std::string line; std::getline(in, line);) {
      unsigned at = 0, value = 0;
      if (std::sscanf(line.c_str(), "P %x %x", &at, &value) == 2 && at == address) return value;
    }
    return 0xFFFFFF;
  }
  fs::path tty;
  std::vector<pid_t> boards;
  bool pace = false;
};

TEST_F(PtyTest, WriteThenReadBackTheSameProgram) {
  const std::string hex = cli_test::WriteSampleHex(home / "sample.hex");
  ASSERT_EQ(Run({"-P", tty.string(), "--exec-dir", kExecDir, "write", hex}), 0) << err;
  EXPECT_TRUE(out.starts_with("dsPIC30F4013: wrote 66 program words, verified, ")) << out;
  fs::create_directory(home / "dump");
  ASSERT_EQ(Run({"--exec-dir", kExecDir, "read", (home / "dump").string()}), 0) << err;
  cli_test::ExpectSameProgram(hex, (home / "dump" / "$Quill$.hex").string(), "dsPIC30F4013");
  EXPECT_EQ(Run({"--exec-dir", kExecDir, "check"}), 1);
  EXPECT_NE(err.find("not blank at program address 0x000000: read 0x"), std::string::npos) << err;
}

class PacedPtyTest : public PtyTest {
 protected:
  PacedPtyTest() { pace = true; }
};

// Paced, the run lasts at least the link time the board modelled (never
// asserted from above: the machine may be slow).
TEST_F(PacedPtyTest, RepliesTakeTheModelledLinkTime) {
  const std::string hex = cli_test::WriteSampleHex(home / "sample.hex");
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(Run({"-P", tty.string(), "connect"}), 0) << err;
  ASSERT_EQ(Run({"--exec-dir", kExecDir, "write", hex}), 0) << err;
  const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
  const double link = StopBoards();
  EXPECT_GT(link, 1.0) << "a bulk erase alone waits longer";
  EXPECT_GE(wall.count(), link);
}

TEST_F(PtyTest, CtrlCStopsTheWriteBetweenRowsAndFreesThePort) {
  // Every instruction of the part, by plain ICSP: seconds of work.
  const std::string hex = cli_test::WriteFilledHex(home / "full.hex", 16384);
  const pid_t tool = ::fork();
  if (tool == 0) {
    const std::string command =
        Command({"-P", tty.string(), "-p", "dsPIC30F4013", "--icsp", "-v", "write", hex});
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ASSERT_GT(tool, 0);
  for (int i = 0; i < 2000 && Slurp(home / "out.txt").find("Writing:Prg") == std::string::npos;
       ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(tool, SIGINT);
  int status = 0;
  ::waitpid(tool, &status, 0);
  ASSERT_EQ(Finished(status), 130) << err;
  // After the phases' lines on standard error.
  EXPECT_NE(err.find("stopped\nStopped on request before Writing:Prg Adr "), std::string::npos)
      << err;
  // The port is free and the board answers at once.
  EXPECT_EQ(Run({"-q", "--icsp", "check"}), 1) << err;
  EXPECT_TRUE(err.starts_with("not blank at program address 0x000000: read 0x")) << err;
  // The chip the board kept holds a run of whole rows from the start.
  std::map<unsigned, unsigned> chip;
  std::ifstream state(home / "chip.state");
  for (std::string line; std::getline(state, line);) {
    unsigned address = 0, value = 0;
    if (std::sscanf(line.c_str(), "P %x %x", &address, &value) == 2) chip[address / 2] = value;
  }
  const int whole = cli_test::WholeRowsFromStart(
      [&chip](unsigned i) { return chip.contains(i) ? chip[i] : 0xFFFFFFu; }, 512, 32);
  EXPECT_TRUE(whole > 0 && whole < 512) << whole;
}

TEST_F(PtyTest, ProgressPerPhaseVerifyReadToAFileJsonAndDryRun) {
  const std::string hex = cli_test::WriteSampleHex(home / "sample.hex");
  // On a terminal each phase's bar is redrawn in place, then kept as a line.
  ASSERT_EQ(RunOnTerminal({"-P", tty.string(), "--exec-dir", kExecDir, "write", hex}), 0) << err;
  for (const char* phase : {"Erasing   | ", "Writing   | ", "Verifying | "}) {
    EXPECT_NE(err.find(phase), std::string::npos) << phase << " in " << err;
  }
  EXPECT_GT(std::count(err.begin(), err.end(), '\r'), 3);
  EXPECT_NE(err.find("100%"), std::string::npos);
  // On a pipe: one line per phase as it ends, and nothing else.
  ASSERT_EQ(Run({"verify", hex}), 0) << err;
  EXPECT_TRUE(err.starts_with("Verifying | ######################## | 100%  ")) << err;
  EXPECT_EQ(Lines(err), 1) << err;
  EXPECT_TRUE(out.starts_with("dsPIC30F4013: verified 66 program words against ")) << out;

  ASSERT_EQ(Run({"--json", "-q", "read", "-o", "image.hex"}), 0) << err;
  EXPECT_EQ(err, "");
  cli_test::ExpectSameProgram(hex, (home / "image.hex").string(), "dsPIC30F4013");
  EXPECT_TRUE(out.starts_with("{\"operation\":\"read\",\"part\":\"dsPIC30F4013\"")) << out;
  EXPECT_NE(out.find("\"file\":\"image.hex\""), std::string::npos) << out;

  ASSERT_EQ(Run({"-n", "erase"}), 0) << err;
  EXPECT_NE(out.find("would be erased"), std::string::npos) << out;
  EXPECT_EQ(Run({"check"}), 1) << "the dry run erased nothing";
}

TEST_F(PtyTest, DryRunRememberedExecDirVerifyDifferenceAndBinaryRead) {
  const std::string hex = cli_test::WriteSampleHex(home / "sample.hex");
  ASSERT_EQ(
      Run({"-P", tty.string(), "-p", "DSPIC30F4013", "--exec-dir", kExecDir, "-n", "write", hex}),
      0)
      << err;
  EXPECT_NE(out.find("would erase, then write 66 program words"), std::string::npos) << out;
  EXPECT_EQ(Run({"-q", "check"}), 0) << "the dry run wrote nothing: " << err;
  // The erase takes the executive; the verify puts it back from the
  // remembered directory (the current one holds no pe.hex).
  ASSERT_EQ(Run({"-q", "erase"}), 0) << err;
  EXPECT_EQ(Run({"verify", hex}), 1) << err;
  EXPECT_NE(err.find("\nverification failed at program address 0x000000: read 0xFFFFFF, "
                     "expected 0x040100\n"),
            std::string::npos)
      << err;

  ASSERT_EQ(Run({"-q", "write", hex}), 0) << err;
  ASSERT_EQ(Run({"-q", "read", "-o", "image.bin", "--listing", "image.txt"}), 0) << err;
  const std::string bin = Slurp(home / "image.bin");
  ASSERT_EQ(bin.size(), 4u * 16384) << "four bytes per instruction, the whole part";
  EXPECT_EQ(bin.substr(0, 4), std::string("\x00\x01\x04\x00", 4));
  EXPECT_EQ(bin.substr(2 * 0x100, 4), std::string("\x00\x5A\x00\x00", 4));
  EXPECT_EQ(bin.substr(8, 4), std::string("\xFF\xFF\xFF\x00", 4));
  EXPECT_TRUE(Slurp(home / "image.txt").starts_with("Flash\r\n")) << "the listing";
}

// Several boards side by side, each with its serial number; a board that
// falls silent mid-write and a wrong part spoil only their own rows.
TEST_F(PtyTest, SeveralBoardsOneLineEachThenATableAndTheLog) {
  const fs::path quiet = StartBoard("tty2", {"--state", "chip2.state", "--silent-after", "660"});
  const fs::path other = StartBoard("tty3", {"--device", "dsPIC30F4011"});
  const fs::path good = StartBoard("tty4", {"--state", "chip4.state"});
  const std::string hex = QUILLON_SOURCE_DIR "/examples/blink-dsPIC30F4013.hex";
  const std::vector<std::string> write{
      "-p",       "dsPIC30F4013", "--exec-dir", kExecDir,   "write",
      "--serial", "0x2000:1000",  "--log",      "line.log", hex};
  std::vector<std::string> args{"-P", tty.string(), "-P", quiet.string(), "-P", other.string()};
  args.insert(args.end(), write.begin(), write.end());
  ASSERT_EQ(RunOnTerminal(args), 3) << err;
  EXPECT_NE(err.find("\x1b[3A"), std::string::npos) << "three lines redrawn in place";
  EXPECT_NE(err.find(other.string() + ": Error : the part that answers is dsPIC30F4011"),
            std::string::npos)
      << err;
  const unsigned used = ChipWord("chip.state", 0x2000);
  ASSERT_TRUE(used == 1000 || used == 1001) << used;
  auto row_of = [this](const fs::path& port) {
    const std::size_t at = out.find("\n" + port.string() + " ");
    return at == std::string::npos ? "" : out.substr(at + 1, out.find('\n', at + 1) - at - 1);
  };
  EXPECT_TRUE(out.starts_with("PORT ")) << out;
  for (const auto& [port, cells] : std::vector<std::pair<fs::path, std::vector<std::string>>>{
           {tty, {" dsPIC30F4013 ", " " + std::to_string(used) + " ", " ok "}},
           {quiet, {" " + std::to_string(2001 - used) + " (spoiled) ", " link failure "}},
           {other, {" dsPIC30F4011 ", " - ", " problem "}}}) {
    const std::string row = row_of(port);
    for (const std::string& cell : cells) EXPECT_NE(row.find(cell), std::string::npos) << row;
  }

  // The next run goes on from the state; on a pipe each phase end is a line.
  ASSERT_EQ(Run({"-P", good.string(), "-P", tty.string(), "write", "--serial", "0x2000", "--log",
                 "line.log", hex}),
            0)
      << err;
  EXPECT_NE(err.find(good.string() + "  Verifying | ####"), std::string::npos) << err;
  const std::set<unsigned> next{ChipWord("chip.state", 0x2000), ChipWord("chip4.state", 0x2000)};
  EXPECT_EQ(next, (std::set<unsigned>{1002, 1003}));
  std::istringstream log(Slurp(home / "line.log"));
  int lines = 0;
  for (std::string line; std::getline(log, line); ++lines) {
    EXPECT_TRUE(line.starts_with("{\"time\":") &&
                line.ends_with("\"version\":\"" QUILLON_VERSION "\"}"))
        << line;
  }
  EXPECT_EQ(lines, 5);
}

// A run killed after it took its number (stalled on a silent board) never
// hands that number out again.
TEST_F(PtyTest, ANumberTakenByARunThatDiedIsNeverReused) {
  const fs::path quiet = StartBoard("tty2", {"--silent-after", "40"});
  const std::string hex = QUILLON_SOURCE_DIR "/examples/blink-dsPIC30F4013.hex";
  const fs::path state = home / "cfg" / "quillon" / "serial-002000.txt";
  const pid_t tool = ::fork();
  if (tool == 0) {
    const std::string command =
        Command({"-P", quiet.string(), "-p", "dsPIC30F4013", "--exec-dir", kExecDir, "write",
                 "--serial", "0x2000:7", "--log", "line.log", hex});
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ASSERT_GT(tool, 0);
  for (int i = 0; i < 1000 && !fs::exists(state); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ::kill(tool, SIGKILL);
  int status = 0;
  ::waitpid(tool, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status))
      << "killed before it could record the number: " << Slurp(home / "err.txt");
  EXPECT_EQ(Slurp(home / "line.log"), "") << "nothing recorded";
  ASSERT_EQ(Run({"-P", tty.string(), "--exec-dir", kExecDir, "write", "--serial", "0x2000:7",
                 "--log", "line.log", hex}),
            0)
      << err;
  EXPECT_EQ(ChipWord("chip.state", 0x2000), 8u);
  EXPECT_NE(Slurp(home / "line.log").find("\"serial\":8,\"serial_status\":\"used\""),
            std::string::npos);
}
#endif

}  // namespace
}  // namespace quillon::cli

#endif  // _WIN32
