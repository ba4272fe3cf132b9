#include "image/hex_writer.h"

#include <algorithm>
#include <vector>

#include "devices/catalogue.h"
#include "image/formats.h"
#include "image/hex_record.h"

namespace quillon::image {

namespace {

constexpr std::string_view kCrLf = "\r\n";

// False, after a report naming the file, once writing it failed.
bool Written(const std::ofstream& out, std::string_view path, report::Reporter& reporter) {
  if (out) return true;
  reporter.ReportError(
      report::MessagePair{"Error : cannot write file!", "ｴﾗｰ : ﾌｧｲﾙに書き込めません。"} +
          report::kLineBreak + path,
      report::FailureKind::kFile);
  return false;
}

// One listing line, Hex4(address) TAB Hex4(value) CR LF, without a heap string.
void PutListingLine(std::ofstream& out, std::int64_t address, std::uint16_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  char line[11];
  for (int k = 0; k < 4; ++k) {
    line[k] = kDigits[(address >> (12 - 4 * k)) & 0xF];
    line[5 + k] = kDigits[(value >> (12 - 4 * k)) & 0xF];
  }
  line[4] = '\t';
  line[9] = '\r';
  line[10] = '\n';
  out.write(line, sizeof line);
}

// Rows of eight listing lines, a progress step per row.
void PutListingRows(std::ofstream& out, report::Reporter& reporter, const UnitBuffer& units,
                    long rows) {
  for (long r = 0; r < rows; ++r) {
    for (long u = 8 * r; u < 8 * r + 8; ++u) PutListingLine(out, u, units[u]);
    reporter.Progress(r, rows - 1);
    reporter.Pump();
  }
}

void PutLine(std::ofstream& out, std::string_view text) {
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.write(kCrLf.data(), static_cast<std::streamsize>(kCrLf.size()));
}

std::ofstream OpenForOutput(const std::string& path) {
  // Binary, so that the CR LF line ends are written as they are everywhere.
  return std::ofstream(path, std::ios::out | std::ios::binary | std::ios::trunc);
}

}  // namespace

std::string JoinPath(const std::string& directory, const std::string& name) {
  if (directory.empty()) return name;
  const char last = directory.back();
  if (last == '/' || last == '\\') return directory + name;
  return directory + "/" + name;
}

ListingWriter::ListingWriter(std::string directory, const devices::Selection& selection,
                             report::Reporter& reporter, std::string file_name)
    : directory_(std::move(directory)),
      file_name_(std::move(file_name)),
      selection_(selection),
      reporter_(reporter) {}

// Reported once; later sections of a failed file are skipped.
bool ListingWriter::Check() {
  if (ok_) ok_ = Written(out_, path(), reporter_);
  return ok_;
}

void ListingWriter::WriteFlash(const MemoryImage& image) {
  out_ = OpenForOutput(path());
  if (!Check()) return;
  PutLine(out_, "Flash");
  reporter_.ShowStatus("Filing...Prg");
  PutListingRows(out_, reporter_, image.program, selection_.device.program_words / 4);
  Check();
}

void ListingWriter::WriteData(const MemoryImage& image) {
  const long words = selection_.device.eeprom_bytes / 2;
  if (words < 1 || !Check()) return;
  PutLine(out_, "Data");
  reporter_.ShowStatus("Filing...Dat");
  for (long w = 0; w < words; ++w) {
    PutListingLine(out_, 2 * w, image.eeprom[w]);
    reporter_.Progress(w, words - 1);
    reporter_.Pump();
  }
  Check();
}

void ListingWriter::WriteExecutive(const MemoryImage& image) {
  // A family without executive memory has no section for it.
  if (devices::Form(selection_.device).executive.read_units < 1 || !Check()) return;
  reporter_.ShowStatus("Filing...Exe");
  PutLine(out_, "ExecutiveCode");
  PutListingRows(out_, reporter_, image.executive,
                 devices::Form(selection_.device).executive.read_units / 8);
  Check();
}

void ListingWriter::WriteConfig(MemoryImage& image,
                                const std::array<std::uint16_t, 16>& config_readback) {
  // The listing and the HEX file show the words just read from the part.
  std::copy(config_readback.begin(), config_readback.end(), image.config.begin());
  if (!Check()) return;
  PutLine(out_, "ID and Config");
  const int listed = devices::Form(selection_.device).config.listed;
  for (int k = 0; k < listed; ++k) PutListingLine(out_, k, image.config[k]);
  out_.close();
  Check();
}

namespace {

class HexFileWriter {
 public:
  HexFileWriter(std::ofstream& out, report::Reporter& reporter) : out_(out), reporter_(reporter) {}

