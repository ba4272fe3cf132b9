// A link wired to a scripted board, a recording status line and a manual
// clock that the port charges with its read time-outs.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "link/link.h"
#include "test_support/recording_sink.h"
#include "test_support/scripted_port.h"

namespace quillon::link {

using Bytes = test_support::ScriptedPort::Bytes;

class LinkTest : public ::testing::Test {
 protected:
  LinkTest() { port.clock = &sink.clock; }

  std::vector<std::string> Errors() const { return sink.texts_of(report::StatusKind::kError); }
  std::int64_t ElapsedMs() const { return sink.clock.ElapsedMs(); }
  // The command byte of every write, in order.
  Bytes CommandBytes() const {
    Bytes out;
    for (const Bytes& w : port.writes) out.push_back(w.empty() ? 0 : w[0]);
    return out;
  }

  test_support::RecordingSink sink;
  std::unique_ptr<report::Reporter> reporter = sink.MakeReporter();
  test_support::ScriptedPort port;
  Link link{port, *reporter};
};

// Read time-out of the port for a read of n bytes.
inline std::int64_t ReadTimeoutMs(std::int64_t n) {
  return 1280 + 2 * n;
}

// Family code 0: the high-voltage entries; any other: the key entries.
inline bool EnterEnhanced(Link& link, int family_code) {
  return family_code == 0 ? link.EnterEnhancedIcsp(cmd::kEnterIcsp30F, cmd::kEnterEnhanced30F)
                          : link.EnterEnhancedIcsp(cmd::kEnterIcsp, cmd::kEnterEnhanced);
}

}  // namespace quillon::link
