// The console front-end's view: prints results and errors as they come,
// per-row texts on request, and a progress indicator on a terminal.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "app/front_end.h"
#include "report/status_sink.h"

namespace quillon::cli {

enum class Verbosity { kQuiet, kNormal, kVerbose };

// Status texts as lines for a console: CR LF becomes a newline.
std::string ConsoleText(std::string_view text);

// Port-level error texts ("open Error=2 (...)", "CreateFile Error=5") reach
// the view as plain status texts; the console shows them as errors.
bool IsPortErrorText(std::string_view text);

class ConsoleView : public app::View {
 public:
  using MsClock = std::function<std::int64_t()>;

  // Results go to `out`, errors and the progress indicator to `err`.
  ConsoleView(std::ostream& out, std::ostream& err, Verbosity verbosity, bool show_progress,
              MsClock now_ms = nullptr);

  void ShowStatus(std::string_view text, report::StatusKind kind) override;
  void SetProgress(int percent) override;
  // Quiet mode prints the last result or error here; the indicator is cleared.
  void Finish();

  bool IsChecked(report::Option option) const override { return marks_.IsChecked(option); }
  void ToggleOption(report::Option option) override;
  report::FixedOptions& marks() { return marks_; }

  // No controls or COM list on a console.
  void EnableControl(int, bool) override {}
  void AddComPort(std::string_view) override {}
  void SelectComIndex(int) override {}
  int SelectedComIndex() const override { return -1; }
  void AddDeviceName(std::string_view) override {}
  void SelectDeviceName(std::string_view name) override { device_ = std::string(name); }
  std::string SelectedDeviceName() const override { return device_; }

 private:
  void Print(std::ostream& stream, std::string_view text);
  void ClearIndicator();

  std::ostream& out_;
  std::ostream& err_;
  Verbosity verbosity_;
  bool show_progress_;
  MsClock now_ms_;
  report::FixedOptions marks_;
  std::string device_;
  std::string final_text_;
  bool final_is_error_ = false;
  bool indicator_shown_ = false;
  int last_percent_ = -1;
  std::int64_t last_routine_ms_ = 0;
  std::string last_routine_key_;
};

}  // namespace quillon::cli
