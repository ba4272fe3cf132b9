// The benchmark report: every whole-chip operation and the incremental write
// on the largest part of each family form, in each of the host's three modes,
// against the simulated board; HEX load and write throughput; the console
// tool's time to its first byte on the wire. Writes results.md and
// results.dat (for bench/chart.gp) into the directory given.
//
//   report_bench OUTPUT_DIR [QUILLON_BINARY [PART]]   (PART: only that part)
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "devices/selection.h"
#include "full_size_hex.h"
#include "icsp/mode_driver.h"
#include "icsp/operations.h"
#include "icsp/session.h"
#include "image/hex_record.h"
#include "image/hex_writer.h"
#include "report/reporter.h"
#include "sim/sim_port.h"

using namespace quillon;

namespace {

constexpr double kBytesPerSecond = 230400.0 / 10;  // 8N1: ten bits a byte
constexpr std::int32_t k64KProgram = 22016;        // instructions of a "64 KB" part

double ThreadCpu() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// The simulated board as a port that keeps count of the CPU time spent
// inside it, so that the host's own share can be told apart.
class TimedPort : public link::SerialPort {
 public:
  explicit TimedPort(sim::SimPort& sim) : sim_(sim) {}
  std::vector<std::string> Open(const std::string& name) override { return sim_.Open(name); }
  std::vector<std::string> Close() override { return sim_.Close(); }
  link::Transfer Read(std::uint8_t* data, std::size_t n) override {
    const double t = ThreadCpu();
    link::Transfer r = sim_.Read(data, n);
    inside += ThreadCpu() - t;
    return r;
  }
  link::Transfer Write(const std::uint8_t* data, std::size_t n) override {
    const double t = ThreadCpu();
    link::Transfer r = sim_.Write(data, n);
    inside += ThreadCpu() - t;
    return r;
  }
  double inside = 0;

 private:
  sim::SimPort& sim_;
};

struct Mode {
  const char* name;
  std::uint16_t firmware;
  bool enhanced;
};
const Mode kModes[] = {
    {"batch 1.0", 0x0100, false}, {"letters 1.2", 0x0102, false}, {"Enhanced", 0x0102, true}};

struct Row {
  std::string op, device, mode;
  sim::Stats stats;
  double payload = 0;  // bytes that must cross either way
  double host_cpu = 0;
  bool ok = true;
};

// One board, one chip, one session.
struct Bench {
  Bench(const std::string& device, const Mode& mode)
      : reporter(sink, clock, [] { return report::kEnglishLangId; }),
        sim([&] {
          sim::BoardConfig c;
          c.device = device;
          c.firmware = mode.firmware;
          return c;
        }()),
        port(sim),
        session(port, reporter, options),
        mode_(mode) {
    options.enhanced_icsp = mode.enhanced;
    session.set_firmware_version(mode.firmware);
    session.set_executive_dir(QUILLON_SOURCE_DIR "/examples/executive");
    devices::SelectDevice(session.device(), device, reporter);
  }

  Row Measure(const std::string& op, double payload, const std::function<void()>& steps) {
    const sim::Stats before = sim.board().stats();
    const double inside = port.inside;
    session.BeginOperation();
    const double t = ThreadCpu();
    steps();
    const double total = ThreadCpu() - t;
    const sim::Stats after = sim.board().stats();
    Row row{op,
            std::string(session.device().device.name),
            mode_.name,
            {},
            payload,
            total - (port.inside - inside),
            session.outcome() == icsp::Outcome::kOk};
    row.stats.bytes_to_board = after.bytes_to_board - before.bytes_to_board;
    row.stats.bytes_from_board = after.bytes_from_board - before.bytes_from_board;
    row.stats.exchanges = after.exchanges - before.exchanges;
    row.stats.simulated_seconds = after.simulated_seconds - before.simulated_seconds;
    return row;
  }

