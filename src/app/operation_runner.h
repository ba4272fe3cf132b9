// Connect, the frame every operation runs in, and the operations on the
// part, for every front-end: the console drives it as it is, the window's
// controller adds its controls and questions through the hooks.
#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/front_end.h"
#include "app/identity.h"
#include "icsp/kept_words.h"
#include "icsp/operations.h"
#include "icsp/session.h"
#include "icsp/write_plan.h"
#include "report/clock.h"
#include "report/reporter.h"

namespace quillon::app {

// How a front-end sets the runner up, once, before its first operation.
struct RunnerSetup {
  // Where the executive files are looked for ("": the current directory).
  std::string executive_dir;
  // What the front-end adds when the executive file is missing.
  report::MessagePair executive_missing_hint;
  // Where an erase keeps the part's own words first; nullptr: nowhere.
  icsp::KeptWordsStore* kept_words = nullptr;
  // The console program that the hints name.
  std::string console_program = "quillon";
  // Raised from outside to stop at the next safe point; nullptr: never.
  const std::atomic<bool>* stop_request = nullptr;
  // An error stays on a window's status a moment; a console keeps it anyway.
  bool error_pause = true;
  // Erase, Check, Write and Read first confirm that the part in the socket
  // is the one selected (the window's check; the console makes its own).
  bool confirm_part = false;
  IdentityWording identity_wording = IdentityWording::kWindow;
  bool identity_forced = false;
};

class OperationRunner : private icsp::DetectionListener {
 public:
  OperationRunner(StatusView& view, SettingsStore& settings, link::SerialPort& port,
                  report::Clock& clock, report::LanguageSource language);
  virtual ~OperationRunner() = default;

  void Configure(RunnerSetup setup);

  // Connects on COM3, a device path or "sim", as the front-end names it.
  bool ConnectTo(const std::string& port_name);
  // Selects a device by name; `remember`: a known name is stored as "CHIP".
  bool ChooseDevice(const std::string& name, bool remember = true);

  icsp::Outcome Detect();
  // Reads the DeviceID in a frame of its own, selecting and showing nothing;
  // `reading` holds the answer when the outcome is kOk.
  icsp::Outcome ReadDeviceId(icsp::DeviceIdReading& reading);
  // The part that answered against the selection, in the set-up's words.
  IdentityVerdict JudgeIdentity(const icsp::DeviceIdReading& reading) const;
  icsp::Outcome Erase();
  icsp::Outcome Check();
  // `incremental`: only what differs from the part, without a bulk erase;
  // a protected part is erased and written in full instead.
  icsp::Outcome WriteFile(const std::string& path, bool incremental = false);
  // Writes a file loaded and checked with icsp::LoadWriteFile (and changed
  // since, a serial number placed), as WriteFile does.
  icsp::Outcome WriteImage(image::MemoryImage file, bool incremental);
  // What a write of `file` would do now, with the options as they stand.
  icsp::WritePlan PlanFor(const image::MemoryImage& file, bool incremental) const;
  // Reads the device; the two output files go to `output_dir` ("" = current).
  icsp::Outcome Read(const std::string& output_dir = "");
  icsp::Outcome ReadInto(const icsp::ReadFiles& files);
  // Puts the words of a kept file back on the part they were kept from.
  icsp::Outcome RestoreRow(const std::string& path);
  // Compares the part with a HEX file, writing nothing of it.
  icsp::Outcome VerifyFile(const std::string& path);

  bool connected() const { return connected_; }
  const std::string& port_name() const { return session_.port_name(); }
  report::Reporter& reporter() { return reporter_; }
  icsp::Session& session() { return session_; }
  // What the last operation left, for a front-end's summary.
  const devices::Selection& device() const { return session_.device(); }
  const devices::FamilyForm& form() const { return session_.form(); }
  std::uint16_t firmware_version() const { return session_.firmware_version(); }
  const image::MemoryImage& image() const { return session_.image(); }
  const std::optional<icsp::IncrementalTally>& incremental_tally() const {
    return session_.incremental_tally();
  }

 protected:
  // The front-end's share of the frame, in its order: before the first
  // status text, after it, and once the port is closed.
  virtual void FrameOpening() {}
  virtual void FrameOpened() {}
  virtual void FrameClosed(bool /*failed*/) {}
  // After Connect answered (or not), before its status text.
  virtual void Connected(bool /*ok*/) {}
  // Detection selected `name`.
  virtual void Detected(const std::string& /*name*/) {}
  // Before a write erases: false ends the write. `note` is shown after it.
  virtual bool BeforeWriteErases(report::MessagePair& /*note*/) { return true; }
  virtual void AfterWrite(const report::MessagePair& /*note*/) {}

  StatusView& view_;
  SettingsStore& settings_;
  RunnerSetup setup_;

 private:
  void DeviceDetected(const std::string& name) override;
  icsp::Outcome RunOperation(std::string_view first_text, const std::function<void()>& steps);
  // The set-up's part check: false (its reason shown) ends the operation.
  bool ConfirmPart();
  // Bulk erase, the executive back in place, then `file` written: false at
  // the first step that fails.
  bool EraseAndWrite(image::MemoryImage& file);
  void WriteLoaded(image::MemoryImage& file);
  void WriteLoadedIncrementally(image::MemoryImage& file);

  report::Reporter reporter_;
  icsp::Session session_;
  bool connected_ = false;
};

}  // namespace quillon::app
