#include "cli/cli_options.h"

#include <CLI/CLI.hpp>
#include <algorithm>

#include "cli/exit_codes.h"

namespace quillon::cli {

ParseOutcome ParseCommandLine(const std::vector<std::string>& args, std::ostream& out,
                              std::ostream& err) {
  CliOptions o;
  CLI::App cli{
      "Programs dsPIC30F, dsPIC33F, PIC24F and PIC24H parts through the Quillon "
      "programmer board.",
      "quillon"};
  cli.footer(kExitCodeHelp);
  cli.require_subcommand(1);
  cli.fallthrough();  // global options may also follow the command

  cli.add_option("-P,--port", o.port,
                 "Serial port: a device path (/dev/ttyUSB0), COM1..COM9 on Windows, or sim / "
                 "sim:DEVICE for the simulated board. Default: the port given last time");
  cli.add_option("-p,--device", o.device,
                 "Device name as listed by `quillon devices`. Default: the device chosen or "
                 "detected last time");
  cli.add_flag("--no-erase", o.no_erase, "Write without erasing first");
  cli.add_flag("--no-verify", o.no_verify, "Write without verifying");
  cli.add_flag("--icsp", o.plain_icsp, "Plain ICSP instead of Enhanced ICSP");
  cli.add_flag("--force", o.force,
               "Erase, check, write or read even when the DeviceID read from the socket is not "
               "the selected device's (or no target answers)");
  cli.add_option("--exec-dir", o.exec_dir,
                 "Where pe.hex, pe24f.hex and pe33f.hex are found. Default: the current "
                 "directory");
  cli.add_option("--lang", o.lang,
                 "Message language; default from the locale (LC_ALL, LC_MESSAGES, LANG; on Windows "
                 "the system language)")
      ->check(CLI::IsMember({"en", "ja"}));
  bool quiet = false;
  bool verbose = false;
  auto* q = cli.add_flag("-q,--quiet", quiet, "Print only the final result or error");
  cli.add_flag("-v,--verbose", verbose, "Also print the per-row progress texts")->excludes(q);

  auto* devices = cli.add_subcommand(
      "devices",
      "List the supported devices containing PATTERN (any case): name, DeviceID, "
      "socket, program words, EEPROM bytes, family");
  devices->add_option("PATTERN", o.argument, "Part of a device name");
  cli.add_subcommand("connect", "Ask the board for its firmware version");
  cli.add_subcommand("detect", "Read the DeviceID and select the matching device");
  cli.add_subcommand("erase", "Bulk-erase the device");
  cli.add_subcommand("check", "Blank-check program memory and data EEPROM");
  auto* write = cli.add_subcommand("write", "Program an Intel HEX file");
  write->add_option("FILE", o.argument, "The HEX file")->required();
  write->add_flag("--incremental", o.incremental,
                  "Erase and program only the pages (dsPIC30F: rows) whose contents differ from "
                  "the file; no bulk erase, the rest of the part is kept");
  auto* read = cli.add_subcommand(
      "read", "Read the device into $Quill$.txt (listing) and $Quill$.hex in DIR");
  read->add_option("DIR", o.argument, "Output directory. Default: the current directory");
  auto* restore = cli.add_subcommand(
      "restore-row",
      "Write the words an erase keeps (factory words, dsPIC30F unit ID words) back from FILE "
      "onto the part they were kept from, where they read blank");
  restore->add_option("FILE", o.argument, "A kept file, as an erase named it")->required();

  // CLI11 takes the arguments reversed, without the program name.
  std::vector<std::string> reversed(args.rbegin(), args.empty() ? args.rend() : args.rend() - 1);
  try {
    cli.parse(reversed);
  } catch (const CLI::ParseError& e) {
    const int code = cli.exit(e, out, err);
    return {std::nullopt, code == 0 ? kExitSuccess : kExitUsage};
  }
  o.command = cli.get_subcommands().front()->get_name();
  o.verbosity = quiet ? Verbosity::kQuiet : verbose ? Verbosity::kVerbose : Verbosity::kNormal;
  return {o, 0};
}

}  // namespace quillon::cli