  void Upper(int v) { PutLine(out_, FormatUpperAddressRecord(v)); }

  // A run of units from byte address `offset`, with a progress step per unit
  // and a type-04 record at every 64 K boundary.
  void Units(const std::vector<std::uint16_t>& units, long count, std::int64_t offset) {
    count = std::min(count, static_cast<long>(units.size()));
    record_.SetOffset(offset);
    for (long u = 0; u < count; ++u) {
      reporter_.Progress(u, count - 1);
      record_.AppendWord(units[u]);
      if (record_.count() == kRecordDataBytes) {
        PutLine(out_, record_.FormatDataRecord());
        reporter_.Pump();
        if ((record_.offset() & 0xFFFF) == 0) Upper(static_cast<int>(record_.offset() / 0x10000));
      }
    }
  }

  // Words that stand for whole instructions with a zero upper half (EEPROM
  // words, configuration registers).
  void Words(const std::uint16_t* words, long count, std::int64_t offset) {
    record_.SetOffset(offset);
    for (long w = 0; w < count; ++w) {
      record_.AppendWord(words[w]);
      record_.AppendWord(0);
      if (record_.count() == kRecordDataBytes) PutLine(out_, record_.FormatDataRecord());
    }
    if (record_.count() > 0) PutLine(out_, record_.FormatDataRecord());
  }

 private:
  std::ofstream& out_;
  report::Reporter& reporter_;
  HexRecord record_;
};

}  // namespace

bool WriteHexFile(const std::string& directory, const MemoryImage& image,
                  const devices::Selection& selection, report::Reporter& reporter,
                  const std::string& file_name) {
  const std::string path = JoinPath(directory, file_name);
  std::ofstream out = OpenForOutput(path);
  if (out) {
    reporter.ShowStatus("Filing...HEX");
    const devices::DeviceRecord& device = selection.device;
    HexFileWriter writer(out, reporter);
    writer.Upper(0);
    writer.Units(image.program, 2L * device.program_words, 0);
    const long eeprom_bytes = device.eeprom_bytes;
    if (eeprom_bytes >= 1) {
      writer.Upper(kEepromUpper);
      writer.Words(image.eeprom.data(), eeprom_bytes / 2, 0x10000 - 2 * eeprom_bytes);
    }
    const devices::FamilyForm& form = devices::Form(device);
    if (form.executive.read_units > 0) {
      writer.Upper(kExecutiveUpper);
      writer.Units(image.executive, form.executive.read_units, 0x1000000);
    }
    // Flash configuration words sit in program memory, already written above.
    if (form.config.layout == devices::ConfigLayout::kRegisters) {
      writer.Upper(kConfigUpper);
      for (int k = 0; k < form.config.hex_registers; k += 4) {
        writer.Words(image.config.data() + k, std::min(4, form.config.hex_registers - k), 4 * k);
      }
    }
    PutLine(out, kEndOfFileRecord);
    out.close();
  }
  return Written(out, path, reporter);
}

bool WriteProgramBinary(const std::string& path, const MemoryImage& image,
                        const devices::Selection& selection, report::Reporter& reporter) {
  std::ofstream out = OpenForOutput(path);
  const std::size_t units = 2 * static_cast<std::size_t>(selection.device.program_words);
  for (std::size_t u = 0; out && u < units; u += 2) {
    const char bytes[4] = {static_cast<char>(image.program[u] & 0xFF),
                           static_cast<char>(image.program[u] >> 8),
                           static_cast<char>(image.program[u + 1] & 0xFF), 0};
    out.write(bytes, sizeof bytes);
  }
  out.close();
  return Written(out, path, reporter);
}

}  // namespace quillon::image
