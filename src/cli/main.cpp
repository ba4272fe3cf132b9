// quillon: the console programmer.
#include <iostream>
#include <string>
#include <vector>

#include "app/host.h"
#include "cli/cli_options.h"
#include "cli/exit_codes.h"
#include "cli/runner.h"
#include "report/clock.h"
#include "sim/sim_port.h"

int main(int argc, char** argv) {
  using namespace quillon;
  app::PrepareConsole();
  const std::vector<std::string> args(argv, argv + argc);
  const cli::ParseOutcome parsed = cli::ParseCommandLine(args, std::cout, std::cerr);
  if (!parsed.options) return ExitStatus(parsed.result);

  std::unique_ptr<app::SettingsStore> settings = app::MakeSettingsStore();
  report::SystemClock clock;
  // "sim" and "sim:DEVICE[,...]" give the in-process simulated board.
  auto make_port = [](const std::string& name,
                      std::string& error) -> std::unique_ptr<link::SerialPort> {
    if (name == "sim" || name.starts_with("sim:")) return sim::MakeSimPort(name, &error);
    return app::MakeSerialPort();
  };
  cli::Environment env{*settings,
                       std::cout,
                       std::cerr,
                       clock,
                       make_port,
                       app::DefaultLanguage(),
                       app::StderrIsTerminal()};
  env.stop_request = app::InstallStopHandlers();
  const std::unique_ptr<icsp::KeptWordsStore> kept_words = app::MakeKeptWordsStore();
  env.kept_words = kept_words.get();
  env.make_clock = [] { return std::make_unique<report::SystemClock>(); };
  env.config_dir = app::ConfigDirectory();
  return cli::ExitStatus(cli::RunCommand(*parsed.options, env));
}
