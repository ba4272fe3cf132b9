#include "icsp/kept_words.h"

#include <algorithm>
#include <charconv>
#include <sstream>

#include "icsp/operations.h"
#include "icsp/primitives.h"
#include "icsp/verify.h"
#include "image/formats.h"

namespace quillon::icsp {

namespace {

constexpr std::string_view kHeader = "Quillon kept words";

std::size_t UnitOf(std::uint32_t address) {
  return (address - kExecutiveBase) & ~1u;
}

std::optional<std::uint32_t> ParseHex(std::string_view text) {
  if (text.starts_with("0x")) text.remove_prefix(2);
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return {};
  return value;
}

KeptWords FromImage(const Session& session, const KeptArea& area) {
  KeptWords words;
  words.device_id = session.device().device.device_id;
  words.device = std::string(session.device().device.name);
  words.port = session.port_name();
  words.first = area.first;
  const std::vector<std::uint16_t>& exe = session.image().executive;
  for (std::uint32_t i = 0; i < area.instructions; ++i) {
    const std::size_t u = UnitOf(area.first) + 2 * i;
    words.instructions.push_back(exe[u] | static_cast<std::uint32_t>(exe[u + 1] & 0xFF) << 16);
  }
  return words;
}

report::MessagePair Named(const KeptArea& area) {
  const std::string at = " (0x" + Hex6(area.first) + ")";
  return {area.what.english + at, area.what.japanese + at};
}

void Refuse(Session& session, const report::MessagePair& message, Outcome outcome) {
  session.reporter().ReportError(message,
                                 outcome == Outcome::kWordsNotKept   ? report::FailureKind::kNotKept
                                 : outcome == Outcome::kFileRejected ? report::FailureKind::kFile
                                                                     : report::FailureKind::kPart);
  session.NoteOutcome(outcome);
}

}  // namespace

KeptArea KeptAreaOf(const devices::DeviceRecord& device) {
  const devices::ExecutiveForm& exe = devices::Form(device).executive;
  // Both run to the end of executive memory.
  const std::uint32_t end = kExecutiveBase + 2 * static_cast<std::uint32_t>(exe.instructions);
  if (exe.factory_words_from != 0) {
    return {exe.factory_words_from,
            (end - exe.factory_words_from) / 2,
            {"factory calibration words", "工場出荷時の校正ﾜｰﾄﾞ"}};
  }
  if (exe.unit_id_from != 0) {
    return {exe.unit_id_from, (end - exe.unit_id_from) / 2, {"unit ID words", "ﾕﾆｯﾄIDﾜｰﾄﾞ"}};
  }
  return {};
}

bool KeptWords::Blank() const {
  return std::all_of(instructions.begin(), instructions.end(),
                     [](std::uint32_t i) { return i == kBlankInstruction; });
}

std::string FormatKeptWords(const KeptWords& words) {
  std::string text(kHeader);
  text += "\nDevice " + words.device + "\nDeviceID 0x" + image::Hex4(words.device_id);
  if (!words.port.empty()) text += "\nPort " + words.port;
  if (!words.kept_at.empty()) text += "\nKept " + words.kept_at;
  text += "\nFrom 0x" + Hex6(words.first) + "\nWords";
  for (std::uint32_t i : words.instructions) text.append(" ").append(Hex6(i));
  return text + "\nEnd\n";
}

std::optional<KeptWords> ParseKeptWords(std::string_view text) {
  std::istringstream in{std::string(text)};
  std::string line;
  if (!std::getline(in, line) || line != kHeader) return {};
  KeptWords words;
  bool id = false, from = false, end = false;
  while (!end && std::getline(in, line)) {
    std::istringstream fields(line);
    std::string key, value;
    fields >> key;
    if (key == "Device") {
      fields >> words.device;
    } else if (key == "Port") {
      // A port name may hold blanks (a Windows device path does not, a
      // socket path might): the rest of the line.
      std::getline(fields >> std::ws, words.port);
    } else if (key == "Kept") {
      fields >> words.kept_at;
    } else if (key == "DeviceID" || key == "From") {
      fields >> value;
      const std::optional<std::uint32_t> v = ParseHex(value);
      if (!v) return {};
      if (key == "From") {
        words.first = *v;
        from = true;
      } else {
        if (*v > 0xFFFF) return {};
        words.device_id = static_cast<std::uint16_t>(*v);
        id = true;
      }
    } else if (key == "Words") {
      while (fields >> value) {
        const std::optional<std::uint32_t> v = ParseHex(value);
        if (!v || *v > kBlankInstruction) return {};
        words.instructions.push_back(*v);
      }
    } else if (key == "End") {
      end = true;
    }
  }
  // Only the areas the engine writes: anything else is not a file of ours.
  const bool known = (words.first == 0x8007F4 && words.instructions.size() == 6) ||
                     (words.first == 0x8005C0 && words.instructions.size() == 32);
  if (!id || !from || !end || !known) return {};
  return words;
}

void ReadKeptArea(Session& session, const KeptArea& area) {
  ReadExecutiveQuads(session, UnitOf(area.first) / 8,
                     (UnitOf(area.first) + 2 * area.instructions - 1) / 8);
}

void WriteKeptArea(Session& session, const KeptWords& words) {
  const devices::FamilyForm& form = session.form();
  const auto row = static_cast<std::uint32_t>(form.executive.row_instructions);
  const std::uint32_t first = (words.first - kExecutiveBase) / 2;
  const std::uint32_t row_first = first & ~(row - 1);
  std::vector<std::uint16_t>& exe = session.image().executive;
  for (std::uint32_t i = row_first; i < row_first + row; ++i) {
    exe[2 * i] = 0xFFFF;
    exe[2 * i + 1] = 0x00FF;
  }
  for (std::size_t k = 0; k < words.instructions.size(); ++k) {
    exe[2 * (first + k)] = static_cast<std::uint16_t>(words.instructions[k]);
    exe[2 * (first + k) + 1] = static_cast<std::uint16_t>(words.instructions[k] >> 16);
  }
  GotoResetVector(session);
  // The externally timed form loads NVMCON with every row itself.
  if (form.self_timed()) LoadNvmcon(session, form.nvm.row_program);
  WriteCodeRow(session, QuadSource::kExecutive, kExecutiveBase, row_first, row);
}

std::optional<KeptWords> KeepBeforeErase(Session& session) {
  const KeptArea area = KeptAreaOf(session.device().device);
  const report::MessagePair what = Named(area);
  if (session.Ended()) {
    if (!session.link().failed()) return {};  // stopped: the frame says where
    // "Nothing was erased" only while it is true.
    if (!session.erased().english.empty()) {
      session.ReportLinkFailure();
      return {};
    }
    session.ReportLinkFailure(
        {"Error : the part's " + what.english + " could not be read; nothing was erased.",
         "ｴﾗｰ : " + what.japanese + " を読み出せませんでした。何も消去していません。"});
    return {};
  }
  const KeptWords words = FromImage(session, area);
  KeptWordsStore* store = session.kept_words_store();
  // Kept once per operation: a write erases, then may put an executive in.
  if (store == nullptr || !session.kept_words_file().empty()) return words;
  if (words.Blank()) {
    // Nothing to lose, and a good copy kept earlier must stay the newest.
    // Only this port's own copies: another board's part has other words.
    const std::vector<std::string> kept = store->List(words.device_id, words.port);
    if (!kept.empty()) {
      const std::string restore = session.console_program() + " restore-row " + kept.front();
      session.reporter().ShowNotice(
          report::MessagePair{
              "The part's " + what.english + " are blank. Kept copy: " + kept.front() + ". ",
              what.japanese + " は空です。保存済みのｺﾋﾟｰ: " + kept.front() + "。"} +
          report::MessagePair{"Put them back with: " + restore,
                              "次のｺﾏﾝﾄﾞで書き戻せます: " + restore});
    }
    return words;
  }
  std::string why;
  const std::string file = store->Save(words, why);
  if (file.empty()) {
    // Nothing is erased or written after this: the caller's operation ends.
    Refuse(
        session,
        report::MessagePair{"Error : the part's " + what.english +
                                " could not be kept in a file; nothing was erased or written.",
                            "ｴﾗｰ : " + what.japanese +
                                " をﾌｧｲﾙに保存できませんでした。何も消去・書き込みしていません。"} +
            report::kLineBreak + why,
        Outcome::kWordsNotKept);
    return {};
  }
  session.kept_words_file() = file;
  return words;
}

void RestoreKeptWords(Session& session, const std::string& name) {
  std::optional<KeptWords> words;
  if (session.kept_words_store() != nullptr) {
    if (const std::optional<std::string> text = session.kept_words_store()->Load(name)) {
      words = ParseKeptWords(*text);
    }
  }
  if (!words) {
    Refuse(session,
           {"Error : not a file of kept words: " + name,
            "ｴﾗｰ : 保存したﾜｰﾄﾞのﾌｧｲﾙではありません: " + name},
           Outcome::kFileRejected);
    return;
  }
  const DeviceIdReading reading = ReadDeviceId(session);
  if (session.link().failed()) return session.FinishWith({});
  const std::string kept_id = image::Hex4(words->device_id);
  const std::string part_id = image::Hex4(reading.value);
  if (reading.NoTarget() || reading.value != words->device_id || reading.row == nullptr ||
      KeptAreaOf(*reading.row).first != words->first) {
    Refuse(session,
           {"Error : the file was kept from " + words->device + " (DeviceID " + kept_id +
                "), but the part that answers has DeviceID " + part_id + ". Nothing was written.",
            "ｴﾗｰ : このﾌｧｲﾙは " + words->device + " (DeviceID " + kept_id +
                ") から保存したものですが、応答したﾃﾞﾊﾞｲｽの DeviceID は " + part_id +
                " です。何も書き込んでいません。"},
           Outcome::kProblem);
    return;
  }
  if (session.device().device.name != reading.row->name) {
    devices::SelectDevice(session.device(), reading.row->name, session.reporter());
  }
  const KeptArea area = KeptAreaOf(*reading.row);
  const report::MessagePair what = Named(area);

  EnterIcsp(session);
  ReadKeptArea(session, area);
  ExitIcsp(session);
  if (session.link().failed()) return session.FinishWith({});
  const KeptWords before = FromImage(session, area);
  if (before.instructions == words->instructions) {
    session.reporter().ShowMessagePair({"The part already holds these " + what.english + ".",
                                        "ﾃﾞﾊﾞｲｽにはすでにこの " + what.japanese + " があります。"});
    return;
  }
  if (!before.Blank()) {
    // Programming only clears bits: over other words the result would be neither.
    Refuse(
        session,
        {"Error : the part holds other " + what.english + "; erase it first. Nothing was written.",
         "ｴﾗｰ : ﾃﾞﾊﾞｲｽには別の " + what.japanese +
             " があります。先に消去してください。何も書き込んでいません。"},
        Outcome::kProblem);
    return;
  }

  EnterIcsp(session);
  WriteKeptArea(session, *words);
  ReadKeptArea(session, area);
  ExitIcsp(session);
  if (session.link().failed()) return session.FinishWith({});
  if (FromImage(session, area).instructions != words->instructions) {
    Refuse(session,
           {"Error : Not match! The " + what.english + " read back differ from " + name,
            "ｴﾗｰ: 正しく書き込めません。" + what.japanese + " が " + name + " と一致しません。"},
           Outcome::kProblem);
    return;
  }
  session.FinishWith({"Restoring Successful!", "Restoring 成功!"});
}

}  // namespace quillon::icsp
