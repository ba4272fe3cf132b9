// The simulated programmer board: it parses the host's byte stream into the
// board's commands, drives the target's ICSP pins, runs the built-in letters
// and relays the executive commands, and keeps a virtual clock of the link.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "sim/target.h"

namespace quillon::sim {

struct BoardConfig {
  std::string device = "dsPIC30F4013";
  std::uint16_t firmware = 0x0102;  // major << 8 | minor; letters exist above 0x0100
  bool executive = true;            // an executive (its application ID) is present at start
  bool target_present = true;
  std::optional<std::uint16_t> device_id_override;  // unknown-DeviceID tests
  std::uint16_t revision = 0x3002;                  // read at 0xFF0002

  // Link and board timing (virtual nanoseconds).
  std::uint64_t wait_ns = 2 * kMillisecond;  // one wait command 0x13
  std::uint64_t turnaround_ns = 100'000;     // between a command and its reply
  std::uint64_t letter_poll_ns = 250'000;    // one NVMCON poll inside 'y' / 'z'
  int letter_long_waits = 100;               // waits of 'z' (its callers use 10 or 100)
  TargetTiming target_timing;
};

struct Stats {
  std::uint64_t bytes_to_board = 0;
  std::uint64_t bytes_from_board = 0;
  std::uint64_t exchanges = 0;  // commands carried out
  double simulated_seconds = 0;
};

// Faults the board injects into its replies. Exchanges count from 1.
struct FaultPlan {
  std::optional<std::uint64_t> silent_after;  // no reply at all once this many exchanges are done
  std::optional<std::uint64_t> truncate_exchange;
  std::size_t truncate_to = 0;  // bytes of that reply that are sent
  std::optional<std::uint64_t> corrupt_exchange;
  std::size_t corrupt_index = 0;  // byte of that reply
  std::uint8_t corrupt_xor = 0xFF;
  // The reply of this exchange stalls after `delay_after` bytes for longer
  // than the interval time-out; the rest arrives with the next read.
  std::optional<std::uint64_t> delay_exchange;
  std::size_t delay_after = 0;
};

inline constexpr std::uint8_t kAck = 0x06;
inline constexpr std::size_t kDumpBytes = 72;

class Board {
 public:
  // Throws std::invalid_argument for a device name that is not in the catalogue.
  explicit Board(BoardConfig config);

  Target& target() { return target_; }
  const Target& target() const { return target_; }
  const BoardConfig& config() const { return config_; }
  const Stats& stats() const { return stats_; }
  FaultPlan& faults() { return faults_; }
  void SetStuckBits(std::uint32_t address, std::uint32_t mask, std::uint32_t value) {
    target_.SetStuckBits(address, mask, value);
  }
  // One line per exchange: "> command bytes < reply bytes", in hexadecimal.
  void SetTrace(std::ostream* trace) { trace_ = trace; }
  // Called after each 0x20 (leave programming mode), e.g. to save the chip.
  void SetExitHook(std::function<void()> hook) { exit_hook_ = std::move(hook); }

  bool protocol_fault() const { return !faults_seen_.empty() || target_.protocol_fault(); }
  std::string fault_text() const;

  // --- the wire ---
  void Receive(const std::uint8_t* data, std::size_t n);  // host to board
  // Board to host: up to n bytes, stopping at a delayed reply's stall.
  std::size_t Take(std::uint8_t* out, std::size_t n);
  std::size_t Pending() const { return out_.size() - out_read_; }
  void AdvanceTime(std::uint64_t ns);

 private:
  std::size_t CommandLength() const;  // bytes the current command needs so far; 0 = unknown command
  void Dispatch();
  void Reply(std::uint8_t byte) { reply_[reply_size_++] = byte; }
  void ReplyWord(std::uint16_t word) {
    Reply(static_cast<std::uint8_t>(word >> 8));
    Reply(static_cast<std::uint8_t>(word));
  }
  void Finish();
  void Fault(const std::string& text);

  // target side
  void Six(std::uint32_t word);
  void Six(std::initializer_list<std::uint32_t> words) {
    for (std::uint32_t w : words) Six(w);
  }
  std::uint16_t RegOut();
  void Wait(int count);
  void Enter(bool key_entry, bool enhanced);

  // built-in letters (board_letters.cpp)
  void Letter(std::uint8_t letter);
  void PollWrite(int waits);
  void TimedWrite(int waits);
  void FlushUnlock();

  // programming executive (board_executive.cpp), one handler per command
  void ExecutiveSanityCheck();
  void ExecutiveRead(bool code);
  void ExecutiveProgram(bool code);
  void ExecutiveNack(std::uint8_t opcode, const char* why);
  bool ExecutiveRunning() const;
  // What the target's pins give when no executive answers: all ones.
  void ReplyAllOnes(std::size_t words);
  std::uint32_t CommandWord24(std::size_t at) const;  // high byte first
  void ExecutiveHeader(std::uint16_t status, std::uint8_t opcode, std::uint16_t length);

  BoardConfig config_;
  Target target_;
  Stats stats_;
  FaultPlan faults_;
  std::ostream* trace_ = nullptr;
  std::function<void()> exit_hook_;
  std::vector<std::string> faults_seen_;

  std::array<std::uint8_t, 512> command_{};
  std::size_t command_size_ = 0;
  std::array<std::uint8_t, 512> reply_{};
  std::size_t reply_size_ = 0;
  std::vector<std::uint8_t> out_;
  std::size_t out_read_ = 0;
  std::size_t stall_at_ = static_cast<std::size_t>(-1);  // index into out_
  bool unlock_pending_ = false;
};

}  // namespace quillon::sim
