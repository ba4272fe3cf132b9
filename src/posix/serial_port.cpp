#include "posix/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace quillon::posix {
namespace {

// The board's time-outs, in milliseconds (the same on every platform).
constexpr long long kReadIntervalMs = 20;
constexpr long long kReadTotalMultiplierMs = 2;
constexpr long long kReadTotalConstantMs = 1280;
constexpr long long kWriteTotalMultiplierMs = 2;
constexpr long long kWriteTotalConstantMs = 100;

long long NowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Milliseconds for poll() until `deadline_us`, rounded up so that a wait never
// ends just short of the deadline and spins.
int PollTimeoutMs(long long deadline_us) {
  const long long left = deadline_us - NowUs();
  if (left <= 0) return 0;
  return static_cast<int>((left + 999) / 1000);
}

// Pseudo-terminals take any speed in their settings or refuse it, and the
// speed means nothing there; a refused speed is no reason to fail the open.
// ttyname_r: ports opened side by side in threads must not share
// ttyname()'s static buffer.
bool IsPseudoTerminal(int fd) {
  char name[256];
  if (::ttyname_r(fd, name, sizeof name) != 0) return false;
  return std::strncmp(name, "/dev/pts/", 9) == 0 || std::strncmp(name, "/dev/ttys", 9) == 0;
}

void MakeRaw(termios& tio) {
  ::cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD | CS8;
  tio.c_cflag &= ~(PARENB | CSTOPB);
#ifdef CRTSCTS
  tio.c_cflag &= ~CRTSCTS;
#endif
  tio.c_iflag &= ~(IXON | IXOFF | IXANY);
  // Reads never block in the kernel; the time-outs are ours (poll).
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
}

}  // namespace

std::string ErrnoText(const char* call, int error) {
  return std::string(call) + " Error=" + std::to_string(error) + " (" + std::strerror(error) + ")";
}

PosixSerialPort::~PosixSerialPort() {
  if (fd_ >= 0) Close();
}

std::vector<std::string> PosixSerialPort::Open(const std::string& name) {
  // A port left open would leak its descriptor and keep its lock.
  if (fd_ >= 0) Close();

  std::vector<std::string> errors;
  const int fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    errors.push_back(ErrnoText("open", errno));
    return errors;
  }
  // Only a terminal is a port: anything else (a file, a disk, /dev/mem) would
  // have the board's commands written into it.
  if (!::isatty(fd)) {
    ::close(fd);
    errors.push_back(ErrnoText("open", ENOTTY));
    return errors;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    if (error == EWOULDBLOCK) {
      // Someone holds the port: fail the way a TIOCEXCL refusal does.
      ::close(fd);
      errors.push_back(ErrnoText("open", EBUSY));
      return errors;
    }
    errors.push_back(ErrnoText("flock", error));
  }
  fd_ = fd;
  Configure(errors);
  return errors;
}

// Every step runs whatever the earlier ones returned, so all failures show.
void PosixSerialPort::Configure(std::vector<std::string>& errors) {
  if (::ioctl(fd_, TIOCEXCL) != 0) errors.push_back(ErrnoText("TIOCEXCL", errno));

  termios tio{};
  if (::tcgetattr(fd_, &tio) != 0) errors.push_back(ErrnoText("tcgetattr", errno));
  const speed_t old_speed = ::cfgetospeed(&tio);
  MakeRaw(tio);
  ::cfsetispeed(&tio, B230400);
  ::cfsetospeed(&tio, B230400);
  const bool pty = IsPseudoTerminal(fd_);
  if (::tcsetattr(fd_, TCSANOW, &tio) != 0) {
    const int error = errno;
    bool retried = false;
    if (pty) {
      ::cfsetispeed(&tio, old_speed);
      ::cfsetospeed(&tio, old_speed);
      retried = ::tcsetattr(fd_, TCSANOW, &tio) == 0;
    }
    if (!retried) errors.push_back(ErrnoText("tcsetattr", error));
  } else if (!pty) {
    // tcsetattr succeeds when any part of the change took; a driver that
    // cannot do 230400 would otherwise leave us talking at the wrong speed.
    termios check{};
    if (::tcgetattr(fd_, &check) == 0 && ::cfgetospeed(&check) != B230400) {
      errors.push_back(ErrnoText("tcsetattr", EINVAL));
    }
  }

  if (::tcflush(fd_, TCIOFLUSH) != 0) errors.push_back(ErrnoText("tcflush", errno));
}

