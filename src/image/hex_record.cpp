#include "image/hex_record.h"

#include "image/formats.h"

namespace quillon::image {

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

char* PutByte(char* out, int value) {
  out[0] = kDigits[(value >> 4) & 0xF];
  out[1] = kDigits[value & 0xF];
  return out + 2;
}

int Checksum(int sum) {
  return LowByte(0x100 - LowByte(sum));
}

}  // namespace

void HexRecord::AppendWord(std::uint16_t unit) {
  if (count_ / 2 >= kMaxWords) return;
  words_[count_ / 2] = unit;
  count_ += 2;
  sum_ += HighByte(unit) + LowByte(unit);
}

std::string_view HexRecord::FormatDataRecord() {
  const int address = static_cast<int>(offset_ & 0xFFFF);
  char* out = line_.data();
  *out++ = ':';
  out = PutByte(out, count_);
  out = PutByte(out, HighByte(address));
  out = PutByte(out, LowByte(address));
  out = PutByte(out, 0);  // type: data
  for (int i = 0; i < count_ / 2; ++i) {
    out = PutByte(out, LowByte(words_[i]));
    out = PutByte(out, HighByte(words_[i]));
  }
  const int sum = sum_ + LowByte(count_) + HighByte(address) + LowByte(address);
  out = PutByte(out, Checksum(sum));
  const std::string_view line(line_.data(), static_cast<std::size_t>(out - line_.data()));
  offset_ += count_;
  count_ = 0;
  sum_ = 0;
  return line;
}

std::string FormatUpperAddressRecord(int v) {
  std::string line = ":02000004" + Hex4(v);
  char checksum[2];
  PutByte(checksum, Checksum(HighByte(v) + LowByte(v) + 2 + 0 + 4));
  line.append(checksum, 2);
  return line;
}

}  // namespace quillon::image
