// Read: every memory into the image, then the listing and the HEX file.
#include <algorithm>

#include "icsp/config_words.h"
#include "icsp/mode_driver.h"
#include "icsp/operations.h"
#include "icsp/primitives.h"
#include "icsp/verify.h"
#include "image/formats.h"
#include "image/hex_writer.h"

namespace quillon::icsp {

namespace {

// Each memory in the mode the options choose now; executive memory and the
// configuration words with plain ICSP.
void ReadMemories(Session& session) {
  const auto in_mode = [&session](void (ModeDriver::*read)()) {
    ModeDriver& mode = session.OpenMode();
    // Without an answering executive the blocks would be stale bytes: leave
    // the image blank (the failure is reported and the finish says so).
    if (mode.Enter()) (mode.*read)();
    ExitIcsp(session);
  };
  in_mode(&ModeDriver::ReadProgram);
  if (session.device().device.eeprom_bytes >= 1) in_mode(&ModeDriver::ReadEeprom);
  const int units = session.form().executive.read_units;
  if (units >= 1) {
    EnterIcsp(session);
    ReadCodeQuads(session, kExecutiveBase, units / 8, session.image().executive,
                  "Reading:Exe Adr ");
    ExitIcsp(session);
  }
  EnterIcsp(session);
  ReadConfigWords(session);
  ExitIcsp(session);
}

}  // namespace

void ReadDevice(Session& session, const std::string& output_dir) {
  ReadDevice(session, ReadFiles{output_dir, image::kListingName, image::kHexName});
}

void ReadDevice(Session& session, const ReadFiles& out) {
  const std::string br(report::kLineBreak);
  session.image().Clear(session.device());
  std::string files;
  if (!out.listing.empty()) files += br + "list file = " + out.listing;
  if (!out.hex.empty()) files += br + "hex file = " + out.hex;
  const std::string start = image::TimeOfDay(session.reporter().clock());

  PhaseScope phase(session, report::Phase::kReading);
  const bool eeprom = session.device().device.eeprom_bytes >= 1;
  // Every memory is read before a file is touched: a refused block, a failure
  // or a stop leaves no partial file behind (nor replaces an earlier one).
  ReadMemories(session);
  if (session.Ended()) {
    if (session.link().failed()) session.ReportLinkFailure();
    return;
  }

  image::ListingWriter listing(out.directory, session.device(), session.reporter(), out.listing);
  if (!out.listing.empty()) {
    listing.WriteFlash(session.image());
    if (eeprom) listing.WriteData(session.image());
    listing.WriteExecutive(session.image());
    listing.WriteConfig(session.image(), session.config_readback());
  } else {
    // The listing's copy of the words just read, which the image needs anyway.
    std::copy(session.config_readback().begin(), session.config_readback().end(),
              session.image().config.begin());
  }
  const bool hex_written =
      out.hex.empty() || image::WriteHexFile(out.directory, session.image(), session.device(),
                                             session.reporter(), out.hex);

  // The writer has already reported a file it could not write; that report
  // stays the last word instead of a success message.
  if (!listing.ok() || !hex_written) {
    session.NoteOutcome(Outcome::kFileRejected);
    return;
  }
  const std::string tail = files + br + "Time=" +
                           image::ElapsedTime(start, image::TimeOfDay(session.reporter().clock()));
  session.FinishWith(report::MessagePair{"Reading Successful!", "Reading 成功!"} + tail);
}

}  // namespace quillon::icsp
