// The remembered port and part as read back from a store, in both forms:
// the settings file (any bytes as its contents) and registry values (any
// bytes, cut where the registry reading cuts them). Each form feeds the
// window's start-up, which selects the remembered port and part.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "app/application.h"
#include "app/fake_front_end.h"
#include "posix/settings_file.h"
#include "report/clock.h"
#include "test_support/scripted_port.h"

namespace {

using namespace quillon;

// A registry value as the registry reading hands it over: nothing when the
// data with its zero would pass the read limit, else the text up to the
// first zero.
constexpr std::size_t kRegistryReadLimit = 63;

class RegistryLikeStore : public app::SettingsStore {
 public:
  std::string raw_com, raw_chip;
  void Store(std::string_view, std::string_view) override {}
  std::string Load(std::string_view name) override {
    const std::string& raw = name == app::kComSetting ? raw_com : raw_chip;
    if (raw.size() + 1 > kRegistryReadLimit) return {};
    return std::string(raw.c_str(), std::strlen(raw.c_str()));
  }
};

void StartWith(app::SettingsStore& store) {
  app::testing::FakeView view;
  app::testing::FakeSystem system(view);
  test_support::ScriptedPort port;
  report::ManualClock clock;
  app::Application app(view, store, system, port, clock, [] { return report::kEnglishLangId; });
  app.Start();
}

const std::filesystem::path& FilePath() {
  static const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                            ("quillon-fuzz-settings-" + std::to_string(::getpid()));
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  {
    std::ofstream(FilePath(), std::ios::binary | std::ios::trunc) << bytes;
    posix::SettingsFile file(FilePath());
    StartWith(file);
    // A store rewrites the file from what it could read; the value reads back.
    const std::string chip = file.Load(app::kChipSetting);
    file.Store(app::kComSetting, "COM7");
    if (file.Load(app::kComSetting) != "COM7" || file.Load(app::kChipSetting) != chip) {
      __builtin_trap();
    }
  }

  RegistryLikeStore registry;
  const std::size_t split = bytes.find('\xFF');
  registry.raw_com = bytes.substr(0, split);
  if (split != std::string::npos) registry.raw_chip = bytes.substr(split + 1);
  StartWith(registry);
  return 0;
}
