// The Intel HEX loader on arbitrary file contents, loaded for a part of each
// family and for no selection (real HEX files work as seeds unchanged).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "devices/selection.h"
#include "image/hex_loader.h"
#include "image/memory_image.h"
#include "report/clock.h"
#include "report/reporter.h"
#include "report/status_sink.h"

namespace {

using namespace quillon;

constexpr const char* kParts[] = {"dsPIC30F4013", "dsPIC33FJ128GP802", "PIC24FJ64GA002",
                                  "PIC24HJ256GP610", ""};

struct Fixture {
  report::NullSink sink;
  report::ManualClock clock;
  report::Reporter reporter{sink, clock, nullptr};
  devices::Selection selections[std::size(kParts)];
  image::MemoryImage image;

  Fixture() {
    for (std::size_t i = 0; i < std::size(kParts); ++i) {
      if (*kParts[i] != '\0') devices::SelectDevice(selections[i], kParts[i], reporter);
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Fixture* fixture = new Fixture;  // the image is large: made once
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const devices::Selection& selection : fixture->selections) {
    image::LoadHexText(text, fixture->image, selection, fixture->reporter);
  }
  return 0;
}
