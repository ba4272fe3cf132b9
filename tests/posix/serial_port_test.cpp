// The POSIX serial port against a real pseudo-terminal, with a scripted peer
// (the board's side) on the master end.
#include "posix/serial_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "posix/port_list.h"

namespace quillon::posix {
namespace {

using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

class PtyPeer : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[256] = {};
    ASSERT_EQ(::openpty(&master_, &slave_, name, nullptr, nullptr), 0);
    tty_ = name;
    // Keep our slave end open and raw: without it the master reports a
    // hang-up between opens, and the default echo would bounce the peer's
    // early bytes back at it.
    termios tio{};
    ::tcgetattr(slave_, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(slave_, TCSANOW, &tio);
  }

  void TearDown() override {
    if (peer_.joinable()) peer_.join();
    if (master_ >= 0) ::close(master_);
    if (slave_ >= 0) ::close(slave_);
  }

  void Peer(std::function<void()> script) { peer_ = std::thread(std::move(script)); }
  void JoinPeer() {
    if (peer_.joinable()) peer_.join();
  }

  // Master-side helpers for the peer: reads give up after two seconds so a
  // broken port cannot hang the test.
  Bytes Receive(std::size_t n) {
    Bytes got;
    const auto end = steady_clock::now() + milliseconds(2000);
    while (got.size() < n && steady_clock::now() < end) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      std::uint8_t buffer[512];
      const ssize_t r = ::read(master_, buffer, std::min(sizeof buffer, n - got.size()));
      if (r <= 0) break;
      got.insert(got.end(), buffer, buffer + r);
    }
    return got;
  }
  void Send(const Bytes& bytes) {
    ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  int master_ = -1;
  int slave_ = -1;
  std::string tty_;
  std::thread peer_;
};

TEST_F(PtyPeer, OpensAPseudoTerminalWithoutErrors) {
  PosixSerialPort port;
  EXPECT_TRUE(port.Open(tty_).empty());
  EXPECT_TRUE(port.is_open());
  // The line is raw 8N1 without flow control, at 230400 where the tty keeps it.
  termios tio{};
  ASSERT_EQ(::tcgetattr(slave_, &tio), 0);
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL), 0u);
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B230400));
  EXPECT_TRUE(port.Close().empty());
  EXPECT_FALSE(port.is_open());
}

