// Intel HEX loader: distributes a file over the memory image.
#pragma once

#include <string>
#include <string_view>

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

// Clears the image, then loads the file at `path` (leading and trailing
// blanks removed). Data of records before an error stay in the image.
LoadResult LoadHexFile(std::string_view path, MemoryImage& image,
                       const devices::Selection& selection, report::Reporter& reporter);

// The same rules applied to file contents already in memory.
LoadResult LoadHexText(std::string_view contents, MemoryImage& image,
                       const devices::Selection& selection, report::Reporter& reporter);

}  // namespace quillon::image
