// Every operation in every link mode against every fault the simulated board
// injects, run twice: through the window's logic (controls, port, status
// line) and through the console tool (exit status). A faulted run must end
// in bounded virtual time with the port closed and the controls usable, and
// must never report success for work the fault spoiled.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "app/application.h"
#include "app/fake_front_end.h"
#include "app/ids.h"
#include "app/kept_words_directory.h"
#include "cli/cli_test_support.h"
#include "cli/exit_codes.h"
#include "cli/runner.h"
#include "sim/sim_port.h"

namespace quillon::cli {
namespace {

namespace fs = std::filesystem;
using cli_test::kExecDir;

const char* const kDevice = "dsPIC30F4013";

struct Mode {
  const char* name;
  std::uint16_t firmware;
  bool enhanced;
};
const Mode kModes[] = {
    {"batch", 0x0100, false}, {"letters", 0x0102, false}, {"enhanced", 0x0102, true}};

struct Op {
  const char* name;
  Command command;
  bool incremental = false;
};
// Verify compares the sample file with a part that already holds it.
const Op kOperations[] = {
    {"connect", Command::kConnect}, {"detect", Command::kDetect},
    {"erase", Command::kErase},     {"check", Command::kCheck},
    {"write", Command::kWrite},     {"write-incremental", Command::kWrite, true},
    {"verify", Command::kVerify},   {"read", Command::kRead}};

// A fault strikes the first, middle or last exchange of the operation's
// fault-free run. Acknowledges are counted, never inspected, so a corrupted
// byte goes to the last byte of a reply that carries data; a truncated reply
// lacks its last byte.
enum class Kind { kSilent, kTruncated, kCorrupted, kLate, kStuckBit };
const char* const kKindNames[] = {"silent", "truncated", "corrupted", "late", "stuck"};
struct Fault {
  Kind kind;
  double at;
};
struct Strike {
  std::uint64_t exchange = 0;  // counted from the session's first
  std::size_t reply_size = 0;
};

// Whether the operation must fail under the fault. A lost, short or late
// reply always breaks the link. A stuck bit shows where the cell is compared
// (blank check, verification). A corrupted data byte shows in the blank
// check's and the batch verification's reads (the middle data exchange, and
// the check's last); it passes unseen where the host only shows or carries
// the data (a read, detection's configuration words, the executive words an
// erase keeps, the board's version) and in the executive's status words,
// whose size alone counts.
// An incremental write takes a corrupted read of a page for a difference and
// rewrites it, so it may pass.
bool MustFail(const Fault& fault, const Op& op, const Mode& mode) {
  const Command c = op.command;
  switch (fault.kind) {
    case Kind::kStuckBit:
      return c == Command::kCheck || c == Command::kWrite || c == Command::kVerify;
    case Kind::kCorrupted:
      return (c == Command::kCheck && fault.at > 0) ||
             (c == Command::kWrite && !op.incremental && fault.at == 0.5 && !mode.enhanced);
    default:
      return true;
  }
}

// The exchanges of a board trace ("#n > bytes < bytes" lines).
std::vector<Strike> ParseTrace(const std::string& trace, bool data_only) {
  std::vector<Strike> strikes;
  std::istringstream lines(trace);
  std::string line;
  while (std::getline(lines, line)) {
    const Strike s{std::stoull(line.substr(1)), (line.size() - line.find('<') - 1) / 3};
    if (!data_only || s.reply_size > 1) strikes.push_back(s);
  }
  return strikes;
}

// An erased cell with this bit stuck at zero: programmed there, the sample
// file's instruction keeps the bit set.
constexpr std::uint32_t kStuckAddress = 0x100;
constexpr std::uint32_t kStuckMask = 0x000200;

void Arm(sim::Board& board, Kind kind, const Strike& strike) {
  sim::FaultPlan& plan = board.faults();
  switch (kind) {
    case Kind::kSilent:
      plan.silent_after = strike.exchange - 1;
      break;
    case Kind::kTruncated:
      plan.truncate_exchange = strike.exchange;
      plan.truncate_to = strike.reply_size - 1;
      break;
    case Kind::kCorrupted:
      plan.corrupt_exchange = strike.exchange;
      plan.corrupt_index = strike.reply_size - 1;
      break;
    case Kind::kLate:
      plan.delay_exchange = strike.exchange;
      plan.delay_after = 0;
      break;
    case Kind::kStuckBit:
      board.SetStuckBits(kStuckAddress, kStuckMask, 0);
      break;
  }
}

// Counts opens and closes of the board's port.
class CountingPort : public link::SerialPort {
 public:
  explicit CountingPort(sim::SimPort& sim) : sim_(sim) {}
  std::vector<std::string> Open(const std::string& name) override {
    ++open;
    return sim_.Open(name);
  }
  std::vector<std::string> Close() override {
    --open;
    return sim_.Close();
  }
  link::Transfer Read(std::uint8_t* d, std::size_t n) override { return sim_.Read(d, n); }
  link::Transfer Write(const std::uint8_t* d, std::size_t n) override { return sim_.Write(d, n); }
  int open = 0;

