// The simulated chip's state file, any contents, for a part of each family:
// a state that loads saves to a text that loads to the same state.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "devices/catalogue.h"
#include "sim/state_file.h"
#include "sim/target.h"

namespace {

using namespace quillon;

constexpr const char* kParts[] = {"dsPIC30F4013", "dsPIC33FJ128GP802", "PIC24FJ64GA002"};

// Targets are made once: loading a state replaces all their memories.
struct Fixture {
  std::vector<std::unique_ptr<sim::Target>> loaded, reloaded;
  Fixture() {
    for (const char* part : kParts) {
      for (const devices::DeviceRecord& device : devices::Catalogue()) {
        if (devices::TrimBlanks(device.name) != part) continue;
        loaded.push_back(std::make_unique<sim::Target>(device, sim::TargetTiming{}, 0, 0));
        reloaded.push_back(std::make_unique<sim::Target>(device, sim::TargetTiming{}, 0, 0));
      }
    }
  }
};

std::string Saved(const sim::Target& target) {
  std::ostringstream out;
  sim::SaveState(target, out);
  return out.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Fixture* fixture = new Fixture;
  if (size < 1) return 0;
  const std::size_t k = data[0] % fixture->loaded.size();
  sim::Target& target = *fixture->loaded[k];
  std::istringstream in(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
  std::string error;
  if (!sim::LoadState(target, in, error)) {
    if (error.empty()) __builtin_trap();
    return 0;
  }
  const std::string text = Saved(target);
  std::istringstream again(text);
  if (!sim::LoadState(*fixture->reloaded[k], again, error) ||
      Saved(*fixture->reloaded[k]) != text) {
    __builtin_trap();
  }
  return 0;
}
