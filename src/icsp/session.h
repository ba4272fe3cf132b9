// One programming session: the link, the selected part, the memory image and
// the engine's working buffers. Nothing here is process-wide, so tests can run
// many sessions side by side.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
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
  kStopped = 130,     // stopped on request at a row boundary
};

// Told when detection has found a part (the GUI selects it in its list and
// remembers it).
class DetectionListener {
 public:
  virtual ~DetectionListener() = default;
  virtual void DeviceDetected(const std::string& name) = 0;
};

class Session {
 public:
  Session(link::SerialPort& port, report::Reporter& reporter, const report::OptionMarks& options);

  report::Reporter& reporter;
  const report::OptionMarks& options;
  link::Link link;
  devices::Selection device;
  image::MemoryImage image;
  std::uint16_t firmware_version = 0;
  DetectionListener* detection_listener = nullptr;
  // Where the executive files "pe.hex", "pe24f.hex", "pe33f.hex" are looked for.
  std::string executive_dir;
  // Raised from outside (a signal handler) to stop the running operation at
  // the next row boundary; nullptr: never.
  const std::atomic<bool>* stop_request = nullptr;
  // Where the words a bulk erase takes are kept before it; nullptr: nowhere.
  KeptWordsStore* kept_words_store = nullptr;
  // The file this operation kept them in ("" none), named by a link failure.
  std::string kept_words_file;
  // The console program the hints name for restore-row (quillon-cli on Windows).
  std::string console_program = "quillon";

  // Configuration words as last read from the part (entries 0 to 15).
  std::array<std::uint16_t, 16> config_readback{};
  // Read-back buffers of the engine.
  image::UnitBuffer verify_buffer{0x80001};
  std::array<std::uint16_t, 4> scratch_data_quad{};
  std::array<std::uint16_t, 16> executive_tail{};

  // The selected part's programming rules.
  const devices::FamilyForm& form() const { return devices::Form(device.device); }
  // "Enhanced ICSP" is checked and the part's family has an executive. A
  // part without one is driven with plain ICSP; the first call of an
  // operation that finds it so says it on the status line.
  bool UsesExecutive();

  // Built-in board letters are used above firmware 1.0.
  bool UsesBoardLetters() const { return firmware_version > 256; }
  bool OptionChecked(report::Option option) const { return options.IsChecked(option); }

  // --- operation outcome ---
  // Starts a new operation: clears the link's failure marks and the outcome.
  void BeginOperation();
  void NoteOutcome(Outcome outcome);
  Outcome outcome() const;
  // Shows an operation's success message, or, when the link failed during the
  // operation, a failure message in its place. After a finding (a refused
  // block, a rejected file) it shows nothing: the finding's report stands.
  void FinishWith(const report::MessagePair& success);

  // --- stopping on request ---
  // Called where a row or block is about to start, with the step text shown
  // for it. False when the operation must stop here: the first time, what is
  // pending goes out, programming mode is left and the link stays quiet for
  // the rest of the operation, so no row is ever cut in half.
  bool ContinueAt(std::string_view step);
  bool stopped() const { return !stopped_at_.empty(); }
  // The step text of the row that was not started.
  const std::string& stopped_at() const { return stopped_at_; }

 private:
  Outcome outcome_ = Outcome::kOk;
  std::string stopped_at_;
  bool plain_icsp_said_ = false;
};

// What a stopped operation did and did not do.
report::MessagePair StoppedMessage(std::string_view step);

// Tells the sink that a phase runs for the scope's lifetime; it ended well
// when the operation has met no problem and the link held. No phase: no
// event (a step that belongs to an enclosing phase).
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

// The message shown instead of a success message after a link failure.
report::MessagePair LinkFailureMessage();

}  // namespace quillon::icsp
