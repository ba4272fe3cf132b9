// The part's own words a bulk erase takes with it (factory words from
// 0x8007F4, dsPIC30F unit ID words from 0x8005C0). They go into a file before
// the erase, so a link lost before they are written back loses nothing.
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

// Where kept words live between runs. A copy belongs to one part on one port.
class KeptWordsStore {
 public:
  virtual ~KeptWordsStore() = default;
  // Keeps `words` (stamped with the time) under a name no other run or port
  // can take, whole or not at all. Returns the name to show; "" when it could
  // not be kept, with the reason in `why`.
  virtual std::string Save(KeptWords words, std::string& why) = 0;
  // What was kept for this DeviceID on this port, newest first.
  virtual std::vector<std::string> List(std::uint16_t device_id, const std::string& port) = 0;
  virtual std::optional<std::string> Load(const std::string& name) = 0;
};

std::string FormatKeptWords(const KeptWords& words);
// Nothing for text that is not a whole kept-words file.
std::optional<KeptWords> ParseKeptWords(std::string_view text);

// Called before an erase with the area read into the image: keeps the words
// in the session's store. Nothing (the reason shown) when the erase must not
// go on.
std::optional<KeptWords> KeepBeforeErase(Session& session);

// Reads the area into the image; the part must be in ICSP mode.
void ReadKeptArea(Session& session, const KeptArea& area);
// Programs the row holding the area: the words, blank around them (blank
// cells program nothing).
void WriteKeptArea(Session& session, const KeptWords& words);

// The restore-row operation: puts a kept file's words back on their part.
void RestoreKeptWords(Session& session, const std::string& name);

}  // namespace quillon::icsp
