#include "image/hex_loader.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "devices/catalogue.h"
#include "image/formats.h"
#include "image/hex_record.h"

namespace quillon::image {

namespace {

// Characters [pos, pos + len) of text, cut short at its end (empty past it).
std::string_view Field(std::string_view text, std::size_t pos,
                       std::size_t len = std::string_view::npos) {
  if (pos >= text.size()) return {};
  return text.substr(pos, len);
}

// A status text such as "Loading:Prg Adr 0040", formatted into a reused
// buffer: the loader shows one for every stored unit.
class UnitStatus {
 public:
  explicit UnitStatus(std::string_view prefix) {
    prefix.copy(text_.data(), prefix.size());
    size_ = prefix.size() + 4;
  }
  std::string_view For(std::int64_t index) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    char* digits = text_.data() + size_ - 4;
    for (int shift = 12, k = 0; k < 4; shift -= 4, ++k) digits[k] = kDigits[(index >> shift) & 0xF];
    return std::string_view(text_.data(), size_);
  }

 private:
  std::array<char, 24> text_{};
  std::size_t size_ = 0;
};

// Loads one file's text. Lines need not be upper-cased: HexValue reads both
// cases of the digits and no other character changes meaning.
class Loader {
 public:
  Loader(MemoryImage& image, const devices::Selection& selection, report::Reporter& reporter,
         LoadSummary* summary)
      : image_(image),
        reporter_(reporter),
        summary_(summary),
        device_(selection.device),
        config_(devices::Form(selection.device).config),
        // Before any part is chosen no program words are stored.
        program_limit_(selection.selected ? 2 * selection.device.program_words - 1 : 0) {}

  LoadResult Run(std::string_view text);

 private:
  enum class LineResult { kNext, kNotHex, kChecksum };

  LineResult Line(std::string_view line);
  bool ReadData(std::string_view rest, int count, int address, int sum);
  int LastUnit() const;
  void StoreConfig();
  void StoreProgram();
  void StoreEeprom();
  void StoreExecutive();
  void Store(UnitBuffer& buffer, std::int64_t index, int step, UnitStatus& status);
  void Summarise();
  void Put(std::uint16_t& slot, int i) const {
    slot = i == partial_ ? static_cast<std::uint16_t>((slot & 0xFF00) | (words_[i] & 0xFF))
                         : words_[i];
  }

  MemoryImage& image_;
  report::Reporter& reporter_;
  LoadSummary* const summary_;
  const devices::DeviceRecord& device_;
  const devices::ConfigForm& config_;
  const std::int32_t program_limit_;

  std::int16_t upper_ = 0;
  std::int32_t offset_ = 0;
  // Units of the current record, numbered from 1. A count field of 255 gives
  // at most 255 units (word record), so nothing is cut off.
  std::array<std::uint16_t, 257> words_{};
  int units_ = 0;
  // Index of a unit that carries only a low byte (odd byte count), else 0.
  int partial_ = 0;

