// Incremental write: only the erase units that differ from the image are
// erased, programmed and verified. No bulk erase, so the executive stays.
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "icsp/config_words.h"
#include "icsp/erase_units.h"
#include "icsp/mode_driver.h"
#include "icsp/operations.h"
#include "icsp/primitives.h"
#include "icsp/verify.h"
#include "image/formats.h"

namespace quillon::icsp {

namespace {

class Incremental {
 public:
  explicit Incremental(Session& session)
      : s_(session),
        device_(session.device().device),
        rules_(EraseUnitRulesFor(session.device().device)),
        mode_(session.OpenMode()) {}

  bool Protected() const {
    const std::uint16_t v = s_.config_readback()[rules_.protection_entry];
    return (v & rules_.protection_bits) != rules_.protection_bits;
  }
  void PlaceFlashConfigWords();
  bool Program();
  bool Eeprom();
  void Config();
  void Finish(const std::string& start);

 private:
  std::uint32_t UnitLength(std::uint32_t unit) const {
    const std::uint32_t first = unit * rules_.unit_instructions;
    return std::min(rules_.unit_instructions,
                    static_cast<std::uint32_t>(device_.program_words) - first);
  }
  // The first unit of erase unit `unit` that differs from the image, or -1.
  long Differs(std::uint32_t unit);
  std::uint32_t EepromBase() const {
    return kEepromEnd - static_cast<std::uint32_t>(device_.eeprom_bytes);
  }
  void RewriteEepromWord(std::uint32_t word, std::uint16_t value);

  Session& s_;
  const devices::DeviceRecord& device_;
  const EraseUnitRules rules_;
  ModeDriver& mode_;
  std::vector<std::uint16_t> unit_;  // one erase unit as read

