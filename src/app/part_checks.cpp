#include "app/part_checks.h"

#include <utility>
#include <vector>

#include "app/application.h"
#include "icsp/kept_words.h"
#include "icsp/primitives.h"
#include "image/formats.h"

namespace quillon::app {
namespace {

std::string Named(std::string_view name, std::uint16_t id) {
  return std::string(devices::TrimBlanks(name)) + " (DeviceID " + image::Hex4(id) + ")";
}

}  // namespace

report::MessagePair WrongPartMessage(const devices::DeviceRecord& selected,
                                     const icsp::DeviceIdReading& reading) {
  if (!reading.NoTarget() && reading.row != nullptr && reading.row->name == selected.name) {
    return {};
  }
  const std::string wanted = Named(selected.name, selected.device_id);
  if (reading.NoTarget()) {
    return {"Error : no part answers (DeviceID " + image::Hex4(reading.value) + "); " + wanted +
                " is selected. Nothing was done.",
            "ｴﾗｰ : ﾃﾞﾊﾞｲｽが応答しません (DeviceID " + image::Hex4(reading.value) + ")。選択は " +
                wanted + " です。何も実行していません。"};
  }
  const std::string found = reading.row != nullptr ? Named(reading.row->name, reading.value)
                                                   : "DeviceID " + image::Hex4(reading.value);
  return {"Error : the part in the socket is " + found + ", not the selected " + wanted +
              ". Nothing was done. Detect selects the part in the socket.",
          "ｴﾗｰ : ｿｹｯﾄのﾃﾞﾊﾞｲｽは " + found + " で、選択した " + wanted +
              " ではありません。何も実行していません。Detect でｿｹｯﾄのﾃﾞﾊﾞｲｽを選択できます。"};
}

report::MessagePair RestoreQuestion(const report::MessagePair& what, const std::string& copy) {
  return {"The part's " + what.english + " are blank. A copy kept from it on this port: " + copy +
              "\r\n\r\nPut the copy back before writing?",
          what.japanese + " は空です。このﾎﾟｰﾄで保存したｺﾋﾟｰ: " + copy +
              "\r\n\r\n書き込みの前にｺﾋﾟｰを書き戻しますか?"};
}

report::MessagePair KeptCopyNote(const report::MessagePair& what, const std::string& copy,
                                 const std::string& console_program) {
  const std::string command = console_program + " restore-row " + copy;
  return {"The part's " + what.english + " are blank. Kept copy: " + copy +
              ". Put them back with: " + command,
          what.japanese + " は空です。保存済みのｺﾋﾟｰ: " + copy +
              "。次のｺﾏﾝﾄﾞで書き戻せます: " + command};
}

report::MessagePair CloseQuestion() {
  return {"An operation is running. Stop it at the next safe point and close Quillon?",
          "処理の実行中です。次の区切りで中断して Quillon を終了しますか?"};
}

// A part other than the selected one is never erased, read or written with
// a program built for another.
bool Application::ConfirmPart() {
  if (!part_checks_ || !session_.device().selected) return true;
  const icsp::DeviceIdReading reading = icsp::ReadDeviceId(session_);
  if (session_.link().failed()) {
    session_.FinishWith({});
    return false;
  }
  const report::MessagePair refusal = WrongPartMessage(session_.device().device, reading);
  if (refusal.english.empty()) return true;
  reporter_.ReportError(refusal, report::FailureKind::kPart);
  session_.NoteOutcome(icsp::Outcome::kProblem);
  return false;
}

// The erase would keep nothing of blank words, and the part's own are only
// in the copy; the user decides before anything is erased.
bool Application::OfferKeptCopy(report::MessagePair& note) {
  icsp::KeptWordsStore* store = session_.kept_words_store();
  if (!part_checks_ || system_ == nullptr || store == nullptr) return true;
  const devices::DeviceRecord& part = session_.device().device;
  const icsp::KeptArea area = icsp::KeptAreaOf(part);
  if (area.first == 0) return true;
  const std::vector<std::string> kept = store->List(part.device_id, session_.port_name());
  if (kept.empty()) return true;
  icsp::EnterIcsp(session_);
  icsp::ReadKeptArea(session_, area);
  icsp::ExitIcsp(session_);
  if (session_.link().failed()) {
    session_.FinishWith({});
    return false;
  }
  const std::vector<std::uint16_t>& exe = session_.image().executive;
  const std::size_t first = (area.first - icsp::kExecutiveBase) & ~std::size_t{1};
  for (std::size_t u = first; u < first + 2 * area.instructions; u += 2) {
    if (exe[u] != 0xFFFF || (exe[u + 1] & 0xFF) != 0xFF) return true;
  }
  if (!system_->Ask(reporter_.Pick(RestoreQuestion(area.what, kept.front())))) {
    note = KeptCopyNote(area.what, kept.front(), session_.console_program());
    return true;
  }
  icsp::RestoreKeptWords(session_, kept.front());
  return !session_.Ended();
}

}  // namespace quillon::app
