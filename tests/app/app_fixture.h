// An Application wired to recording fakes and a scripted board.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/fake_front_end.h"
#include "app/ids.h"
#include "report/clock.h"
#include "test_support/scripted_port.h"

namespace quillon::app::testing {

// A scripted port that also logs opening and closing in the view's events.
class LoggingPort : public test_support::ScriptedPort {
 public:
  explicit LoggingPort(FakeView& view) : view_(view) {}
  std::vector<std::string> Open(const std::string& name) override {
    view_.Log("open " + name);
    if (on_open) on_open();
    return ScriptedPort::Open(name);
  }
  std::vector<std::string> Close() override {
    view_.Log("close");
    return ScriptedPort::Close();
  }

  std::function<void()> on_open;

 private:
  FakeView& view_;
};

class AppTest : public ::testing::Test {
 protected:
  AppTest() {
    port.clock = &clock;
    app = std::make_unique<Application>(view, settings, system, port, clock,
                                        [] { return report::kEnglishLangId; });
  }

  // Connect succeeds on COM `n` with firmware 1.2; afterwards the board is silent.
  void ConnectedOn(int n) {
    view.com_index = n - 1;
    port.responder = [](const test_support::ScriptedPort::Bytes& bytes) {
      return bytes == test_support::ScriptedPort::Bytes{0x1E}
                 ? test_support::ScriptedPort::Bytes{1, 2}
                 : test_support::ScriptedPort::Bytes{};
    };
    ASSERT_TRUE(app->Connect());
    port.responder = nullptr;
    port.writes.clear();
  }

  // Events logged from now on.
  std::size_t Mark() const { return view.events.size(); }
  std::vector<std::string> EventsSince(std::size_t mark) const {
    return {view.events.begin() + static_cast<std::ptrdiff_t>(mark), view.events.end()};
  }

  // E/D of COM list, Connect, device list, and the five operation buttons.
  std::string ControlStates() const {
    std::string s;
    for (int id : {kComList, kConnectButton, kDeviceList}) s += view.Enabled(id) ? 'E' : 'D';
    s += ' ';
    for (int id = kDetectButton; id <= kReadButton; ++id) s += view.Enabled(id) ? 'E' : 'D';
    return s;
  }

  FakeView view;
  FakeSettings settings;
  FakeSystem system{view};
  report::ManualClock clock;
  LoggingPort port{view};
  std::unique_ptr<Application> app;
};

}  // namespace quillon::app::testing