 private:
  sim::SimPort& sim_;
};

sim::BoardConfig Board(const Mode& mode) {
  sim::BoardConfig config;
  config.device = kDevice;
  config.firmware = mode.firmware;
  return config;
}

struct AppRun {
  icsp::Outcome outcome = icsp::Outcome::kOk;
  double seconds = 0;
  bool port_open = false, controls_usable = false;
  std::string last_status;
  report::StatusKind last_kind = report::StatusKind::kRoutine;
  std::string trace;            // exchanges of the operation itself
  std::uint64_t exchanges = 0;  // connect's included
};

class FaultMatrix : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = cli_test::TempDir("faults");
    hex = cli_test::WriteSampleHex(dir / "sample.hex");
    report::NullSink sink;
    report::ManualClock clock;
    report::Reporter reporter(sink, clock, nullptr);
    devices::Selection selection;
    ASSERT_TRUE(devices::SelectDevice(selection, kDevice, reporter));
    ASSERT_EQ(image::LoadHexFile(hex, sample, selection, reporter), image::LoadResult::kLoaded);
  }

  // A part that holds the sample file when the operation compares with it.
  void Prepare(sim::Board& board, const Op& op) const {
    if (op.command != Command::kVerify) return;
    for (std::size_t u = 0; u + 1 < sample.program.size(); u += 2) {
      const std::uint32_t word = sample.program[u] | std::uint32_t{sample.program[u + 1]} << 16;
      if ((word & 0xFFFFFF) != 0xFFFFFF) board.target().SetProgram(std::uint32_t(u), word);
    }
  }
  void TearDown() override { fs::remove_all(dir); }

  // The window's logic: select, connect, then the operation. `at` is the
  // exchange the fault strikes (counted from the first of the session).
  AppRun RunApp(const Mode& mode, const Op& op, const Fault* fault = nullptr,
                const Strike& strike = {}) {
    sim::SimPort sim(Board(mode));
    Prepare(sim.board(), op);
    CountingPort port(sim);
    app::testing::FakeView view;
    app::testing::FakeSettings settings;
    app::testing::FakeSystem system(view);
    report::ManualClock clock;
    view.marks[report::Option::kEnhancedIcsp] = mode.enhanced;
    app::Application app(view, settings, system, port, clock, nullptr);
    app.Start();
    app.session().set_executive_dir(kExecDir);
    app.ChooseDevice(kDevice);
    if (fault) Arm(sim.board(), fault->kind, strike);
    std::ostringstream trace;
    AppRun run;
    if (op.command == Command::kConnect) {
      sim.board().SetTrace(&trace);
      run.outcome = app.ConnectTo("sim") ? icsp::Outcome::kOk : icsp::Outcome::kLinkFailure;
      run.controls_usable = view.Enabled(app::kConnectButton) || run.outcome == icsp::Outcome::kOk;
    } else {
      EXPECT_TRUE(app.ConnectTo("sim"));
      sim.board().SetTrace(&trace);
      switch (op.command) {
        case Command::kDetect:
          run.outcome = app.Detect();
          break;
        case Command::kErase:
          run.outcome = app.Erase();
          break;
        case Command::kCheck:
          run.outcome = app.Check();
          break;
        case Command::kWrite:
          run.outcome = app.WriteFile(hex, op.incremental);
          break;
        case Command::kVerify:
          run.outcome = app.VerifyFile(hex);
          break;
        default:
          run.outcome = app.Read(dir.string());
      }
      run.controls_usable = view.Enabled(app::kDetectButton) && view.Enabled(app::kReadButton) &&
                            view.Enabled(app::kDeviceList);
    }
    run.seconds =
        sim.board().stats().simulated_seconds + static_cast<double>(clock.ElapsedMs()) / 1000;
    run.port_open = port.open != 0;
    run.last_status = view.last_status();
    run.last_kind = view.kinds.empty() ? report::StatusKind::kRoutine : view.kinds.back();
    run.trace = trace.str();
    run.exchanges = sim.board().stats().exchanges;
    return run;
  }

