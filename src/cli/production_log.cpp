#include "cli/production_log.h"

#include <cstdio>

#include "app/durable_file.h"
#include "image/formats.h"

namespace quillon::cli {

std::string UtcTimestamp(std::chrono::system_clock::time_point when) {
  using namespace std::chrono;
  const auto seconds = floor<std::chrono::seconds>(when);
  const auto day = floor<days>(seconds);
  const year_month_day date(day);
  const hh_mm_ss time(seconds - day);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()));
  return text;
}

std::string LogLine(const RunRecord& r, std::string_view time_utc, std::string_view host) {
  std::string line = "{\"time\":" + JsonString(time_utc) + ",\"host\":" + JsonString(host) +
                     ",\"port\":" + JsonOrNull(r.port) + ",\"part\":" + JsonOrNull(r.part);
  line += ",\"device_id\":" + JsonOrNull(r.device_id ? "0x" + image::Hex4(*r.device_id) : "") +
          ",\"file\":" + JsonOrNull(r.file) +
          ",\"sha256\":" + (r.sha256 ? JsonString(*r.sha256) : "null");
  if (r.serial) {
    line += ",\"serial\":" + std::to_string(*r.serial) +
            ",\"serial_status\":" + (SerialUsed(r) ? "\"used\"" : "\"spoiled\"");
  } else {
    line += ",\"serial\":null";
  }
  line += ",\"operation\":" + JsonString(CommandName(r.command)) +
          ",\"result\":" + JsonString(ResultName(r.exit_status)) +
          ",\"exit_status\":" + std::to_string(ExitStatus(r.exit_status)) +
          ",\"seconds\":" + SecondsNumber(r.elapsed_ms) +
          ",\"version\":" + JsonString(QUILLON_VERSION) + "}\n";
  return line;
}

ProductionLog::ProductionLog(std::filesystem::path path)
    : path_(std::move(path)), host_(app::HostName()) {}

bool ProductionLog::Append(const RunRecord& record, report::MessagePair& error) {
  std::string why;
  if (app::AppendLineDurably(
          path_, LogLine(record, UtcTimestamp(std::chrono::system_clock::now()), host_), why)) {
    return true;
  }
  error = {"cannot append to the log: " + why, "ログに追記できません: " + why};
  return false;
}

}  // namespace quillon::cli
