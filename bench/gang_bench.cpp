// The gang benchmark: the same 64 KB program written into one paced
// simulated board and into eight (quillon-sim --pace, each on its own
// pseudo-terminal) by the console tool, one -P per board. Reports the wall
// time of eight against one and the tool's CPU time per board (getrusage of
// the quillon process) against the link time each board modelled; replaces
// its own section of results.md in the directory given.
//
//   gang_bench OUTPUT_DIR QUILLON QUILLON_SIM [--processes] [--rounds N] [--boards N]
//
// --processes runs one quillon process per board instead of one gang command.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "image/hex_record.h"

namespace fs = std::filesystem;
namespace image = quillon::image;

namespace {

constexpr const char* kDevice = "dsPIC33FJ256GP710";
constexpr long k64KProgram = 22016;  // instructions: 64 KB of program bytes, as report_bench
const char* const kSection = "## Gang programming";

struct Config {
  std::string out_dir, quillon, sim;
  bool processes = false;
  int rounds = 2;
  int boards = 8;
  double load = 0;  // other work on the machine, one-minute load average
};

// A program of `count` instructions from address 0, as Intel HEX.
std::string ProgramHex(long count) {
  std::string text = image::FormatUpperAddressRecord(0) + "\r\n";
  image::HexRecord record;
  for (long u = 0; u < 2 * count; ++u) {
    record.AppendWord(static_cast<std::uint16_t>(u % 2 ? (u * 7) & 0xFF : u * 13));
    if (record.count() == image::kRecordDataBytes) {
      text.append(record.FormatDataRecord()).append("\r\n");
      if ((record.offset() & 0xFFFF) == 0) {
        text += image::FormatUpperAddressRecord(static_cast<int>(record.offset() >> 16)) + "\r\n";
      }
    }
  }
  if (record.count() > 0) text.append(record.FormatDataRecord()).append("\r\n");
  return text + std::string(image::kEndOfFileRecord) + "\r\n";
}

double Seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

pid_t Spawn(const std::vector<std::string>& args, int out_fd, const std::string& config_dir) {
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("LC_ALL", "C", 1);
    if (!config_dir.empty()) setenv("XDG_CONFIG_HOME", config_dir.c_str(), 1);
    dup2(out_fd, 1);
    if (!config_dir.empty()) dup2(out_fd, 2);  // the tool's errors beside its results
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

// One paced board: its terminal, and the link time it reports when stopped.
struct Board {
  pid_t pid = -1;
  int out = -1;
  std::string tty;
  double link_seconds = 0, cpu_seconds = 0;

  bool Start(const std::string& sim) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) return false;
    pid = Spawn({sim, "--pace", "--device", kDevice}, pipe_fds[1], "");
    close(pipe_fds[1]);
    out = pipe_fds[0];
    for (char c = 0; read(out, &c, 1) == 1 && c != '\n';) tty += c;
    return pid > 0 && !tty.empty();
  }
  void Stop() {
    kill(pid, SIGTERM);
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = read(out, buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    close(out);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    cpu_seconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    if (const std::size_t at = text.find("link time "); at != std::string::npos) {
      std::sscanf(text.c_str() + at, "link time %lf", &link_seconds);
    }
  }
};

struct Round {
  int boards = 0;
  double wall = 0, host_cpu = 0, link = 0, sim_cpu = 0;
  bool ok = true;
};

Round Run(const Config& c, int count, const std::string& hex, const fs::path& work) {
  std::vector<Board> boards(static_cast<std::size_t>(count));
  Round round{count};
  for (Board& b : boards) round.ok = b.Start(c.sim) && round.ok;
  const std::vector<std::string> tail = {"-q", "--exec-dir",
                                         QUILLON_SOURCE_DIR "/examples/executive", "write", hex};
  std::vector<std::vector<std::string>> commands;
  if (c.processes) {
    for (const Board& b : boards) {
      commands.push_back({c.quillon, "-P", b.tty});
      commands.back().insert(commands.back().end(), tail.begin(), tail.end());
    }
  } else {
    commands.push_back({c.quillon});
    for (const Board& b : boards) commands.back().insert(commands.back().end(), {"-P", b.tty});
    commands.back().insert(commands.back().end(), tail.begin(), tail.end());
  }
  const int log = open((work / "quillon.out").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  const auto start = std::chrono::steady_clock::now();
  std::vector<pid_t> tools;
  for (std::size_t i = 0; i < commands.size(); ++i) {
    // Each process its own settings, so that none rewrites another's.
    const fs::path config = work / ("cfg" + std::to_string(i));
    fs::remove_all(config);
    tools.push_back(Spawn(commands[i], log, config.string()));
  }
  for (pid_t tool : tools) {
    int status = 0;
    rusage usage{};
    wait4(tool, &status, 0, &usage);
    round.host_cpu += Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    round.ok = round.ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  round.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  close(log);
  for (Board& b : boards) {
    b.Stop();
    round.link = std::max(round.link, b.link_seconds);
    round.sim_cpu += b.cpu_seconds;
  }
  return round;
}

std::string Fixed(double v, int digits) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", digits, v);
  return text;
}

std::string Section(const Config& c, const Round& one, const Round& many) {
  std::ostringstream md;
  const double ratio = many.wall / one.wall;
  const double cpu = many.host_cpu / many.boards;
  md << kSection << "\n\n"
     << "Produced by `bench/gang_bench` (run by `bench/run`): the same 64 KB program ("
     << k64KProgram << " instructions) written into a " << kDevice << " on 1 and on " << many.boards
     << " boards served by `quillon-sim --pace`, which holds "
     << "each reply until its exchange has taken the link time the board models, by "
     << (c.processes ? "one `quillon -P PTY write` process per board"
                     : "one `quillon -P PTY1 -P PTY2 ... write` command")
     << ". Best wall time of " << c.rounds << " rounds; *host CPU* is the quillon "
     << (c.processes ? "processes'" : "process's") << " user and system time (getrusage).\n\n"
     << "| boards | wall s | link s per board | host CPU s per board | CPU/link | simulator "
        "CPU s per board | all succeeded |\n|---:|---:|---:|---:|---:|---:|---|\n";
  for (const Round* r : {&one, &many}) {
    md << "| " << r->boards << " | " << Fixed(r->wall, 2) << " | " << Fixed(r->link, 2) << " | "
       << Fixed(r->host_cpu / r->boards, 3) << " | "
       << Fixed(100 * r->host_cpu / r->boards / r->link, 2) << " % | "
       << Fixed(r->sim_cpu / r->boards, 3) << " | " << (r->ok ? "yes" : "NO") << " |\n";
  }
  md << "\n| goal | target | measured |\n|---|---|---|\n"
     << "| " << many.boards << " boards / 1 board, wall time | <= 1.15 | " << Fixed(ratio, 3)
     << " |\n| host CPU per board / its link time | < 2 % | " << Fixed(100 * cpu / many.link, 2)
     << " % |\n\nMachine: " << sysconf(_SC_NPROCESSORS_ONLN) << " cores, load average "
     << Fixed(c.load, 2) << " when the benchmark started.\n";
  return md.str();
}

// results.md with this benchmark's section put in place of the old one.
void UpdateResults(const fs::path& file, const std::string& section) {
  std::ifstream in(file);
  std::stringstream buffer;
  buffer << in.rdbuf();
  std::string text = buffer.str();
  if (const std::size_t at = text.find(kSection); at != std::string::npos) {
    const std::size_t end = text.find("\n## ", at + 1);
    text.erase(at, end == std::string::npos ? std::string::npos : end + 1 - at);
  }
  if (!text.empty() && !text.ends_with("\n\n")) text += text.ends_with('\n') ? "\n" : "\n\n";
  std::ofstream(file, std::ios::trunc) << text << section;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr,
                 "usage: gang_bench OUTPUT_DIR QUILLON QUILLON_SIM [--processes] [--rounds N] "
                 "[--boards N]\n");
    return 2;
  }
  Config c{argv[1], argv[2], argv[3]};
  for (int i = 4; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--processes") c.processes = true;
    if (arg == "--rounds" && i + 1 < argc) c.rounds = std::max(1, std::atoi(argv[++i]));
    if (arg == "--boards" && i + 1 < argc) c.boards = std::max(2, std::atoi(argv[++i]));
  }
  getloadavg(&c.load, 1);
  const fs::path work =
      fs::temp_directory_path() / ("quillon_gang_bench." + std::to_string(getpid()));
  fs::create_directories(work);
  const std::string hex = (work / "64k.hex").string();
  std::ofstream(hex) << ProgramHex(k64KProgram);

  Round best[2];
  for (int r = 0; r < c.rounds; ++r) {
    for (int k = 0; k < 2; ++k) {
      const Round round = Run(c, k == 0 ? 1 : c.boards, hex, work);
      std::fprintf(stderr, "%d board(s): %.2f s wall, %.3f s host CPU, %.2f s link%s\n",
                   round.boards, round.wall, round.host_cpu, round.link,
                   round.ok ? "" : ", FAILED");
      if (r == 0 || round.wall < best[k].wall) best[k] = round;
    }
  }
  const std::string section = Section(c, best[0], best[1]);
  UpdateResults(fs::path(c.out_dir) / "results.md", section);
  std::fputs(section.c_str(), stdout);
  const bool ok = best[0].ok && best[1].ok;
  if (!ok)
    std::fprintf(stderr, "some writes failed: see %s\n", (work / "quillon.out").c_str());
  else
    fs::remove_all(work);
  return ok ? 0 : 1;
}
