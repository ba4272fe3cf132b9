#include "app/kept_words_directory.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <system_error>

#include "image/formats.h"

namespace quillon::app {

namespace {

constexpr std::uintmax_t kLargestFile = 4096;

std::string Two(unsigned v) {
  return std::string(1, char('0' + v / 10)) + char('0' + v % 10);
}

// 20261207T165959Z
std::string Stamp(std::chrono::system_clock::time_point t) {
  using namespace std::chrono;
  const auto day = floor<days>(t);
  const year_month_day ymd(day);
  const hh_mm_ss<seconds> hms(floor<seconds>(t - day));
  return std::to_string(static_cast<int>(ymd.year())) + Two(unsigned(ymd.month())) +
         Two(unsigned(ymd.day())) + "T" + Two(unsigned(hms.hours().count())) +
         Two(unsigned(hms.minutes().count())) + Two(unsigned(hms.seconds().count())) + "Z";
}

// Paths travel as UTF-8, like every text of the program.
std::string Utf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::filesystem::path FromUtf8(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

// The port's last path element, in characters any file system takes; no
// '-', which separates the parts of the name.
std::string PortTag(const std::string& port) {
  const std::size_t slash = port.find_last_of("/\\");
  std::string tag = slash == std::string::npos ? port : port.substr(slash + 1);
  for (char& c : tag) {
    const bool plain = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                       c == '.' || c == '_';
    if (!plain) c = '_';
  }
  return tag.empty() ? "port" : tag;
}

std::string Prefix(std::uint16_t device_id, const std::string& port) {
  return "DeviceID-" + image::Hex4(device_id) + "-" + PortTag(port) + "-";
}

std::string Token() {
  std::random_device random;
  const std::uint64_t value = (std::uint64_t{random()} << 32) ^ random();
  std::string text;
  for (int i = 0; i < 16; ++i) text += "0123456789abcdef"[(value >> (4 * i)) & 0xF];
  return text;
}

}  // namespace

std::string KeptWordsDirectory::Save(icsp::KeptWords words, std::string& why) {
  if (dir_.empty()) {
    why = "no folder for kept copies (no configuration folder is known)";
    return {};
  }
  std::error_code ec;
  std::filesystem::create_directories(dir_, ec);
  auto fail = [&why, this](const std::error_code& error) {
    why = Utf8(dir_) + ": " + error.message();
    return std::string();
  };
  if (ec) return fail(ec);
  const std::string stamp = Stamp(now_());
  words.kept_at = stamp;
  const std::string base = Prefix(words.device_id, words.port) + stamp;
  const std::filesystem::path temporary = dir_ / (base + "." + Token() + ".part");
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << icsp::FormatKeptWords(words);
    out.flush();
    if (!out) {
      std::filesystem::remove(temporary, ec);
      return fail(std::make_error_code(std::errc::io_error));
    }
  }
  // A link fails when the name exists, so a name is never taken twice, even
  // by another process in the same second; the next counter is tried then.
  std::error_code link_error;
  for (int n = 1; n <= 100; ++n) {
    const std::filesystem::path target =
        dir_ / (base + (n == 1 ? "" : "-" + std::to_string(n)) + ".txt");
    std::filesystem::create_hard_link(temporary, target, link_error);
    if (!link_error) {
      std::filesystem::remove(temporary, ec);
      return Utf8(target);
    }
    if (link_error != std::errc::file_exists) break;
  }
  std::filesystem::remove(temporary, ec);
  return fail(link_error);
}

std::vector<std::string> KeptWordsDirectory::List(std::uint16_t device_id,
                                                  const std::string& port) {
  std::vector<std::string> names;
  std::error_code ec;
  if (dir_.empty()) return names;
  for (const auto& entry : std::filesystem::directory_iterator(dir_, ec)) {
    const std::string name = Utf8(entry.path().filename());
    if (name.starts_with(Prefix(device_id, port)) && name.ends_with(".txt")) {
      names.push_back(name);
    }
  }
  // Newest first. Compared without ".txt", the stamp sorts, and a second
  // file of the same second ("...Z-2") after the first ("...Z").
  auto stem = [](const std::string& n) { return std::string_view(n).substr(0, n.size() - 4); };
  std::sort(names.begin(), names.end(),
            [&stem](const std::string& a, const std::string& b) { return stem(a) > stem(b); });
  std::vector<std::string> paths;
  for (const std::string& name : names) paths.push_back(Utf8(dir_ / FromUtf8(name)));
  return paths;
}

std::optional<std::string> KeptWordsDirectory::Load(const std::string& name) {
  std::error_code ec;
  const std::filesystem::path path = FromUtf8(name);
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec || size > kLargestFile) return {};
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace quillon::app
