// Command parsing, replies, fault injection and link timing of the board.
#include "sim/board.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "link/link.h"

namespace quillon::sim {
namespace {

namespace cmd = link::cmd;

// 10 bits per byte (8N1) at 230400 baud.
constexpr std::uint64_t kByteNs = 10'000'000'000ULL / link::kBaudRate;
constexpr std::size_t kNoStall = static_cast<std::size_t>(-1);

const devices::DeviceRecord& FindDevice(const std::string& name) {
  const devices::DeviceRecord* row = devices::FindByName(name);
  if (row == nullptr) throw std::invalid_argument("unknown device " + name);
  return *row;
}

void TraceBytes(std::ostream& out, const std::uint8_t* data, std::size_t n) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (std::size_t i = 0; i < n; ++i) {
    out.put(' ');
    out.put(kDigits[data[i] >> 4]);
    out.put(kDigits[data[i] & 15]);
  }
}

}  // namespace

Board::Board(BoardConfig config)
    : config_(std::move(config)),
      target_(FindDevice(config_.device), config_.target_timing,
              config_.device_id_override.value_or(FindDevice(config_.device).device_id),
              config_.revision) {
  if (config_.executive && target_.form().executive.present) {
    // The application ID a programming executive carries at its family's address.
    target_.SetExecutive(target_.application_id_address(), target_.form().executive.id_value);
  }
  out_.reserve(4096);
}

std::string Board::fault_text() const {
  std::string text;
  for (const std::string& fault : faults_seen_) text += fault + '\n';
  text += target_.fault_text();
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

void Board::Fault(const std::string& text) {
  if (faults_seen_.size() < 64) faults_seen_.push_back(text);
}

void Board::AdvanceTime(std::uint64_t ns) {
  target_.Advance(ns);
  stats_.simulated_seconds = static_cast<double>(target_.now_ns()) / 1e9;
}

// --- the wire --------------------------------------------------------------

std::size_t Board::CommandLength() const {
  const std::uint8_t command = command_[0];
  switch (command) {
    case cmd::kEnterIcsp30F:
    case cmd::kEnterIcsp:
    case cmd::kRegOut:
    case cmd::kWait:
    case cmd::kDump:
    case cmd::kVersion:
    case cmd::kExitIcsp:
    case cmd::kExecSanity:
    case cmd::kEnterEnhanced30F:
    case cmd::kEnterEnhanced:
    case cmd::kEnterEnhancedAlt:
      return 1;
    case cmd::kBatch:
      return command_size_ < 2 ? 2 : 2 + command_[1];
    case cmd::kExecReadData:
    case cmd::kExecReadCode:
      return 7;
    case cmd::kExecWriteData:
      return command_size_ < 5 ? 5 : 5 + command_[4];
    case cmd::kExecWriteCode:
      return command_size_ < 8 ? 8 : 8 + command_[7];
    default:
      if (command >= cmd::kGotoResetVector100 && command <= cmd::kLoadDataLatches &&
          config_.firmware > 0x0100) {
        return 1;
      }
      return 0;
  }
}

void Board::Receive(const std::uint8_t* data, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    command_[command_size_++] = data[i];
    const std::size_t need = CommandLength();
    if (need == 0) {
      char text[48];
      std::snprintf(text, sizeof text, "unknown board command %02X", command_[0]);
      Fault(text);
      stats_.bytes_to_board += 1;
      AdvanceTime(kByteNs);
      command_size_ = 0;  // no reply: the host sees a time-out
    } else if (command_size_ >= need) {
      Dispatch();
      command_size_ = 0;
    }
  }
}

std::size_t Board::Take(std::uint8_t* out, std::size_t n) {
  const std::size_t limit = stall_at_ != kNoStall ? std::min(stall_at_, out_.size()) : out_.size();
  const std::size_t count = std::min(n, limit - out_read_);
  std::copy_n(out_.data() + out_read_, count, out);
  out_read_ += count;
  if (stall_at_ != kNoStall && out_read_ >= limit && count < n) stall_at_ = kNoStall;
  if (out_read_ == out_.size() && stall_at_ == kNoStall) {
    out_.clear();
    out_read_ = 0;
  }
  return count;
}

