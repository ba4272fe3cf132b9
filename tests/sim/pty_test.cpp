// quillon-sim as a separate process on a pseudo-terminal, spoken to with
// plain termios reads and writes; and the state file it keeps.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/state_file.h"

#if !defined(_WIN32) && defined(QUILLON_SIM_EXE)
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace quillon::sim {
namespace {

TEST(StateFileTest, RoundTripKeepsEveryMemory) {
  const auto& row = *devices::FindByName("dsPIC30F4013");
  Target a(row, TargetTiming{}, row.device_id, 0);
  a.SetProgram(0x100, 0x123456);
  a.SetEeprom(0x7FFC02, 0xBEEF);
  a.SetExecutive(0x8005BE, 0x0000BB);
  a.SetConfig(3, 0x310F);
  std::stringstream file;
  SaveState(a, file);
  Target b(row, TargetTiming{}, row.device_id, 0);
  b.FillRandom(3);
  std::string error;
  ASSERT_TRUE(LoadState(b, file, error)) << error;
  EXPECT_EQ(b.Program(0x100), 0x123456u);
  EXPECT_EQ(b.Program(0x102), 0xFFFFFFu);
  EXPECT_EQ(b.Eeprom(0x7FFC02), 0xBEEF);
  EXPECT_EQ(b.Executive(0x8005BE), 0xBBu);
  EXPECT_EQ(b.Executive(0x800000), 0xFFFFFFu);
  EXPECT_EQ(b.Config(3), 0x310F);

  const auto& other = *devices::FindByName("dsPIC33FJ128GP706");
  Target c(other, TargetTiming{}, other.device_id, 0);
  file.clear();
  file.seekg(0);
  EXPECT_FALSE(LoadState(c, file, error));
  std::istringstream junk("quillon-sim state 1\ndevice dsPIC30F4013\nP zz 12\n");
  EXPECT_FALSE(LoadState(b, junk, error));
}

#if !defined(_WIN32) && defined(QUILLON_SIM_EXE)

class SimProcess {
 public:
  explicit SimProcess(std::vector<std::string> args) {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      std::vector<char*> argv{const_cast<char*>(QUILLON_SIM_EXE)};
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(QUILLON_SIM_EXE, argv.data());
      _exit(127);
    }
    close(out[1]);
    char c = 0;
    while (read(out[0], &c, 1) == 1 && c != '\n') path_ += c;
    close(out[0]);
  }
  ~SimProcess() { Stop(); }
  int Stop() {
    int status = -1;
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, &status, 0);
      pid_ = -1;
    }
    return status;
  }
  // The exit status of a run that ends by itself.
  int Wait() {
    int status = -1;
    if (pid_ > 0) waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  const std::string& path() const { return path_; }

 private:
  pid_t pid_ = -1;
  std::string path_;
};

// Reads exactly n bytes or gives up after a second.
std::vector<std::uint8_t> ReadBytes(int fd, std::size_t n) {
  std::vector<std::uint8_t> bytes;
  while (bytes.size() < n) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 1000) <= 0) break;
    std::uint8_t b[64];
    const ssize_t k = read(fd, b, std::min(sizeof b, n - bytes.size()));
    if (k <= 0) break;
    bytes.insert(bytes.end(), b, b + k);
  }
  return bytes;
}

int OpenRaw(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
  if (fd < 0) return fd;
  termios mode{};
  tcgetattr(fd, &mode);
  cfmakeraw(&mode);
  cfsetspeed(&mode, B230400);
  tcsetattr(fd, TCSANOW, &mode);
  return fd;
}

TEST(QuillonSimTest, AnswersTheVersionCommandOnItsTerminal) {
  const std::string link = ::testing::TempDir() + "quillon_sim_link";
  SimProcess sim({"--device", "dsPIC33FJ128GP706", "--firmware", "1.0", "--link", link});
  ASSERT_FALSE(sim.path().empty());
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  const int fd = OpenRaw(link);
  ASSERT_GE(fd, 0);
  const std::uint8_t version = 0x1E;
  ASSERT_EQ(write(fd, &version, 1), 1);
  EXPECT_EQ(ReadBytes(fd, 2), (std::vector<std::uint8_t>{0x01, 0x00}));
  close(fd);
  const int status = sim.Stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_FALSE(std::filesystem::exists(link));
}

TEST(QuillonSimTest, CommandLineExitStatuses) {
  const struct {
    std::vector<std::string> args;
    int status;
    std::string first_line;
  } kCases[] = {
      {{"--version"}, 0, "quillon-sim " QUILLON_VERSION},
      {{"--bogus"}, 2, ""},
      {{"--device", "dsPIC99"}, 2, ""},
      {{"--firmware", "one"}, 2, ""},
      {{"--silent-after", "x"}, 2, ""},
      {{"--state", ::testing::TempDir() + "sim_state_loop/chip"}, 1, ""},
  };
  const std::filesystem::path loop = ::testing::TempDir() + "sim_state_loop";
  std::filesystem::remove(loop);
  std::filesystem::create_symlink(loop, loop);
  for (const auto& c : kCases) {
    SimProcess sim(c.args);
    // The version line may go on with the commit it was built from.
    EXPECT_EQ(sim.path().substr(0, c.first_line.size()), c.first_line);
    if (c.first_line.empty()) {
      EXPECT_EQ(sim.path(), "");
    }
    EXPECT_EQ(sim.Wait(), c.status) << c.args[0];
  }
}

TEST(QuillonSimTest, KeepsTheChipInItsStateFile) {
  const std::string state = ::testing::TempDir() + "quillon_sim_state.txt";
  std::filesystem::remove(state);
  {
    SimProcess sim({"--device", "dsPIC30F4013", "--state", state});
    const int fd = OpenRaw(sim.path());
    ASSERT_GE(fd, 0);
    // Enter, write configuration register 2 with the unlock, leave.
    const std::vector<std::uint8_t> bytes = {
        0x0C, 0x0F, 33,   0x20, 0x00, 0x47, 0x24, 0x00, 0x8A, 0x88, 0x3B, 0x0A, 0x20,
        0x0F, 0x80, 0x88, 0x01, 0x90, 0x23, 0x10, 0xF6, 0x00, 0x00, 0x00, 0xBB, 0x1B,
        0x86, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x75, 0x76, 0x20};
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    EXPECT_EQ(ReadBytes(fd, 5).size(), 5u);
    close(fd);
    usleep(50'000);
    std::ifstream saved(state);
    std::stringstream text;
    text << saved.rdbuf();
    EXPECT_NE(text.str().find("C 2 310F"), std::string::npos) << text.str();
  }
  SimProcess again({"--device", "dsPIC30F4013", "--state", state});
  EXPECT_FALSE(again.path().empty());
  EXPECT_EQ(again.Stop() >> 8, 0);
  std::filesystem::remove(state);
}

#endif

}  // namespace
}  // namespace quillon::sim
