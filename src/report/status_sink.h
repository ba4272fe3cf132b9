// What the core needs from a front-end to report: the status text, the
// progress bar and the option marks.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace quillon::report {

// How much a status text matters to the front-end. Routine texts (per-row
// progress such as "Writing:Prg Adr 0040") may be dropped or coalesced by a
// sink that repaints at a human pace; results and errors are always shown.
// kNotice: a text the user must see even where a front-end replaces the
// operation's results with its own summary (a fallback taken, a kept file).
// kStep: one step of a loop ("Writing:Prg Adr 0040"), by the thousand; a
// routine text that a reader can follow only a few a second.
enum class StatusKind { kRoutine, kResult, kError, kNotice, kStep };

// Routine texts and loop steps may be dropped or coalesced alike.
constexpr bool IsRoutine(StatusKind kind) {
  return kind == StatusKind::kRoutine || kind == StatusKind::kStep;
}

// The phases of an operation, for front-ends that label their progress. The
// percentages of SetProgress belong to the phase last begun. kExecutive is
// putting the programming executive in place (its write and verification).
enum class Phase { kErasing, kExecutive, kWriting, kVerifying, kReading, kChecking, kComparing };

enum class Memory { kProgram, kEeprom, kExecutive };

// What a word was compared with: the file (a verification) or the blank
// value (a blank check).
enum class Comparison { kVerify, kBlankCheck };

// The first difference a verification or blank check found, in the part's
// own terms: the address of the instruction (or EEPROM word) as a linker map
// gives it, and the whole values.
struct Mismatch {
  Memory memory = Memory::kProgram;
  std::uint32_t address = 0;
  std::uint32_t read = 0;
  std::uint32_t expected = 0;
  Comparison comparison = Comparison::kVerify;
};

// What ended an operation, for front-ends that word it their own way.
enum class FailureKind {
  kPort,      // the serial port refused a call (open, read, write, close)
  kLink,      // the board did not answer, or not as expected
  kFile,      // a file could not be read, was malformed, or could not be written
  kPart,      // no part selected, none found, or another part than selected
  kMismatch,  // a verification or blank check found a difference
  kRefused,   // the executive or the part refused a block
  kNotKept,   // the part's own words could not be kept before an erase
  kStopped,   // stopped on request
};

// A failure as the engine reports it: its kind, where on the part when it
// has a place, and the system's own text in the user's language.
struct Failure {
  FailureKind kind = FailureKind::kLink;
  std::string_view text;
  std::optional<std::uint32_t> address;
  std::optional<Mismatch> mismatch;  // kMismatch: the difference itself
};

class StatusSink {
 public:
  virtual ~StatusSink() = default;
  // Replaces the whole status text (lines separated by CR LF).
  virtual void ShowStatus(std::string_view text, StatusKind kind) = 0;
  // A failure. The window shows its text (a port's own error as a plain
  // status text); a console may render it from its fields.
  virtual void ShowFailure(const Failure& failure) {
    ShowStatus(failure.text,
               failure.kind == FailureKind::kPort ? StatusKind::kRoutine : StatusKind::kError);
  }
  // Progress bar position, 0 to 100.
  virtual void SetProgress(int percent) = 0;
  // The same progress as counts: `done` of `total` steps of the loop running
  // in the current phase (a phase may run several loops one after another).
  virtual void ShowProgress(long /*done*/, long /*total*/) {}
  // Lets the front-end handle pending user input (the message pump of a GUI).
  virtual void Pump() {}
  // Typed events beside the texts; a front-end that shows only the texts
  // ignores them.
  virtual void BeginPhase(Phase) {}
  virtual void EndPhase(Phase, bool /*ok*/) {}
  // A phase a stop request ended; front-ends that tell it from a failure
  // override this.
  virtual void StopPhase(Phase phase) { EndPhase(phase, false); }
};

enum class Option { kWideVdd, kEraseBeforeWriting, kVerifyAfterWriting, kEnhancedIcsp };

// The option check marks, read where they are needed so that a change during an
// operation takes effect at the next test.
class OptionMarks {
 public:
  virtual ~OptionMarks() = default;
  virtual bool IsChecked(Option option) const = 0;
};

// Fixed marks, for front-ends without a menu and for tests.
class FixedOptions : public OptionMarks {
 public:
  bool erase_before_writing = true;
  bool verify_after_writing = true;
  bool enhanced_icsp = true;
  bool IsChecked(Option option) const override {
    switch (option) {
      case Option::kEraseBeforeWriting:
        return erase_before_writing;
      case Option::kVerifyAfterWriting:
        return verify_after_writing;
      case Option::kEnhancedIcsp:
        return enhanced_icsp;
      case Option::kWideVdd:
        return false;
    }
    return false;
  }
};

// A sink that shows nothing, for benchmarks and silent loads.
class NullSink : public StatusSink {
 public:
  void ShowStatus(std::string_view, StatusKind) override {}
  void SetProgress(int) override {}
};

}  // namespace quillon::report
