// Packets and the board's command set: strict request and reply, reply
// lengths known in advance, failures detected by time-out alone.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "link/serial_port.h"
#include "report/reporter.h"

namespace quillon::link {

// Board command bytes.
namespace cmd {
inline constexpr std::uint8_t kEnterIcsp30F = 0x0C;
inline constexpr std::uint8_t kEnterIcsp = 0x0D;
inline constexpr std::uint8_t kBatch = 0x0F;
inline constexpr std::uint8_t kRegOut = 0x12;
inline constexpr std::uint8_t kWait = 0x13;
inline constexpr std::uint8_t kDump = 0x14;
inline constexpr std::uint8_t kVersion = 0x1E;
inline constexpr std::uint8_t kExitIcsp = 0x20;
inline constexpr std::uint8_t kGotoResetVector100 = 0x70;  // 'p'
inline constexpr std::uint8_t kGotoResetVector200 = 0x71;  // 'q'
inline constexpr std::uint8_t kLoadCodeLatches = 0x72;     // 'r'
inline constexpr std::uint8_t kReadCodeQuad = 0x73;        // 's'
inline constexpr std::uint8_t kFetchCodeQuad = 0x74;       // 't'
inline constexpr std::uint8_t kNvmUnlock = 0x75;           // 'u'
inline constexpr std::uint8_t kTimedNvmWrite1 = 0x76;      // 'v'
inline constexpr std::uint8_t kTimedNvmWriteN = 0x77;      // 'w'
inline constexpr std::uint8_t kStartNvmWrite = 0x78;       // 'x'
inline constexpr std::uint8_t kPollNvmWrite1 = 0x79;       // 'y'
inline constexpr std::uint8_t kPollNvmWriteN = 0x7A;       // 'z'
inline constexpr std::uint8_t kReadDataQuad = 0x7B;        // '{'
inline constexpr std::uint8_t kFetchDataQuad = 0x7C;       // '|'
inline constexpr std::uint8_t kLoadDataLatches = 0x7D;     // '}'
inline constexpr std::uint8_t kExecSanity = 0x80;
inline constexpr std::uint8_t kExecReadData = 0x81;
inline constexpr std::uint8_t kExecReadCode = 0x82;
inline constexpr std::uint8_t kExecWriteData = 0x84;
inline constexpr std::uint8_t kExecWriteCode = 0x85;
inline constexpr std::uint8_t kEnterEnhanced30F = 0x8C;
inline constexpr std::uint8_t kEnterEnhanced = 0x8D;
inline constexpr std::uint8_t kEnterEnhancedAlt = 0x8F;
}  // namespace cmd

inline constexpr std::size_t kBufferSize = 260;
inline constexpr std::size_t kLinkWordCount = 128;

// One session's link: its port, packet buffers and batch. Port-level errors
// are shown as plain status texts; link time-outs and short transfers as
// bilingual errors with their pause. A transfer that moves no byte marks the
// link lost: that failure is reported, and every later transfer of the
// operation is skipped silently until `BeginOperation` clears the marks.
class Link {
 public:
  Link(SerialPort& port, report::Reporter& reporter);

  // --- port frame ---
  void OpenPort(const std::string& name);
  void ClosePort();
  // Raw transfers of the send buffer / into the receive buffer (index 0 :=
  // count mod 256, data from index 1), for Connect and tests.
  std::size_t ReadPort(std::size_t n);
  std::size_t WritePort(std::size_t n);
  // One raw byte, without the link's checks.
  std::size_t WriteByte(std::uint8_t byte);
  // Byte i of the receive buffer (0: the count of the last raw read).
  std::uint8_t ReceivedByte(std::size_t i) const {
    return i < kBufferSize ? receive_buffer_[i] : 0;
  }

  // --- operation-wide failure marks ---
  void BeginOperation();
  bool lost() const { return lost_; }
  // Any time-out, short transfer or unanswered executive entry since
  // BeginOperation: the operation must not end with its success message.
  bool failed() const { return failed_; }
  // Quiet for the rest of the operation, as after a loss, but without a
  // failure: the operation was stopped on purpose.
  void Stop() { lost_ = true; }

  // --- packets ---
  void SendCommand(std::uint8_t command);
  void SendCommandAck(std::uint8_t command);
  void ReceiveReply(std::size_t n);  // n = 0 reads nothing
  void AppendInstruction(std::uint32_t word);
  void SendBatch();
  void DiscardBatch() { fill_ = 2; }
  bool BatchEmpty() const { return fill_ == 2; }
  std::size_t PendingInstructions() const { return (fill_ - 2) / 3; }
  void SendAddress24(std::uint32_t value);
  // A block of words, high byte first, behind its byte count (at most 127
  // words go out).
  void SendWordBlock(std::span<const std::uint16_t> words);
  void EnterIcsp(std::uint8_t entry_command);
  void ExitIcsp();
  // Ten attempts to start the programming executive; false when it never
  // answered ("Error : Connect failed!") or the link was lost on the way.
  // `icsp_entry` 0x0C (high-voltage entry) also tries the alternative
  // Enhanced entry after five attempts.
  bool EnterEnhancedIcsp(std::uint8_t icsp_entry, std::uint8_t enhanced_entry);

  // Reply word i of the last reply (big-endian pairs from index 1).
  std::uint16_t ReplyWord(std::size_t i) const;
  // words()[i] := reply word i for i < n.
  void StoreReplyWords(std::size_t n);
  // The words stored from replies.
  const std::array<std::uint16_t, kLinkWordCount>& words() const { return words_; }

 private:
  void SendChecks(std::size_t written, std::size_t expected);
  void ReceiveChecks(std::size_t received, std::size_t expected);

  SerialPort& port_;
  report::Reporter& reporter_;
  std::array<std::uint8_t, kBufferSize> send_buffer_{};
  std::array<std::uint8_t, kBufferSize> receive_buffer_{};
  std::array<std::uint16_t, kLinkWordCount> words_{};
  std::size_t fill_ = 2;
  bool lost_ = false;
  bool failed_ = false;
};

}  // namespace quillon::link
