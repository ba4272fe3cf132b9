#include "app/kept_words_directory.h"

#include <algorithm>
#include <fstream>
#include <iterator>
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

std::string Prefix(std::uint16_t device_id) {
  return "DeviceID-" + image::Hex4(device_id) + "-";
}

}  // namespace

std::string KeptWordsDirectory::Save(std::uint16_t device_id, const std::string& text) {
  if (dir_.empty()) return {};
  std::error_code ec;
  std::filesystem::create_directories(dir_, ec);
  if (ec) return {};
  // Two erases within a second get a counter rather than one file.
  const std::string base = Prefix(device_id) + Stamp(now_());
  std::filesystem::path target = dir_ / (base + ".txt");
  for (int n = 2; std::filesystem::exists(target, ec); ++n) {
    target = dir_ / (base + "-" + std::to_string(n) + ".txt");
  }
  std::filesystem::path temporary = target;
  temporary += ".part";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) {
      std::filesystem::remove(temporary, ec);
      return {};
    }
  }
  std::filesystem::rename(temporary, target, ec);
  if (ec) {
    std::filesystem::remove(temporary, ec);
    return {};
  }
  return Utf8(target);
}

std::vector<std::string> KeptWordsDirectory::List(std::uint16_t device_id) {
  std::vector<std::string> names;
  std::error_code ec;
  if (dir_.empty()) return names;
  for (const auto& entry : std::filesystem::directory_iterator(dir_, ec)) {
    const std::string name = Utf8(entry.path().filename());
    if (name.starts_with(Prefix(device_id)) && name.ends_with(".txt")) names.push_back(name);
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