  report::NullSink sink;
  report::ManualClock clock;
  report::Reporter reporter;
  report::FixedOptions options;
  sim::SimPort sim;
  TimedPort port;
  icsp::Session session;
  Mode mode_;
};

// Every instruction of [0, count) set from `seed`; EEPROM too when asked.
image::MemoryImage RandomImage(const devices::Selection& selection, std::int32_t count,
                               std::uint32_t seed, bool eeprom) {
  image::MemoryImage img;
  img.Clear(selection);
  std::mt19937 random(seed);
  for (std::int32_t i = 0; i < count; ++i) {
    img.program[2 * i] = static_cast<std::uint16_t>(random());
    img.program[2 * i + 1] = static_cast<std::uint16_t>(random() & 0x7F);  // never 0xFFFFFF
  }
  for (std::int32_t j = 0; eeprom && j < selection.device.eeprom_bytes / 2; ++j) {
    img.eeprom[j] = static_cast<std::uint16_t>(random());
  }
  return img;
}

void LoadChip(sim::Target& chip, const image::MemoryImage& img, std::int32_t count) {
  for (std::int32_t i = 0; i < count; ++i) {
    chip.SetProgram(2 * static_cast<std::uint32_t>(i), image::InstructionAt(img.program, i));
  }
}

// The covered instructions read back the way the engine reads (block reads
// through the executive, or quads), for the "read the pages" yardstick.
void ReadRange(icsp::Session& s, std::int32_t count) {
  icsp::ModeDriver& mode = s.OpenMode();
  const auto instructions = static_cast<std::uint32_t>((count + 63) / 64 * 64);
  std::vector<std::uint16_t> units(2 * instructions);
  if (!mode.BeginReads()) return;
  mode.ReadCode(0, static_cast<std::uint32_t>((count + 3) / 4 * 4), units.data());
  mode.EndReads();
}

void FullWrite(Bench& b, const image::MemoryImage& file) {
  icsp::BulkErase(b.session);
  icsp::PrepareExecutive(b.session);
  b.session.image() = file;
  icsp::WriteDevice(b.session);
}

void IncrementalWrite(Bench& b, const image::MemoryImage& file) {
  icsp::PrepareExecutive(b.session);
  b.session.image() = file;
  icsp::WriteDeviceIncremental(b.session);
}

std::vector<Row> PartRows(const std::string& device, const Mode& mode) {
  std::vector<Row> rows;
  const std::string out = std::filesystem::temp_directory_path() / "quillon_bench_read";
  std::filesystem::create_directories(out);
  {
    Bench b(device, mode);
    const devices::DeviceRecord& d = b.session.device().device;
    const double p = d.program_words, e = d.eeprom_bytes / 2.0;
    const image::MemoryImage file = RandomImage(b.session.device(), d.program_words, 1, true);
    rows.push_back(b.Measure("erase", 0, [&] { icsp::BulkErase(b.session); }));
    rows.push_back(b.Measure("check", 3 * p + 2 * e, [&] {
      if (icsp::PrepareExecutive(b.session)) icsp::BlankCheck(b.session);
    }));
    rows.push_back(b.Measure("write", 6 * p + 4 * e, [&] { FullWrite(b, file); }));
    const double executive = devices::Form(d).executive.read_units / 2.0 * 3;
    rows.push_back(b.Measure("read", 3 * p + 2 * e + executive + 32, [&] {
      if (icsp::PrepareExecutive(b.session)) icsp::ReadDevice(b.session, out);
    }));
  }
  // The incremental cases on a 64 KB program (the whole part when smaller).
  const std::int32_t words = std::min(k64KProgram, devices::FindByName(device)->program_words);
  const double n = words;
  const std::uint32_t unit = devices::Form(*devices::FindByName(device)).erase_unit_instructions;
  struct Case {
    const char* op;
    double payload;
    std::function<void(image::MemoryImage&)> change;
  };
  const Case cases[] = {
      {"write 64K", 6 * n, nullptr},
      {"read 64K", 3 * n, nullptr},
      {"incr. unchanged", 3 * n, [](image::MemoryImage&) {}},
      {"incr. 1 unit", 3 * n + 6 * unit,
       [unit](image::MemoryImage& f) { f.program[2 * unit + 10] ^= 0x0101; }},
      {"incr. all units", 9 * n,
       [words](image::MemoryImage& f) {
         for (std::int32_t i = 0; i < words; ++i) f.program[2 * i] ^= 0x5A5A;
       }},
  };
  for (const Case& c : cases) {
    Bench b(device, mode);
    const image::MemoryImage base = RandomImage(b.session.device(), words, 2, false);
    if (std::string(c.op) == "write 64K") {
      rows.push_back(b.Measure(c.op, c.payload, [&] { FullWrite(b, base); }));
      continue;
    }
    LoadChip(b.sim.target(), base, words);
    if (!c.change) {
      rows.push_back(b.Measure(c.op, c.payload, [&] { ReadRange(b.session, words); }));
      continue;
    }
    image::MemoryImage file = base;
    c.change(file);
    rows.push_back(b.Measure(c.op, c.payload, [&] { IncrementalWrite(b, file); }));
  }
  return rows;
}

// Best of `rounds`, in thread CPU seconds: the machine may be busy.
template <typename F>
double Best(int rounds, F f) {
  double best = 1e30;
  for (int i = 0; i < rounds; ++i) {
    const double start = ThreadCpu();
    f();
    best = std::min(best, ThreadCpu() - start);
  }
  return best;
}

struct HexFigures {
  double bytes = 0, load_mb_s = 0, write_bytes = 0, write_mb_s = 0;
};

HexFigures HexThroughput() {
  report::NullSink sink;
  report::ManualClock clock;
  report::Reporter reporter(sink, clock, [] { return report::kEnglishLangId; });
  devices::Selection selection;
  devices::SelectDevice(selection, "dsPIC33FJ256GP710", reporter);
  const std::string text = bench::FullSizeHex(selection.device.program_words);
  image::MemoryImage img;
  HexFigures h;
  h.bytes = static_cast<double>(text.size());
  h.load_mb_s =
      h.bytes / Best(5, [&] { image::LoadHexText(text, img, selection, reporter); }) / 1e6;
  const std::string dir = std::filesystem::temp_directory_path() / "quillon_bench_hex";
  std::filesystem::create_directories(dir);
  const double write = Best(5, [&] { image::WriteHexFile(dir, img, selection, reporter); });
  h.write_bytes = static_cast<double>(std::filesystem::file_size(dir + "/" + image::kHexName));
  h.write_mb_s = h.write_bytes / write / 1e6;
  return h;
}

// Starts the console tool on a pseudo-terminal and times its first byte.
double FirstByteSeconds(const std::string& binary) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return -1;
  const std::string slave = ptsname(master);
  termios raw{};
  tcgetattr(master, &raw);
  cfmakeraw(&raw);
  tcsetattr(master, TCSANOW, &raw);
  const std::string config = std::filesystem::temp_directory_path() / "quillon_bench_cfg";
  std::filesystem::create_directories(config);
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    execl(binary.c_str(), binary.c_str(), "-P", slave.c_str(), "-q", "connect",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  pollfd p{master, POLLIN, 0};
  double seconds = -1;
  if (poll(&p, 1, 5000) == 1) {
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  kill(child, SIGTERM);
  waitpid(child, nullptr, 0);
  close(master);
  return seconds;
}

std::string Fixed(double v, int digits) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", digits, v);
  return text;
}

const Row* Find(const std::vector<Row>& rows, const std::string& op, const std::string& device,
                const std::string& mode) {
  for (const Row& r : rows) {
    if (r.op == op && r.device == device && r.mode == mode) return &r;
  }
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: report_bench OUTPUT_DIR [QUILLON_BINARY]\n");
    return 2;
  }
  const std::string dir = argv[1];
  const char* const parts[] = {"dsPIC30F6014A", "dsPIC30F2023", "dsPIC33FJ256GP710",
                               "PIC24FJ256GB110", "PIC24FJ256DA210"};
  std::vector<Row> rows;
  for (const char* part : parts) {
    if (argc > 3 && std::string(argv[3]) != part) continue;
    for (const Mode& mode : kModes) {
      std::fprintf(stderr, "%s %s\n", part, mode.name);
      for (Row& r : PartRows(part, mode)) rows.push_back(std::move(r));
    }
  }
  const HexFigures hex = HexThroughput();
  const double first_byte = argc > 2 ? FirstByteSeconds(argv[2]) : -1;

