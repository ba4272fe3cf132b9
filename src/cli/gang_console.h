// The console of a run on several ports at once: one progress line per port
// (its phase and percent), redrawn together on a terminal, one line per
// phase end elsewhere; each port's errors named with the port.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/front_end.h"
#include "cli/console_view.h"
#include "cli/run_record.h"
#include "report/reporter.h"
#include "report/status_sink.h"

namespace quillon::cli {

class GangConsole {
 public:
  using MsClock = std::function<std::int64_t()>;

  GangConsole(std::ostream& err, std::vector<std::string> ports, bool on_terminal, bool quiet,
              std::uint16_t language, MsClock now_ms);

  void BeginPhase(std::size_t row, report::Phase phase);
  void Progress(std::size_t row, int percent);
  void EndPhase(std::size_t row, report::Phase phase, bool ok, bool stopped = false);
  // An error or notice of one port, on a line of its own.
  void Message(std::size_t row, std::string_view text);
  // The port's session is over; its line says how it ended.
  void Done(std::size_t row, Result result);
  // The last state of every line stays on screen.
  void Finish();

  std::uint16_t language() const { return language_; }

 private:
  struct Row {
    std::string port;
    std::string label;  // the port on its progress line
    PhaseBar bar;
    std::string ending;  // once the session is over
  };
  void ShortenLabels();
  std::string LineOf(Row& row);
  void Draw(bool force);  // the mutex held
  void Erase();

  std::mutex mutex_;
  std::ostream& err_;
  std::vector<Row> rows_;
  std::size_t port_width_ = 0;
  bool on_terminal_;
  bool quiet_;
  std::uint16_t language_;
  MsClock now_ms_;
  bool drawn_ = false;
  std::int64_t drawn_ms_ = 0;
};

// One port's view: what its session shows goes to the shared console.
class GangPortView : public app::StatusView {
 public:
  GangPortView(GangConsole& console, std::size_t row) : console_(console), row_(row) {}

  void ShowStatus(std::string_view text, report::StatusKind kind) override;
  void ShowFailure(const report::Failure& failure) override {
    console_.Message(row_, FailureText(failure, console_.language()));
  }
  void SetProgress(int) override {}
  void ShowProgress(long done, long total) override {
    console_.Progress(row_, report::ProgressPercent(done, total));
  }
  void BeginPhase(report::Phase phase) override { console_.BeginPhase(row_, phase); }
  void EndPhase(report::Phase phase, bool ok) override { console_.EndPhase(row_, phase, ok); }
  void StopPhase(report::Phase phase) override { console_.EndPhase(row_, phase, true, true); }

  bool IsChecked(report::Option option) const override { return marks_.IsChecked(option); }
  report::FixedOptions& marks() { return marks_; }

 private:
  GangConsole& console_;
  std::size_t row_;
  report::FixedOptions marks_;
};

// The table after the run: port, part, serial number, result, seconds.
void WriteGangTable(const std::vector<RunRecord>& records, std::uint16_t language,
                    std::ostream& out);

}  // namespace quillon::cli
