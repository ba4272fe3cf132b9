// Recording fakes of the front-end interfaces: every call lands in one event
// log, so tests can check what happened and in which order.
#pragma once

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/front_end.h"

namespace quillon::app::testing {

class FakeView : public View {
 public:
  // --- StatusSink ---
  void ShowStatus(std::string_view text, report::StatusKind kind) override {
    statuses.push_back(std::string(text));
    kinds.push_back(kind);
    Log("status " + std::string(text));
    if (on_status) on_status(text);
  }
  void SetProgress(int percent) override {
    progress = percent;
    Log("progress " + std::to_string(percent));
  }
  void Pump() override { Log("pump"); }

  // --- OptionMarks ---
  bool IsChecked(report::Option option) const override { return marks.at(option); }
  void ToggleOption(report::Option option) override {
    marks[option] = !marks[option];
    Log("toggle " + std::to_string(static_cast<int>(option)));
  }

  // --- controls and lists ---
  void EnableControl(int id, bool on) override {
    enabled[id] = on;
    Log("enable " + std::to_string(id) + (on ? " on" : " off"));
  }
  void AddComPort(std::string_view name) override {
    com_ports.push_back(std::string(name));
    Log("com add " + std::string(name));
  }
  void SelectComIndex(int index) override {
    com_index = index;
    Log("com select " + std::to_string(index));
  }
  int SelectedComIndex() const override { return com_index; }
  void AddDeviceName(std::string_view name) override {
    devices.push_back(std::string(name));
    if (events.empty() || events.back() != "device add") Log("device add");
  }
  void SelectDeviceName(std::string_view name) override {
    if (std::find(devices.begin(), devices.end(), name) != devices.end()) {
      device_selection = std::string(name);
    }
    Log("device select " + std::string(name));
  }
  std::string SelectedDeviceName() const override { return device_selection; }
  void ResetProgress() override {
    progress = 0;
    Log("progress reset");
  }

  std::string StatusText() const override { return last_status(); }

  // Controls start enabled, as created by the window.
  bool Enabled(int id) const { return enabled.count(id) == 0 || enabled.at(id); }
  std::string last_status() const { return statuses.empty() ? "" : statuses.back(); }
  void Log(std::string event) { events.push_back(std::move(event)); }

  std::vector<std::string> events;
  std::vector<std::string> statuses;
  std::vector<report::StatusKind> kinds;
  std::map<int, bool> enabled;
  std::map<report::Option, bool> marks{{report::Option::kWideVdd, false},
                                       {report::Option::kEraseBeforeWriting, true},
                                       {report::Option::kVerifyAfterWriting, true},
                                       {report::Option::kEnhancedIcsp, true}};
  std::vector<std::string> com_ports;
  int com_index = -1;
  std::vector<std::string> devices;
  std::string device_selection;
  int progress = -1;
  // Runs after each status text, inside the operation that showed it.
  std::function<void(std::string_view)> on_status;
};

class FakeSettings : public SettingsStore {
 public:
  void Store(std::string_view name, std::string_view value) override {
    values[std::string(name)] = std::string(value);
    ++stores;
  }
  std::string Load(std::string_view name) override {
    auto it = values.find(std::string(name));
    return it == values.end() ? "" : it->second;
  }
  std::map<std::string, std::string> values;
  int stores = 0;
};

class FakeSystem : public SystemActions {
 public:
  explicit FakeSystem(FakeView& view) : view_(view) {}
  void Launch(const std::string& file, const std::string& parameters) override {
    view_.Log("launch " + file + " " + parameters);
  }
  void OpenWebPage(const std::string& address) override { view_.Log("web " + address); }
  std::string ChooseHexFile() override { return chosen_file; }
  void ExitProcess(int code) override { view_.Log("exit " + std::to_string(code)); }
  // Answers from `answers` in turn; No once they run out.
  bool Ask(const std::string& question) override {
    view_.Log("ask " + question);
    const bool yes = !answers.empty() && answers.front();
    if (!answers.empty()) answers.erase(answers.begin());
    return yes;
  }
  void BeginTimerResolution() override { view_.Log("timer begin"); }
  void EndTimerResolution() override { view_.Log("timer end"); }
  std::optional<std::string> OsVersionLine() override { return os_line; }

  std::string chosen_file;
  std::optional<std::string> os_line;
  std::vector<bool> answers;

 private:
  FakeView& view_;
};

}  // namespace quillon::app::testing
