#include "cli/serial_numbers.h"

#include <charconv>
#include <cstdio>
#include <fstream>

#include "app/durable_file.h"

namespace quillon::cli {
namespace {

std::optional<std::uint64_t> ParseNumber(std::string_view text) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  std::uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::uint64_t Limit(int words) {
  // The largest number never stands for "exhausted".
  return words >= 4 ? ~0ull - 1 : (1ull << (16 * words)) - 1;
}

constexpr std::string_view kNextKey = "next=";

}  // namespace

std::optional<SerialPlan> ParseSerialPlan(std::string_view text, std::string& error) {
  std::vector<std::string_view> fields;
  for (std::size_t start = 0;;) {
    const std::size_t colon = text.find(':', start);
    fields.push_back(text.substr(start, colon - start));
    if (colon == std::string_view::npos) break;
    start = colon + 1;
  }
  SerialPlan plan;
  if (fields.back().starts_with("W=") || fields.back().starts_with("w=")) {
    const auto words = ParseNumber(fields.back().substr(2));
    if (!words || *words < 1 || *words > 4) {
      error = "--serial: W= takes 1 to 4 words: " + std::string(text);
      return std::nullopt;
    }
    plan.words = static_cast<int>(*words);
    fields.pop_back();
  }
  const auto address = ParseNumber(fields[0]);
  const auto start = fields.size() > 1 ? ParseNumber(fields[1]) : std::optional<std::uint64_t>(1);
  const auto step = fields.size() > 2 ? ParseNumber(fields[2]) : std::optional<std::uint64_t>(1);
  if (fields.size() > 3 || !address || !start || !step) {
    error = "--serial: expected ADDR[:START[:STEP]][:W=N], got " + std::string(text);
    return std::nullopt;
  }
  if (*address % 2 != 0 || *address > 0xFFFFFF) {
    error = "--serial: ADDR must be an even program address: " + std::string(fields[0]);
    return std::nullopt;
  }
  if (*step == 0 || *start > Limit(plan.words)) {
    error = "--serial: START must fit in the words and STEP must not be 0: " + std::string(text);
    return std::nullopt;
  }
  plan.address = static_cast<std::uint32_t>(*address);
  plan.start = *start;
  plan.step = *step;
  return plan;
}

void PlaceSerialNumber(image::MemoryImage& image, const SerialPlan& plan, std::uint64_t number) {
  for (int k = 0; k < plan.words; ++k) {
    // Program address A is instruction A / 2: units A (low word) and A + 1.
    const std::size_t unit = plan.address + 2 * static_cast<std::size_t>(k);
    if (unit + 1 >= image.program.size()) break;
    image.program[unit] = static_cast<std::uint16_t>(number >> (16 * k));
    image.program[unit + 1] = 0;
  }
}

std::optional<report::MessagePair> SerialPlaceProblem(const SerialPlan& plan, long program_words,
                                                      const image::LoadSummary& summary) {
  char address[16];
  std::snprintf(address, sizeof address, "0x%06X", static_cast<unsigned>(plan.address));
  const std::uint32_t first = plan.address;
  const std::uint32_t last = plan.address + 2 * static_cast<std::uint32_t>(plan.words) - 1;
  if (last >= 2 * static_cast<std::uint32_t>(program_words)) {
    return report::MessagePair{
        std::string("--serial: ") + address + " lies outside the part's program memory",
        std::string("--serial: ") + address + " はプログラムメモリの範囲外です"};
  }
  for (const auto& [from, to] : summary.spans) {
    if (from <= last && to >= first) {
      return report::MessagePair{
          std::string("--serial: the file already holds data at ") + address,
          std::string("--serial: ファイルは ") + address + " に既にデータを持っています"};
    }
  }
  return std::nullopt;
}

std::filesystem::path DefaultSerialState(const std::filesystem::path& config_dir,
                                         std::uint32_t address) {
  char name[32];
  std::snprintf(name, sizeof name, "serial-%06X.txt", static_cast<unsigned>(address));
  return config_dir / name;
}

std::optional<std::uint64_t> SerialNumbers::Next(report::MessagePair& error) const {
  std::error_code ec;
  // One that cannot be looked at is not taken for a new one.
  if (!std::filesystem::exists(state_, ec) && !ec) return plan_.start;
  std::ifstream in(state_);
  std::string line;
  std::getline(in, line);
  // A state that cannot be read is never guessed at: a guess could hand out
  // a number twice.
  const std::optional<std::uint64_t> next =
      line.starts_with(kNextKey) ? ParseNumber(std::string_view(line).substr(kNextKey.size()))
                                 : std::nullopt;
  if (!next) {
    error = {"cannot read the serial number state " + state_.string(),
             "シリアル番号の状態ファイル " + state_.string() + " を読めません"};
  } else if (*next > Limit(plan_.words)) {
    // Checked here, so that a dry run's look refuses what the take would.
    const std::string words = std::to_string(plan_.words);
    error = {"the serial numbers no longer fit in " + words + " word(s)",
             "シリアル番号が " + words + " ワードに収まりません"};
    return std::nullopt;
  }
  return next;
}

std::optional<std::uint64_t> SerialNumbers::Peek(report::MessagePair& error) {
  std::lock_guard lock(mutex_);
  return Next(error);
}

std::optional<std::uint64_t> SerialNumbers::Take(report::MessagePair& error) {
  std::lock_guard lock(mutex_);
  // Other processes on the same state wait for the take, not for the part.
  const app::FileLock file_lock(state_.string() + ".lock");
  if (!file_lock.locked()) {
    error = {"cannot lock the serial number state " + state_.string(),
             "シリアル番号の状態ファイル " + state_.string() + " をロックできません"};
    return std::nullopt;
  }
  const std::optional<std::uint64_t> number = Next(error);
  if (!number) return std::nullopt;
  const std::uint64_t after = *number + plan_.step;
  // Past the last number the state still moves on, so the next take fails.
  const std::uint64_t next = after < *number ? ~0ull : after;
  std::string why;
  if (!app::ReplaceFileDurably(state_, std::string(kNextKey) + std::to_string(next) + "\n", why)) {
    error = {"cannot write the serial number state: " + why,
             "シリアル番号の状態ファイルに書けません: " + why};
    return std::nullopt;
  }
  return number;
}

}  // namespace quillon::cli
