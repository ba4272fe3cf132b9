// What a run did, for the one-line summary and the --json object.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "cli/cli_options.h"
#include "cli/exit_codes.h"
#include "icsp/write_plan.h"
#include "image/memory_image.h"
#include "report/message.h"

namespace quillon::cli {

struct WordCounts {
  long program = 0;
  long eeprom = 0;
  long config = 0;
};

// The words an image holds (those not blank), as a write programs them.
// Configuration words count only among the `config_written` entries the
// part's form writes (a flash-word part ignores register records).
WordCounts CountImageWords(const image::MemoryImage& image, long program_words, long eeprom_bytes,
                           int config_written);

// An incremental write's erase units: what it compared and wrote (a dry
// run: the units the file touches, in `compared`).
struct UnitTally {
  report::MessagePair unit;  // "row", "page", "row group"
  long compared = 0;
  long written = 0;
  long eeprom_words = 0;  // rewritten
  long config_registers = 0;
};

struct RunRecord {
  Command command = Command::kConnect;
  bool command_known = true;  // false: the command line named none
  std::string part;           // "" before a part is known
  std::optional<std::uint16_t> device_id;
  // The part and DeviceID were read from the chip in this run, not only
  // selected or remembered.
  bool identified = false;
  std::optional<UnitTally> units;
  std::string firmware;              // "1.2" once connected
  std::optional<WordCounts> counts;  // words of the file written or compared, or read
  bool verified = false;             // write: verification ran and matched (dry run: would run)
  bool dry_run = false;
  bool incremental = false;  // write: only what differed was written
  bool erase_first = false;  // write dry run: the part would be erased first
  std::string file;          // the image written, compared or read
  std::optional<std::string> sha256;
  std::int64_t elapsed_ms = 0;
  Result exit_status = Result::kOk;
  std::string port;                     // with several ports: the one this record is of
  std::optional<std::uint64_t> serial;  // the serial number the part was given
  std::optional<icsp::WritePlan> plan;  // write: what it did, or (dry run) would do
};

// A serial number was used when its part was programmed and verified;
// otherwise it is spoiled (never handed out again).
inline bool SerialUsed(const RunRecord& record) {
  return record.exit_status == Result::kOk;
}

// "1208 program words, 16 EEPROM words[, 5 configuration words]".
std::string CountsText(const WordCounts& counts, bool with_config, std::uint16_t language);
// ", 16 EEPROM words" in either language; nothing for a count of none.
std::string CountedText(long count, const char* english, const char* japanese,
                        std::uint16_t language);

// "dsPIC33FJ128GP802: wrote 1208 program words, 5 configuration words,
// verified, 0.84 s"; "" for commands whose results say it all.
std::string SummaryLine(const RunRecord& record, std::uint16_t language);

// "ok", "link failure": the result as the JSON object names it.
const char* ResultName(Result result);
// The same for people, in either language.
std::string ResultText(Result result, std::uint16_t language);

// `text` as a JSON string, quotes included.
std::string JsonString(std::string_view text);
// The same, or null for "".
std::string JsonOrNull(const std::string& text);

// One JSON object on one line; with the port when several ran.
void WriteJson(const RunRecord& record, std::ostream& out, bool with_port = false);

}  // namespace quillon::cli
