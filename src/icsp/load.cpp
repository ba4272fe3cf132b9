#include <algorithm>
#include <array>

#include "icsp/operations.h"
#include "icsp/primitives.h"
#include "icsp/verify.h"
#include "image/formats.h"

namespace quillon::icsp {

namespace {

constexpr std::uint32_t kEepromWindow = 0x7F8000;     // type-04 value 0x00FF
constexpr std::uint32_t kExecutiveLoaded = 0x801000;  // the loader's executive buffer
constexpr std::uint32_t kConfigBase = 0xF80000;       // type-04 value 0x01F0

struct Range {
  std::uint32_t first;
  std::uint32_t end;  // one past the last address
};

}  // namespace

std::optional<std::uint32_t> FirstAddressThePartCannotHold(const devices::DeviceRecord& part,
                                                           const image::MemoryImage& file,
                                                           const image::LoadSummary& summary) {
  const devices::FamilyForm& form = devices::Form(part);
  const auto eeprom = static_cast<std::uint32_t>(part.eeprom_bytes);
  // A form without an executive has no executive memory to program.
  const std::uint32_t executive_end = form.executive.present ? kExecutiveLoaded : kExecutiveBase;
  const std::array<Range, 4> holds{{
      {0, 2 * static_cast<std::uint32_t>(part.program_words)},
      {kEepromEnd - eeprom, kEepromEnd},
      {kExecutiveBase, executive_end},
      // Registers, then the unit ID words; none where the configuration
      // lives in flash words.
      {kConfigBase, kConfigBase + (form.config.layout == devices::ConfigLayout::kRegisters
                                       ? 2 * static_cast<std::uint32_t>(form.config.hex_registers +
                                                                        form.config.unit_id_words)
                                       : 0)},
  }};
  // The first address of [first, last] outside every range, walking from
  // range to range while they cover it.
  auto first_outside = [&holds](std::uint32_t a,
                                std::uint32_t last) -> std::optional<std::uint32_t> {
    for (;;) {
      const Range* in = nullptr;
      for (const Range& r : holds) {
        if (a >= r.first && a < r.end) in = &r;
      }
      if (in == nullptr) return a;
      if (in->end > last) return std::nullopt;
      a = in->end;
    }
  };

  std::optional<std::uint32_t> found;
  auto keep = [&found](std::uint32_t a) {
    if (!found || a < *found) found = a;
  };
  for (const auto& [first, last] : summary.spans) {
    if (const auto a = first_outside(first, last)) keep(*a);
  }
  // An 8-bit register takes a value whose upper byte is all zeros or all ones
  // (toolchains write either); anything else, such as a dsPIC30F word, would
  // lose its upper bits.
  if (form.config.register_bits == 0x00FF) {
    for (std::size_t k = 0; k < static_cast<std::size_t>(form.config.hex_registers); ++k) {
      const unsigned upper = file.config[k] >> 8;
      if (file.config_present[k] && upper != 0x00 && upper != 0xFF) {
        keep(kConfigBase + 2 * static_cast<std::uint32_t>(k));
      }
    }
  }
  return found;
}

image::LoadResult LoadHexFile(Session& session, const std::string& path) {
  const image::LoadResult result =
      image::LoadHexFile(path, session.image(), session.device(), session.reporter());
  if (result != image::LoadResult::kLoaded) session.NoteOutcome(Outcome::kFileRejected);
  return result;
}

bool LoadWriteFile(Session& session, const std::string& path, image::MemoryImage& file,
                   image::LoadSummary* summary_out) {
  auto reject = [&session](const report::MessagePair& why) {
    session.reporter().ReportError(why, report::FailureKind::kFile);
    session.NoteOutcome(Outcome::kFileRejected);
    return false;
  };
  image::LoadSummary summary;
  const image::LoadResult result =
      image::LoadHexFile(path, file, session.device(), session.reporter(), &summary);
  if (result != image::LoadResult::kLoaded) {
    session.NoteOutcome(Outcome::kFileRejected);
    return false;
  }
  // A file without data would erase the part and call that a success; one
  // without its end record may have lost its tail on the way.
  if (summary.spans.empty()) {
    return reject(
        report::MessagePair{"Error : the file holds no data!", "ｴﾗｰ : ﾌｧｲﾙにﾃﾞｰﾀがありません。"} +
        report::kLineBreak + path);
  }
  if (!summary.end_record) {
    return reject(report::MessagePair{
                      "Error : the file has no end record; it may be cut short!",
                      "ｴﾗｰ : ﾌｧｲﾙにｴﾝﾄﾞ･ﾚｺｰﾄﾞがありません。途中で切れている可能性があります。"} +
                  report::kLineBreak + path);
  }
  if (!session.device().selected) {
    return reject({"Please select PIC type.", "PIC typeを選択してください。"});
  }
  const devices::DeviceRecord& part = session.device().device;
  if (const auto address = FirstAddressThePartCannotHold(part, file, summary)) {
    return reject(report::MessagePair{"Error : the file holds data the part cannot hold!",
                                      "ｴﾗｰ : ﾌｧｲﾙにこのPICに書けないﾃﾞｰﾀがあります。"} +
                  report::kLineBreak + "Adr " + Hex6(*address) + " " + std::string(part.name));
  }
  // A file Read wrote holds every memory. Programming its executive part
  // instead of the user's program would lose the program; the executive is
  // the part's own business (Enhanced ICSP puts one there when needed).
  const bool program_data = std::ranges::any_of(
      summary.spans, [](const auto& span) { return span.first < kEepromWindow; });
  if (file.executive_present && program_data) {
    file.executive_present = false;
    session.reporter().ShowNotice({"The file's executive memory data are left unwritten.",
                                   "ﾌｧｲﾙのｴｸﾞｾﾞｸﾃｨﾌﾞ･ﾒﾓﾘのﾃﾞｰﾀは書き込みません。"});
  }
  if (summary_out != nullptr) *summary_out = std::move(summary);
  return true;
}

}  // namespace quillon::icsp
