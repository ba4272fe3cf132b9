// read [DIR] | -o FILE: every memory of the part into files.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "cli/command.h"
#include "image/hex_writer.h"

namespace quillon::cli {
namespace {

bool EndsWithIgnoringCase(std::string_view text, std::string_view tail) {
  return Lower(text).ends_with(Lower(tail));
}

// The files the read leaves: -o and --listing name them; otherwise today's
// two files in DIR, the listing possibly renamed.
icsp::ReadFiles ReadFilesFor(const CliOptions& o) {
  if (!o.output.empty()) {
    return {"", o.listing, EndsWithIgnoringCase(o.output, ".hex") ? o.output : ""};
  }
  if (!o.listing.empty()) {
    return {"", o.listing, image::JoinPath(o.argument, image::kHexName)};
  }
  return {o.argument, image::kListingName, image::kHexName};
}

// The files as paths, for the checks before the board.
std::vector<std::string> ReadOutputs(const CliOptions& o) {
  if (!o.output.empty()) {
    return o.listing.empty() ? std::vector{o.output} : std::vector{o.output, o.listing};
  }
  return {o.listing.empty() ? image::JoinPath(o.argument, image::kListingName) : o.listing,
          image::JoinPath(o.argument, image::kHexName)};
}

// Whether `path` can be written, opened as the read will: an existing file
// for appending (its contents stay), a new one created and removed again.
bool CanWrite(const std::string& path, std::string& why) {
  std::error_code ec;
  const bool existed = std::filesystem::exists(path, ec);
  std::FILE* file = std::fopen(path.c_str(), existed ? "ab" : "wb");
  if (file == nullptr) {
    why = std::strerror(errno);
    return false;
  }
  std::fclose(file);
  if (!existed) std::filesystem::remove(path, ec);
  return true;
}

std::string ReadRefusal(const CliOptions& o) {
  return !o.output.empty() && !o.argument.empty() ? "read takes either -o FILE or DIR, not both"
                                                  : "";
}

Result CheckRead(const CliOptions& o, Environment& env, std::size_t port_count,
                 std::uint16_t language) {
  if (!o.argument.empty() && !std::filesystem::is_directory(o.argument)) {
    return UsageError(env, "read: no such directory: " + o.argument);
  }
  for (const std::string* file : {&o.output, &o.listing}) {
    if (file->empty()) continue;
    const std::string option = file == &o.output ? "read -o" : "read --listing";
    const std::filesystem::path parent = std::filesystem::path(*file).parent_path();
    if (!parent.empty() && !std::filesystem::is_directory(parent)) {
      return UsageError(env, option + ": no such directory: " + parent.string());
    }
    if (std::filesystem::is_directory(*file)) {
      return UsageError(env, report::Pick({option + ": " + *file + " is a directory",
                                           option + ": " + *file + " はディレクトリです"},
                                          language));
    }
  }
  if (!o.output.empty() && !EndsWithIgnoringCase(o.output, ".hex") &&
      !EndsWithIgnoringCase(o.output, ".bin")) {
    return UsageError(env, "read -o: the file name must end in .hex or .bin: " + o.output);
  }
  // Reading a whole part takes a while: a result that cannot be kept is
  // found before it begins.
  for (const std::string& file : ReadOutputs(o)) {
    if (std::string why; !CanWrite(file, why)) {
      return FileError(env,
                       {"read: cannot write " + file + ": " + why,
                        "read: " + file + " に書き込めません: " + why},
                       language);
    }
  }
  // Several ports would write the same files side by side.
  if (port_count > 1) return UsageError(env, "read takes one -P port");
  return Result::kOk;
}

Result RunRead(PortRun& run, RunRecord& record) {
  const CliOptions& o = run.o;
  const icsp::ReadFiles files = ReadFilesFor(o);
  Result code = ResultFor(run.app.ReadInto(files));
  if (code == Result::kOk && !o.output.empty() && files.hex.empty() &&
      !image::WriteProgramBinary(o.output, run.app.image(), run.app.device(), run.app.reporter())) {
    code = Result::kFileRejected;
  }
  const devices::DeviceRecord& part = run.app.device().device;
  record.counts = WordCounts{part.program_words, part.eeprom_bytes / 2, 0};
  record.file = !o.output.empty() ? o.output : image::JoinPath(files.directory, files.hex);
  return code;
}

std::string ReadSummary(const RunRecord& r, std::uint16_t language) {
  return report::Pick({"read ", "読み出し完了 "}, language) +
         CountsText(r.counts.value_or(WordCounts{}), false, language) +
         (r.file.empty() ? "" : report::Pick({" into " + r.file, " → " + r.file}, language));
}

}  // namespace

const ConsoleCommand kRead = {
    .id = Command::kRead,
    .name = "read",
    .groups = kBoard | kPart | kIdentity | kExecutive | kReadFiles,
    .help =
        "Read every memory of the part: with -o into FILE, else into $Quill$.txt (listing) and "
        "$Quill$.hex in DIR",
    .argument = "DIR",
    .argument_help =
        "Output directory for $Quill$.txt and $Quill$.hex. Default: the current directory",
    .needs_part = true,
    .refusal = ReadRefusal,
    .check = CheckRead,
    .run = RunRead,
    .summary = ReadSummary,
};

}  // namespace quillon::cli