  std::ostringstream md;
  md << "# Benchmark results\n\n"
     << "Produced by `bench/run` on the simulated board (link at 230400 baud, 8N1: 23040 bytes/s). "
        "*Link s* is the simulator's exact virtual time of the link, waits and flash operations; "
        "*wire limit* is the payload that must cross (program data 3 bytes an instruction, EEPROM "
        "2 "
        "bytes a word, each way as the operation needs) divided by the link rate; *host CPU* is "
        "the thread CPU time of the host code, the simulator's own share taken out. "
        "*write* is what `quillon write` does: bulk erase, executive check and reload, program, "
        "EEPROM, verification, configuration. *64K* cases use a program of 22016 instructions "
        "(the whole part when smaller), already in the part for the incremental cases; *read 64K* "
        "reads just those instructions.\n\n";
  md << "| operation | device | mode | bytes out | bytes in | exchanges | link s | wire limit s | "
        "ratio | host CPU s | CPU/link |\n|---|---|---|---:|---:|---:|---:|---:|---:|---:|---:|\n";
  for (const Row& r : rows) {
    const double limit = r.payload / kBytesPerSecond;
    md << "| " << r.op << (r.ok ? "" : " (failed)") << " | " << r.device << " | " << r.mode << " | "
       << r.stats.bytes_to_board << " | " << r.stats.bytes_from_board << " | " << r.stats.exchanges
       << " | " << Fixed(r.stats.simulated_seconds, 2) << " | "
       << (limit > 0 ? Fixed(limit, 2) : "-") << " | "
       << (limit > 0 ? Fixed(r.stats.simulated_seconds / limit, 2) : "-") << " | "
       << Fixed(r.host_cpu, 3) << " | "
       << Fixed(100 * r.host_cpu / std::max(r.stats.simulated_seconds, 1e-9), 2) << " % |\n";
  }
  md << "\nHEX on a full-size dsPIC33FJ256GP710 file: load " << Fixed(hex.bytes / 1e6, 2)
     << " MB at " << Fixed(hex.load_mb_s, 1) << " MB/s; write " << Fixed(hex.write_bytes / 1e6, 2)
     << " MB at " << Fixed(hex.write_mb_s, 1) << " MB/s (best of five, CPU time).\n\n";
  md << "Console tool, start to first byte on the wire (`quillon -P PTY connect`): "
     << (first_byte >= 0 ? Fixed(first_byte * 1e3, 1) + " ms" : std::string("not measured"))
     << ".\n\n## Goals\n\n";
  const std::string goal = "dsPIC33FJ256GP710";
  auto link = [&](const char* op, const char* mode) {
    const Row* r = Find(rows, op, goal, mode);
    return r ? r->stats.simulated_seconds : 0.0;
  };
  const double one = link("incr. 1 unit", "Enhanced"), full64 = link("write 64K", "Enhanced");
  const double same = link("incr. unchanged", "Enhanced"), read64 = link("read 64K", "Enhanced");
  const Row* write = Find(rows, "write", goal, "Enhanced");
  if (write == nullptr) {
    std::fputs(md.str().c_str(), stdout);
    return 0;
  }
  double worst_cpu = 0;
  std::string worst;
  for (const Row& r : rows) {
    const double share = r.host_cpu / std::max(r.stats.simulated_seconds, 1e-9);
    if (share > worst_cpu) {
      worst_cpu = share;
      worst = r.op + ", " + r.device + ", " + r.mode;
    }
  }
  md << "| goal (dsPIC33FJ256GP710, Enhanced) | target | measured |\n|---|---|---|\n"
     << "| incremental, one page changed / full write of the same 64 KB file | <= 0.25 | "
     << Fixed(one / full64, 3) << " |\n"
     << "| incremental, unchanged / reading the pages it covers | <= 1.1 | "
     << Fixed(same / read64, 3) << " |\n"
     << "| full write with verification / wire limit | <= 1.3 | "
     << Fixed(write->stats.simulated_seconds / (write->payload / kBytesPerSecond), 3) << " |\n"
     << "| host CPU / link time, worst operation (" << worst << ") | < 2 % | "
     << Fixed(100 * worst_cpu, 2) << " % |\n"
     << "| HEX load, write | >= 50 MB/s | " << Fixed(hex.load_mb_s, 1) << ", "
     << Fixed(hex.write_mb_s, 1) << " MB/s |\n";

