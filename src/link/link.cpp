#include "link/link.h"

#include <algorithm>

namespace quillon::link {
namespace {

const report::MessagePair kSendingTimeout{"Sending timeout!", "送信タイムアウト"};
const report::MessagePair kSendingError{"Error : Sending", "送信エラー"};
const report::MessagePair kReceivingTimeout{"Receiving timeout!", "受信タイムアウト"};
const report::MessagePair kReceivingError{"Error : Receiving", "受信エラー"};
const report::MessagePair kConnectFailed{"Error : Connect failed!", "ｴﾗｰ : 接続失敗!"};

// The batch payload length travels in one byte.
constexpr std::size_t kMaxBatchFill = 2 + 255 / 3 * 3;
constexpr std::size_t kMaxWordBlock = std::min<std::size_t>(255 / 2, kLinkWordCount);

}  // namespace

Link::Link(SerialPort& port, report::Reporter& reporter) : port_(port), reporter_(reporter) {}

void Link::OpenPort(const std::string& name) {
  for (const std::string& error : port_.Open(name)) reporter_.ReportPortError(error);
}

void Link::ClosePort() {
  for (const std::string& error : port_.Close()) reporter_.ReportPortError(error);
}

std::size_t Link::ReadPort(std::size_t n) {
  n = std::min(n, kBufferSize - 1);
  const Transfer t = port_.Read(receive_buffer_.data() + 1, n);
  if (!t.error.empty()) reporter_.ReportPortError(t.error);
  const std::size_t count = std::min(t.count, n);
  receive_buffer_[0] = static_cast<std::uint8_t>(count % 256);
  return count;
}

std::size_t Link::WritePort(std::size_t n) {
  n = std::min(n, kBufferSize);
  const Transfer t = port_.Write(send_buffer_.data(), n);
  if (!t.error.empty()) reporter_.ReportPortError(t.error);
  return std::min(t.count, n);
}

std::size_t Link::WriteByte(std::uint8_t byte) {
  send_buffer_[0] = byte;
  return WritePort(1);
}

void Link::BeginOperation() {
  lost_ = false;
  failed_ = false;
  fill_ = 2;
}

void Link::SendChecks(std::size_t written, std::size_t expected) {
  if (written == 0) reporter_.ReportError(kSendingTimeout, report::FailureKind::kLink);
  if (written < 1) reporter_.ReportError(kSendingError, report::FailureKind::kLink);
  if (written < expected) failed_ = true;
  if (written == 0) lost_ = true;
}

void Link::ReceiveChecks(std::size_t received, std::size_t expected) {
  if (received == 0) reporter_.ReportError(kReceivingTimeout, report::FailureKind::kLink);
  if (received < expected) {
    reporter_.ReportError(kReceivingError, report::FailureKind::kLink);
    failed_ = true;
  }
  if (received == 0 && expected > 0) lost_ = true;
}

void Link::SendCommand(std::uint8_t command) {
  if (lost_) return;
  send_buffer_[0] = command;
  SendChecks(WritePort(1), 1);
}

void Link::SendCommandAck(std::uint8_t command) {
  SendCommand(command);
  ReceiveReply(1);
}

void Link::ReceiveReply(std::size_t n) {
  // Nothing expected is nothing missing: no read, no time-out message.
  if (lost_ || n == 0) return;
  ReceiveChecks(ReadPort(n), n);
}

void Link::AppendInstruction(std::uint32_t word) {
  // Callers send long before the length byte would overflow; should one not,
  // the batch goes out rather than spilling past the buffer.
  if (fill_ + 3 > kMaxBatchFill) SendBatch();
  send_buffer_[fill_++] = static_cast<std::uint8_t>(word >> 16);
  send_buffer_[fill_++] = static_cast<std::uint8_t>(word >> 8);
  send_buffer_[fill_++] = static_cast<std::uint8_t>(word);
}

void Link::SendBatch() {
  if (fill_ == 2) return;
  const std::size_t length = fill_;
  fill_ = 2;
  if (lost_) return;
  send_buffer_[0] = cmd::kBatch;
  send_buffer_[1] = static_cast<std::uint8_t>(length - 2);
  SendChecks(WritePort(length), length);
  ReceiveReply(1);
}

void Link::SendAddress24(std::uint32_t value) {
  if (lost_) return;
  send_buffer_[0] = static_cast<std::uint8_t>(value >> 16);
  send_buffer_[1] = static_cast<std::uint8_t>(value >> 8);
  send_buffer_[2] = static_cast<std::uint8_t>(value);
  SendChecks(WritePort(3), 3);
}

void Link::SendWordBlock(std::span<const std::uint16_t> words) {
  if (lost_) return;
  // The byte count travels in one byte.
  const std::size_t n = std::min(words.size(), kMaxWordBlock);
  send_buffer_[0] = static_cast<std::uint8_t>(2 * n);
  for (std::size_t i = 0; i < n; ++i) {
    send_buffer_[2 * i + 1] = static_cast<std::uint8_t>(words[i] >> 8);
    send_buffer_[2 * i + 2] = static_cast<std::uint8_t>(words[i]);
  }
  SendChecks(WritePort(2 * n + 1), 2 * n + 1);
}

void Link::EnterIcsp(std::uint8_t entry_command) {
  fill_ = 2;
  SendCommandAck(entry_command);
}

void Link::ExitIcsp() {
  SendCommandAck(cmd::kExitIcsp);
}

bool Link::EnterEnhancedIcsp(std::uint8_t icsp_entry, std::uint8_t enhanced_entry) {
  // Already quiet: a loss has marked the failure, a stop must not.
  if (lost_) return false;
  const bool high_voltage = icsp_entry == cmd::kEnterIcsp30F;
  EnterIcsp(icsp_entry);
  ExitIcsp();
  auto sanity_check = [this] {
    SendCommand(cmd::kExecSanity);
    ReceiveReply(4);
    StoreReplyWords(2);
  };
  for (int attempt = 1; attempt <= 10 && !lost_; ++attempt) {
    SendCommandAck(enhanced_entry);
    if (high_voltage) {
      if (attempt > 5) SendCommandAck(cmd::kEnterEnhancedAlt);
      sanity_check();
    }
    sanity_check();
    // A lost reply leaves an earlier answer in the buffer; it proves nothing.
    if (lost_) break;
    if (words_[1] == 2) return true;
  }
  // An executive that never answers leaves every block reply stale: the
  // operation must not end with its success message.
  failed_ = true;
  if (!lost_) reporter_.ReportError(kConnectFailed, report::FailureKind::kLink);
  return false;
}

std::uint16_t Link::ReplyWord(std::size_t i) const {
  if (2 + 2 * i >= kBufferSize) return 0;
  return static_cast<std::uint16_t>(receive_buffer_[1 + 2 * i] << 8 | receive_buffer_[2 + 2 * i]);
}

void Link::StoreReplyWords(std::size_t n) {
  n = std::min(n, std::min(kLinkWordCount, (kBufferSize - 1) / 2));
  for (std::size_t i = 0; i < n; ++i) words_[i] = ReplyWord(i);
}

}  // namespace quillon::link