std::vector<std::string> PosixSerialPort::Close() {
  std::vector<std::string> errors;
  if (::tcflush(fd_, TCIOFLUSH) != 0) errors.push_back(ErrnoText("tcflush", errno));
  if (fd_ >= 0) {
    // The exclusive flag belongs to the tty, not to our descriptor: clear it
    // so that a tty still held open elsewhere can be opened again.
    ::ioctl(fd_, TIOCNXCL);
    if (::close(fd_) != 0) errors.push_back(ErrnoText("close", errno));
    fd_ = -1;
  }
  return errors;
}

link::Transfer PosixSerialPort::Read(std::uint8_t* data, std::size_t n) {
  link::Transfer result;
  if (fd_ < 0) {
    result.error = ErrnoText("read", EBADF);
    return result;
  }
  const long long total_deadline =
      NowUs() + (kReadTotalConstantMs + kReadTotalMultiplierMs * static_cast<long long>(n)) * 1000;
  long long last_byte = 0;
  bool hung_up = false;
  while (result.count < n) {
    const ssize_t got = ::read(fd_, data + result.count, n - result.count);
    if (got > 0) {
      result.count += static_cast<std::size_t>(got);
      last_byte = NowUs();
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      result.error = ErrnoText("read", errno);
      break;
    }
    if (got == 0 && hung_up) {
      // End of file on a tty: the device or the other end went away.
      result.error = ErrnoText("read", EIO);
      break;
    }

    long long deadline = total_deadline;
    if (result.count > 0 && last_byte + kReadIntervalMs * 1000 < deadline) {
      deadline = last_byte + kReadIntervalMs * 1000;
    }
    if (NowUs() >= deadline) break;
    pollfd p{fd_, POLLIN, 0};
    const int ready = ::poll(&p, 1, PollTimeoutMs(deadline));
    if (ready < 0) {
      if (errno == EINTR) continue;
      result.error = ErrnoText("poll", errno);
      break;
    }
    if (ready == 0) continue;  // the deadline check above ends the loop
    if (p.revents & POLLNVAL) {
      result.error = ErrnoText("read", EBADF);
      break;
    }
    if ((p.revents & (POLLHUP | POLLERR)) && !(p.revents & POLLIN)) {
      result.error = ErrnoText("read", EIO);
      break;
    }
    hung_up = (p.revents & POLLHUP) != 0;
  }
  return result;
}

link::Transfer PosixSerialPort::Write(const std::uint8_t* data, std::size_t n) {
  link::Transfer result;
  if (fd_ < 0) {
    result.error = ErrnoText("write", EBADF);
    return result;
  }
  const long long deadline =
      NowUs() +
      (kWriteTotalConstantMs + kWriteTotalMultiplierMs * static_cast<long long>(n)) * 1000;
  while (result.count < n) {
    const ssize_t put = ::write(fd_, data + result.count, n - result.count);
    if (put > 0) {
      result.count += static_cast<std::size_t>(put);
      continue;
    }
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      result.error = ErrnoText("write", errno);
      break;
    }
    if (NowUs() >= deadline) break;  // time-out: a short count, not an error
    pollfd p{fd_, POLLOUT, 0};
    const int ready = ::poll(&p, 1, PollTimeoutMs(deadline));
    if (ready < 0 && errno != EINTR) {
      result.error = ErrnoText("poll", errno);
      break;
    }
  }
  DrainOutput(deadline);
  return result;
}

// The flush after every write: wait until the driver has sent what we wrote,
// but never past the write's own deadline (tcdrain could wait for ever on a
// stalled adapter).
void PosixSerialPort::DrainOutput(long long deadline_us) {
#ifdef TIOCOUTQ
  while (NowUs() < deadline_us) {
    int queued = 0;
    if (::ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0) return;
    ::poll(nullptr, 0, 1);
  }
#else
  (void)deadline_us;
  ::tcdrain(fd_);
#endif
}

}  // namespace quillon::posix
