// The device operations a front-end runs, each inside an operation frame.
// They report on the session's sink and record their outcome on the session.
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

// Reads the DeviceID, selects the matching part and shows its configuration.
void DetectDevice(Session& session);

Outcome BulkErase(Session& session);

// Writes nothing: with no executive in the part it checks with plain ICSP.
Outcome BlankCheck(Session& session);

// With "Enhanced ICSP" checked, puts a programming executive into the part
// when none is there: `executive_file` when given, else the family's file in
// session.executive_dir(). False when that failed.
bool PrepareExecutive(Session& session, const image::MemoryImage* executive_file = nullptr);

// Loads the family's executive file; a missing or unusable file is reported.
bool LoadExecutiveFile(Session& session, image::MemoryImage& executive);

// Loads a HEX file into the session's image (clearing it first).
image::LoadResult LoadHexFile(Session& session, const std::string& path);

// Loads the file a Write is to program and checks it without touching the
// part: a rejected file, one without data or end record, no part selected,
// or data the part cannot hold are reported and give false. A file with
// program and executive data (as Read writes it) keeps its executive unwritten.
bool LoadWriteFile(Session& session, const std::string& path, image::MemoryImage& file,
                   image::LoadSummary* summary = nullptr);
// The lowest address of the file's data `part` has no room for: outside its
// memories, executive data past what the loader takes, configuration data
// where it has no register or that an 8-bit register cannot hold.
std::optional<std::uint32_t> FirstAddressThePartCannotHold(const devices::DeviceRecord& part,
                                                           const image::MemoryImage& file,
                                                           const image::LoadSummary& summary);

// Programs the image; false when it did not end in its success message.
bool WriteDevice(Session& session);
// WriteDevice of an executive image as a step of another operation.
bool LoadExecutive(Session& session);

enum class IncrementalResult {
  kFinished,   // written, up to date, or stopped with a reported failure
  kProtected,  // the part's configuration forbids it; nothing was changed
};

// Writes only the erase units, EEPROM words and configuration registers that
// differ, without a bulk erase. A code- or write-protected part is left alone
// (kProtected); the caller erases and writes it in full.
IncrementalResult WriteDeviceIncremental(Session& session);

// Reads every memory and leaves the listing and HEX file in `output_dir`.
void ReadDevice(Session& session, const std::string& output_dir);

// The files a read leaves: names in `directory` ("" the current one, or
// names that are whole paths); an empty name is not written.
struct ReadFiles {
  std::string directory;
  std::string listing;
  std::string hex;
};
void ReadDevice(Session& session, const ReadFiles& files);

// Compares the part with the image the way a write verifies.
Outcome VerifyDevice(Session& session);

}  // namespace quillon::icsp