  // The console tool on an equally faulted board; its exit status and the
  // exchanges it made. It checks the part's identity before the operation,
  // so its strikes come `shift` exchanges later than the window's.
  std::pair<int, std::uint64_t> RunCli(const Mode& mode, const Op& op, const Fault* fault,
                                       const Strike& strike = {}, std::uint64_t shift = 0,
                                       icsp::KeptWordsStore* kept = nullptr,
                                       const std::function<void(sim::Board&)>& setup = {}) {
    CliOptions options;
    options.command = op.command;
    options.incremental = op.incremental;
    options.port = "sim";
    options.device = kDevice;
    options.plain_icsp = !mode.enhanced;
    options.exec_dir = kExecDir;
    if (op.command == Command::kWrite || op.command == Command::kVerify) options.argument = hex;
    if (op.command == Command::kRead) options.argument = dir.string();
    app::testing::FakeSettings settings;
    std::ostringstream out, err;
    report::ManualClock clock;
    sim::SimPort sim(Board(mode));
    Prepare(sim.board(), op);
    if (setup) setup(sim.board());
    if (fault) Arm(sim.board(), fault->kind, {strike.exchange + shift, strike.reply_size});
    Environment env{settings,
                    out,
                    err,
                    clock,
                    [&](const std::string&, std::string&) -> std::unique_ptr<link::SerialPort> {
                      return std::make_unique<CountingPort>(sim);
                    },
                    report::kEnglishLangId};
    env.kept_words = kept;
    const int code = ExitStatus(RunCommand(options, env));
    return {code, sim.board().stats().exchanges};
  }

  fs::path dir;
  std::string hex;
  image::MemoryImage sample;
};

TEST_F(FaultMatrix, EveryOperationModeAndFault) {
  std::vector<Fault> faults{{Kind::kStuckBit, 0}};
  for (Kind kind : {Kind::kSilent, Kind::kTruncated, Kind::kCorrupted, Kind::kLate}) {
    for (double at : {0.0, 0.5, 1.0}) faults.push_back({kind, at});
  }
  int cases = 0;
  for (const Mode& mode : kModes) {
    for (const Op& op : kOperations) {
      const AppRun clean = RunApp(mode, op);
      ASSERT_EQ(clean.outcome, icsp::Outcome::kOk) << mode.name << " " << op.name;
      const std::uint64_t shift = RunCli(mode, op, nullptr).second - clean.exchanges;
      for (const Fault& fault : faults) {
        const std::vector<Strike> strikes = ParseTrace(clean.trace, fault.kind == Kind::kCorrupted);
        if (strikes.empty()) continue;  // no data to corrupt
        const Strike strike = strikes[static_cast<std::size_t>(fault.at * (strikes.size() - 1))];
        SCOPED_TRACE(std::string(mode.name) + " " + op.name + " " +
                     kKindNames[static_cast<int>(fault.kind)] + " at exchange " +
                     std::to_string(strike.exchange));
        ++cases;
        const AppRun run = RunApp(mode, op, &fault, strike);
        const int code =
            RunCli(mode, op, &fault, strike, op.command == Command::kConnect ? 0 : shift).first;
        EXPECT_LT(run.seconds, clean.seconds + 30);
        EXPECT_FALSE(run.port_open);
        EXPECT_TRUE(run.controls_usable);
        EXPECT_EQ(code, ExitStatus(ResultFor(run.outcome)));
        if (MustFail(fault, op, mode)) {
          EXPECT_NE(run.outcome, icsp::Outcome::kOk);
        }
        if (run.outcome != icsp::Outcome::kOk) {
          EXPECT_EQ(run.last_kind, report::StatusKind::kError) << run.last_status;
          EXPECT_EQ(run.last_status.find("Successful"), std::string::npos) << run.last_status;
        }
      }
    }
  }
  std::printf("fault matrix: %d cases\n", cases);
}