  // What stands between the measurements and the goals they miss.
  const double erase = link("erase", "Enhanced");
  const double limit = write->payload / kBytesPerSecond;
  const Row* row30 = Find(rows, "incr. all units", "dsPIC30F6014A", "Enhanced");
  const Row* full30 = Find(rows, "write 64K", "dsPIC30F6014A", "Enhanced");
  md << "\n## Where the goals are missed\n\n"
     << "- One changed page: the incremental write has to read back every page the file "
        "covers to find the one that differs, and that read alone takes "
     << Fixed(read64 / full64, 3) << " of the full write's link time, already at "
     << Fixed(read64 / (Find(rows, "read 64K", goal, "Enhanced")->payload / kBytesPerSecond), 2)
     << " times its wire limit. The board and the executive offer no checksum or compare "
        "command, so no read-back comparison can come under a quarter; the rest (erase, "
        "program and verify one page) costs "
     << Fixed(one - same, 2) << " s.\n"
     << "- Full write: loading the executive again, programming and verification take "
     << Fixed((write->stats.simulated_seconds - erase) / limit, 2)
     << " times the wire limit (one row a request, 2 ms of row programming each); the bulk "
        "erase before them adds "
     << Fixed(erase, 2)
     << " s: three chip erases, each waiting out both pages twice with the board's 200 ms "
        "poll, then the end of executive memory written back: the bulk erase as designed, "
        "left as it is.\n";
  if (row30 && full30) {
    md << "- dsPIC30F rows are erased one at a time and externally timed (up to 200 ms each): "
          "when every row of the 64 KB program differs the incremental write takes "
       << Fixed(row30->stats.simulated_seconds, 1) << " s against "
       << Fixed(full30->stats.simulated_seconds, 1)
       << " s for a full write. On those parts the incremental write pays off for small "
          "changes only.\n";
  }

  std::ofstream(dir + "/results.md") << md.str();
  // Link seconds per operation (rows) and mode (columns) on the goal part.
  std::ofstream dat(dir + "/results.dat");
  dat << "operation \"batch 1.0\" \"letters 1.2\" Enhanced\n";
  for (const char* op : {"erase", "check", "write", "read", "write 64K", "read 64K",
                         "incr. unchanged", "incr. 1 unit", "incr. all units"}) {
    dat << '"' << op << '"';
    for (const Mode& m : kModes) dat << ' ' << Fixed(link(op, m.name), 3);
    dat << '\n';
  }
  std::fputs(md.str().c_str(), stdout);
  return 0;
}
