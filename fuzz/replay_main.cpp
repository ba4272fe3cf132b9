// Runs the files of the given folders through one fuzz target, as libFuzzer
// would replay them, so that every kept finding stays a test without
// libFuzzer:
//
//   fuzz_replay TARGET FOLDER...
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#define QUILLON_FUZZ_ENTRY(name) \
  extern "C" int Fuzz_##name(const std::uint8_t* data, std::size_t size);
QUILLON_FUZZ_ENTRY(hex_loader)
QUILLON_FUZZ_ENTRY(settings)
QUILLON_FUZZ_ENTRY(board)
QUILLON_FUZZ_ENTRY(serial)
QUILLON_FUZZ_ENTRY(kept_words)
QUILLON_FUZZ_ENTRY(state_file)

int main(int argc, char** argv) {
  using Entry = int (*)(const std::uint8_t*, std::size_t);
  const std::map<std::string, Entry> entries = {
      {"hex_loader", Fuzz_hex_loader}, {"settings", Fuzz_settings},
      {"board", Fuzz_board},           {"serial", Fuzz_serial},
      {"kept_words", Fuzz_kept_words}, {"state_file", Fuzz_state_file}};
  const auto entry = argc > 1 ? entries.find(argv[1]) : entries.end();
  if (entry == entries.end()) {
    std::fprintf(stderr, "usage: fuzz_replay TARGET FOLDER...\n");
    return 2;
  }
  int files = 0;
  for (int i = 2; i < argc; ++i) {
    if (!std::filesystem::is_directory(argv[i])) continue;  // no findings kept yet
    for (const auto& file : std::filesystem::directory_iterator(argv[i])) {
      std::ifstream in(file.path(), std::ios::binary);
      const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
      std::printf("%s\n", file.path().c_str());
      std::fflush(stdout);  // a crash names its input
      entry->second(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
      ++files;
    }
  }
  std::printf("%d inputs replayed\n", files);
  return 0;
}
