// Read: every memory of the part into the image, then the listing and the
// HEX file.
#include <algorithm>

#include "icsp/config_words.h"
#include "icsp/operations.h"
#include "icsp/primitives.h"
#include "icsp/verify.h"
#include "image/formats.h"
#include "image/hex_writer.h"

namespace quillon::icsp {

namespace {

class Reader {
 public:
  explicit Reader(Session& session) : s_(session), device_(session.device.device) {}

  void ReadProgram();
  void ReadEeprom();
  void ReadExecutive();
  void ReadConfig();

 private:
  bool Step(std::string_view text, long step, long last, std::uint32_t shown,
            std::optional<std::uint32_t> address = std::nullopt) {
    return BeginStep(s_, text, step, last, shown, address);
  }
  bool Enhanced() const { return s_.UsesExecutive(); }
  // Quads of program or executive memory, four instructions per step.
  void ReadCodeQuads(std::uint32_t base, long steps, image::UnitBuffer& into,
                     std::string_view text);
  void ReadProgramEnhanced();
  void ReadEepromIcsp();
  void ReadEepromEnhanced();

  Session& s_;
  const devices::DeviceRecord& device_;
};

void Reader::ReadCodeQuads(std::uint32_t base, long steps, image::UnitBuffer& into,
                           std::string_view text) {
  GotoResetVector(s_);
  SetTablePointer(s_, base, 6);
  s_.link.SendBatch();
  for (long r = 0; r < steps; ++r) {
    const std::uint32_t offset = 8 * static_cast<std::uint32_t>(r);
    if (!Step(text, r, steps - 1, offset, base + offset)) break;
    SetTablePointer(s_, base + offset, 6);
    ReadCodeQuad(s_);
    FetchCodeQuad(s_, into, static_cast<std::size_t>(r));
    GotoResetVector(s_);
  }
  EndAtResetVector(s_);
}

void Reader::ReadProgramEnhanced() {
  const long blocks = device_.program_words / 64;
  for (long b = 0; b < blocks; ++b) {
    // The status shows the block's first instruction number, not its address.
    if (!Step("Reading:Prg Adr ", b, blocks - 1, 64 * static_cast<std::uint32_t>(b),
              128 * static_cast<std::uint32_t>(b))) {
      break;
    }
    // A refused block is reported; the rest of the image stays blank.
    if (!ExecutiveReadCode(s_, 128 * static_cast<std::uint32_t>(b))) return;
    UnpackLinkWords(s_, 16, s_.image.program.data() + 128 * b);
  }
}

void Reader::ReadProgram() {
  if (Enhanced()) {
    // Without an answering executive the blocks would be stale bytes: leave
    // the image blank (the failure is reported and the finish says so).
    if (EnterEnhancedIcsp(s_)) ReadProgramEnhanced();
  } else {
    EnterIcsp(s_);
    ReadCodeQuads(0, device_.program_words / 4, s_.image.program, "Reading:Prg Adr ");
  }
  ExitIcsp(s_);
}

void Reader::ReadEepromIcsp() {
  const long steps = device_.eeprom_bytes / 8;
  // The table reads advance W6 from quad to quad, so it is set only once.
  GotoResetVector(s_);
  SetTablePointer(s_, kExecutiveBase - static_cast<std::uint32_t>(device_.eeprom_bytes), 6);
  s_.link.SendBatch();
  for (long r = 0; r < steps; ++r) {
    if (!Step("Reading:Dat Adr ", r, steps - 1, 8 * static_cast<std::uint32_t>(r),
              kExecutiveBase - static_cast<std::uint32_t>(device_.eeprom_bytes) +
                  8 * static_cast<std::uint32_t>(r))) {
      break;
    }
    ReadDataQuad(s_);
    FetchDataQuad(s_, s_.image.eeprom, static_cast<std::size_t>(r));
    GotoResetVector(s_);
  }
}

void Reader::ReadEepromEnhanced() {
  const long blocks = device_.eeprom_bytes / 128;
  const std::uint32_t base = kExecutiveBase - static_cast<std::uint32_t>(device_.eeprom_bytes);
  for (long b = 0; b < blocks; ++b) {
    if (!Step("Reading:Dat Adr ", b, blocks - 1, 64 * static_cast<std::uint32_t>(b),
              base + 128 * static_cast<std::uint32_t>(b))) {
      break;
    }
    if (!ExecutiveReadData(s_, base + 128 * static_cast<std::uint32_t>(b))) return;
    std::copy_n(s_.link.words().begin(), 64, s_.image.eeprom.begin() + 64 * b);
  }
}

void Reader::ReadEeprom() {
  if (Enhanced()) {
    if (EnterEnhancedIcsp(s_)) ReadEepromEnhanced();
  } else {
    EnterIcsp(s_);
    ReadEepromIcsp();
  }
  ExitIcsp(s_);
}

void Reader::ReadExecutive() {
  const int units = s_.form().executive.read_units;
  if (units < 1) return;  // the family has no executive memory
  EnterIcsp(s_);
  ReadCodeQuads(kExecutiveBase, units / 8, s_.image.executive, "Reading:Exe Adr ");
  ExitIcsp(s_);
}

void Reader::ReadConfig() {
  EnterIcsp(s_);
  ReadConfigWords(s_);
  ExitIcsp(s_);
}

}  // namespace

void ReadDevice(Session& session, const std::string& output_dir) {
  ReadDevice(session, ReadFiles{output_dir, image::kListingName, image::kHexName});
}

void ReadDevice(Session& session, const ReadFiles& out) {
  const std::string br(report::kLineBreak);
  session.image.Clear(session.device);
  std::string files;
  if (!out.listing.empty()) files += br + "list file = " + out.listing;
  if (!out.hex.empty()) files += br + "hex file = " + out.hex;
  const std::string start = image::TimeOfDay(session.reporter.clock());

  // Every memory is read before a file is touched: a read stopped on request
  // leaves no partial file behind (nor truncates an earlier one).
  PhaseScope phase(session, report::Phase::kReading);
  Reader reader(session);
  const bool eeprom = session.device.device.eeprom_bytes >= 1;
  // A refused block, a failure or a stop ends the read with its report, and
  // no result file is written (nor an earlier one replaced) from a part
  // read only in part.
  reader.ReadProgram();
  if (eeprom) reader.ReadEeprom();
  reader.ReadExecutive();
  reader.ReadConfig();
  if (session.Ended()) {
    if (session.link.failed()) session.ReportLinkFailure();
    return;
  }

  image::ListingWriter listing(out.directory, session.device, session.reporter, out.listing);
  if (!out.listing.empty()) {
    listing.WriteFlash(session.image);
    if (eeprom) listing.WriteData(session.image);
    listing.WriteExecutive(session.image);
    listing.WriteConfig(session.image, session.config_readback);
  } else {
    // The listing's copy of the words just read, which the image needs anyway.
    std::copy(session.config_readback.begin(), session.config_readback.end(),
              session.image.config.begin());
  }
  const bool hex_written =
      out.hex.empty() ||
      image::WriteHexFile(out.directory, session.image, session.device, session.reporter, out.hex);

  // The writer has already reported a file it could not write; that report
  // stays the last word instead of a success message.
  if (!listing.ok() || !hex_written) {
    session.NoteOutcome(Outcome::kFileRejected);
    return;
  }
  const std::string tail =
      files + br + "Time=" + image::ElapsedTime(start, image::TimeOfDay(session.reporter.clock()));
  session.FinishWith(report::MessagePair{"Reading Successful!", "Reading 成功!"} + tail);
}

}  // namespace quillon::icsp
