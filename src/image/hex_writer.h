// The listing "$Quill$.txt" and the Intel HEX file "$Quill$.hex" that Read
// leaves in a directory.
#pragma once

#include <array>
#include <cstdint>
#include <fstream>
#include <string>

#include "devices/selection.h"
#include "image/memory_image.h"
#include "report/reporter.h"

namespace quillon::image {

inline constexpr const char* kListingName = "$Quill$.txt";
inline constexpr const char* kHexName = "$Quill$.hex";

// Joins a directory and a file name ("" means the current directory).
std::string JoinPath(const std::string& directory, const std::string& name);

// Writes the listing section by section while a read proceeds. Creating or
// writing the file is checked; a failure is reported once (naming the file)
// and `ok()` turns false.
class ListingWriter {
 public:
  ListingWriter(std::string directory, const devices::Selection& selection,
                report::Reporter& reporter, std::string file_name = kListingName);
  void WriteFlash(const MemoryImage& image);  // creates the file
  void WriteData(const MemoryImage& image);   // does nothing when the part has no EEPROM
  void WriteExecutive(const MemoryImage& image);
  // Copies the configuration words just read into image.config[0..15], lists
  // them and closes the file.
  void WriteConfig(MemoryImage& image, const std::array<std::uint16_t, 16>& config_readback);
  bool ok() const { return ok_; }
  std::string path() const { return JoinPath(directory_, file_name_); }

 private:
  // False once creating or writing the file failed (reported the first time).
  bool Check();

  std::string directory_;
  std::string file_name_;
  const devices::Selection& selection_;
  report::Reporter& reporter_;
  std::ofstream out_;
  bool ok_ = true;
};

// Writes "$Quill$.hex" (or `file_name`) from the image in one pass; false
// (after a report naming the file) when it cannot be created or written.
bool WriteHexFile(const std::string& directory, const MemoryImage& image,
                  const devices::Selection& selection, report::Reporter& reporter,
                  const std::string& file_name = kHexName);

// Program memory as raw bytes, four per instruction in the HEX file's order
// (low, middle, upper, zero), from address 0 to the end of the part's
// program memory. False (after a report naming the file) on failure.
bool WriteProgramBinary(const std::string& path, const MemoryImage& image,
                        const devices::Selection& selection, report::Reporter& reporter);

}  // namespace quillon::image
