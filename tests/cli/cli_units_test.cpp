#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "app/durable_file.h"
#include "app/identity.h"
#include "cli/cli_options.h"
#include "cli/cli_test_support.h"
#include "cli/command.h"
#include "cli/console_view.h"
#include "cli/exit_codes.h"
#include "cli/gang_console.h"
#include "cli/port_session.h"
#include "cli/production_log.h"
#include "cli/serial_numbers.h"
#include "devices/catalogue.h"
#include "devices/selection.h"
#include "image/memory_image.h"

namespace quillon::cli {
namespace {

// --- devices ---

TEST(DeviceListing, LinesAndFamilyForms) {
  EXPECT_EQ(DeviceLine(*devices::FindByName("dsPIC30F4013")),
            "dsPIC30F4013       0141  40b    16384  1024  dsPIC30F");
  EXPECT_EQ(devices::Form(*devices::FindByName("dsPIC30F1010")).name, "dsPIC30F (0x0D entry)");
  EXPECT_EQ(devices::Form(*devices::FindByName("PIC24HJ12GP201")).name, "dsPIC33F/PIC24");
  EXPECT_EQ(DeviceLine(*devices::FindByName("PIC24F16KA102")),
            "PIC24F16KA102      0D03  28-3.3V   5632   512  PIC24F KA");
}

TEST(DeviceListing, PatternIsACaseInsensitiveSubstring) {
  std::ostringstream all;
  EXPECT_EQ(ListDevices("", all), 207);
  std::ostringstream some;
  const int n = ListDevices("30f40", some);
  int expected = 0;
  for (const auto& row : devices::Catalogue())
    expected += row.name.find("30F40") != std::string::npos;
  EXPECT_EQ(n, expected);
  EXPECT_GE(n, 3);
  EXPECT_NE(some.str().find("dsPIC30F4011 "), std::string::npos);
  std::ostringstream none;
  EXPECT_EQ(ListDevices("no such part", none), 0);
  EXPECT_EQ(none.str(), "");
}

// --- console view ---

TEST(ConsoleTextTest, CrLfBecomesNewline) {
  EXPECT_EQ(ConsoleText("connected!\r\nfirmware=1.2"), "connected!\nfirmware=1.2");
  EXPECT_EQ(ConsoleText("a\rb"), "a\rb");
}

struct ViewRig {
  explicit ViewRig(Verbosity v, bool progress = false)
      : view(out, err, v, progress, [this] { return now; }) {}
  std::ostringstream out, err;
  std::int64_t now = 0;
  ConsoleView view;
};

TEST(ConsoleViewTest, NormalPrintsResultsAndErrorsAsTheyCome) {
  ViewRig rig(Verbosity::kNormal);
  rig.view.ShowStatus("Reading...", report::StatusKind::kRoutine);
  rig.view.ShowStatus("connected!\r\nfirmware=1.2", report::StatusKind::kResult);
  rig.view.ShowFailure(
      {report::FailureKind::kPort, "open Error=2 (No such file or directory)", {}, {}});
  rig.view.ShowStatus("受信タイムアウト", report::StatusKind::kError);
  rig.view.Finish();
  EXPECT_EQ(rig.out.str(), "connected!\nfirmware=1.2\n");
  EXPECT_EQ(rig.err.str(), "open Error=2 (No such file or directory)\n受信タイムアウト\n");
}

TEST(ConsoleViewTest, QuietPrintsOnlyTheLastResultOrError) {
  ViewRig rig(Verbosity::kQuiet, /*progress=*/true);
  rig.view.ShowStatus("connected!", report::StatusKind::kResult);
  rig.view.ShowProgress(50, 100);
  rig.view.ShowStatus("Not blank!", report::StatusKind::kError);
  rig.view.ShowStatus("Checking...", report::StatusKind::kRoutine);
  EXPECT_EQ(rig.out.str() + rig.err.str(), "");
  rig.view.Finish();
  EXPECT_EQ(rig.out.str(), "");
  EXPECT_EQ(rig.err.str(), "Not blank!\n");
}

TEST(ConsoleViewTest, VerboseThrottlesPerRowTextsButNeverResults) {
  ViewRig rig(Verbosity::kVerbose);
  rig.view.ShowStatus("Loading...", report::StatusKind::kRoutine);
  rig.view.ShowStatus("Erasing...", report::StatusKind::kRoutine);
  for (int i = 0; i < 100; ++i) {
    rig.view.ShowStatus("Writing:Prg Adr " + std::to_string(i), report::StatusKind::kStep);
    rig.now += 10;  // 100 texts in one second
  }
  rig.view.ShowStatus("Writing Successful!", report::StatusKind::kResult);
  const std::string out = rig.out.str();
  const auto lines = std::count(out.begin(), out.end(), '\n');
  EXPECT_GE(lines, 6);
  EXPECT_LE(lines, 8);
  EXPECT_TRUE(out.starts_with("Loading...\nErasing...\nWriting:Prg Adr 0\n"));
  EXPECT_TRUE(out.ends_with("Writing Successful!\n"));
}

TEST(ConsoleViewTest, ProgressShowsOnlyAsAPhaseBarClearedBeforeText) {
  ViewRig rig(Verbosity::kNormal, /*progress=*/true);
  rig.view.ShowProgress(40, 100);  // before any phase: no unlabelled bar
  EXPECT_EQ(rig.err.str(), "");
  rig.view.BeginPhase(report::Phase::kReading);
  rig.view.ShowProgress(40, 100);
  rig.view.ShowProgress(40, 100);  // unchanged: not redrawn
  const std::string drawn = rig.err.str();
  EXPECT_EQ(std::count(drawn.begin(), drawn.end(), '\r'), 2);
  EXPECT_NE(drawn.find("Reading   | #########"), std::string::npos);
  rig.view.ShowStatus("Note", report::StatusKind::kNotice);
  EXPECT_TRUE(rig.err.str().ends_with("\rNote\n"));
  ViewRig off(Verbosity::kNormal, /*progress=*/false);
  off.view.ShowProgress(40, 100);
  EXPECT_EQ(off.err.str(), "");
}

// Elapsed, percent -> seconds left shown: estimated when the percent moves,
// counted down between, never up (a slower stretch, a loop starting again).
TEST(ConsoleViewTest, TimeLeftNeverCountsUp) {
  const struct {
    std::int64_t elapsed_ms;
    int percent;
    std::optional<std::int64_t> left_ms;
  } kSteps[] = {
      {500, 10, std::nullopt},  // too early to say
      {1000, 10, 9000},
      {3000, 10, 7000},
      {6000, 20, 4000},  // the pace dropped: 24 s estimated, the count goes on
      {7000, 5, 3000},   // a second loop from 5 %
      {9000, 5, 1000},
      {20000, 90, std::nullopt},  // run out
      {30000, 100, std::nullopt},
  };
  TimeLeft left;
  for (const auto& step : kSteps) {
    EXPECT_EQ(left.At(step.percent, step.elapsed_ms), step.left_ms) << step.elapsed_ms;
  }
}

TEST(ConsoleViewTest, OnePhaseLineOnAPipeRedrawsOnATerminal) {
  for (bool terminal : {false, true}) {
    ViewRig rig(Verbosity::kNormal, terminal);
    rig.view.BeginPhase(report::Phase::kWriting);
    for (int p = 0; p <= 100; p += 10) {
      rig.view.ShowProgress(p, 100);
      rig.now += 300;
    }
    rig.view.EndPhase(report::Phase::kWriting, true);
    rig.view.BeginPhase(report::Phase::kVerifying);
    rig.view.ShowProgress(40, 100);
    rig.view.EndPhase(report::Phase::kVerifying, false);
    const std::string err = rig.err.str();
    const std::string last_line = err.substr(err.rfind('\r') + 1);
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2) << err;
    EXPECT_NE(err.find("Writing   | ######################## | 100%  3.30 s\n"), std::string::npos)
        << err;
    EXPECT_NE(err.find("Verifying | #########                |  40%  0.00 s  failed\n"),
              std::string::npos)
        << err;
    EXPECT_EQ(err.find('\r') != std::string::npos, terminal);
    // On a terminal a long phase also says how long it still needs.
    EXPECT_EQ(err.find("  2 s left") != std::string::npos, terminal) << err;
  }
  ViewRig quiet(Verbosity::kQuiet, true);
  quiet.view.BeginPhase(report::Phase::kErasing);
  quiet.view.EndPhase(report::Phase::kErasing, true);
  EXPECT_EQ(quiet.err.str(), "");
}

TEST(ConsoleViewTest, MismatchInReadableWordsReplacesTheCodedText) {
  ViewRig rig(Verbosity::kNormal);
  const auto failure = [](const report::Mismatch& m) {
    return report::Failure{report::FailureKind::kMismatch, "Error : Not match!", m.address, m};
  };
  rig.view.ShowFailure(failure({report::Memory::kProgram, 0, 0x000100, 0x005555}));
  rig.view.set_language(report::kJapaneseLangId);
  rig.view.ShowFailure(failure({report::Memory::kProgram, 0x200, 1, 2}));
  EXPECT_EQ(rig.err.str(),
            "verification failed at program address 0x000000: read 0x000100, expected 0x005555\n"
            "検証失敗: プログラムメモリ 0x000200 番地: 読出値 0x000001, 期待値 0x000002\n");
  EXPECT_EQ(MismatchText({report::Memory::kEeprom, 0x7FFC02, 0x12, 0xABCD}, 0x0409),
            "verification failed at EEPROM address 0x7FFC02: read 0x0012, expected 0xABCD");
  // A blank check's finding, in the same address terms.
  EXPECT_EQ(MismatchText({report::Memory::kProgram, 0x000204, 0x040100, 0xFFFFFF,
                          report::Comparison::kBlankCheck},
                         0x0409),
            "not blank at program address 0x000204: read 0x040100");
}

TEST(GangConsoleTest, OneLinePerPortRedrawnTogetherOrOneLinePerPhaseEnd) {
  const std::string by_id = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_";
  std::ostringstream terminal, pipe;
  std::int64_t now = 0;
  GangConsole drawn(terminal, {by_id + "A1B2-if00-port0", by_id + "C3D4-if00-port0"}, true, false,
                    report::kEnglishLangId, [&now] { return now; });
  drawn.BeginPhase(1, report::Phase::kWriting);
  drawn.Message(0, "Receiving timeout!");
  drawn.Done(0, Result::kLinkFailure);
  EXPECT_EQ(
      terminal.str(),
      "\r...A1B2...  connecting\x1b[K\n\r...C3D4...  Writing   |                          |   "
      "0%  0.00 s\x1b[K\n"
      // The error above the block, the block drawn again below it.
      "\x1b[2A\r\x1b[J" +
          by_id + "A1B2-if00-port0: Receiving timeout!\n" +
          "\r...A1B2...  connecting\x1b[K\n\r...C3D4...  Writing   |                          "
          "|   0%  0.00 s\x1b[K\n"
          "\x1b[2A\r...A1B2...  link failure\x1b[K\n\r...C3D4...  Writing   |           "
          "               |   0%  0.00 s\x1b[K\n");
  GangConsole lines(pipe, {"/dev/pts/3", "sim"}, false, false, report::kEnglishLangId,
                    [&now] { return now; });
  lines.BeginPhase(1, report::Phase::kErasing);
  lines.Progress(1, 50);
  now = 20;
  lines.EndPhase(1, report::Phase::kErasing, true);
  lines.Done(1, Result::kOk);
  lines.Message(0, "Error : first\r\nsecond");  // every line of an error names its port
  lines.Finish();
  EXPECT_EQ(pipe.str(),
            "sim         Erasing   | ######################## | 100%  0.02 s\n"
            "/dev/pts/3: Error : first\n/dev/pts/3: second\n");
}

// --- command line ---

ParseOutcome Parse(std::vector<std::string> args, std::string* out_text = nullptr,
                   std::string* err_text = nullptr) {
  args.insert(args.begin(), "quillon");
  std::ostringstream out, err;
  ParseOutcome p = ParseCommandLine(args, out, err);
  if (out_text) *out_text = out.str();
  if (err_text) *err_text = err.str();
  return p;
}

// A command missing from the table would run as another one.
TEST(CommandLine, EveryCommandIsRegisteredOnceUnderItsName) {
  std::set<std::string_view> names;
  for (int id = 0; id <= static_cast<int>(Command::kRestoreRow); ++id) {
    const ConsoleCommand& command = CommandFor(static_cast<Command>(id));
    EXPECT_EQ(static_cast<int>(command.id), id);
    EXPECT_TRUE(names.insert(CommandName(command.id)).second) << command.name;
  }
  EXPECT_EQ(names.size(), Commands().size());
}

TEST(CommandLine, OptionsBeforeOrAfterTheCommand) {
  ParseOutcome p =
      Parse({"-P", "/dev/ttyUSB0", "--no-erase", "-q", "write", "a.hex", "--icsp", "-p",
             "dsPIC30F4013", "--lang", "ja", "--exec-dir", "/pe", "--incremental"});
  ASSERT_TRUE(p.options);
  const CliOptions& o = *p.options;
  EXPECT_EQ(o.command, Command::kWrite);
  EXPECT_EQ(o.argument, "a.hex");
  EXPECT_EQ(o.port, "/dev/ttyUSB0");
  EXPECT_EQ(o.device, "dsPIC30F4013");
  EXPECT_TRUE(o.no_erase);
  EXPECT_TRUE(o.incremental);
  EXPECT_FALSE(o.no_verify);
  EXPECT_TRUE(o.plain_icsp);
  EXPECT_EQ(o.lang, "ja");
  EXPECT_EQ(o.exec_dir, "/pe");
  EXPECT_EQ(o.verbosity, Verbosity::kQuiet);
  EXPECT_TRUE(Parse({"erase", "--force"}).options->force);
  // -P repeated, before and after the command: every board, in order.
  p = Parse(
      {"-P", "a", "-P", "b", "write", "-P", "c", "x.hex", "--serial", "0x2000", "--log", "l"});
  ASSERT_TRUE(p.options);
  EXPECT_EQ(p.options->ports, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(p.options->port, "a");
  EXPECT_EQ(p.options->serial, "0x2000");

  p = Parse({"read"});
  ASSERT_TRUE(p.options);
  EXPECT_FALSE(p.options->incremental);
  EXPECT_EQ(p.options->argument, "");
  EXPECT_EQ(p.options->verbosity, Verbosity::kNormal);
  EXPECT_EQ(Parse({"-v", "devices", "30F"}).options->verbosity, Verbosity::kVerbose);
}

TEST(CommandLine, UsageErrorsGiveTwo) {
  for (std::vector<std::string> args :
       std::vector<std::vector<std::string>>{{},
                                             {"flash"},
                                             {"write"},
                                             {"--lang", "de", "connect"},
                                             {"-q", "-v", "connect"},
                                             {"connect", "extra"},
                                             {"--bogus", "connect"},
                                             {"--no-erase", "read"},
                                             {"devices", "-P", "sim"},
                                             {"read", "-o", "a.hex", "dir"},
                                             {"erase", "--serial", "0x2000"},
                                             {"verify", "a.hex", "--log", "l"},
                                             {"write", "a.hex", "--serial-state", "s"},
                                             {"write", "a.hex", "--serial", "0x2001"},
                                             {"help", "flahs"}}) {
    std::string out, err;
    ParseOutcome p = Parse(args, &out, &err);
    EXPECT_FALSE(p.options);
    EXPECT_EQ(p.result, Result::kUsage) << testing::PrintToString(args);
    EXPECT_FALSE(err.empty());
    EXPECT_EQ(out, "");
    // With --json, standard output carries the one object.
    args.push_back("--json");
    Parse(args, &out, &err);
    EXPECT_TRUE(out.starts_with("{\"operation\":") && out.ends_with("\"exit_status\":2}\n")) << out;
  }
}

TEST(CommandLine, HelpCommandShowsTheSameHelp) {
  for (const std::vector<std::string>& topic :
       std::vector<std::vector<std::string>>{{}, {"write"}, {"restore-row"}}) {
    std::string asked, help;
    std::vector<std::string> args = topic;
    args.insert(args.begin(), "help");
    ParseOutcome p = Parse(args, &asked);
    EXPECT_EQ(p.result, Result::kOk);
    args = topic;
    args.push_back("--help");
    Parse(args, &help);
    EXPECT_EQ(asked, help);
  }
}

TEST(CommandLine, HelpDocumentsTheExitCodes) {
  std::string out;
  ParseOutcome p = Parse({"--help"}, &out);
  EXPECT_FALSE(p.options);
  EXPECT_EQ(p.result, Result::kOk);
  EXPECT_NE(out.find("Exit status:"), std::string::npos);
  EXPECT_NE(out.find("4  a file could not be used"), std::string::npos);
  EXPECT_NE(out.find("130  stopped by Ctrl-C"), std::string::npos);
  EXPECT_NE(out.find("--force"), std::string::npos);
  EXPECT_NE(out.find("most\nsevere"), std::string::npos);
  // Several ports: the most severe status wins, in the documented order.
  Result code = Result::kOk;
  for (Result next : {Result::kProblem, Result::kUsage, Result::kFileRejected, Result::kLinkFailure,
                      Result::kStopped}) {
    EXPECT_EQ(MostSevere(code, next), next);
    EXPECT_EQ(MostSevere(next, code), next);
    code = next;
  }
}

// --- guards around an operation (the common cases run against the board) ---

TEST(OperationGuard, UnknownOrZeroDeviceIdAndPortErrors) {
  const devices::DeviceRecord& selected = *devices::FindByName("dsPIC30F4013");
  app::IdentityVerdict v =
      app::JudgeIdentity(selected, {true, 0x1234, 0x0D, nullptr}, app::IdentityWording::kConsole);
  EXPECT_NE(v.message.english.find("answers is DeviceID 1234, not"), std::string::npos);
  v = app::JudgeIdentity(selected, {true, 0x0000, 0x0D, nullptr}, app::IdentityWording::kConsole);
  EXPECT_EQ(v.identity, app::Identity::kNoTarget);
  EXPECT_EQ(CannotOpenMessage("COM7", "CreateFile Error=2").english,
            "quillon: cannot open COM7: CreateFile Error=2");
  // Lacking permission, the message says how to get it; Windows' Error=13 is another error.
  const std::string denied = "open Error=" + std::to_string(EACCES) + " (Permission denied)";
  EXPECT_NE(CannotOpenMessage("/dev/ttyUSB0", denied).english.find("dialout"), std::string::npos);
  EXPECT_EQ(CannotOpenMessage("COM7", "CreateFile Error=13").english.find("dialout"),
            std::string::npos);
}

// Every command line the README and the reference show is one the tool
// accepts (the synopsis, with its brackets, aside).
TEST(CommandLine, TheDocumentedCommandLinesAreAccepted) {
  for (const char* doc : {"/README.md", "/docs/cli.md"}) {
    std::ifstream in(std::string(QUILLON_SOURCE_DIR) + doc);
    int checked = 0;
    for (std::string line; std::getline(in, line);) {
      std::size_t at = line.find_first_not_of(' ');
      if (at != std::string::npos && line.compare(at, 2, "$ ") == 0) at += 2;
      if (at == std::string::npos || line.compare(at, 8, "quillon ") != 0 ||
          line.find('[') != std::string::npos) {
        continue;
      }
      std::istringstream words(line.substr(at + 8));
      std::vector<std::string> args;
      for (std::string w; words >> w && w[0] != '#' && w != "2>&1" && w != "|";) {
        args.push_back(w);
      }
      std::string err;
      const ParseOutcome p = Parse(args, nullptr, &err);
      EXPECT_TRUE(p.options || p.result == Result::kOk) << doc << ": " << line << "\n" << err;
      ++checked;
    }
    EXPECT_GE(checked, 5) << doc;
  }
}

TEST(CommandLine, SuggestionVersionAndHelpPerCommand) {
  std::string out, err;
  EXPECT_EQ(Parse({"-P", "sim", "dectect"}, nullptr, &err).result, Result::kUsage);
  EXPECT_NE(err.find("did you mean \"detect\"?"), std::string::npos) << err;
  Parse({"frobnicate"}, nullptr, &err);
  EXPECT_EQ(err.find("did you mean"), std::string::npos) << err;
  EXPECT_EQ(Parse({"--version"}, &out).result, Result::kOk);
  EXPECT_TRUE(out.starts_with("quillon 1.")) << out;

  // Each command's help lists the options that apply to it, and no other.
  const struct {
    const char* command;
    const char* listed;
    const char* absent;
  } rows[] = {{"write", "--no-erase", "--output"},
              {"read", "--listing", "--no-verify"},
              {"devices", "--json", "--port"},
              {"erase", "--dry-run", "--no-verify"},
              {"verify", "--exec-dir", "--dry-run"}};
  for (const auto& row : rows) {
    Parse({row.command, "--help"}, &out);
    EXPECT_NE(out.find(row.listed), std::string::npos) << row.command;
    EXPECT_EQ(out.find(row.absent), std::string::npos) << row.command;
  }
}

// --- production programming ---

TEST(SerialNumbersTest, TheOptionWithItsDefaultsAndItsLimits) {
  const struct {
    const char* text;
    std::optional<SerialPlan> plan;
  } rows[] = {{"0x2000", SerialPlan{0x2000, 1, 1, 1}},
              {"8192:0x10:3", SerialPlan{0x2000, 16, 3, 1}},
              {"0x2000:70000:1:W=2", SerialPlan{0x2000, 70000, 1, 2}},
              {"0x2000:W=4", SerialPlan{0x2000, 1, 1, 4}},
              {"0x2001", std::nullopt},
              {"0x2000:70000", std::nullopt},
              {"0x2000:1:0", std::nullopt},
              {"0x2000:W=5", std::nullopt},
              {"0x2000:1:1:1", std::nullopt},
              {"0x2000:-1", std::nullopt},
              {"", std::nullopt}};
  for (const auto& row : rows) {
    std::string error;
    const std::optional<SerialPlan> plan = ParseSerialPlan(row.text, error);
    ASSERT_EQ(plan.has_value(), row.plan.has_value()) << row.text << ": " << error;
    if (!plan) continue;
    EXPECT_EQ(plan->address, row.plan->address) << row.text;
    EXPECT_EQ(plan->start, row.plan->start) << row.text;
    EXPECT_EQ(plan->step, row.plan->step) << row.text;
    EXPECT_EQ(plan->words, row.plan->words) << row.text;
  }
}

TEST(SerialNumbersTest, TheNumberGoesLowWordFirstAndTheFileMustLeaveRoom) {
  report::NullSink sink;
  report::ManualClock clock;
  report::Reporter reporter(sink, clock, nullptr);
  devices::Selection part;
  ASSERT_TRUE(devices::SelectDevice(part, "dsPIC30F4013", reporter));
  const SerialPlan plan{0x12000, 1, 1, 3};  // past the first 64 KB of the file
  image::MemoryImage image;
  image.Clear(part);
  PlaceSerialNumber(image, plan, 0x123456789Aull);
  EXPECT_EQ(image::InstructionAt(image.program, 0x12000 / 2), 0x00789Au);
  EXPECT_EQ(image::InstructionAt(image.program, 0x12002 / 2), 0x003456u);
  EXPECT_EQ(image::InstructionAt(image.program, 0x12004 / 2), 0x000012u);
  EXPECT_EQ(image::InstructionAt(image.program, 0x12006 / 2), 0xFFFFFFu);
  // 16384 words: program addresses up to 0x7FFE.
  EXPECT_FALSE(SerialPlaceProblem({0x7FFC, 1, 1, 2}, 16384, {}));
  EXPECT_TRUE(SerialPlaceProblem({0x7FFE, 1, 1, 2}, 16384, {}));
  image::LoadSummary file;
  file.spans = {{0x100, 0x13F}};
  EXPECT_TRUE(SerialPlaceProblem({0x13E, 1, 1, 1}, 16384, file));
  EXPECT_TRUE(SerialPlaceProblem({0xFE, 1, 1, 2}, 16384, file));
  EXPECT_FALSE(SerialPlaceProblem({0x140, 1, 1, 1}, 16384, file));
}

TEST(SerialNumbersTest, TakenNumbersAreConsecutiveAcrossRunsAndNeverGuessed) {
  const auto dir = cli_test::TempDir("serial");
  const auto state = DefaultSerialState(dir, 0x2000);
  EXPECT_EQ(state.filename(), "serial-002000.txt");
  report::MessagePair error;
  {
    SerialNumbers numbers({0x2000, 0xFFFD, 1, 1}, state);
    EXPECT_EQ(numbers.Peek(error), 0xFFFDu);
    EXPECT_EQ(numbers.Take(error), 0xFFFDu);
  }
  SerialNumbers again({0x2000, 1, 1, 1}, state);  // START only seeds a new state
  EXPECT_EQ(again.Take(error), 0xFFFEu);
  EXPECT_EQ(again.Take(error), 0xFFFFu);
  for (const bool take : {false, true}) {  // a dry run's look refuses it too
    error = {};
    EXPECT_FALSE(take ? again.Take(error) : again.Peek(error)) << "past the last of one word";
    EXPECT_NE(error.english.find("no longer fit"), std::string::npos);
  }
  std::ofstream(state) << "garbage\n";
  EXPECT_FALSE(again.Take(error));
  EXPECT_NE(error.english.find("cannot read"), std::string::npos);

  // The log only grows, by whole lines.
  std::string why;
  const auto log = dir / "log.jsonl";
  ASSERT_TRUE(app::AppendLineDurably(log, "{\"a\":1}\n", why)) << why;
  ASSERT_TRUE(app::AppendLineDurably(log, "{\"b\":2}\n", why)) << why;
  std::stringstream text;
  text << std::ifstream(log).rdbuf();  // closed before the folder goes
  EXPECT_EQ(text.str(), "{\"a\":1}\n{\"b\":2}\n");
  std::filesystem::remove_all(dir);
}

TEST(ProductionLogTest, OneLinePerPartWithTheSerialUsedOrSpoiled) {
  EXPECT_EQ(UtcTimestamp(std::chrono::sys_days(std::chrono::year(2026) / 12 / 7) +
                         std::chrono::hours(19) + std::chrono::seconds(65)),
            "2026-12-07T19:01:05Z");
  RunRecord r;
  r.command = Command::kWrite;
  r.port = "/dev/pts/3";
  r.part = "dsPIC30F4013";
  r.device_id = 0x0141;
  r.file = "app \"1\".hex";
  r.serial = 1005;
  r.exit_status = Result::kLinkFailure;
  r.elapsed_ms = 1250;
  const std::string line = LogLine(r, "2026-12-07T19:01:05Z", "line-1");
  EXPECT_EQ(line,
            "{\"time\":\"2026-12-07T19:01:05Z\",\"host\":\"line-1\",\"port\":\"/dev/pts/3\","
            "\"part\":\"dsPIC30F4013\",\"device_id\":\"0x0141\",\"file\":\"app \\\"1\\\".hex\","
            "\"sha256\":null,\"serial\":1005,\"serial_status\":\"spoiled\",\"operation\":\"write\","
            "\"result\":\"link "
            "failure\",\"exit_status\":3,\"seconds\":1.25,\"version\":\"" QUILLON_VERSION "\"}\n");
  r.exit_status = Result::kOk;
  EXPECT_NE(LogLine(r, "t", "h").find("\"serial_status\":\"used\""), std::string::npos);
}

}  // namespace
}  // namespace quillon::cli
