// Serial numbers for a production run: where each part's number goes, and
// the state that hands every number out once only.
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "image/hex_loader.h"
#include "report/message.h"

namespace quillon::cli {

// --serial ADDR[:START[:STEP]][:W=N]
struct SerialPlan {
  std::uint32_t address = 0;  // program address of the first word
  std::uint64_t start = 1;
  std::uint64_t step = 1;
  int words = 1;  // program words, 16 bits of the number in each
};

// Numbers are decimal or 0x-prefixed hexadecimal; nothing with the reason
// for text that is not a serial option.
std::optional<SerialPlan> ParseSerialPlan(std::string_view text, std::string& error);

// Puts `number` into the image at the plan's address: 16 bits per program
// word, low word first, upper byte 0. Words past the image are left out.
void PlaceSerialNumber(image::MemoryImage& image, const SerialPlan& plan, std::uint64_t number);

// Why the number cannot go where asked in a part of `program_words` whose
// file loaded with `summary`; nothing when it can.
std::optional<report::MessagePair> SerialPlaceProblem(const SerialPlan& plan, long program_words,
                                                      const image::LoadSummary& summary);

// $CONFIG/serial-<ADDR>.txt: one state per address.
std::filesystem::path DefaultSerialState(const std::filesystem::path& config_dir,
                                         std::uint32_t address);

// The numbers of one production run, shared by every port of it. A number
// is taken (the state advanced on disk) before the part is programmed; a
// run that dies after the take never hands that number out again.
class SerialNumbers {
 public:
  SerialNumbers(SerialPlan plan, std::filesystem::path state)
      : plan_(plan), state_(std::move(state)) {}

  // The next number, with the state past it on disk; nothing with the
  // reason when the state fails or the numbers no longer fit the words.
  std::optional<std::uint64_t> Take(report::MessagePair& error);
  // The number Take would give, taking nothing (a dry run).
  std::optional<std::uint64_t> Peek(report::MessagePair& error);

  const SerialPlan& plan() const { return plan_; }

 private:
  std::optional<std::uint64_t> Next(report::MessagePair& error) const;

  SerialPlan plan_;
  std::filesystem::path state_;
  std::mutex mutex_;  // the ports of one run take in turn
};

}  // namespace quillon::cli