  UnitStatus program_status_{"Loading:Prg Adr "};
  UnitStatus eeprom_status_{"Loading:Dat Adr "};
  UnitStatus executive_status_{"Loading:Exe Adr "};
};

LoadResult Loader::Run(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = pos;
    while (end < text.size() && text[end] != '\r' && text[end] != '\n' && text[end] != '\0') ++end;
    const LineResult result = Line(text.substr(pos, end - pos));
    if (result == LineResult::kNotHex) {
      reporter_.ReportError({"Error : not HEX file!", "ｴﾗｰ : HEX ﾌｧｲﾙではありません。"},
                            report::FailureKind::kFile);
      return LoadResult::kNotHex;
    }
    if (result == LineResult::kChecksum) {
      reporter_.ReportError({"Error : check sum error!", "ｴﾗｰ : ﾁｪｯｸ･ｻﾑが正しくありません。"},
                            report::FailureKind::kFile);
      return LoadResult::kChecksum;
    }
    if (end >= text.size() || text[end] == '\0') break;  // a NUL ends the file
    pos = end + 1;
    if (text[end] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
  }
  reporter_.ShowMessagePair({"Loading Successful!", "Loading成功!"});
  return LoadResult::kLoaded;
}

// A record is ":" and hexadecimal digits only, as many as its count field
// says: 2 per byte, or 4 per unit for a word record. A character that is
// not a digit would otherwise read as 0 and be programmed, and a line cut
// short or run together with another would shift every word after it.
bool WellFormed(std::string_view record) {
  if (!std::all_of(record.begin() + 1, record.end(),
                   [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; })) {
    return false;
  }
  const std::size_t count = static_cast<std::size_t>(HexValue(record.substr(1, 2)));
  const std::size_t digits = record.size() - 9;  // after ":", count, address and type
  const bool data = HexValue(record.substr(7, 2)) == 0;
  return digits == 2 * count + 2 || (data && digits == 4 * count + 2);
}

Loader::LineResult Loader::Line(std::string_view line) {
  if (line.empty() || line[0] == ';') return LineResult::kNext;
  if (line[0] != ':') return LineResult::kNotHex;
  // Blanks after the checksum are dropped: an editor may leave them, and
  // they cannot change a value.
  while (line.back() == ' ' || line.back() == '\t') line.remove_suffix(1);
  if (line.size() < 11 || !WellFormed(line)) return LineResult::kNotHex;

  const int count = HexValue(line.substr(1, 2));
  const int address = HexValue(line.substr(3, 4));
  const int type = HexValue(line.substr(7, 2));
  if (type != 0) {
    // Only type 04 matters; the end record does not end the load, and the
    // checksum of a record that carries no data is not tested.
    if (type == 4) upper_ = static_cast<std::int16_t>(HexValue(Field(line, 9, 4)));
    if (type == 1 && summary_ != nullptr) summary_->end_record = true;
    return LineResult::kNext;
  }

  const int header_sum = HighByte(count) + LowByte(count) + HighByte(address) + LowByte(address);
  if (!ReadData(line.substr(9), count, address, header_sum)) return LineResult::kChecksum;
  Summarise();
  StoreConfig();
  StoreProgram();
  StoreEeprom();
  StoreExecutive();
  return LineResult::kNext;
}

// Fills words_ and tests the checksum. A record whose count field matches its
// digits is a byte record (little-endian units, byte address); otherwise its
// count is of four-digit units, most significant first. An odd byte count
// leaves a last byte as the low byte of one more unit, merged into the image
// there so no neighbouring byte changes; the checksum covers it (Intel HEX).
bool Loader::ReadData(std::string_view rest, int count, int address, int sum) {
  const bool byte_record = count == static_cast<int>(rest.size() / 2) - 1;
  std::size_t pos = 0;
  partial_ = 0;
  if (byte_record) {
    offset_ = address / 2;
    units_ = count / 2;
    for (int i = 1; i <= units_; ++i, pos += 4) {
      const std::array<char, 4> swapped{rest[pos + 2], rest[pos + 3], rest[pos], rest[pos + 1]};
      words_[i] = HexValue(std::string_view(swapped.data(), swapped.size()));
    }
    if (count % 2 != 0) {
      partial_ = units_ + 1;
      words_[partial_] = HexValue(rest.substr(pos, 2));
      pos += 2;
    }
  } else {
    offset_ = address;
    units_ = count;
    for (int i = 1; i <= units_; ++i, pos += 4) words_[i] = HexValue(Field(rest, pos, 4));
  }
  for (int i = 1; i <= LastUnit(); ++i) sum += HighByte(words_[i]) + LowByte(words_[i]);
  const int expected = LowByte(0x100 - LowByte(sum));
  return expected == HexValue(Field(rest, pos));
}

int Loader::LastUnit() const {
  return partial_ != 0 ? partial_ : units_;
}

// The record's units as program addresses, whatever buffer (if any) takes them.
void Loader::Summarise() {
  if (summary_ == nullptr || LastUnit() == 0) return;
  const std::uint32_t first =
      static_cast<std::uint32_t>(static_cast<std::uint16_t>(upper_)) * 0x8000 +
      static_cast<std::uint32_t>(offset_);
  const std::uint32_t last = first + static_cast<std::uint32_t>(LastUnit()) - 1;
  auto& spans = summary_->spans;
  if (!spans.empty() && spans.back().second + 1 == first) {
    spans.back().second = last;
  } else {
    spans.emplace_back(first, last);
  }
}

void Loader::StoreConfig() {
  for (int i = 1; i <= LastUnit(); ++i) {
    const std::int64_t a = std::int64_t{upper_} * 0x8000 + offset_ + i - 1;
    for (int k = 0; k < 2 && config_.layout == devices::ConfigLayout::kFlashWords; ++k) {
      if (a == devices::FlashConfigAddress(device_, k)) {
        Put(image_.config[k], i);
        image_.config_present[k] = true;
      }
    }
    if (upper_ == kConfigUpper) {
      // Even units are the registers' bits 15..0; odd ones, their upper
      // halves, are not kept.
      const int u = offset_ + i - 1;
      if (u % 2 == 0 && u / 2 < config_.hex_registers) {
        Put(image_.config[u / 2], i);
        image_.config[u / 2] &= config_.value_mask;
        image_.config_present[u / 2] = true;
      }
    }
  }
}

// Words whose destination lies outside a buffer are skipped: the region tests
// look at the record's start only, and a type-04 value of 0x8000 and above
// reads as negative.
void Loader::StoreProgram() {
  if (upper_ >= kEepromUpper || offset_ < 0 || offset_ >= program_limit_) return;
  Store(image_.program, std::int64_t{upper_} * 0x8000 + offset_, 1, program_status_);
}

// Each EEPROM word takes one instruction in the file: only the low halves
// (odd-numbered units) are kept.
void Loader::StoreEeprom() {
  if (upper_ != kEepromUpper || offset_ < 0 || device_.eeprom_bytes < 1) return;
  // The division truncates toward zero.
  Store(image_.eeprom, (offset_ - (0x8000 - device_.eeprom_bytes)) / 2, 2, eeprom_status_);
}

void Loader::StoreExecutive() {
  if (upper_ != kExecutiveUpper || offset_ < 0 || offset_ >= 0x1000) return;
  image_.executive_present = true;
  Store(image_.executive, offset_, 1, executive_status_);
}

// Every `step`-th unit of the record into `buffer` from `index` on, each
// shown as it is stored.
void Loader::Store(UnitBuffer& buffer, std::int64_t index, int step, UnitStatus& status) {
  for (int i = 1; i <= LastUnit(); i += step, ++index) {
    if (index < 0 || index >= static_cast<std::int64_t>(buffer.size())) continue;
    reporter_.ShowStep(status.For(index));
    Put(buffer[static_cast<std::size_t>(index)], i);
  }
}

// The whole file is read before loading (one is a few megabytes at most), or
// only `limit` bytes of it, enough to tell that it reads.
bool ReadWholeFile(const std::string& path, std::string& contents, bool& opened,
                   std::string& reason, std::size_t limit = std::string::npos) {
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  errno = 0;
  std::unique_ptr<std::FILE, Closer> file(std::fopen(path.c_str(), "rb"));
  opened = file != nullptr;
  if (!opened) {
    reason = std::strerror(errno);
    return false;
  }
  std::array<char, 1 << 16> chunk;
  while (contents.size() < limit) {
    const std::size_t got = std::fread(chunk.data(), 1, chunk.size(), file.get());
    contents.append(chunk.data(), got);
    if (got < chunk.size()) break;
  }
  // A directory opens on some systems; reading it fails (EISDIR).
  if (std::ferror(file.get()) == 0) return true;
  reason = std::strerror(errno);
  return false;
}

}  // namespace

