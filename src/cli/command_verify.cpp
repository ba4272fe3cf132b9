// verify FILE: the part compared with a HEX file, nothing written.
#include "cli/command.h"

namespace quillon::cli {
namespace {

class Verify final : public ConsoleCommand {
 public:
  Verify()
      : ConsoleCommand({.id = Command::kVerify,
                        .name = "verify",
                        .groups = kBoard | kPart | kIdentity | kExecutive,
                        .help = "Compare the part with an Intel HEX file without writing; exit "
                                "status 1 names the first difference",
                        .argument = "FILE",
                        .argument_help = "The Intel HEX file",
                        .argument_required = true,
                        .needs_part = true,
                        .names_file = true}) {}

  Result Check(const CliOptions& o, Environment& env, std::size_t,
               std::uint16_t language) const override {
    return CheckReadable(env, o.argument, false, language);
  }

  Result Run(PortRun& run, RunRecord& record) const override {
    const Result code = ResultFor(run.app.VerifyFile(run.o.argument));
    run.CountFile(run.o.argument, record);
    return code;
  }

  std::string Summary(const RunRecord& r, std::uint16_t language) const override {
    return report::Pick({"verified ", "一致 "}, language) +
           CountsText(r.counts.value_or(WordCounts{}), false, language) +
           report::Pick({" against " + r.file, " (" + r.file + ")"}, language);
  }
};

}  // namespace

const ConsoleCommand& VerifyCommand() {
  static const Verify command;
  return command;
}

}  // namespace quillon::cli
