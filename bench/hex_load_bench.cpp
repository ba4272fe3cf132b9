// Loads a full-size HEX file (every program word of a dsPIC33FJ256GP710 set)
// several times and prints the throughput, so that per-unit status texts can
// be seen not to slow a load down.
#include <chrono>
#include <cstdio>
#include <string>

#include "devices/selection.h"
#include "full_size_hex.h"
#include "image/hex_loader.h"
#include "image/memory_image.h"
#include "report/reporter.h"
#include "report/status_sink.h"

using namespace quillon;

int main() {
  report::NullSink sink;
  report::ManualClock clock;
  report::Reporter reporter(sink, clock, [] { return report::kEnglishLangId; });
  devices::Selection selection;
  if (!devices::SelectDevice(selection, "dsPIC33FJ256GP710", reporter)) return 1;

  const int program_words = selection.device.program_words;
  const std::string text = bench::FullSizeHex(program_words);
  const long units = 2L * program_words;
  image::MemoryImage memory;

  constexpr int kRounds = 10;
  double best = 1e30;
  for (int round = 0; round < kRounds; ++round) {
    const auto start = std::chrono::steady_clock::now();
    const image::LoadResult result = image::LoadHexText(text, memory, selection, reporter);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (result != image::LoadResult::kLoaded) return 1;
    if (took.count() < best) best = took.count();
  }
  std::printf("hex load: %zu bytes, %ld units, best of %d: %.2f ms, %.1f MB/s, %.1f ns per unit\n",
              text.size(), units, kRounds, best * 1e3, text.size() / best / 1e6,
              best * 1e9 / units);
  return 0;
}
