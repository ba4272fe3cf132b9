// The application shell's logic: start-up, command dispatch, Connect and the
// frame every operation runs in. Front-ends own the window (or console) and
// feed commands in; everything they show comes back through the View.
#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/front_end.h"
#include "icsp/operations.h"
#include "icsp/session.h"
#include "link/connect.h"
#include "report/clock.h"
#include "report/reporter.h"

namespace quillon::app {

inline constexpr std::string_view kVersionLine = "Quillon Ver 1.9c";
inline constexpr std::string_view kWebAddress = "https://quillon.example.org/";
inline constexpr std::string_view kUpdateBatch = "brackwen.bat";
inline constexpr std::string_view kUpdateParameters = "Quillon.hex -c";

// The About text; without an OS line it ends after the empty line.
std::string AboutText(const std::optional<std::string>& os_line);

class Application : private icsp::DetectionListener {
 public:
  // The window, with its controls and the system around it.
  Application(View& window, SettingsStore& settings, SystemActions& system, link::SerialPort& port,
              report::Clock& clock, report::LanguageSource language);
  // A front-end that shows status and progress only (the console): no
  // controls, lists, dialogs or menus.
  Application(StatusView& view, SettingsStore& settings, link::SerialPort& port,
              report::Clock& clock, report::LanguageSource language);
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  // Brings the window to its start-up state; run once when it exists.
  void Start();
  // One WM_COMMAND: control or menu id and notification code.
  void Dispatch(int command_id, int notification);

  // --- commands; the dispatch calls these, front-ends without lists may too ---
  void ComSelected();
  // Connects on "COM" + (COM list selection + 1).
  bool Connect();
  // Connects on a port name of the front-end's choosing (a device path, "sim").
  bool ConnectTo(const std::string& port_name);
  void DeviceListChanged();
  // Selects a device by name; a known name is remembered as "CHIP".
  bool ChooseDevice(const std::string& name);

  icsp::Outcome Detect();
  // Reads the DeviceID in a frame of its own, selecting and showing nothing;
  // `reading` holds the answer when the outcome is kOk.
  icsp::Outcome ReadDeviceId(icsp::DeviceIdReading& reading);
  icsp::Outcome Erase();
  icsp::Outcome Check();
  // Asks for a file and writes it; a cancelled dialog does nothing at all.
  void Write();
  icsp::Outcome WriteFile(const std::string& path);
  // Writes only what differs from the part (no bulk erase; see
  // icsp::WriteDeviceIncremental). A protected part is erased and written in
  // full instead.
  icsp::Outcome WriteFileIncremental(const std::string& path);
  // Reads the device; the two output files go to `output_dir` ("" = current).
  icsp::Outcome Read(const std::string& output_dir = "");
  // Puts the words of a kept file back on the part they were kept from.
  icsp::Outcome RestoreRow(const std::string& path);
  // Reads the device into the files named.
  icsp::Outcome ReadInto(const icsp::ReadFiles& files);
  // Compares the part with a HEX file, writing nothing of it.
  icsp::Outcome VerifyFile(const std::string& path);

  void Update();
  void WebHome();
  void About();
  // Ends the process; while an operation runs, only once the user agrees
  // and the operation has stopped at its next safe point.
  void Exit();
  // The window's close box: true when the window may go now. While an
  // operation runs it asks, as Exit does, and the process ends after it.
  bool MayClose();

  // The window's checks before Erase, Check, Write and Read: the part in
  // the socket is the one selected, and blank kept words with a copy on
  // this port are offered back before a write erases. Off by default: the
  // console makes its own.
  void set_part_checks(bool on) { part_checks_ = on; }

  bool connected() const { return connected_; }
  const std::string& port_name() const { return port_name_; }
  icsp::Session& session() { return session_; }
  report::Reporter& reporter() { return reporter_; }

 private:
  void DeviceDetected(const std::string& name) override;
  icsp::Outcome RunOperation(std::string_view first_text, const std::function<void()>& steps);
  void BeginOperationControls();
  void EndOperationControls();
  void SetOperationControls(bool enabled);
  void EnableControl(int control_id, bool enabled);
  // False when the preparation could not provide the executive; the steps
  // that need it are skipped.
  bool PrepareExecutive();
  // Bulk erase, the executive back in place, then `file` written: false at
  // the first step that fails.
  bool EraseAndWrite(image::MemoryImage& file);
  // The checks of set_part_checks: false when the operation must not go on
  // (its reason is shown).
  bool ConfirmPart();
  bool OfferKeptCopy(report::MessagePair& note);
  // While an operation runs: asks whether to stop it and close; true when
  // the stop has been requested.
  bool AskToStopAndClose();

  StatusView& view_;
  View* window_ = nullptr;  // none on a console
  SettingsStore& settings_;
  SystemActions* system_ = nullptr;
  report::Reporter reporter_;
  icsp::Session session_;
  std::string port_name_;
  bool connected_ = false;
  bool part_checks_ = false;
  bool running_ = false;
  bool asking_ = false;
  bool close_pending_ = false;
  // The window's own stop request, raised when the user closes mid-operation.
  std::atomic<bool> stop_flag_{false};
};

}  // namespace quillon::app
