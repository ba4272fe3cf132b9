// One programming session on one port: Connect, the part's identity, the
// command and the record of what it did; one per port, side by side.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "app/front_end.h"
#include "cli/cli_options.h"
#include "cli/run_record.h"
#include "cli/serial_numbers.h"
#include "icsp/kept_words.h"
#include "link/serial_port.h"
#include "report/clock.h"
#include "report/message.h"

namespace quillon::cli {

// What one port's session needs from the run around it.
struct PortContext {
  const CliOptions& o;
  const std::string& port_name;
  app::SettingsStore& settings;
  report::Clock& clock;
  app::StatusView& view;
  std::uint16_t language;
  const std::atomic<bool>* stop_request;
  icsp::KeptWordsStore* kept_words;
  SerialNumbers* serials;
  bool remember_port;
  std::function<std::int64_t()> now_ms;
};

// A stop request seen before `command` began, or after it had completed.
report::MessagePair StoppedBeforeMessage(std::string_view command);
report::MessagePair StoppedAfterMessage(std::string_view command);

// "cannot open PORT: reason" from the port's first open error.
report::MessagePair CannotOpenMessage(std::string_view port, std::string_view error);

// From Connect to the record of what it did; the port is not yet open.
// `selected` runs once the part is selected, before Connect.
Result RunOnPort(const PortContext& context, link::SerialPort& port, RunRecord& record,
                 const std::function<void()>& selected = nullptr);

}  // namespace quillon::cli
