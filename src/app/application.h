// The window's controller: start-up, command dispatch, its controls around
// the runner's operations and the questions only a window asks. Everything
// it shows goes back through the View.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <string_view>

#include "app/front_end.h"
#include "app/operation_runner.h"

namespace quillon::app {

inline constexpr std::string_view kVersionLine = "Quillon Ver 1.9c";
inline constexpr std::string_view kWebAddress = "https://quillon.example.org/";
inline constexpr std::string_view kUpdateBatch = "brackwen.bat";
inline constexpr std::string_view kUpdateParameters = "Quillon.hex -c";

// The About text; without an OS line it ends after the empty line.
std::string AboutText(const std::optional<std::string>& os_line);

class Application : public OperationRunner {
 public:
  // The setup's stop request is the window's own.
  Application(View& window, SettingsStore& settings, SystemActions& system, link::SerialPort& port,
              report::Clock& clock, report::LanguageSource language, RunnerSetup setup = {});

  // Brings the window to its start-up state; run once when it exists.
  void Start();
  // One WM_COMMAND: control or menu id and notification code.
  void Dispatch(int command_id, int notification);

  // Connects on "COM" + (COM list selection + 1).
  bool Connect();
  // Asks for a file and writes it; a cancelled dialog does nothing at all.
  void Write();
  void About();
  // Ends the process; while an operation runs, only once the user agrees
  // and the operation has stopped at its next safe point.
  void Exit();
  // The window's close box: true when the window may go now; while an
  // operation runs it asks, and the process ends after the operation.
  bool MayClose();

  // The window's checks before Erase, Check, Write and Read: the part in
  // the socket is the one selected, and blank kept words with a copy on
  // this port are offered back before a write erases.
  void set_part_checks(bool on) { setup_.confirm_part = on; }

 private:
  void FrameOpening() override;
  void FrameOpened() override;
  void FrameClosed(bool failed) override;
  void Connected(bool ok) override;
  void Detected(const std::string& name) override;
  bool BeforeWriteErases(report::MessagePair& note) override;
  void AfterWrite(const report::MessagePair& note) override;
  void SetOperationControls(bool enabled);

  View& window_;
  SystemActions& system_;
  bool running_ = false;
  bool asking_ = false;
  bool close_pending_ = false;
  // The window's own stop request, raised when the user closes mid-operation.
  std::atomic<bool> stop_flag_{false};
};

}  // namespace quillon::app
