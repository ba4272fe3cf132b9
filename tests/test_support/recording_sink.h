// A status sink that records everything, with a manual clock, for tests.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "report/clock.h"
#include "report/reporter.h"
#include "report/status_sink.h"

namespace quillon::test_support {

class RecordingSink : public report::StatusSink {
 public:
  struct Entry {
    std::string text;
    report::StatusKind kind;
  };

  void ShowStatus(std::string_view text, report::StatusKind kind) override {
    entries.push_back({std::string(text), kind});
  }
  void SetProgress(int percent) override { progress.push_back(percent); }
  void ShowFailure(const report::Failure& f) override {
    failures.push_back(f.kind);
    if (f.mismatch) mismatches.push_back(*f.mismatch);
    StatusSink::ShowFailure(f);
  }
  void ShowProgress(long done, long total) override { counts.push_back({done, total}); }

  std::unique_ptr<report::Reporter> MakeReporter(std::uint16_t lang_id = report::kEnglishLangId) {
    lang = lang_id;
    return std::make_unique<report::Reporter>(*this, clock, [this] { return lang; });
  }

  std::string last_text() const { return entries.empty() ? std::string() : entries.back().text; }
  std::vector<std::string> texts() const {
    std::vector<std::string> out;
    for (const auto& e : entries) out.push_back(e.text);
    return out;
  }
  std::vector<std::string> texts_of(report::StatusKind kind) const {
    std::vector<std::string> out;
    for (const auto& e : entries) {
      if (e.kind == kind) out.push_back(e.text);
    }
    return out;
  }

  std::vector<Entry> entries;
  std::vector<int> progress;
  std::vector<report::Mismatch> mismatches;
  std::vector<report::FailureKind> failures;
  std::vector<std::pair<long, long>> counts;
  report::ManualClock clock;
  std::uint16_t lang = report::kEnglishLangId;
};

}  // namespace quillon::test_support
