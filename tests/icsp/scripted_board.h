// A scripted board for golden wire tests of the engine: it answers every
// exchange with the reply length the host expects, REGOUT with queued values
// and the fetch letters with queued bytes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "icsp/primitives.h"
#include "icsp/session.h"
#include "link/link.h"
#include "test_support/recording_sink.h"
#include "test_support/scripted_port.h"

namespace quillon::icsp {

using Bytes = test_support::ScriptedPort::Bytes;
inline const Bytes kWaitCommand{link::cmd::kWait};
inline constexpr std::uint32_t N = kNop;  // short, so golden batches read as columns

class ScriptedBoard {
 public:
  std::deque<std::uint16_t> regout;  // VISI values, 0x0000 once exhausted
  std::uint16_t regout_default = 0x0000;
  Bytes fetch_reply = Bytes(12, 0);  // answer to 't' (and the first 8 bytes to '|')
  // The executive answers PASS to its command unless changed (a flip of the
  // opcode answers another command).
  std::uint8_t exec_status = 0x1;
  std::uint8_t exec_opcode_flip = 0;

  Bytes Answer(const Bytes& w) {
    if (w.size() == 3) {  // an address of an executive command
      if (pending_addresses_ > 0 && --pending_addresses_ == 0) return Answered(block_reply_);
      return {};
    }
    if (w.empty()) return {};
    if (pending_block_ && w.size() > 3) return pending_block_ = false, Answered(4);  // block words
    if (w[0] >= link::cmd::kExecReadData && w[0] <= link::cmd::kExecWriteCode) opcode_ = w[0] & 0xF;
    switch (w[0]) {
      case link::cmd::kRegOut: {
        std::uint16_t v = regout_default;
        if (!regout.empty()) {
          v = regout.front();
          regout.pop_front();
        }
        return {static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
      }
      case link::cmd::kFetchCodeQuad:
        return fetch_reply;
      case link::cmd::kFetchDataQuad:
        return Bytes(fetch_reply.begin(), fetch_reply.begin() + 8);
      case link::cmd::kExecSanity:
        return {0x00, 0x00, 0x00, 0x02};
      case link::cmd::kExecWriteCode:
      case link::cmd::kExecWriteData:
        pending_block_ = true;
        return {};
      case link::cmd::kExecReadCode:
        pending_addresses_ = 2;
        block_reply_ = 4 + 192;
        return {};
      case link::cmd::kExecReadData:
        pending_addresses_ = 2;
        block_reply_ = 4 + 128;
        return {};
      default:
        return {0x00};  // every other exchange is acknowledged with one byte
    }
  }

 private:
  Bytes Answered(std::size_t n) const {
    Bytes reply(n, 0xFF);
    reply[0] = static_cast<std::uint8_t>(exec_status << 4 | (opcode_ ^ exec_opcode_flip));
    reply[1] = 0x00;
    return reply;
  }

  int pending_addresses_ = 0;
  std::size_t block_reply_ = 0;
  bool pending_block_ = false;
  std::uint8_t opcode_ = 0;
};

class ScriptedSessionTest : public ::testing::Test {
 protected:
  ScriptedSessionTest() {
    port.clock = &sink.clock;
    port.responder = [this](const Bytes& w) { return board.Answer(w); };
    session.set_firmware_version(0x0100);
  }

  void Select(const std::string& name) {
    ASSERT_TRUE(devices::SelectDevice(session.device(), name, *reporter));
    sink.entries.clear();
    port.writes.clear();
  }
  // Writes since the last Clear().
  void Clear() {
    port.writes.clear();
    sink.entries.clear();
  }
  std::vector<std::string> Errors() const { return sink.texts_of(report::StatusKind::kError); }

  test_support::RecordingSink sink;
  std::unique_ptr<report::Reporter> reporter = sink.MakeReporter();
  report::FixedOptions options;
  test_support::ScriptedPort port;
  ScriptedBoard board;
  Session session{port, *reporter, options};
};

// The batch packet carrying these instruction words.
inline Bytes BatchPacket(const std::vector<std::uint32_t>& words) {
  Bytes out{link::cmd::kBatch, static_cast<std::uint8_t>(3 * words.size())};
  for (std::uint32_t w : words) {
    out.push_back(static_cast<std::uint8_t>(w >> 16));
    out.push_back(static_cast<std::uint8_t>(w >> 8));
    out.push_back(static_cast<std::uint8_t>(w));
  }
  return out;
}

// The instruction words of a batch packet.
inline std::vector<std::uint32_t> WordsOf(const Bytes& packet) {
  std::vector<std::uint32_t> words;
  for (std::size_t i = 2; i + 2 < packet.size(); i += 3) {
    words.push_back(static_cast<std::uint32_t>(packet[i]) << 16 | packet[i + 1] << 8 |
                    packet[i + 2]);
  }
  return words;
}

}  // namespace quillon::icsp
