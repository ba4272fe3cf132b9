// The production log: one JSON line per part programmed (or spoiled),
// appended whole and never rewritten.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>

#include "cli/run_record.h"
#include "report/message.h"

namespace quillon::cli {

// "2026-12-07T19:20:05Z"
std::string UtcTimestamp(std::chrono::system_clock::time_point when);

// The log's line for one part, newline included.
std::string LogLine(const RunRecord& record, std::string_view time_utc, std::string_view host);

class ProductionLog {
 public:
  explicit ProductionLog(std::filesystem::path path);
  // Appends the record's line; false with the reason when it could not.
  bool Append(const RunRecord& record, report::MessagePair& error);

 private:
  std::filesystem::path path_;
  std::string host_;
};

}  // namespace quillon::cli
