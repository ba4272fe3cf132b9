#include "cli/gang_console.h"

#include <algorithm>
#include <cstdio>

#include "cli/console_view.h"
#include "cli/exit_codes.h"
#include "report/message.h"

namespace quillon::cli {
namespace {

// Port names longer than this are shortened on the progress lines.
constexpr std::size_t kLongLabel = 20;
constexpr std::size_t kMaxLine = 79;
// Lines are redrawn at most this often, besides every phase's start and end.
constexpr std::int64_t kGangRedrawIntervalMs = 100;

}  // namespace

GangConsole::GangConsole(std::ostream& err, std::vector<std::string> ports, bool on_terminal,
                         bool quiet, std::uint16_t language, MsClock now_ms)
    : err_(err),
      on_terminal_(on_terminal && !quiet),
      quiet_(quiet),
      language_(language),
      now_ms_(std::move(now_ms)) {
  for (std::string& port : ports) {
    Row& row = rows_.emplace_back();
    row.label = port;
    row.port = std::move(port);
  }
  // On a terminal the lines are redrawn; elsewhere a line can be long.
  if (on_terminal_) ShortenLabels();
  for (const Row& row : rows_) port_width_ = std::max(port_width_, row.label.size());
}

// Long names (/dev/serial/by-id/usb-FTDI_..._A1B2C3-if00-port0) would wrap
// the lines and spoil the redraw; what tells the ports apart is what their
// names do not share.
void GangConsole::ShortenLabels() {
  std::size_t longest = 0;
  for (const Row& row : rows_) longest = std::max(longest, row.label.size());
  if (rows_.size() < 2 || longest <= kLongLabel) return;
  std::string_view first = rows_.front().port;
  std::size_t prefix = first.size(), suffix = first.size();
  for (const Row& row : rows_) {
    const std::string& name = row.port;
    std::size_t p = 0, q = 0;
    while (p < prefix && p < name.size() && name[p] == first[p]) ++p;
    while (q < suffix && q < name.size() && q < first.size() &&
           name[name.size() - 1 - q] == first[first.size() - 1 - q]) {
      ++q;
    }
    prefix = p;
    suffix = q;
  }
  // Every label keeps at least one character of its own.
  std::size_t shortest = first.size();
  for (const Row& row : rows_) shortest = std::min(shortest, row.port.size());
  prefix = std::min(prefix, shortest - 1);
  suffix = std::min(suffix, shortest - 1 - prefix);
  for (Row& row : rows_) {
    row.label = (prefix > 0 ? "..." : "") +
                row.port.substr(prefix, row.port.size() - prefix - suffix) +
                (suffix > 0 ? "..." : "");
  }
}

std::string GangConsole::LineOf(Row& row) {
  std::string line = PadTo(row.label, port_width_) + "  ";
  if (!row.ending.empty()) return line + row.ending;
  if (!row.bar.phase()) return line + report::Pick({"connecting", "接続中"}, language_);
  return line + row.bar.Line(now_ms_(), language_);
}

void GangConsole::Erase() {
  if (!drawn_) return;
  // Up to the first line of the block, and everything below cleared.
  err_ << "\x1b[" << rows_.size() << "A\r\x1b[J";
  drawn_ = false;
}

void GangConsole::Draw(bool force) {
  if (!on_terminal_) return;
  const std::int64_t now = now_ms_();
  if (!force && drawn_ && now - drawn_ms_ < kGangRedrawIntervalMs) return;
  if (drawn_) err_ << "\x1b[" << rows_.size() << "A";
  for (Row& row : rows_) {
    // Never wider than a terminal's 80 columns: a wrapped line would throw
    // the redraw out of step.
    std::string line = LineOf(row);
    if (line.size() > kMaxLine) {
      std::size_t end = kMaxLine;  // not inside a UTF-8 character
      while (end > 0 && (static_cast<unsigned char>(line[end]) & 0xC0) == 0x80) --end;
      line.resize(end);
    }
    err_ << '\r' << line << "\x1b[K\n";
  }
  err_.flush();
  drawn_ = true;
  drawn_ms_ = now;
}

void GangConsole::BeginPhase(std::size_t row, report::Phase phase) {
  std::lock_guard lock(mutex_);
  rows_[row].bar.Begin(phase, now_ms_());
  Draw(true);
}

void GangConsole::Progress(std::size_t row, int percent) {
  std::lock_guard lock(mutex_);
  if (rows_[row].bar.Set(percent)) Draw(false);
}

void GangConsole::EndPhase(std::size_t row, report::Phase phase, bool ok, bool stopped) {
  std::lock_guard lock(mutex_);
  Row& r = rows_[row];
  if (r.bar.phase() != phase || !r.bar.running()) return;
  r.bar.End(ok, stopped, now_ms_());
  if (on_terminal_) {
    Draw(true);
  } else if (!quiet_) {
    err_ << LineOf(r) << '\n';
    err_.flush();
  }
}

void GangConsole::Message(std::size_t row, std::string_view text) {
  std::lock_guard lock(mutex_);
  Erase();
  // Every line with its port: lines of several ports may come between.
  const std::string lines = ConsoleText(text);
  for (std::size_t at = 0; at == 0 || at < lines.size();) {
    const std::size_t end = std::min(lines.find('\n', at), lines.size());
    err_ << rows_[row].port << ": " << std::string_view(lines).substr(at, end - at) << '\n';
    at = end + 1;
  }
  err_.flush();
  Draw(true);
}

void GangConsole::Done(std::size_t row, Result result) {
  std::lock_guard lock(mutex_);
  rows_[row].ending = ResultText(result, language_);
  Draw(true);
}

void GangConsole::Finish() {
  std::lock_guard lock(mutex_);
  Draw(true);
}

void GangPortView::ShowStatus(std::string_view text, report::StatusKind kind) {
  // Results are the table's business; notices and errors are shown.
  if (kind == report::StatusKind::kError || kind == report::StatusKind::kNotice) {
    console_.Message(row_, text);
  }
}

void WriteGangTable(const std::vector<RunRecord>& records, std::uint16_t language,
                    std::ostream& out) {
  const std::vector<std::string> head =
      language == report::kJapaneseLangId
          ? std::vector<std::string>{"ポート", "品種", "シリアル番号", "結果", "秒"}
          : std::vector<std::string>{"PORT", "PART", "SERIAL", "RESULT", "SECONDS"};
  std::vector<std::vector<std::string>> cells{head};
  for (const RunRecord& r : records) {
    std::string serial = r.serial ? std::to_string(*r.serial) : "-";
    if (r.serial && !SerialUsed(r)) serial += report::Pick({" (spoiled)", " (無効)"}, language);
    cells.push_back({r.port, r.part.empty() ? "-" : r.part, serial,
                     ResultText(r.exit_status, language), SecondsNumber(r.elapsed_ms)});
  }
  std::vector<std::size_t> width(head.size(), 0);
  for (const auto& row : cells) {
    for (std::size_t c = 0; c < row.size(); ++c) width[c] = std::max(width[c], row[c].size());
  }
  for (const auto& row : cells) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c) {
      line += c + 1 < row.size() ? PadTo(row[c], width[c] + 2) : row[c];
    }
    out << line << '\n';
  }
  out.flush();
}

}  // namespace quillon::cli