TEST_F(PtyPeer, ShortReplyReturnsWhatArrived) {
  PosixSerialPort port;
  ASSERT_TRUE(port.Open(tty_).empty());
  Peer([this] {
    if (Receive(1) == Bytes{0x1E}) Send({0x01, 0x02});
  });
  const std::uint8_t request = 0x1E;
  EXPECT_EQ(port.Write(&request, 1).count, 1u);
  std::uint8_t reply[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  const link::Transfer got = port.Read(reply, 4);
  EXPECT_EQ(got.count, 2u);
  EXPECT_EQ(got.error, "");
  EXPECT_EQ(reply[0], 0x01);
  EXPECT_EQ(reply[1], 0x02);
  EXPECT_EQ(reply[2], 0xEE);  // untouched past the count
}

TEST_F(PtyPeer, SilenceEndsTheReadAfterTheTotalTimeout) {
  PosixSerialPort port;
  ASSERT_TRUE(port.Open(tty_).empty());
  std::uint8_t reply[4] = {0x55, 0x55, 0x55, 0x55};
  const auto start = steady_clock::now();
  const link::Transfer got = port.Read(reply, 4);
  const auto waited = steady_clock::now() - start;
  EXPECT_EQ(got.count, 0u);
  EXPECT_EQ(got.error, "");
  EXPECT_EQ(reply[0], 0x55);
  EXPECT_GE(waited, milliseconds(1288));
  EXPECT_LT(waited, milliseconds(5000));  // only guards against a hang
}

TEST_F(PtyPeer, GapBetweenBytesEndsTheRead) {
  PosixSerialPort port;
  ASSERT_TRUE(port.Open(tty_).empty());
  Peer([this] {
    Send({0xA1});
    std::this_thread::sleep_for(milliseconds(80));
    Send({0xA2});
  });
  std::uint8_t reply[4] = {};
  EXPECT_EQ(port.Read(reply, 4).count, 1u);
  EXPECT_EQ(reply[0], 0xA1);
  JoinPeer();
  // The late byte waits for the next read.
  EXPECT_EQ(port.Read(reply, 1).count, 1u);
  EXPECT_EQ(reply[0], 0xA2);
}

TEST_F(PtyPeer, IntervalCountsFromTheLastByteNotTheFirst) {
  PosixSerialPort port;
  ASSERT_TRUE(port.Open(tty_).empty());
  // Six bytes 6 ms apart: 30 ms in all, never 20 ms between two.
  Peer([this] {
    for (std::uint8_t b = 1; b <= 6; ++b) {
      Send({b});
      std::this_thread::sleep_for(milliseconds(6));
    }
  });
  std::uint8_t reply[6] = {};
  EXPECT_EQ(port.Read(reply, 6).count, 6u);
  EXPECT_EQ(reply[5], 6);
}

TEST_F(PtyPeer, EveryByteValuePassesUnchangedBothWays) {
  PosixSerialPort port;
  ASSERT_TRUE(port.Open(tty_).empty());
  // CR, LF, XON, XOFF, ^C and DEL must not be translated, swallowed or
  // turned into signals in either direction.
  Bytes all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
  Bytes seen;
  Peer([&] {
    seen = Receive(256);
    Send(seen);
  });
  const link::Transfer put = port.Write(all.data(), all.size());
  EXPECT_EQ(put.count, 256u);
  EXPECT_EQ(put.error, "");
  Bytes back(256);
  EXPECT_EQ(port.Read(back.data(), back.size()).count, 256u);
  JoinPeer();
  EXPECT_EQ(seen, all);
  EXPECT_EQ(back, all);
}

TEST_F(PtyPeer, OpenDiscardsBytesThatArrivedBefore) {
  Send({0xDE, 0xAD});
  std::this_thread::sleep_for(milliseconds(20));
  PosixSerialPort port;
  ASSERT_TRUE(port.Open(tty_).empty());
  Peer([this] { Send({0x42}); });
  std::uint8_t reply[3] = {};
  EXPECT_EQ(port.Read(reply, 3).count, 1u);
  EXPECT_EQ(reply[0], 0x42);
}

TEST_F(PtyPeer, SecondOpenOfThePortFailsCleanly) {
  PosixSerialPort first;
  ASSERT_TRUE(first.Open(tty_).empty());
  PosixSerialPort second;
  EXPECT_EQ(second.Open(tty_), std::vector<std::string>{"open Error=16 (Device or resource busy)"});
  EXPECT_FALSE(second.is_open());
  std::uint8_t byte = 0x30;
  EXPECT_EQ(second.Write(&byte, 1).count, 0u);

  // The holder is unaffected, and the port is free again once it closes.
  Peer([this] { Send(Receive(1)); });
  EXPECT_EQ(first.Write(&byte, 1).count, 1u);
  EXPECT_EQ(first.Read(&byte, 1).count, 1u);
  EXPECT_EQ(byte, 0x30);
  JoinPeer();
  EXPECT_TRUE(first.Close().empty());
  EXPECT_TRUE(second.Open(tty_).empty());
}

TEST_F(PtyPeer, ReopeningTheSameObjectReleasesTheFirstOpen) {
  PosixSerialPort port;
  ASSERT_TRUE(port.Open(tty_).empty());
  EXPECT_TRUE(port.Open(tty_).empty());
  EXPECT_TRUE(port.Close().empty());
  PosixSerialPort other;
  EXPECT_TRUE(other.Open(tty_).empty());
}

TEST_F(PtyPeer, HangUpOfThePeerIsAReadError) {
  PosixSerialPort port;
  ASSERT_TRUE(port.Open(tty_).empty());
  ::close(master_);
  master_ = -1;
  std::uint8_t reply[2];
  const auto start = steady_clock::now();
  const link::Transfer got = port.Read(reply, 2);
  EXPECT_EQ(got.count, 0u);
  EXPECT_EQ(got.error, "read Error=5 (Input/output error)");
  EXPECT_LT(steady_clock::now() - start, milliseconds(1000));  // no waiting for the time-out
}

TEST(PosixSerialPort, MissingPortReportsOnlyTheOpenError) {
  PosixSerialPort port;
  EXPECT_EQ(port.Open("/dev/quillon-no-such-port"),
            std::vector<std::string>{"open Error=2 (No such file or directory)"});
  std::uint8_t bytes[2] = {1, 2};
  const link::Transfer put = port.Write(bytes, 2);
  EXPECT_EQ(put.count, 0u);
  EXPECT_EQ(put.error, "write Error=9 (Bad file descriptor)");
  const link::Transfer got = port.Read(bytes, 2);
  EXPECT_EQ(got.count, 0u);
  EXPECT_EQ(got.error, "read Error=9 (Bad file descriptor)");
  EXPECT_EQ(port.Close(), std::vector<std::string>{"tcflush Error=9 (Bad file descriptor)"});
}

TEST(PosixSerialPort, AnythingButATerminalIsRefusedUntouched) {
  // A regular file stands for every non-terminal: nothing may be written into it.
  char path[] = "/tmp/quillon-not-a-port-XXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, "data", 4), 4);
  ::close(fd);

  PosixSerialPort port;
  const std::vector<std::string> errors = port.Open(path);
  EXPECT_EQ(errors, std::vector<std::string>{"open Error=25 (Inappropriate ioctl for device)"});
  EXPECT_FALSE(port.is_open());
  const std::uint8_t request = 0x1E;
  EXPECT_EQ(port.Write(&request, 1).count, 0u);
  std::ifstream file(path);
  std::string contents((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  EXPECT_EQ(contents, "data");
  ::unlink(path);

  EXPECT_EQ(port.Open("/dev/null"),
            std::vector<std::string>{"open Error=25 (Inappropriate ioctl for device)"});
}

// A sysfs tree in miniature: a USB adapter with its by-id link, a UART with
// hardware, a phantom UART and a virtual terminal.
TEST(PortList, UsbDetailsAliasesAndNoPhantoms) {
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / ("quillon_ports_" + std::to_string(::getpid()));
  fs::remove_all(root);
  const fs::path usb = root / "devices/usb1/1-1";
  fs::create_directories(usb / "1-1:1.0/ttyUSB0");
  for (auto [file, text] : {std::pair{"idVendor", "0403"},
                            {"idProduct", "6001"},
                            {"manufacturer", "FTDI"},
                            {"product", "FT232R USB UART"},
                            {"serial", "A10K1234"}}) {
    std::ofstream(usb / file) << text << "\n";
  }
  const fs::path tty = root / "class/tty";
  for (const char* name : {"ttyUSB0", "ttyS0", "ttyS1", "tty1"}) fs::create_directories(tty / name);
  fs::create_directory_symlink(usb / "1-1:1.0/ttyUSB0", tty / "ttyUSB0/device");
  fs::create_directories(root / "drivers/serial8250");
  fs::create_directories(root / "devices/serial8250");
  fs::create_directory_symlink(root / "drivers/serial8250", root / "devices/serial8250/driver");
  fs::create_directory_symlink(root / "devices/serial8250", tty / "ttyS1/device");
  // Linux 6.5 and later: the serial core's own port device sits in between.
  const fs::path core_port = root / "devices/serial8250/serial8250:0/serial8250:0.0";
  fs::create_directories(core_port);
  fs::create_directories(root / "bus/serial-base/drivers/port");
  fs::create_directory_symlink(root / "bus/serial-base", core_port / "subsystem");
  fs::create_directory_symlink(root / "bus/serial-base", core_port.parent_path() / "subsystem");
  fs::create_directory_symlink(root / "bus/serial-base/drivers/port", core_port / "driver");
  fs::create_directory_symlink(core_port, tty / "ttyS0/device");
  std::ofstream(tty / "ttyS0/type") << "4\n";
  std::ofstream(tty / "ttyS1/type") << "0\n";
  fs::create_directories(root / "by-id");
  fs::create_symlink("../../ttyUSB0", root / "by-id/usb-FTDI_FT232R-if00-port0");

  const std::vector<link::PortInfo> ports = ListSerialPorts(tty, root / "by-id", "/dev");
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_EQ(ports[0].name, "/dev/ttyS0");
  EXPECT_EQ(ports[0].product, "serial8250");
  EXPECT_EQ(ports[1].name, "/dev/ttyUSB0");
  EXPECT_EQ(ports[1].usb_id, "0403:6001");
  EXPECT_EQ(ports[1].maker, "FTDI");
  EXPECT_EQ(ports[1].serial, "A10K1234");
  EXPECT_EQ(ports[1].alias, (root / "by-id/usb-FTDI_FT232R-if00-port0").string());
  EXPECT_TRUE(ListSerialPorts(root / "none", root / "none").empty());
  fs::remove_all(root);
}

}  // namespace
}  // namespace quillon::posix
