// The shell's commands against the simulated board.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "app/application.h"
#include "app/fake_front_end.h"
#include "app/ids.h"
#include "icsp/operations.h"
#include "report/clock.h"
#include "sim/sim_port.h"

namespace quillon::app::testing {
namespace {

namespace fs = std::filesystem;

// Records every byte sent to the simulated board.
class TappedPort : public link::SerialPort {
 public:
  explicit TappedPort(sim::SimPort& sim) : sim_(sim) {}
  std::vector<std::string> Open(const std::string& name) override { return sim_.Open(name); }
  std::vector<std::string> Close() override { return sim_.Close(); }
  link::Transfer Read(std::uint8_t* data, std::size_t n) override { return sim_.Read(data, n); }
  link::Transfer Write(const std::uint8_t* data, std::size_t n) override {
    wire.insert(wire.end(), data, data + n);
    return sim_.Write(data, n);
  }
  std::vector<std::uint8_t> wire;

 private:
  sim::SimPort& sim_;
};

class SimAppTest : public ::testing::Test {
 protected:
  explicit SimAppTest(const char* board = "sim:dsPIC30F4013")
      : sim(sim::MakeSimPort(board)), port(*sim) {
    app = std::make_unique<Application>(view, settings, system, port, clock, nullptr);
    app->Start();
    view.com_index = 0;
    EXPECT_TRUE(app->Connect());
    port.wire.clear();
  }

  FakeView view;
  FakeSettings settings;
  FakeSystem system{view};
  report::ManualClock clock;
  std::unique_ptr<sim::SimPort> sim;
  TappedPort port;
  std::unique_ptr<Application> app;
};

TEST_F(SimAppTest, DetectSelectsTheDeviceInTheListAndRemembersIt) {
  EXPECT_EQ(app->Detect(), icsp::Outcome::kOk);
  EXPECT_EQ(view.device_selection, "dsPIC30F4013");
  EXPECT_EQ(settings.values["CHIP"], "dsPIC30F4013");
  EXPECT_TRUE(view.last_status().starts_with("Detecting Successful!\r\ndevice=0141"));
}

TEST_F(SimAppTest, PlainIcspPreparesNothing) {
  ASSERT_TRUE(app->ChooseDevice("dsPIC30F4013"));
  view.marks[report::Option::kEnhancedIcsp] = false;
  EXPECT_EQ(app->Check(), icsp::Outcome::kOk);
  EXPECT_EQ(view.last_status().substr(0, 20), "Checking Successful!");

  // The same check on a twin board without the preparation step sends the
  // very same bytes.
  auto twin = sim::MakeSimPort("sim:dsPIC30F4013");
  TappedPort twin_port(*twin);
  FakeView twin_view;
  twin_view.marks[report::Option::kEnhancedIcsp] = false;
  report::Reporter reporter(twin_view, clock, nullptr);
  icsp::Session session(twin_port, reporter, twin_view);
  session.firmware_version = app->session().firmware_version;
  ASSERT_TRUE(devices::SelectDevice(session.device, "dsPIC30F4013", reporter));
  twin_port.wire.clear();
  session.BeginOperation();
  icsp::BlankCheck(session);
  EXPECT_EQ(port.wire, twin_port.wire);
}

TEST_F(SimAppTest, BoardFallingSilentMidReadEndsWithTheFailureMessage) {
  ASSERT_TRUE(app->ChooseDevice("dsPIC30F4013"));
  view.marks[report::Option::kEnhancedIcsp] = false;
  const fs::path dir =
      fs::temp_directory_path() / ("quillon_app_silent_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  for (std::uint64_t k : {3u, 500u, 5000u}) {
    sim->board().faults().silent_after = sim->board().stats().exchanges + k;
    const auto paused = clock.ElapsedMs();
    EXPECT_EQ(app->Read(dir.string()), icsp::Outcome::kLinkFailure) << k;
    // Only the first silent transfer is reported (two messages, a second
    // each), then the failure message (a second): no retries, no more pauses.
    EXPECT_LE(clock.ElapsedMs() - paused, 3000) << k;
    EXPECT_EQ(view.last_status(), app->reporter().Pick(icsp::LinkFailureMessage())) << k;
    for (const std::string& s : view.statuses) EXPECT_FALSE(s.starts_with("Reading Successful!"));
    EXPECT_TRUE(view.Enabled(kReadButton));
    EXPECT_TRUE(view.Enabled(kDeviceList));
    EXPECT_FALSE(view.Enabled(kConnectButton));
    // The next operation starts afresh.
    sim->board().faults().silent_after.reset();
    EXPECT_EQ(app->Detect(), icsp::Outcome::kOk) << k;
  }
  fs::remove_all(dir);
}

TEST_F(SimAppTest, MissingExecutiveFileSkipsTheSteps) {
  ASSERT_TRUE(app->ChooseDevice("dsPIC30F4013"));
  sim->target().SetExecutive(sim->target().application_id_address(), 0xFFFFFF);
  const fs::path empty =
      fs::temp_directory_path() / ("quillon_app_noexec_" + std::to_string(::getpid()));
  fs::create_directories(empty);
  app->session().executive_dir = empty.string();

  EXPECT_EQ(app->Read(empty.string()), icsp::Outcome::kFileRejected);
  EXPECT_FALSE(fs::exists(empty / "$Quill$.hex"));
  EXPECT_EQ(app->Check(), icsp::Outcome::kFileRejected);
  for (const std::string& s : view.statuses) {
    EXPECT_FALSE(s.starts_with("Reading Successful!") || s.starts_with("Checking Successful!"));
  }
  EXPECT_EQ(view.Enabled(kReadButton), true);
  fs::remove_all(empty);
}

}  // namespace
}  // namespace quillon::app::testing