void Board::Dispatch() {
  reply_size_ = 0;
  stats_.bytes_to_board += command_size_;
  AdvanceTime(command_size_ * kByteNs);
  const bool silent = faults_.silent_after && stats_.exchanges >= *faults_.silent_after;
  const std::uint8_t command = command_[0];
  if (!silent) {
    switch (command) {
      case cmd::kEnterIcsp30F:
      case cmd::kEnterIcsp:
      case cmd::kEnterEnhanced30F:
      case cmd::kEnterEnhanced:
      // Inference: the retry entry for FamilyCode-0 parts is another
      // high-voltage Enhanced ICSP entry.
      case cmd::kEnterEnhancedAlt:
        Enter(command == cmd::kEnterIcsp || command == cmd::kEnterEnhanced,
              command != cmd::kEnterIcsp30F && command != cmd::kEnterIcsp);
        Reply(kAck);
        break;
      case cmd::kBatch: {
        const std::size_t length = command_[1];
        if (length % 3 != 0)
          Fault("batch length " + std::to_string(length) + " is not a multiple of 3");
        for (std::size_t i = 2; i + 3 <= 2 + length; i += 3) Six(CommandWord24(i));
        Reply(kAck);
        break;
      }
      case cmd::kRegOut:
        ReplyWord(RegOut());
        break;
      case cmd::kWait:
        Wait(1);
        Reply(kAck);
        break;
      case cmd::kDump: {
        for (int n = 0; n < 16; ++n) ReplyWord(target_.W(n));
        ReplyWord(target_.tblpag());
        ReplyWord(target_.nvmcon());
        ReplyWord(static_cast<std::uint16_t>(target_.nvm_address()));
        ReplyWord(static_cast<std::uint16_t>(target_.nvm_address() >> 16));
        ReplyWord(target_.DataWord(kVisi));
        ReplyWord(config_.firmware);
        Reply(static_cast<std::uint8_t>(target_.mode()));
        Reply(protocol_fault() ? 1 : 0);
        while (reply_size_ < kDumpBytes) Reply(0);
        break;
      }
      case cmd::kVersion:
        ReplyWord(config_.firmware);
        break;
      case cmd::kExitIcsp:
        if (config_.target_present) target_.Exit();
        unlock_pending_ = false;
        Reply(kAck);
        break;
      case cmd::kExecSanity:
        ExecutiveSanityCheck();
        break;
      case cmd::kExecReadData:
      case cmd::kExecReadCode:
        ExecutiveRead(command == cmd::kExecReadCode);
        break;
      case cmd::kExecWriteData:
      case cmd::kExecWriteCode:
        ExecutiveProgram(command == cmd::kExecWriteCode);
        break;
      default:
        Letter(command);
        break;
    }
  }
  Finish();
  if (command == cmd::kExitIcsp && !silent && exit_hook_) exit_hook_();
}

void Board::Finish() {
  const std::uint64_t exchange = ++stats_.exchanges;
  if (faults_.truncate_exchange == exchange)
    reply_size_ = std::min(reply_size_, faults_.truncate_to);
  if (faults_.corrupt_exchange == exchange && faults_.corrupt_index < reply_size_) {
    reply_[faults_.corrupt_index] ^= faults_.corrupt_xor;
  }
  if (faults_.delay_exchange == exchange && faults_.delay_after < reply_size_) {
    stall_at_ = out_.size() + faults_.delay_after;
  }
  if (reply_size_ > 0) {
    out_.insert(out_.end(), reply_.begin(),
                reply_.begin() + static_cast<std::ptrdiff_t>(reply_size_));
    stats_.bytes_from_board += reply_size_;
    AdvanceTime(config_.turnaround_ns + reply_size_ * kByteNs);
  }
  if (trace_ != nullptr) {
    *trace_ << '#' << exchange << " >";
    TraceBytes(*trace_, command_.data(), command_size_);
    *trace_ << " <";
    TraceBytes(*trace_, reply_.data(), reply_size_);
    *trace_ << '\n';
  }
}

// --- target side -----------------------------------------------------------

void Board::Six(std::uint32_t word) {
  if (config_.target_present) target_.Execute(word);
}

std::uint16_t Board::RegOut() {
  return config_.target_present ? target_.RegOut() : 0xFFFF;
}

void Board::Wait(int count) {
  for (int i = 0; i < count; ++i) AdvanceTime(config_.wait_ns);
}

void Board::Enter(bool key_entry, bool enhanced) {
  unlock_pending_ = false;
  if (config_.target_present) target_.Enter(key_entry, enhanced);
}

}  // namespace quillon::sim
