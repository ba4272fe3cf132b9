#include <gtest/gtest.h>

#include <sstream>

#include "cli/cli_options.h"
#include "cli/console_view.h"
#include "cli/device_listing.h"
#include "cli/exit_codes.h"
#include "cli/operation_guard.h"
#include "devices/catalogue.h"

namespace quillon::cli {
namespace {

// --- devices ---

TEST(DeviceListing, LinesAndFamilyForms) {
  EXPECT_EQ(DeviceLine(*devices::FindByName("dsPIC30F4013")),
            "dsPIC30F4013       0141  40b    16384  1024  dsPIC30F");
  EXPECT_EQ(FamilyForm(*devices::FindByName("dsPIC30F1010")), "dsPIC30F (0x0D entry)");
  EXPECT_EQ(FamilyForm(*devices::FindByName("PIC24HJ12GP201")), "dsPIC33F/PIC24");
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

TEST(ConsoleTextTest, CrLfBecomesNewlineAndPortErrorsAreRecognised) {
  EXPECT_EQ(ConsoleText("connected!\r\nfirmware=1.2"), "connected!\nfirmware=1.2");
  EXPECT_EQ(ConsoleText("a\rb"), "a\rb");
  EXPECT_TRUE(IsPortErrorText("open Error=2 (No such file or directory)"));
  EXPECT_TRUE(IsPortErrorText("CreateFile Error=5"));
  EXPECT_FALSE(IsPortErrorText("Writing:Prg Adr 0040"));
  EXPECT_FALSE(IsPortErrorText("Error=2"));
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
  rig.view.ShowStatus("open Error=2 (No such file or directory)", report::StatusKind::kRoutine);
  rig.view.ShowStatus("受信タイムアウト", report::StatusKind::kError);
  rig.view.Finish();
  EXPECT_EQ(rig.out.str(), "connected!\nfirmware=1.2\n");
  EXPECT_EQ(rig.err.str(), "open Error=2 (No such file or directory)\n受信タイムアウト\n");
}

TEST(ConsoleViewTest, QuietPrintsOnlyTheLastResultOrError) {
  ViewRig rig(Verbosity::kQuiet, /*progress=*/true);
  rig.view.ShowStatus("connected!", report::StatusKind::kResult);
  rig.view.SetProgress(50);
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
    rig.view.ShowStatus("Writing:Prg Adr " + std::to_string(i), report::StatusKind::kRoutine);
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

TEST(ConsoleViewTest, ProgressIndicatorIsClearedBeforeText) {
  ViewRig rig(Verbosity::kNormal, /*progress=*/true);
  rig.view.SetProgress(40);
  rig.view.SetProgress(40);  // unchanged: not redrawn
  const std::string drawn = rig.err.str();
  EXPECT_EQ(std::count(drawn.begin(), drawn.end(), '\r'), 1);
  EXPECT_NE(drawn.find("40%"), std::string::npos);
  rig.view.ShowStatus("Not blank!", report::StatusKind::kError);
  EXPECT_TRUE(rig.err.str().ends_with("\rNot blank!\n"));
  ViewRig off(Verbosity::kNormal, /*progress=*/false);
  off.view.SetProgress(40);
  EXPECT_EQ(off.err.str(), "");
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

TEST(CommandLine, OptionsBeforeOrAfterTheCommand) {
  ParseOutcome p =
      Parse({"-P", "/dev/ttyUSB0", "--no-erase", "-q", "write", "a.hex", "--icsp", "-p",
             "dsPIC30F4013", "--lang", "ja", "--exec-dir", "/pe", "--incremental"});
  ASSERT_TRUE(p.options);
  const CliOptions& o = *p.options;
  EXPECT_EQ(o.command, "write");
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

  p = Parse({"read"});
  ASSERT_TRUE(p.options);
  EXPECT_FALSE(p.options->incremental);
  EXPECT_EQ(p.options->argument, "");
  EXPECT_EQ(p.options->verbosity, Verbosity::kNormal);
  EXPECT_EQ(Parse({"-v", "devices", "30F"}).options->verbosity, Verbosity::kVerbose);
}

TEST(CommandLine, UsageErrorsGiveTwo) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{},
                                             {"flash"},
                                             {"write"},
                                             {"--lang", "de", "connect"},
                                             {"-q", "-v", "connect"},
                                             {"connect", "extra"},
                                             {"--bogus", "connect"}}) {
    std::string err;
    ParseOutcome p = Parse(args, nullptr, &err);
    EXPECT_FALSE(p.options);
    EXPECT_EQ(p.exit_code, kExitUsage) << testing::PrintToString(args);
    EXPECT_FALSE(err.empty());
  }
}

TEST(CommandLine, HelpDocumentsTheExitCodes) {
  std::string out;
  ParseOutcome p = Parse({"--help"}, &out);
  EXPECT_FALSE(p.options);
  EXPECT_EQ(p.exit_code, 0);
  EXPECT_NE(out.find("Exit status:"), std::string::npos);
  EXPECT_NE(out.find("4  a file could not be used"), std::string::npos);
  EXPECT_NE(out.find("130  stopped by Ctrl-C"), std::string::npos);
  EXPECT_NE(out.find("--force"), std::string::npos);
}

// --- guards around an operation (the common cases run against the board) ---

TEST(OperationGuard, UnknownOrZeroDeviceIdAndWindowsPortErrors) {
  const devices::DeviceRecord& selected = *devices::FindByName("dsPIC30F4013");
  IdentityVerdict v = CheckIdentity(selected, {true, 0x1234, 0x0D, nullptr}, false);
  EXPECT_NE(v.message.english.find("answers is DeviceID 1234, not"), std::string::npos);
  v = CheckIdentity(selected, {true, 0x0000, 0x0D, nullptr}, false);
  EXPECT_EQ(v.identity, Identity::kNoTarget);
  EXPECT_EQ(CannotOpenMessage("COM7", "CreateFile Error=2").english,
            "quillon: cannot open COM7: CreateFile Error=2");
}

}  // namespace
}  // namespace quillon::cli