// --- host-side failures ---
// The part holds an old program and its own unit ID words; a failure on the
// host (a copy that cannot be kept, an output that cannot be written, an
// executive file gone, a stop request in any phase) must leave it holding
// the old program, a blank erase whose copy was named, or the new file, and
// nothing may be programmed or erased once the failing phase has ended.

constexpr std::uint32_t kOldWord = 0x123456;
constexpr std::uint32_t kUnitIds = 0x8005C0;

// A window that lets the test act when a phase begins and counts the part's
// completed NVM operations when one ends.
class PhaseView : public app::testing::FakeView {
 public:
  void BeginPhase(report::Phase phase) override {
    current = phase;
    if (on_begin) on_begin(phase);
  }
  void EndPhase(report::Phase, bool) override { ended_ops = ops ? ops() : 0; }
  void StopPhase(report::Phase) override {
    ++stopped_phases;
    ended_ops = ops ? ops() : 0;
  }
  std::function<void(report::Phase)> on_begin;
  std::function<int()> ops;
  std::optional<report::Phase> current;
  int ended_ops = -1, stopped_phases = 0;
};

// Calls `hook` before every write to the board.
class HookedPort : public link::SerialPort {
 public:
  explicit HookedPort(sim::SimPort& sim) : sim_(sim) {}
  std::vector<std::string> Open(const std::string& name) override { return sim_.Open(name); }
  std::vector<std::string> Close() override { return sim_.Close(); }
  link::Transfer Read(std::uint8_t* d, std::size_t n) override { return sim_.Read(d, n); }
  link::Transfer Write(const std::uint8_t* d, std::size_t n) override {
    if (hook) hook();
    return sim_.Write(d, n);
  }
  std::function<void()> hook;

 private:
  sim::SimPort& sim_;
};

struct HostRig {
  explicit HostRig(bool executive_in_part)
      : sim([&] {
          sim::BoardConfig config;
          config.device = kDevice;
          config.executive = executive_in_part;
          return config;
        }()),
        port(sim) {
    for (std::uint32_t i = 0; i < 32; ++i) chip().SetExecutive(kUnitIds + 2 * i, 0x00C000 | i);
    chip().SetProgram(0x100, kOldWord);
    view.ops = [this] { return chip().completed_operations(); };
    app.Start();
    app.ChooseDevice(kDevice);
    EXPECT_TRUE(app.ConnectTo("sim"));
    app.session().set_kept_words_store(&store);
  }
  sim::Target& chip() { return sim.board().target(); }
  bool UnitIdsIntact() {
    for (std::uint32_t i = 0; i < 32; ++i) {
      if (chip().Executive(kUnitIds + 2 * i) != (0x00C000 | i)) return false;
    }
    return true;
  }
  // The copy the statuses named holds the part's unit ID words.
  bool CopyNamed() {
    const std::vector<std::string> listed = store.List(0x0141, "sim");
    if (listed.empty()) return false;
    bool named = false;
    for (const std::string& s : view.statuses) named |= s.find(listed.front()) != std::string::npos;
    const std::optional<icsp::KeptWords> words = icsp::ParseKeptWords(*store.Load(listed.front()));
    return named && words && words->instructions.size() == 32 &&
           words->instructions[5] == (0x00C000 | 5);
  }

  sim::SimPort sim;
  HookedPort port;
  PhaseView view;
  app::testing::FakeSettings settings;
  app::testing::FakeSystem system{view};
  report::ManualClock clock;
  app::Application app{view, settings, system, port, clock, nullptr};
  fs::path rows;
  app::KeptWordsDirectory store{""};
};

enum class PartState { kOld, kBlankWithCopy, kNewFile };