  std::size_t units_compared_ = 0;
  std::size_t units_written_ = 0;
  std::size_t eeprom_written_ = 0;
  std::size_t config_written_ = 0;
};

// Parts whose configuration words are program memory: a word the file gives
// only as a configuration record belongs in its page all the same, as the
// word write of a full write would leave it (upper byte unprogrammed).
void Incremental::PlaceFlashConfigWords() {
  if (rules_.config_registers != 0) return;
  std::vector<std::uint16_t>& program = s_.image().program;
  for (int k = 0; k < 2; ++k) {
    if (!s_.image().config_present[static_cast<std::size_t>(k)]) continue;
    const auto a = static_cast<std::size_t>(devices::FlashConfigAddress(device_, k));
    if (image::InstructionAt(program, a / 2) != 0xFFFFFF) continue;
    program[a] = s_.image().config[static_cast<std::size_t>(k)];
    program[a + 1] = 0x00FF;
  }
}

long Incremental::Differs(std::uint32_t unit) {
  const std::uint32_t first = unit * rules_.unit_instructions;
  const std::uint32_t count = UnitLength(unit);
  unit_.resize(2 * count);
  mode_.ReadCode(first, count, unit_.data());
  const std::uint16_t* expected = s_.image().program.data() + 2 * first;
  for (std::uint32_t k = 0; k < 2 * count; ++k) {
    if (unit_[k] != expected[k]) return static_cast<long>(2 * first + k);
  }
  return -1;
}

bool Incremental::Program() {
  const std::uint32_t units =
      (static_cast<std::uint32_t>(device_.program_words) + rules_.unit_instructions - 1) /
      rules_.unit_instructions;
  std::vector<std::uint32_t> touched;
  for (std::uint32_t u = 0; u < units; ++u) {
    if (!InstructionsBlank(s_.image().program, u * rules_.unit_instructions, UnitLength(u))) {
      touched.push_back(u);
    }
  }
  units_compared_ = touched.size();
  if (touched.empty()) return true;

  std::vector<std::uint32_t> differing;
  std::optional<PhaseScope> phase(std::in_place, s_, report::Phase::kComparing);
  if (!mode_.BeginReads()) return false;
  for (std::size_t i = 0; i < touched.size(); ++i) {
    const std::uint32_t u = touched[i];
    if (!BeginStep(s_, "Comparing:Prg Adr ", static_cast<long>(i),
                   static_cast<long>(touched.size()) - 1, u * rules_.unit_instructions)) {
      return false;
    }
    if (Differs(u) >= 0) differing.push_back(u);
  }
  mode_.EndReads();
  if (differing.empty() || s_.link().lost()) return !s_.link().lost();
  units_written_ = differing.size();

  if (!mode_.RewriteUnits(differing, phase)) return false;

  if (!s_.OptionChecked(report::Option::kVerifyAfterWriting)) return true;
  phase.reset();
  phase.emplace(s_, report::Phase::kVerifying);
  if (!mode_.BeginReads()) return false;
  bool matched = true;
  for (std::size_t i = 0; i < differing.size() && matched; ++i) {
    const std::uint32_t u = differing[i];
    if (!BeginStep(s_, "Verifying:Prg Adr ", static_cast<long>(i),
                   static_cast<long>(differing.size()) - 1, u * rules_.unit_instructions)) {
      return false;
    }
    const long at = Differs(u);
    if (at >= 0) {
      const std::size_t k = static_cast<std::size_t>(at) - 2 * u * rules_.unit_instructions;
      const std::size_t first = k & ~std::size_t{1};
      const std::size_t want = static_cast<std::size_t>(at) & ~std::size_t{1};
      matched = Mismatch(
          s_, "Prg ", static_cast<std::uint32_t>(at), unit_[k],
          s_.image().program[static_cast<std::size_t>(at)],
          {report::Memory::kProgram, static_cast<std::uint32_t>(want),
           WholeInstruction(&unit_[first], 0), WholeInstruction(&s_.image().program[want], 0)});
    }
  }
  mode_.EndReads();
  return matched && !s_.link().lost();
}

void Incremental::RewriteEepromWord(std::uint32_t word, std::uint16_t value) {
  const std::uint32_t address = EepromBase() + 2 * word;
  // Erase the word where the form needs it, then program it unless the file
  // wants it blank; a write that erases the word itself always runs.
  const bool erase = rules_.eeprom_word_erase != 0;
  for (const bool erasing : {true, false}) {
    if (erasing && !erase) continue;
    if (!erasing && erase && value == 0xFFFF) break;
    GotoResetVector(s_);
    LoadNvmcon(s_, erasing ? rules_.eeprom_word_erase : rules_.eeprom_word_write);
    SetTablePointer(s_, address, 7);
    AppendWords(s_.link(), {MoveLiteral(value, 6), kTblwtlW6ToW7, kNop, kNop});
    FinishNvmWrite(s_, erasing ? 100 : 1);
  }
}

// Rows of 16 words that the image touches are compared; within them every
// word that differs is rewritten (words the file does not give are erased).
bool Incremental::Eeprom() {
  if (device_.eeprom_bytes <= 0) return true;
  const std::vector<std::uint16_t>& image = s_.image().eeprom;
  const auto rows = static_cast<std::uint32_t>(device_.eeprom_bytes) / 2 / kEepromRowWords;
  std::vector<std::uint32_t> touched;
  for (std::uint32_t r = 0; r < rows; ++r) {
    if (!WordsBlank(image, r * kEepromRowWords, kEepromRowWords)) touched.push_back(r);
  }
  if (touched.empty()) return true;

  struct Found {
    std::uint32_t word;
    std::uint16_t read;
  };
  auto differing_words = [&](std::vector<Found>& out) {
    std::uint16_t words[kEepromRowWords];
    for (std::size_t i = 0; i < touched.size(); ++i) {
      const std::uint32_t first = touched[i] * kEepromRowWords;
      if (!BeginStep(s_, "Comparing:Dat Adr ", static_cast<long>(i),
                     static_cast<long>(touched.size()) - 1, 2 * first)) {
        return;
      }
      mode_.ReadEepromWords(first, kEepromRowWords, words);
      for (std::uint32_t k = 0; k < kEepromRowWords; ++k) {
        if (words[k] != image[first + k]) out.push_back({first + k, words[k]});
      }
    }
  };
  std::vector<Found> differing;
  std::optional<PhaseScope> phase(std::in_place, s_, report::Phase::kComparing);
  if (!mode_.BeginReads()) return false;
  differing_words(differing);
  mode_.EndReads();
  if (differing.empty() || s_.link().lost()) return !s_.link().lost() && !s_.stopped();
  eeprom_written_ = differing.size();

  phase.reset();
  phase.emplace(s_, report::Phase::kWriting);
  EnterIcsp(s_);
  for (std::size_t i = 0; i < differing.size(); ++i) {
    const std::uint32_t w = differing[i].word;
    if (!BeginStep(s_, "Writing:Dat Adr ", static_cast<long>(i),
                   static_cast<long>(differing.size()) - 1, 2 * w)) {
      return false;
    }
    RewriteEepromWord(w, image[w]);
  }
  ExitIcsp(s_);

  if (!s_.OptionChecked(report::Option::kVerifyAfterWriting)) return true;
  std::vector<Found> still;
  phase.reset();
  phase.emplace(s_, report::Phase::kVerifying);
  if (!mode_.BeginReads()) return false;
  differing_words(still);
  mode_.EndReads();
  if (s_.link().lost()) return false;
  if (still.empty()) return true;
  // Byte offsets from the start of the EEPROM, as the batch verification shows.
  return Mismatch(s_, "Eep ", 2 * still.front().word, still.front().read, image[still.front().word],
                  {report::Memory::kEeprom, EepromBase() + 2 * still.front().word,
                   still.front().read, image[still.front().word]});
}

void Incremental::Config() {
  for (int k = 0; k < rules_.config_registers; ++k) {
    const auto i = static_cast<std::size_t>(k);
    if (!s_.image().config_present[i]) continue;
    if (((s_.config_readback()[i] ^ s_.image().config[i]) & rules_.config_mask) == 0) continue;
    s_.reporter().ShowStatus("Writing:Configuration");
    s_.config_readback()[i] = s_.image().config[i];
    EnterIcsp(s_);
    WriteConfigWord(s_, k);
    ExitIcsp(s_);
    ++config_written_;
  }
}

void Incremental::Finish(const std::string& start) {
  const std::string br(report::kLineBreak);
  const std::string time =
      br + "Time=" + image::ElapsedTime(start, image::TimeOfDay(s_.reporter().clock()));
  const std::string compared = std::to_string(units_compared_) + " " +
                               std::string(rules_.unit_name) + (units_compared_ == 1 ? "" : "s");
  const std::string compared_ja =
      std::string(rules_.unit_name_ja) + " " + std::to_string(units_compared_) + " 個を比較";
  s_.incremental_tally() = IncrementalTally{
      rules_.unit_name, static_cast<long>(units_compared_), static_cast<long>(units_written_),
      static_cast<long>(eeprom_written_), static_cast<long>(config_written_)};
  if (units_written_ + eeprom_written_ + config_written_ == 0) {
    s_.FinishWith(report::MessagePair{"already up to date: " + compared + " compared, none written",
                                      "既に最新です: " + compared_ja + "、書き込みなし"} +
                  time);
    return;
  }
  const std::string written = std::to_string(units_written_);
  const std::string eeprom = std::to_string(eeprom_written_);
  const std::string config = std::to_string(config_written_);
  s_.FinishWith(report::MessagePair{"Writing Successful!" + br + compared + " compared, " +
                                        written + " written; EEPROM words rewritten: " + eeprom +
                                        "; configuration registers rewritten: " + config,
                                    "Writing 成功!" + br + compared_ja + "、" + written +
                                        " 個を書き込み。EEPROM 書き換え " + eeprom +
                                        " 語、コンフィグレーション書き換え " + config + " 個"} +
                time);
}

}  // namespace

IncrementalResult WriteDeviceIncremental(Session& session) {
  // An executive file goes into executive memory as a whole, as ever.
  if (session.image().executive_present) {
    WriteDevice(session);
    return IncrementalResult::kFinished;
  }
  const std::string start = image::TimeOfDay(session.reporter().clock());
  session.incremental_tally().reset();
  Incremental incremental(session);
  EnterIcsp(session);
  ReadConfigWords(session);
  ExitIcsp(session);
  if (session.link().failed()) {
    session.ReportLinkFailure();
    return IncrementalResult::kFinished;
  }
  if (incremental.Protected()) {
    session.reporter().ShowNotice(
        {"The part is code- or write-protected: it cannot be written piecewise. Erasing it "
         "and writing the whole file instead.",
         "コード保護または書き込み保護されているため差分書き込みはできません。"
         "全体を消去してファイル全体を書き込みます。"});
    return IncrementalResult::kProtected;
  }
  incremental.PlaceFlashConfigWords();
  if (!incremental.Program() || !incremental.Eeprom()) {
    if (session.link().failed()) session.ReportLinkFailure();
    return IncrementalResult::kFinished;
  }
  incremental.Config();
  incremental.Finish(start);
  return IncrementalResult::kFinished;
}

}  // namespace quillon::icsp
