// The --serial option's text: a plan parsed from it puts the number into an
// image where the plan says, and nowhere past the image.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "cli/serial_numbers.h"
#include "devices/selection.h"
#include "image/hex_loader.h"
#include "image/memory_image.h"
#include "report/clock.h"
#include "report/reporter.h"
#include "report/status_sink.h"

namespace {

using namespace quillon;

struct Fixture {
  report::NullSink sink;
  report::ManualClock clock;
  report::Reporter reporter{sink, clock, nullptr};
  devices::Selection selection;
  image::MemoryImage image;

  Fixture() { devices::SelectDevice(selection, "dsPIC33FJ256GP710", reporter); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Fixture* fixture = new Fixture;  // the image is large: made once
  std::string error;
  const auto plan =
      cli::ParseSerialPlan(std::string_view(reinterpret_cast<const char*>(data), size), error);
  if (!plan) {
    if (error.empty()) __builtin_trap();  // a refusal always says why
    return 0;
  }
  if (plan->address % 2 != 0 || plan->words < 1 || plan->words > 4 || plan->step == 0) {
    __builtin_trap();
  }
  fixture->image.Clear(fixture->selection);
  cli::PlaceSerialNumber(fixture->image, *plan, plan->start);
  cli::SerialPlaceProblem(*plan, fixture->selection.device.program_words, {});
  // Where the part has the words, they hold the number, 16 bits each.
  for (int w = 0; w < plan->words; ++w) {
    const std::size_t unit = plan->address + 2u * static_cast<unsigned>(w);
    if (unit + 1 >= 2u * fixture->selection.device.program_words - 1) break;
    const auto expected = static_cast<std::uint16_t>(plan->start >> (16 * w));
    if (fixture->image.program[unit] != expected || fixture->image.program[unit + 1] != 0) {
      __builtin_trap();
    }
  }
  return 0;
}
