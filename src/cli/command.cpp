#include "cli/command.h"

#include <array>

#include "image/hex_loader.h"
#include "report/clock.h"
#include "report/reporter.h"

namespace quillon::cli {

std::span<const ConsoleCommand* const> Commands() {
  static const std::array<const ConsoleCommand*, 10> table = {
      &DevicesCommand(), &PortsCommand(),     &ConnectCommand(), &DetectCommand(),
      &EraseCommand(),   &CheckCommand(),     &WriteCommand(),   &VerifyCommand(),
      &ReadCommand(),    &RestoreRowCommand()};
  return table;
}

const ConsoleCommand& CommandFor(Command id) {
  for (const ConsoleCommand* command : Commands()) {
    if (command->d.id == id) return *command;
  }
  return *Commands().front();
}

std::string_view CommandName(Command command) {
  return CommandFor(command).d.name;
}

bool PortRun::CountFile(const std::string& path, RunRecord& record) const {
  report::NullSink quiet;
  report::ManualClock no_pause;
  report::Reporter reporter(quiet, no_pause, nullptr);
  image::MemoryImage file;
  if (image::LoadHexFile(path, file, app.device(), reporter) != image::LoadResult::kLoaded) {
    return false;
  }
  const devices::DeviceRecord& part = app.device().device;
  record.counts =
      CountImageWords(file, part.program_words, part.eeprom_bytes, app.form().config.written);
  return true;
}

Result UsageError(Environment& env, const std::string& text) {
  env.err << "quillon: " << text << '\n';
  return Result::kUsage;
}

Result FileError(Environment& env, const report::MessagePair& text, std::uint16_t language) {
  env.err << "quillon: " << report::Pick(text, language) << '\n';
  return Result::kFileRejected;
}

Result CheckReadable(Environment& env, const std::string& path, bool kept, std::uint16_t language) {
  const std::string why = image::UnreadableReason(path);
  if (why.empty()) return Result::kOk;
  return FileError(env,
                   {(kept ? "cannot read kept file " : "cannot read HEX file ") + path + ": " + why,
                    (kept ? "保存ファイル " : "HEX ファイル ") + path + " を読めません: " + why},
                   language);
}

}  // namespace quillon::cli
