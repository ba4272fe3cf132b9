// One programming session: the link, the selected part, the memory image and
// the engine's working buffers. Nothing is process-wide.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "devices/selection.h"
#include "icsp/kept_words.h"
#include "image/memory_image.h"
#include "link/link.h"
#include "report/reporter.h"
#include "report/status_sink.h"

namespace quillon::icsp {

// How an operation ended, for front-ends that map it to an exit status.
enum class Outcome {
  kOk = 0,
  kProblem = 1,       // not blank, verification mismatch, unknown device, no DeviceID
  kLinkFailure = 3,   // port or link failure
  kFileRejected = 4,  // HEX file missing, unreadable or malformed
  kWordsNotKept = 5,  // the part's own words could not be kept; nothing erased
  kStopped = 130,     // stopped on request at a row boundary
};

// How an operation talks to the part, decided in one place (Session::Mode).
enum class ProgrammingMode {
  kExecutive,     // blocks through the programming executive
  kPlainBatches,  // plain ICSP, instruction batches (firmware 1.0 and older)
  kPlainLetters,  // plain ICSP, the board's built-in letters
};
// The plain mode alone (the steps around the executive use it too).
ProgrammingMode PlainModeFor(std::uint16_t firmware);

class BoardSteps;
class ModeDriver;

// Told when detection has found a part.
class DetectionListener {
 public:
  virtual ~DetectionListener() = default;
  virtual void DeviceDetected(const std::string& name) = 0;
};

// What an incremental write compared and rewrote, for a front-end's summary.
struct IncrementalTally {
  std::string_view unit;  // "page", "row", "row group"
  long compared = 0;      // units of program memory read back
  long written = 0;       // of them, erased and programmed
  long eeprom_words = 0;  // EEPROM words rewritten
  long config_registers = 0;
};

// The message shown instead of a success message after a link failure.
report::MessagePair LinkFailureMessage();

class Session {
 public:
  Session(link::SerialPort& port, report::Reporter& reporter, const report::OptionMarks& options);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  report::Reporter& reporter() const { return reporter_; }
  link::Link& link() { return link_; }
  const link::Link& link() const { return link_; }
  devices::Selection& device() { return device_; }
  const devices::Selection& device() const { return device_; }
  image::MemoryImage& image() { return image_; }
  const image::MemoryImage& image() const { return image_; }

  std::uint16_t firmware_version() const { return firmware_version_; }
  void set_firmware_version(std::uint16_t version) { firmware_version_ = version; }
  DetectionListener* detection_listener() const { return detection_listener_; }
  void set_detection_listener(DetectionListener* listener) { detection_listener_ = listener; }
  // Where the executive files "pe.hex", "pe24f.hex", "pe33f.hex" are looked for.
  const std::string& executive_dir() const { return executive_dir_; }
  void set_executive_dir(std::string dir) { executive_dir_ = std::move(dir); }
  // What a front-end adds when that file is missing; empty: nothing.
  const report::MessagePair& executive_missing_hint() const { return executive_missing_hint_; }
  void set_executive_missing_hint(report::MessagePair hint) {
    executive_missing_hint_ = std::move(hint);
  }
  // Raised from outside (a signal handler) to stop at the next row boundary.
  void set_stop_request(const std::atomic<bool>* request) { stop_request_ = request; }
  // Where the words a bulk erase takes are kept before it; nullptr: nowhere.
  KeptWordsStore* kept_words_store() const { return kept_words_store_; }
  void set_kept_words_store(KeptWordsStore* store) { kept_words_store_ = store; }
  // The port this session's part hangs on: kept copies belong to it.
  const std::string& port_name() const { return port_name_; }
  void set_port_name(std::string name) { port_name_ = std::move(name); }
  // The console program the hints name for restore-row (quillon-cli on Windows).
  const std::string& console_program() const { return console_program_; }
  void set_console_program(std::string program) { console_program_ = std::move(program); }

