// The part's own words that a bulk erase takes with it: the calibration and
// diagnostic words from 0x8007F4 (dsPIC33F/PIC24) or the unit ID words from
// 0x8005C0 (dsPIC30F). They go into a file before anything is erased and are
// written back after the erase, so a link lost in between loses nothing for
// good: the words are always on the part or in the file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "devices/catalogue.h"
#include "report/message.h"

namespace quillon::icsp {

class Session;

// The words a part's bulk erase takes and the host must put back.
struct KeptArea {
  std::uint32_t first = 0;  // program address of the first instruction; 0: none
  std::uint32_t instructions = 0;
  report::MessagePair what;  // how the messages call them
};
KeptArea KeptAreaOf(const devices::DeviceRecord& device);

struct KeptWords {
  std::uint16_t device_id = 0;
  std::string device;   // the part's name, for a reader of the file
  std::string port;     // the port the part hung on: the copy belongs to it
  std::string kept_at;  // when the copy was made (UTC), set by the store
  std::uint32_t first = 0;
  std::vector<std::uint32_t> instructions;
  bool Blank() const;
};

// Where kept words live between runs; the front-end supplies a directory.
// A copy belongs to one part on one port: named by DeviceID, port and time.
class KeptWordsStore {
 public:
  virtual ~KeptWordsStore() = default;
  // Keeps `words` (stamped with the time) under a name no other run or port
  // can take, written so that a crash leaves either nothing or the whole
  // file. Returns the name to show (a path); "" when it could not be kept,
  // with the reason in `why`.
  virtual std::string Save(KeptWords words, std::string& why) = 0;
  // What was kept for this DeviceID on this port, newest first.
  virtual std::vector<std::string> List(std::uint16_t device_id, const std::string& port) = 0;
  virtual std::optional<std::string> Load(const std::string& name) = 0;
};

std::string FormatKeptWords(const KeptWords& words);
// Nothing for text that is not a whole kept-words file.
std::optional<KeptWords> ParseKeptWords(std::string_view text);

// Called by the bulk erase after the area has been read into the image:
// keeps the words in the session's store and returns them. Nothing when the
// erase must not go on (the words could not be read or kept); the reason is
// shown.
std::optional<KeptWords> KeepBeforeErase(Session& session);

// Reads the area into the image; the part must be in ICSP mode.
void ReadKeptArea(Session& session, const KeptArea& area);
// Programs the row holding the area: the words, blank around them. Blank
// cells program nothing, so the rest of the row keeps what it holds.
void WriteKeptArea(Session& session, const KeptWords& words);

// The restore-row operation: puts the words of a kept file back on the part
// it was kept from, and reads them back.
void RestoreKeptWords(Session& session, const std::string& name);

}  // namespace quillon::icsp
