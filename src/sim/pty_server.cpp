#if !defined(_WIN32)

#include "sim/pty_server.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace quillon::sim {

PtyServer::~PtyServer() {
  if (slave_ >= 0) close(slave_);
  if (master_ >= 0) close(master_);
}

bool PtyServer::Open(std::string& error) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
    error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
    return false;
  }
  const char* name = ptsname(master_);
  if (name == nullptr) {
    error = "ptsname failed";
    return false;
  }
  slave_path_ = name;
  slave_ = open(name, O_RDWR | O_NOCTTY);
  if (slave_ < 0) {
    error = std::string("cannot open ") + slave_path_ + ": " + std::strerror(errno);
    return false;
  }
  // Raw until the host sets its own mode: an echoing line discipline would
  // feed the board's replies back to it as commands.
  termios mode{};
  tcgetattr(slave_, &mode);
  cfmakeraw(&mode);
  tcsetattr(slave_, TCSANOW, &mode);
  return true;
}

void PtyServer::WriteAll(const std::uint8_t* data, std::size_t n) {
  while (n > 0) {
    const ssize_t written = write(master_, data, n);
    if (written < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return;
    }
    data += written;
    n -= static_cast<std::size_t>(written);
  }
}

void PtyServer::SendPending() {
  std::uint8_t buffer[4096];
  while (board_.Pending() > 0) {
    const std::size_t k = board_.Take(buffer, sizeof buffer);
    WriteAll(buffer, k);
    // A stalled reply: hold the rest past the host's 20 ms interval time-out.
    if (board_.Pending() > 0) usleep(30'000);
  }
}

// One byte at a time, so that each command's reply leaves on its own: the
// board's clock says how long the exchange takes on the real link (command
// and reply bytes, waits, flash times, turnaround), counted from the moment
// the command's last byte arrived, or from the end of the exchange before it
// when the host sent several commands at once.
void PtyServer::ReceivePaced(const std::uint8_t* data, std::size_t n) {
  const auto arrived = std::chrono::steady_clock::now();
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint64_t before = board_.target().now_ns();
    board_.Receive(data + i, 1);
    const std::uint64_t spent = board_.target().now_ns() - before;
    if (spent == 0) continue;  // the command is not complete yet
    link_free_ = std::max(link_free_, arrived) + std::chrono::nanoseconds(spent);
    if (board_.Pending() > 0) {
      std::this_thread::sleep_until(link_free_);
      SendPending();
    }
  }
}

void PtyServer::Serve(const volatile std::sig_atomic_t& stop) {
#if defined(__linux__)
  // Paced replies wake from a timed sleep once an exchange; Linux lets such a
  // sleep run 50 us late by default, which adds up over many short exchanges.
  if (pace_) prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
  std::uint8_t buffer[4096];
  while (stop == 0) {
    pollfd fd{master_, POLLIN, 0};
    const int ready = poll(&fd, 1, 100);
    if (ready <= 0 || (fd.revents & POLLIN) == 0) continue;
    const ssize_t n = read(master_, buffer, sizeof buffer);
    if (n <= 0) continue;
    if (pace_) {
      ReceivePaced(buffer, static_cast<std::size_t>(n));
    } else {
      board_.Receive(buffer, static_cast<std::size_t>(n));
      SendPending();
    }
  }
}

}  // namespace quillon::sim

#endif
