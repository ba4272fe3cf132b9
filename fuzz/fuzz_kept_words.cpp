// A kept-words file of any contents: what parses writes back to text that
// parses to the same words.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "icsp/kept_words.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillon::icsp;
  const auto words = ParseKeptWords(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!words) return 0;
  const auto again = ParseKeptWords(FormatKeptWords(*words));
  if (!again || again->device_id != words->device_id || again->first != words->first ||
      again->instructions != words->instructions) {
    __builtin_trap();
  }
  return 0;
}
