#include "cli/cli_options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <memory>

#include "cli/command.h"
#include "cli/exit_codes.h"
#include "cli/run_record.h"
#include "cli/serial_numbers.h"
#include "quillon_version.h"

namespace quillon::cli {
namespace {

struct Flags {
  bool quiet = false;
  bool verbose = false;
};

// Adds the options of `groups` (and those every command takes) to `app`.
void AddOptions(CLI::App& app, unsigned groups, CliOptions& o, Flags& f) {
  if (groups & kBoard) {
    // Each -P takes one value; given several times, the boards are
    // programmed side by side.
    app.add_option("-P,--port", o.ports,
                   "Serial port: a device path (/dev/ttyUSB0), COM1..COM9 on Windows, or "
                   "sim / sim:DEVICE[,state=FILE] for the simulated board. Default: the port "
                   "given last time. Several -P run one session per port at the same time")
        ->type_name("PORT")
        ->allow_extra_args(false);
  }
  if (groups & kPart) {
    app.add_option("-p,--device", o.device,
                   "Part name as listed by `quillon devices` (any case). Default: the part "
                   "chosen or detected last time")
        ->type_name("DEVICE");
  }
  if (groups & kIdentity) {
    app.add_flag("--force", o.force,
                 "Go on even when the DeviceID read from the socket is not the selected "
                 "part's (or no target answers)");
  }
  if (groups & kExecutive) {
    app.add_flag("--icsp", o.plain_icsp, "Plain ICSP instead of Enhanced ICSP");
    app.add_option("--exec-dir", o.exec_dir,
                   "Where pe.hex, pe24f.hex and pe33f.hex are found. Default: the directory "
                   "given last time, else the current directory")
        ->type_name("DIR");
  }
  if (groups & kWriting) {
    app.add_flag("--no-erase", o.no_erase, "Write without erasing first");
    app.add_flag("--no-verify", o.no_verify, "Write without verifying");
  }
  if (groups & kIncremental) {
    app.add_flag("--incremental", o.incremental,
                 "Erase and program only the pages (dsPIC30F: rows) whose contents differ "
                 "from the file; no bulk erase, the rest of the part is kept");
  }
  if (groups & kDryRun) {
    app.add_flag("-n,--dry-run", o.dry_run,
                 "Load and check the file, connect, check the part's identity and say what "
                 "would be erased and written, touching nothing");
  }
  if (groups & kReadFiles) {
    app.add_option("-o,--output", o.output,
                   "Write the image to FILE: Intel HEX for .hex, raw little-endian program "
                   "memory for .bin")
        ->type_name("FILE");
    app.add_option("--listing", o.listing, "Write the text listing to FILE")->type_name("FILE");
  }
  if (groups & kProduction) {
    app.add_option("--serial", o.serial,
                   "Write a serial number at program address ADDR into every part, taken "
                   "from a state file that never hands a number out twice: START (default "
                   "1), then every STEP (default 1), in N program words of 16 bits (default "
                   "1). Numbers are decimal or 0x-prefixed hexadecimal")
        ->type_name("ADDR[:START[:STEP]][:W=N]");
    app.add_option("--serial-state", o.serial_state,
                   "The serial number state file. Default: serial-ADDR.txt beside the "
                   "settings")
        ->type_name("FILE");
    app.add_option("--log", o.log,
                   "Append one JSON line per part to FILE: time (UTC), host, port, part, "
                   "DeviceID, file and SHA-256, serial number, result, seconds, version")
        ->type_name("FILE");
  }
  app.add_option("--lang", o.lang,
                 "Message language; default from the locale (LC_ALL, LC_MESSAGES, LANG; on "
                 "Windows the system language)")
      ->check(CLI::IsMember({"en", "ja"}));
  app.add_flag("-q,--quiet", f.quiet, "Print nothing but errors and the result");
  app.add_flag("-v,--verbose", f.verbose, "Also print the per-step texts of the engine");
  app.add_flag("--json", o.json,
               "Print one JSON object for the operation on standard output, for scripts");
}

struct Parser {
  CliOptions o;
  Flags f;
  CLI::App cli{
      "Programs dsPIC30F, dsPIC33F, PIC24F and PIC24H parts through the Quillon programmer "
      "board.",
      "quillon"};
  std::vector<std::pair<CLI::App*, Command>> commands;