TEST_F(FaultMatrix, HostSideFailuresLeaveThePartWhole) {
  const fs::path exec_copy = dir / "exec";
  fs::create_directories(exec_copy);
  fs::copy(kExecDir, exec_copy, fs::copy_options::recursive);
  const std::uint32_t new_word = image::InstructionAt(sample.program, 0x80);
  struct Case {
    const char* name;
    bool executive_in_part;
    std::function<icsp::Outcome(HostRig&)> run;
    icsp::Outcome outcome;
    std::vector<PartState> allowed;
  };
  auto stop_in = [&](report::Phase phase, int writes_in) {
    return [&, phase, writes_in](HostRig& r) {
      std::atomic<bool> stop{false};
      r.app.session().set_stop_request(&stop);
      int writes = 0;
      r.port.hook = [&r, &stop, &writes, phase, writes_in] {
        if (r.view.current == phase && ++writes == writes_in) stop = true;
      };
      const icsp::Outcome outcome = r.app.WriteFile(hex);
      r.app.session().set_stop_request(nullptr);
      return outcome;
    };
  };
  const std::vector<Case> cases{
      {"kept copy not writable",
       true,
       [&](HostRig& r) {
         std::ofstream(dir / "a-file") << "x";
         r.store = app::KeptWordsDirectory(dir / "a-file" / "rows");
         return r.app.WriteFile(hex);
       },
       icsp::Outcome::kWordsNotKept,
       {PartState::kOld}},
      {"two runs in one second",
       true,
       [&](HostRig& r) {
         const auto t = std::chrono::sys_days{std::chrono::December / 7 / 2026};
         r.store = app::KeptWordsDirectory(dir / "rows", [t] { return t; });
         app::KeptWordsDirectory other(dir / "rows", [t] { return t; });
         icsp::KeptWords words;
         words.device_id = 0x0141;
         words.port = "sim";
         words.first = kUnitIds;
         words.instructions.assign(32, 0xFFFFFF);
         std::string why;
         other.Save(words, why);  // the other run took the first name
         return r.app.WriteFile(hex);
       },
       icsp::Outcome::kOk,
       {PartState::kNewFile}},
      {"output not writable",
       true,
       [&](HostRig& r) {
         std::ofstream(dir / "b-file") << "x";
         return r.app.Read((dir / "b-file" / "out").string());
       },
       icsp::Outcome::kFileRejected,
       {PartState::kOld}},
      {"executive file removed after it was loaded",
       true,
       [&](HostRig& r) {
         r.app.session().set_executive_dir(exec_copy.string());
         r.view.on_begin = [&](report::Phase p) {
           if (p == report::Phase::kErasing) fs::remove_all(exec_copy);
         };
         return r.app.WriteFile(hex);
       },
       icsp::Outcome::kOk,
       {PartState::kNewFile}},
      {"executive file removed before a read needs it",
       false,
       [&](HostRig& r) {
         r.app.session().set_executive_dir((dir / "gone").string());
         return r.app.Read(dir.string());
       },
       icsp::Outcome::kFileRejected,
       {PartState::kOld}},
      {"stop in the erase",
       true,
       stop_in(report::Phase::kErasing, 3),
       icsp::Outcome::kStopped,
       {PartState::kBlankWithCopy}},
      {"stop in the executive load",
       true,
       stop_in(report::Phase::kExecutive, 3),
       icsp::Outcome::kStopped,
       {PartState::kBlankWithCopy}},
      {"stop in the writing",
       true,
       stop_in(report::Phase::kWriting, 3),
       icsp::Outcome::kStopped,
       {PartState::kBlankWithCopy}},
      {"stop in the verification",
       true,
       stop_in(report::Phase::kVerifying, 3),
       icsp::Outcome::kStopped,
       {PartState::kNewFile}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir / "rows");
    HostRig rig(c.executive_in_part);
    rig.store = app::KeptWordsDirectory(dir / "rows");
    rig.app.session().set_executive_dir(kExecDir);
    const icsp::Outcome outcome = c.run(rig);
    EXPECT_EQ(outcome, c.outcome) << rig.view.last_status();
    EXPECT_FALSE(rig.sim.board().protocol_fault()) << rig.sim.board().fault_text();
    if (outcome != icsp::Outcome::kOk) {
      EXPECT_EQ(rig.view.kinds.back(), report::StatusKind::kError) << rig.view.last_status();
      // Nothing programmed or erased once the failing phase had ended.
      if (rig.view.ended_ops >= 0) {
        EXPECT_EQ(rig.chip().completed_operations(), rig.view.ended_ops);
      }
    }
    // A stop is taken inside a phase or between two; inside, the stop names
    // the program address, as mismatches and blank checks do.
    EXPECT_LE(rig.view.stopped_phases, 1);
    if (rig.view.stopped_phases == 1 && rig.view.current != report::Phase::kExecutive) {
      EXPECT_NE(rig.view.last_status().find(" Adr "), std::string::npos);
      EXPECT_NE(rig.view.last_status().find(" (0x00"), std::string::npos) << rig.view.last_status();
    }
    const std::uint32_t at_100 = rig.chip().Program(0x100);
    PartState state = PartState::kOld;
    if (at_100 == new_word) {
      state = PartState::kNewFile;
    } else if (at_100 == 0xFFFFFF) {
      state = PartState::kBlankWithCopy;
      EXPECT_TRUE(rig.CopyNamed());
    } else {
      EXPECT_EQ(at_100, kOldWord);
    }
    if (state != PartState::kBlankWithCopy) {
      EXPECT_TRUE(rig.UnitIdsIntact());
    }
    EXPECT_NE(std::find(c.allowed.begin(), c.allowed.end(), state), c.allowed.end())
        << "0x100 holds " << at_100;
  }
  // The console tool ends a write whose copy cannot be kept with its own
  // status (the window's run above shows the part untouched).
  app::KeptWordsDirectory unwritable(dir / "a-file" / "rows");
  const int code =
      RunCli(kModes[2], {"write", Command::kWrite}, nullptr, {}, 0, &unwritable,
             [](sim::Board& board) { board.target().SetExecutive(kUnitIds, 0x00C000); })
          .first;
  EXPECT_EQ(code, kExitWordsNotKept);
}

