// A HEX file that fills a part's whole program memory, for the benchmarks.
#pragma once

#include <string>

#include "image/hex_record.h"

namespace quillon::bench {

inline std::string FullSizeHex(int program_words) {
  std::string text = image::FormatUpperAddressRecord(0) + "\r\n";
  image::HexRecord record;
  for (long u = 0; u < 2L * program_words; ++u) {
    record.AppendWord(static_cast<std::uint16_t>(u % 2 ? (u * 7) & 0xFF : u * 13));
    if (record.count() == image::kRecordDataBytes) {
      text += record.FormatDataRecord();
      text += "\r\n";
      if ((record.offset() & 0xFFFF) == 0) {
        text += image::FormatUpperAddressRecord(static_cast<int>(record.offset() >> 16)) + "\r\n";
      }
    }
  }
  return text + std::string(image::kEndOfFileRecord) + "\r\n";
}

}  // namespace quillon::bench
