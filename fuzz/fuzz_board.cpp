// The host against a board that answers anything: every write to the port
// is answered by the next chunk of the input, of any length (none, short,
// long, spilling into later reads), the executive's answers included. The
// console tool runs connect, detect, erase, check, write and read on it.
//
// Input: byte 0 = option bits, byte 1 = part (0 = detect), then chunks of
// one length byte (0xFF: add 4 * the next byte) and that many reply bytes.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/exit_codes.h"
#include "cli/runner.h"
#include "devices/catalogue.h"
#include "report/clock.h"
#include "report/message.h"
#include "test_support/scripted_port.h"

namespace {

using namespace quillon;

class Board {
 public:
  Board(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  test_support::ScriptedPort::Bytes Answer() {
    std::size_t length = Next();
    if (length == 0xFF) length += 4 * static_cast<std::size_t>(Next());
    test_support::ScriptedPort::Bytes reply;
    while (length-- > 0 && at_ < size_) reply.push_back(data_[at_++]);
    return reply;
  }

 private:
  std::uint8_t Next() { return at_ < size_ ? data_[at_++] : 0; }
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

class MapSettings : public app::SettingsStore {
 public:
  void Store(std::string_view name, std::string_view value) override {
    values_[std::string(name)] = std::string(value);
  }
  std::string Load(std::string_view name) override {
    auto it = values_.find(std::string(name));
    return it == values_.end() ? "" : it->second;
  }

 private:
  std::map<std::string, std::string> values_;
};

const std::filesystem::path& WorkDir() {
  static const std::filesystem::path dir = [] {
    auto d = std::filesystem::temp_directory_path() /
             ("quillon-fuzz-board-" + std::to_string(::getpid()));
    std::filesystem::create_directories(d);
    return d;
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint8_t bits = data[0];
  const auto catalogue = devices::Catalogue();
  Board board(data + 2, size - 2);

  MapSettings settings;
  std::ostringstream out, err;
  report::ManualClock clock;
  cli::Environment env{settings,
                       out,
                       err,
                       clock,
                       [&](const std::string&, std::string&) -> std::unique_ptr<link::SerialPort> {
                         auto port = std::make_unique<test_support::ScriptedPort>();
                         port->clock = &clock;
                         port->responder = [&board](const test_support::ScriptedPort::Bytes&) {
                           return board.Answer();
                         };
                         return port;
                       },
                       report::kEnglishLangId};

  using cli::Command;
  for (const Command command :
       {Command::kConnect, Command::kDetect, Command::kErase, Command::kCheck, Command::kWrite,
        Command::kVerify, Command::kRead}) {
    cli::CliOptions options;
    options.command = command;
    options.port = "fuzzed-board";
    if (data[1] != 0) options.device = catalogue[(data[1] - 1) % catalogue.size()].name;
    options.plain_icsp = (bits & 1) != 0;
    options.no_erase = (bits & 2) != 0;
    options.no_verify = (bits & 4) != 0;
    options.incremental = (bits & 8) != 0;
    options.exec_dir = QUILLON_SOURCE_DIR "/examples/executive";
    if (command == Command::kWrite || command == Command::kVerify) {
      options.argument = QUILLON_SOURCE_DIR "/examples/blink-dsPIC30F4013.hex";
    }
    if (command == Command::kRead) options.argument = WorkDir().string();
    const int code = cli::ExitStatus(cli::RunCommand(options, env));
    if (code < cli::kExitSuccess || code > cli::kExitFileRejected) __builtin_trap();
  }
  return 0;
}