  // The file this operation kept the part's words in ("" none).
  std::string& kept_words_file() { return kept_words_file_; }
  // What this operation has begun to erase (empty: nothing).
  report::MessagePair& erased() { return erased_; }
  // Set when an incremental write ends in its result message.
  std::optional<IncrementalTally>& incremental_tally() { return incremental_tally_; }
  const std::optional<IncrementalTally>& incremental_tally() const { return incremental_tally_; }
  // Configuration words as last read from the part (entries 0 to 15).
  std::array<std::uint16_t, 16>& config_readback() { return config_readback_; }
  const std::array<std::uint16_t, 16>& config_readback() const { return config_readback_; }
  // The executive's last quads as the presence check read them.
  std::array<std::uint16_t, 16>& executive_tail() { return executive_tail_; }

  // The selected part's programming rules.
  const devices::FamilyForm& form() const { return devices::Form(device_.device); }
  // The mode an operation uses from here, read anew at every call (the
  // window's option may change while an operation runs). With the option
  // checked on a part without an executive, the first call of an operation
  // says that plain ICSP is used.
  ModeDriver& OpenMode();
  // The mode the options and the firmware choose now; `fell_back`: the
  // executive was asked for, but the part has none.
  ProgrammingMode Mode(bool* fell_back = nullptr) const;
  // Plain ICSP, for steps that never use the executive.
  ModeDriver& PlainMode() { return *plain_driver_; }
  const BoardSteps& steps() const;
  bool OptionChecked(report::Option option) const { return options_.IsChecked(option); }

  // Starts a new operation: clears the link's failure marks and the outcome.
  void BeginOperation();
  void NoteOutcome(Outcome outcome);
  Outcome outcome() const;
  // A failure or a stop has ended the operation: nothing more may reach the part.
  bool Ended() const { return stopped() || outcome() != Outcome::kOk; }
  // The link failure, told once per operation, with what had been erased and
  // where the part's own words were kept. `lead` replaces the first line.
  void ReportLinkFailure(const report::MessagePair& lead = LinkFailureMessage());
  // Where a stopped operation ended, with the same lines on an erase.
  void ReportStopped();
  // The success message, or the link failure in its place. After a finding
  // (a refused block, a rejected file) nothing: the finding's report stands.
  void FinishWith(const report::MessagePair& success);

  // Called where a row or block is about to start, with its step text. False
  // when the operation must stop here: the first time, what is pending goes
  // out, programming mode is left and the link stays quiet, so no row is ever
  // cut in half.
  bool ContinueAt(std::string_view step);
  bool stopped() const { return !stopped_at_.empty(); }
  const std::string& stopped_at() const { return stopped_at_; }

 private:
  report::MessagePair ErasedNote() const;

  report::Reporter& reporter_;
  const report::OptionMarks& options_;
  link::Link link_;
  devices::Selection device_;
  image::MemoryImage image_;
  std::uint16_t firmware_version_ = 0;
  DetectionListener* detection_listener_ = nullptr;
  std::string executive_dir_;
  report::MessagePair executive_missing_hint_;
  const std::atomic<bool>* stop_request_ = nullptr;
  KeptWordsStore* kept_words_store_ = nullptr;
  std::string kept_words_file_;
  std::string port_name_;
  report::MessagePair erased_;
  std::string console_program_ = "quillon";
  std::optional<IncrementalTally> incremental_tally_;
  std::array<std::uint16_t, 16> config_readback_{};
  std::array<std::uint16_t, 16> executive_tail_{};
  std::unique_ptr<ModeDriver> executive_driver_;
  std::unique_ptr<ModeDriver> plain_driver_;
  Outcome outcome_ = Outcome::kOk;
  std::string stopped_at_;
  bool plain_icsp_said_ = false;
  bool failure_told_ = false;
};

// Tells the sink that a phase runs for the scope's lifetime; it ended well
// when the operation met no problem. No phase: no event.
class PhaseScope {
 public:
  PhaseScope(Session& session, std::optional<report::Phase> phase);
  ~PhaseScope();
  PhaseScope(const PhaseScope&) = delete;
  PhaseScope& operator=(const PhaseScope&) = delete;

 private:
  Session& session_;
  std::optional<report::Phase> phase_;
};

}  // namespace quillon::icsp
