// quillon: the console programmer.
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/port_factory.h"
#include "cli/runner.h"
#include "cli/stop_request.h"
#include "report/clock.h"

#ifdef _WIN32
#include <windows.h>
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
  SetConsoleOutputCP(CP_UTF8);  // the Japanese messages are UTF-8
#endif
  using namespace quillon;
  const std::vector<std::string> args(argv, argv + argc);
  const cli::ParseOutcome parsed = cli::ParseCommandLine(args, std::cout, std::cerr);
  if (!parsed.options) return parsed.exit_code;

  std::unique_ptr<app::SettingsStore> settings = cli::MakeSettingsStore();
  report::SystemClock clock;
  cli::Environment env{*settings,
                       std::cout,
                       std::cerr,
                       clock,
                       cli::MakePort,
                       cli::DefaultLanguage(),
                       cli::StderrIsTerminal()};
  env.stop_request = cli::InstallStopHandlers();
  const std::unique_ptr<icsp::KeptWordsStore> kept_words = cli::MakeKeptWordsStore();
  env.kept_words = kept_words.get();
  env.make_clock = [] { return std::make_unique<report::SystemClock>(); };
  env.config_dir = cli::ConfigDirectory();
  return cli::RunCommand(*parsed.options, env);
}
