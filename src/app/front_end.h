// What the application logic needs from a front-end (the Win32 window, the
// console tool, test fakes); what a front-end may lack has a default.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "report/status_sink.h"

namespace quillon::app {

// What every front-end shows: status texts and progress (StatusSink) and the
// option marks (OptionMarks; the marks are the option state itself).
class StatusView : public report::StatusSink, public report::OptionMarks {};

// The window besides: the two lists, the enabled state of the controls and
// the Option menu's check marks.
class View : public StatusView {
 public:
  // Enables or disables a control by id (kComList .. kProgressBar).
  virtual void EnableControl(int control_id, bool enabled) = 0;

  // COM list: entries in the order added; index -1 means no selection.
  virtual void AddComPort(std::string_view name) = 0;
  virtual void SelectComIndex(int index) = 0;
  virtual int SelectedComIndex() const = 0;

  // Device list. The list may sort itself. Selecting picks the entry with
  // exactly this name; the selected name is "" when nothing is selected.
  virtual void AddDeviceName(std::string_view name) = 0;
  virtual void SelectDeviceName(std::string_view name) = 0;
  virtual std::string SelectedDeviceName() const = 0;

  // Progress bar to range 0..100, step 1, position 0.
  virtual void ResetProgress() { SetProgress(0); }

  // Flips the check mark of an Option item.
  virtual void ToggleOption(report::Option option) = 0;

  // The status text as it stands (or is about to be painted).
  virtual std::string StatusText() const { return {}; }
};

// The two values kept between runs. A value that cannot be read (missing,
// unreadable, longer than the store allows) loads as "". Store failures are
// ignored.
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  virtual void Store(std::string_view name, std::string_view value) = 0;
  virtual std::string Load(std::string_view name) = 0;
};

inline constexpr std::string_view kComSetting = "COM";
inline constexpr std::string_view kChipSetting = "CHIP";

// The port number 1..9 from the last character of the stored value, or -1.
int LoadCom(SettingsStore& store);

// The operating system around the front-end.
class SystemActions {
 public:
  virtual ~SystemActions() = default;
  // Starts a program (or opens a document) and does not wait; failures are
  // not reported.
  virtual void Launch(const std::string& file, const std::string& parameters) = 0;
  // Shows the project's web page; how is the front-end's business.
  virtual void OpenWebPage(const std::string& address) = 0;
  // The file-open dialog for HEX files: a full path, or "" when cancelled.
  virtual std::string ChooseHexFile() = 0;
  // Ends the process at once (a test fake records it and returns).
  virtual void ExitProcess(int code) = 0;
  // A Yes/No question over the window; true for Yes (no way to ask: No).
  virtual bool Ask(const std::string& /*question*/) { return false; }
  // Raise and restore the system timer resolution around an operation.
  virtual void BeginTimerResolution() {}
  virtual void EndTimerResolution() {}
  // The last line of the About text, when the front-end can tell.
  virtual std::optional<std::string> OsVersionLine() { return std::nullopt; }
};

}  // namespace quillon::app