// A link lost anywhere in a write after the erase began: the one failure
// report says what was erased and names the kept copy; "nothing was erased"
// is said only while it is true.
TEST_F(FaultMatrix, ALinkLostAfterTheEraseBeganNamesWhatWasErasedAndTheCopy) {
  std::uint64_t total = 0;
  {
    HostRig clean(true);
    clean.store = app::KeptWordsDirectory(dir / "rows-clean");
    clean.app.session().set_executive_dir(kExecDir);
    const std::uint64_t start = clean.sim.board().stats().exchanges;
    ASSERT_EQ(clean.app.WriteFile(hex), icsp::Outcome::kOk) << clean.view.last_status();
    total = clean.sim.board().stats().exchanges - start;
  }
  const std::string failed = "Error : link to the programmer failed";
  for (std::uint64_t k = 1; k < total; k += total / 40) {
    SCOPED_TRACE("silent after " + std::to_string(k));
    HostRig r(true);
    r.store = app::KeptWordsDirectory(dir / ("rows-" + std::to_string(k)));
    r.app.session().set_executive_dir(kExecDir);
    r.sim.board().faults().silent_after = r.sim.board().stats().exchanges + k;
    EXPECT_EQ(r.app.WriteFile(hex), icsp::Outcome::kLinkFailure);
    int failures = 0;
    bool nothing_erased_said = false;
    for (const std::string& status : r.view.statuses) {
      failures += status.find(failed) != std::string::npos ||
                  status.find("could not be read; nothing was erased") != std::string::npos;
      nothing_erased_said |= status.find("nothing was erased") != std::string::npos;
    }
    EXPECT_EQ(failures, 1);
    const bool touched = r.chip().Program(0x100) != kOldWord || !r.UnitIdsIntact();
    EXPECT_FALSE(nothing_erased_said && touched);
    if (!touched) continue;
    EXPECT_TRUE(r.CopyNamed());
    EXPECT_NE(r.view.last_status().find("The erase had begun"), std::string::npos)
        << r.view.last_status();
  }
}

}  // namespace
}  // namespace quillon::cli