  Parser() {
    cli.footer(kExitCodeHelp);
    cli.require_subcommand(1);
    cli.set_version_flag("--version", "quillon " QUILLON_VERSION_TEXT "\n" QUILLON_LICENSE_TEXT);
    AddOptions(cli, ~0u, o, f);
    for (const ConsoleCommand* command : Commands()) {
      const ConsoleCommand& row = *command;
      CLI::App* sub = cli.add_subcommand(row.name, row.help);
      AddOptions(*sub, row.groups, o, f);
      if (row.argument != nullptr) {
        CLI::Option* arg = sub->add_option(row.argument, o.argument, row.argument_help);
        if (row.argument_required) arg->required();
      }
      commands.emplace_back(sub, row.id);
    }
  }
};

std::size_t EditDistance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// The first word that is neither an option nor an option's value: the
// command as the user typed it, or "" when there is none.
std::string CommandWord(const std::vector<std::string>& args, const CLI::App& cli) {
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--") return i + 1 < args.size() ? args[i + 1] : "";
    if (!a.starts_with("-") || a == "-") return a;
    if (a.find('=') != std::string::npos) continue;
    if (!a.starts_with("--") && a.size() > 2) continue;  // -Pvalue
    for (const CLI::Option* opt : cli.get_options()) {
      if (opt->check_name(a) && opt->get_items_expected_min() > 0) {
        ++i;  // its value
        break;
      }
    }
  }
  return "";
}

Result UnknownCommand(const std::string& word, std::ostream& err) {
  err << "quillon: unknown command \"" << word << "\"";
  const ConsoleCommand* nearest = nullptr;
  std::size_t best = 3;  // more than two edits is no longer a typo
  for (const ConsoleCommand* command : Commands()) {
    const std::size_t d = EditDistance(word, command->name);
    if (d < best) {
      best = d;
      nearest = command;
    }
  }
  if (nearest != nullptr) err << "; did you mean \"" << nearest->name << "\"?";
  err << " (see: quillon --help)\n";
  return Result::kUsage;
}

ParseOutcome Parse(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Parser p;
  // CLI11 takes the arguments reversed, without the program name.
  std::vector<std::string> reversed(args.rbegin(), args.empty() ? args.rend() : args.rend() - 1);
  const std::string word = CommandWord(args, p.cli);
  const bool known = std::any_of(Commands().begin(), Commands().end(),
                                 [&word](const ConsoleCommand* c) { return word == c->name; });
  const bool asks = std::any_of(args.begin(), args.end(), [](const std::string& a) {
    return a == "-h" || a == "--help" || a == "--version";
  });
  // Hidden: the build makes the manual page and the completion script
  // from the same definitions.
  if (args.size() == 2 && (args[1] == "--man-page" || args[1] == "--bash-completion")) {
    args[1] == "--man-page" ? WriteManPage(out) : WriteBashCompletion(out);
    return {std::nullopt, Result::kOk};
  }
  if (word == "help") {
    // "quillon help [COMMAND]", as git and cargo take it.
    const auto at = std::find(args.begin(), args.end(), "help");
    const auto topic =
        std::find_if(at + 1, args.end(), [](const std::string& a) { return !a.starts_with("-"); });
    if (topic == args.end()) {
      out << p.cli.help();
      return {std::nullopt, Result::kOk};
    }
    for (const auto& [sub, id] : p.commands) {
      if (sub->get_name() == *topic) {
        out << sub->help("quillon");
        return {std::nullopt, Result::kOk};
      }
    }
    return {std::nullopt, UnknownCommand(*topic, err)};
  }
  if (!word.empty() && !known && !asks) return {std::nullopt, UnknownCommand(word, err)};
  try {
    p.cli.parse(reversed);
  } catch (const CLI::ParseError& e) {
    const int code = p.cli.exit(e, out, err);
    return {std::nullopt, code == 0 ? Result::kOk : Result::kUsage};
  }
  CliOptions o = p.o;
  // -P before and after the command are two options bound to one list;
  // each assigns it whole, so the ports are gathered from both.
  o.ports.clear();
  auto gather = [&o](const CLI::App& app) {
    for (const CLI::Option* opt : app.get_options()) {
      if (opt->check_lname("port")) {
        for (const std::string& port : opt->results()) o.ports.push_back(port);
      }
    }
  };
  gather(p.cli);
  for (const auto& [sub, id] : p.commands) {
    if (sub->parsed()) {
      o.command = id;
      gather(*sub);
    }
  }
  o.port = o.ports.empty() ? "" : o.ports.front();
  const ConsoleCommand& row = CommandFor(o.command);
  auto refuse = [&err](const std::string& why) {
    err << "quillon: " << why << '\n';
    return ParseOutcome{std::nullopt, Result::kUsage};
  };
  const CLI::App& sub = *p.cli.get_subcommand(row.name);
  for (const CLI::Option* option : p.cli.get_options()) {
    if (option->count() > 0 && sub.get_option_no_throw(option->get_name()) == nullptr) {
      return refuse(option->get_name(false, true) + " does not apply to " + row.name);
    }
  }
  if (p.f.quiet && p.f.verbose) return refuse("-q and -v exclude each other");
  if (!o.serial_state.empty() && o.serial.empty()) return refuse("--serial-state needs --serial");
  if (std::string why; !o.serial.empty() && !ParseSerialPlan(o.serial, why)) return refuse(why);
  if (const std::string why = row.refusal ? row.refusal(o) : ""; !why.empty()) return refuse(why);
  o.verbosity = p.f.quiet     ? Verbosity::kQuiet
                : p.f.verbose ? Verbosity::kVerbose
                              : Verbosity::kNormal;
  return {o, Result::kOk};
}

}  // namespace

ParseOutcome ParseCommandLine(const std::vector<std::string>& args, std::ostream& out,
                              std::ostream& err) {
  const ParseOutcome outcome = Parse(args, out, err);
  // A script that asked for JSON gets its one object for a refused command
  // line too, naming the command when one was recognised.
  const auto end = std::find(args.begin(), args.end(), "--");
  if (outcome.options || outcome.result != Result::kUsage ||
      std::find(args.begin(), end, "--json") == end) {
    return outcome;
  }
  RunRecord record;
  record.command_known = false;
  record.exit_status = Result::kUsage;
  for (auto a = args.begin() + 1; a < end && !record.command_known; ++a) {
    for (const ConsoleCommand* command : Commands()) {
      if (*a == command->name) {
        record.command = command->id;
        record.command_known = true;
      }
    }
  }
  WriteJson(record, out);
  return outcome;
}

void WithCommandLine(const std::function<void(const CLI::App&)>& use) {
  const Parser p;
  use(p.cli);
}

}  // namespace quillon::cli
