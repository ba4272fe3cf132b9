// The device operations a front-end runs, each inside an operation frame
// (port open, controls locked). They report on the session's status sink and
// record their outcome on the session.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "icsp/session.h"
#include "image/hex_loader.h"
#include "image/hex_writer.h"

namespace quillon::icsp {

// The DeviceID as detection reads it, without a report.
struct DeviceIdReading {
  bool answered = false;  // false: every attempt read all ones
  std::uint16_t value = 0;
  std::uint8_t entry = 0;                      // the entry command it answered to
  const devices::DeviceRecord* row = nullptr;  // nullptr: no catalogue row
  // All ones, or all zeros (a data line held low): nobody is there.
  bool NoTarget() const { return !answered || value == 0x0000; }
};
DeviceIdReading ReadDeviceId(Session& session);

// Reads the DeviceID, selects the matching catalogue row and shows it with
// its configuration words.
void DetectDevice(Session& session);

// Bulk erase: configuration words to blank, the chip erase three times, the
// end of executive memory kept.
Outcome BulkErase(Session& session);

// Blank check of program memory and data EEPROM. It writes nothing: with
// "Enhanced ICSP" and no executive in the part it checks with plain ICSP.
Outcome BlankCheck(Session& session);

// With "Enhanced ICSP" checked, puts a programming executive into the part
// when none is there: `executive_file` when given (loaded beforehand with
// LoadExecutiveFile), else the family's file in session.executive_dir().
// Returns false when it needed an executive file and could not load it, or
// the executive's write failed.
bool PrepareExecutive(Session& session, const image::MemoryImage* executive_file = nullptr);

// Loads the family's executive file into `executive` and checks that it
// carries executive data; a missing or unusable file is reported by name.
// Sends nothing to the board.
bool LoadExecutiveFile(Session& session, image::MemoryImage& executive);

// Loads a HEX file into the session's image (clearing it first).
image::LoadResult LoadHexFile(Session& session, const std::string& path);

// Loads the file a Write is to program into `file` and checks it without
// touching the part: a file the loader rejects, one without data or without
// its end record, no part selected, or data the part cannot hold are
// reported and give false. A file with program data and executive data (as
// Read writes it) keeps its executive part unwritten, said on the status line.
// `summary`, when given, receives what the loader saw.
bool LoadWriteFile(Session& session, const std::string& path, image::MemoryImage& file,
                   image::LoadSummary* summary = nullptr);
// The lowest address of the file's data `part` has no room for: outside its
// memories, executive data past what the loader takes, configuration data
// where it has no register or that an 8-bit register cannot hold.
std::optional<std::uint32_t> FirstAddressThePartCannotHold(const devices::DeviceRecord& part,
                                                           const image::MemoryImage& file,
                                                           const image::LoadSummary& summary);

// Programs the image: program (or executive) memory, EEPROM, verification,
// configuration words. False when it did not end in its success message;
// it stops at the first failure, refusal or stop request.
bool WriteDevice(Session& session);
// WriteDevice of an executive image as a step of another operation: ends
// with a notice that the executive is in place, never the Write's success.
bool LoadExecutive(Session& session);

enum class IncrementalResult {
  kFinished,   // written, up to date, or stopped with a reported failure
  kProtected,  // the part's configuration forbids it; nothing was changed
};

// Incremental write of the loaded image, without a bulk erase (so an
// executive in the part stays): only the erase units of program memory that
// the image touches are read back, and only those whose contents differ are
// erased, programmed and (with "Verify after writing") verified. EEPROM words
// and configuration registers are rewritten only where they differ. A part
// that reports code or write protection is left alone: kProtected, after
// saying so; the caller erases and writes it in full.
IncrementalResult WriteDeviceIncremental(Session& session);

// Reads every memory into the image and leaves "$Quill$.txt" and
// "$Quill$.hex" in `output_dir` ("" for the current directory).
void ReadDevice(Session& session, const std::string& output_dir);

// The files a read leaves: names in `directory` ("" the current one, or
// names that are whole paths); an empty name is not written.
struct ReadFiles {
  std::string directory;
  std::string listing;
  std::string hex;
};
void ReadDevice(Session& session, const ReadFiles& files);

// Compares the part with the image (loaded from a HEX file) the way a
// write verifies, writing nothing of the image.
Outcome VerifyDevice(Session& session);

}  // namespace quillon::icsp
