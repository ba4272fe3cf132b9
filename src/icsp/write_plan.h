// What a write will do, decided before anything reaches the part. Execution
// follows it; a dry run prints it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "devices/catalogue.h"
#include "icsp/session.h"
#include "image/memory_image.h"
#include "report/message.h"

namespace quillon::icsp {

enum class EraseKind {
  kNone,          // written over what the part holds
  kBulk,          // the whole part erased first (its own words kept and put back)
  kChangedUnits,  // only the erase units that differ (the incremental write)
};

struct WriteChoices {
  bool erase = true;
  bool verify = true;
  ProgrammingMode mode = ProgrammingMode::kExecutive;
  bool incremental = false;
  std::uint16_t firmware = 0;  // an executive image goes out in its plain mode
};

struct WritePlan {
  EraseKind erase = EraseKind::kBulk;
  ProgrammingMode mode = ProgrammingMode::kPlainLetters;
  // The file is a programming executive: it goes to executive memory.
  bool executive_image = false;
  // Configuration words a bulk erase blanks by writing them first.
  int config_blanked = 0;
  // First instruction of each program row (or executive row) to program.
  std::vector<std::uint32_t> program_rows;
  std::uint32_t row_instructions = 0;
  // First word of each EEPROM write (a row of 16, or one word).
  std::vector<std::uint32_t> eeprom_writes;
  std::uint32_t eeprom_write_words = 0;
  // Configuration entries the file supplies, written last.
  std::vector<int> config_words;
  bool config_in_flash = false;
  bool verify = false;
  // The incremental write: the erase units the file touches.
  long units_compared = 0;
  report::MessagePair unit_name;  // "page", "row", "row group"
};

// The choices as the session's options and firmware stand now.
WriteChoices ChoicesOf(const Session& session, bool incremental);

WritePlan PlanWrite(const devices::DeviceRecord& device, const image::MemoryImage& image,
                    const WriteChoices& choices);

// "erase the whole part; program 12 rows of 32 instructions, ..." for a dry run.
report::MessagePair DescribePlan(const WritePlan& plan);

}  // namespace quillon::icsp
