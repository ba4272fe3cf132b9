// The manual page and the bash completion script, written from the
// command-line definitions (the build installs both).
#include <CLI/CLI.hpp>
#include <algorithm>
#include <string>
#include <string_view>

#include "cli/cli_options.h"
#include "cli/exit_codes.h"
#include "quillon_version.h"

namespace quillon::cli {
namespace {

// Roff with its special characters escaped.
std::string Roff(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else {
      out += c;
    }
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
  return out;
}

std::vector<const CLI::App*> Commands(const CLI::App& cli) {
  return cli.get_subcommands([](const CLI::App*) { return true; });
}

const CLI::Option* Argument(const CLI::App& command) {
  for (const CLI::Option* opt : command.get_options()) {
    if (opt->get_positional()) return opt;
  }
  return nullptr;
}

void ManOptions(std::ostream& out, const CLI::App& app) {
  for (const CLI::Option* opt : app.get_options()) {
    if (opt->get_group().empty() || opt->get_positional()) continue;
    std::string names = opt->get_name(false, true);
    std::replace(names.begin(), names.end(), ',', ' ');
    out << ".TP\n\\fB" << Roff(names) << "\\fR";
    if (opt->get_items_expected_min() > 0) out << " \\fI" << Roff(opt->get_type_name()) << "\\fR";
    out << '\n' << Roff(opt->get_description()) << '\n';
  }
}

// Command lines worth copying, each with what it does.
constexpr struct {
  const char* line;
  const char* what;
} kExamples[] = {
    {"quillon ports", "Lists the serial ports, to find the board."},
    {"quillon \\-P /dev/ttyUSB0 detect", "Reads the DeviceID of the part in the socket."},
    {"quillon \\-P /dev/ttyUSB0 \\-p dsPIC30F4013 \\-\\-exec\\-dir ~/pe write app.hex",
     "Erases, programs and verifies app.hex, with Microchip's executive files from ~/pe; the "
     "port, the part and the directory are remembered for the next commands."},
    {"quillon write \\-\\-incremental app.hex",
     "Rewrites only the pages whose contents differ from the file."},
    {"quillon read \\-o backup.hex", "Reads the whole part back into an Intel HEX file."},
    {"quillon \\-P /dev/ttyUSB0 \\-P /dev/ttyUSB1 write \\-\\-serial 0x7FF0 \\-\\-log prod.log "
     "app.hex",
     "Programs two boards side by side, each part with the next serial number, one log line per "
     "part."},
    {"quillon \\-P sim:dsPIC33FJ128GP802 \\-\\-exec\\-dir "
     "/usr/share/doc/quillon/examples/executive write app.hex",
     "The same against the built\\-in simulated board, with the stand\\-in executive files that "
     "satisfy the simulator only."},
};

}  // namespace

void WriteManPage(std::ostream& out) {
  WithCommandLine([&out](const CLI::App& cli) {
    out << ".TH QUILLON 1 \"\" \"quillon " QUILLON_VERSION_TEXT "\" \"User Commands\"\n"
        << ".SH NAME\nquillon \\- " << Roff(cli.get_description()) << '\n'
        << ".SH SYNOPSIS\n\\fBquillon\\fR [\\fIOPTIONS\\fR] \\fICOMMAND\\fR [\\fIARGS\\fR]\n"
        << ".SH COMMANDS\n";
    for (const CLI::App* command : Commands(cli)) {
      out << ".TP\n\\fB" << command->get_name() << "\\fR";
      if (const CLI::Option* arg = Argument(*command)) {
        const bool required = arg->get_required();
        out << (required ? " \\fI" : " [\\fI") << arg->get_name() << (required ? "\\fR" : "\\fR]");
      }
      out << '\n' << Roff(command->get_description()) << '\n';
    }
    out << ".SH OPTIONS\nOptions may come before or after the command; each applies only to the "
           "commands that list it in their \\fB\\-\\-help\\fR.\n";
    ManOptions(out, cli);
    out << ".SH EXIT STATUS\n.nf\n"
        << Roff(kExitCodeHelp) << ".fi\n"
        << ".SH FILES\n.TP\n\\fI$XDG_CONFIG_HOME/quillon/settings\\fR\n"
        << "The remembered port, part and executive directory.\n"
        << ".TP\n\\fI$XDG_CONFIG_HOME/quillon/serial\\-ADDR.txt\\fR\n"
        << "The next serial number for \\fB\\-\\-serial\\fR at ADDR (six hexadecimal digits).\n"
        << ".SH EXAMPLES\n";
    for (const auto& example : kExamples) {
      out << ".TP\n\\fB" << example.line << "\\fR\n" << example.what << '\n';
    }
    out << ".SH COPYRIGHT\n"
        << Roff(QUILLON_LICENSE_TEXT) << '\n'
        << ".SH SEE ALSO\n\\fBquillon\\-sim\\fR(1), /usr/share/doc/quillon/cli.md\n";
  });
}

void WriteBashCompletion(std::ostream& out) {
  WithCommandLine([&out](const CLI::App& cli) {
    auto names = [](const CLI::App& app) {
      std::string words;
      for (const CLI::Option* opt : app.get_options()) {
        if (opt->get_positional()) continue;
        for (const std::string& s : opt->get_snames()) words += " -" + s;
        for (const std::string& l : opt->get_lnames()) words += " --" + l;
      }
      return words;
    };
    std::string commands;
    for (const CLI::App* command : Commands(cli)) commands += " " + command->get_name();
    // Part names are matched in any case, as the tool takes them; a value
    // nothing can complete (--serial) gets no file names.
    out << "# bash completion for quillon\n"
           "_quillon() {\n"
           "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} cmd= w opts\n"
           "  local commands=\""
        << commands.substr(1)
        << "\"\n"
           "  COMPREPLY=()\n"
           "  for w in \"${COMP_WORDS[@]:1:COMP_CWORD-1}\"; do\n"
           "    case \" $commands \" in *\" $w \"*) cmd=$w; break ;; esac\n"
           "  done\n"
           "  case $prev in\n"
           "    -P|--port) COMPREPLY=($(compgen -W \"sim $(ls /dev/serial/by-id/* /dev/ttyUSB* "
           "/dev/ttyACM* /dev/cu.* 2>/dev/null)\" -- \"$cur\")); return ;;\n"
           "    -p|--device)\n"
           "      for w in $(\"${COMP_WORDS[0]}\" devices 2>/dev/null | cut -d' ' -f1); do\n"
           "        [[ ${w,,} == \"${cur,,}\"* ]] && COMPREPLY+=(\"$w\")\n"
           "      done\n"
           "      return ;;\n"
           "    --exec-dir) COMPREPLY=($(compgen -d -- \"$cur\")); return ;;\n"
           "    -o|--output|--listing|--log|--serial-state) COMPREPLY=($(compgen -f -- \"$cur\")); "
           "return ;;\n"
           "    --serial) return ;;\n"
           "    --lang) COMPREPLY=($(compgen -W \"en ja\" -- \"$cur\")); return ;;\n"
           "  esac\n"
           "  if [[ $cur == -* ]]; then\n"
           "    case $cmd in\n";
    for (const CLI::App* command : Commands(cli)) {
      out << "      " << command->get_name() << ") opts=\"" << names(*command).substr(1)
          << "\" ;;\n";
    }
    out << "      *) opts=\"" << names(cli).substr(1) << "\" ;;\n"
        << "    esac\n"
           "    COMPREPLY=($(compgen -W \"$opts\" -- \"$cur\"))\n"
           "  elif [[ -z $cmd ]]; then\n"
           "    COMPREPLY=($(compgen -W \"$commands\" -- \"$cur\"))\n"
           "  elif [[ $cmd == write || $cmd == verify ]]; then\n"
           "    COMPREPLY=($(compgen -f -X '!*.[hH][eE][xX]' -- \"$cur\") $(compgen -d -- "
           "\"$cur\"))\n"
           "  elif [[ $cmd == restore-row ]]; then\n"
           "    COMPREPLY=($(compgen -f -- \"$cur\"))\n"
           "  elif [[ $cmd == read ]]; then\n"
           "    COMPREPLY=($(compgen -d -- \"$cur\"))\n"
           "  fi\n"
           "}\n"
           "complete -o filenames -F _quillon quillon\n";
  });
}

}  // namespace quillon::cli
