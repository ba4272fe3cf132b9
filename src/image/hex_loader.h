// Intel HEX loader: distributes a file over the memory image.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "devices/selection.h"
#include "image/memory_image.h"
#include "report/reporter.h"

namespace quillon::image {

enum class LoadResult {
  kLoaded,      // "Loading Successful!" shown
  kNotHex,      // "Error : not HEX file!" reported, load stopped
  kChecksum,    // "Error : check sum error!" reported, load stopped
  kCannotOpen,  // the file could not be opened or read; reported, image left cleared
};

// What a load met, for callers that check a file before programming it: the
// image alone cannot tell, as the loader drops data no buffer has room for.
struct LoadSummary {
  bool end_record = false;
  // Program-address spans [first, last] of the units the data records carry,
  // in file order, a record that continues the previous one merged into it.
  // Empty when no record carries data.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> spans;
};

// Clears the image, then loads the file at `path` (leading and trailing
// blanks removed). Data of records before an error stay in the image.
LoadResult LoadHexFile(std::string_view path, MemoryImage& image,
                       const devices::Selection& selection, report::Reporter& reporter,
                       LoadSummary* summary = nullptr);

// The same rules applied to file contents already in memory.
LoadResult LoadHexText(std::string_view contents, MemoryImage& image,
                       const devices::Selection& selection, report::Reporter& reporter,
                       LoadSummary* summary = nullptr);

// Why the file at `path` (outer blanks removed) cannot be opened and read,
// as the system says it ("No such file or directory", "Is a directory");
// "" when it can.
std::string UnreadableReason(std::string_view path);

}  // namespace quillon::image