LoadResult LoadHexText(std::string_view contents, MemoryImage& image,
                       const devices::Selection& selection, report::Reporter& reporter,
                       LoadSummary* summary) {
  image.Clear(selection);
  if (summary != nullptr) *summary = {};
  return Loader(image, selection, reporter, summary).Run(contents);
}

// A file that cannot be opened or read is reported as such, never as a
// successful load of nothing; the image is left cleared.
LoadResult LoadHexFile(std::string_view path, MemoryImage& image,
                       const devices::Selection& selection, report::Reporter& reporter,
                       LoadSummary* summary) {
  image.Clear(selection);
  if (summary != nullptr) *summary = {};
  const std::string trimmed(devices::TrimBlanks(path));
  std::string contents, reason;
  bool opened = false;
  if (!ReadWholeFile(trimmed, contents, opened, reason)) {
    const report::MessagePair what =
        opened ? report::MessagePair{"Error : cannot read file!", "ｴﾗｰ : ﾌｧｲﾙを読めません。"}
               : report::MessagePair{"Error : cannot open file!", "ｴﾗｰ : ﾌｧｲﾙを開けません。"};
    // The system's reason ("No such file or directory") follows the name.
    reporter.ReportError(what + report::kLineBreak + trimmed + ": " + reason,
                         report::FailureKind::kFile);
    return LoadResult::kCannotOpen;
  }
  return Loader(image, selection, reporter, summary).Run(contents);
}

std::string UnreadableReason(std::string_view path) {
  std::string start, reason;
  bool opened = false;
  if (ReadWholeFile(std::string(devices::TrimBlanks(path)), start, opened, reason, 1)) return "";
  return reason;
}

}  // namespace quillon::image
