// Serves one simulated board on a pseudo-terminal (POSIX only), so that a
// host process can open it like a serial port.
#pragma once

#if !defined(_WIN32)

#include <chrono>
#include <csignal>
#include <string>

#include "sim/board.h"

namespace quillon::sim {

class PtyServer {
 public:
  // `pace`: each reply is held back until its exchange has taken, in real
  // time, what the board's model of the link says it takes.
  PtyServer(Board& board, bool pace) : board_(board), pace_(pace) {}
  ~PtyServer();
  PtyServer(const PtyServer&) = delete;
  PtyServer& operator=(const PtyServer&) = delete;

  // Creates the pseudo-terminal; false with a reason on failure.
  bool Open(std::string& error);
  const std::string& slave_path() const { return slave_path_; }
  // Answers the host until `stop` becomes non-zero.
  void Serve(const volatile std::sig_atomic_t& stop);

 private:
  void ReceivePaced(const std::uint8_t* data, std::size_t n);
  void SendPending();
  void WriteAll(const std::uint8_t* data, std::size_t n);

  Board& board_;
  const bool pace_;
  std::chrono::steady_clock::time_point link_free_{};  // when the paced link finishes its work
  int master_ = -1;
  int slave_ = -1;  // kept open so the master never sees a hang-up between clients
  std::string slave_path_;
};

}  // namespace quillon::sim

#endif
