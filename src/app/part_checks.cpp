// The window's check before a write erases: blank kept words with a copy
// kept from the part on this port may be put back first.
#include <vector>

#include "app/application.h"
#include "icsp/kept_words.h"
#include "icsp/primitives.h"

namespace quillon::app {
namespace {

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

}  // namespace

// The erase would keep nothing of blank words, and the part's own are only
// in the copy; the user decides before anything is erased.
bool Application::BeforeWriteErases(report::MessagePair& note) {
  icsp::Session& session = this->session();
  icsp::KeptWordsStore* store = session.kept_words_store();
  if (!setup_.confirm_part || store == nullptr) return true;
  const devices::DeviceRecord& part = session.device().device;
  const icsp::KeptArea area = icsp::KeptAreaOf(part);
  if (area.first == 0) return true;
  const std::vector<std::string> kept = store->List(part.device_id, port_name());
  if (kept.empty()) return true;
  icsp::EnterIcsp(session);
  icsp::ReadKeptArea(session, area);
  icsp::ExitIcsp(session);
  if (session.link().failed()) {
    session.FinishWith({});
    return false;
  }
  const std::vector<std::uint16_t>& exe = session.image().executive;
  const std::size_t first = (area.first - icsp::kExecutiveBase) & ~std::size_t{1};
  for (std::size_t u = first; u < first + 2 * area.instructions; u += 2) {
    if (exe[u] != 0xFFFF || (exe[u + 1] & 0xFF) != 0xFF) return true;
  }
  if (!system_.Ask(reporter().Pick(RestoreQuestion(area.what, kept.front())))) {
    note = KeptCopyNote(area.what, kept.front(), setup_.console_program);
    return true;
  }
  icsp::RestoreKeptWords(session, kept.front());
  return !session.Ended();
}

// The copy was not put back: where it is stays on the status.
void Application::AfterWrite(const report::MessagePair& note) {
  if (note.english.empty()) return;
  view_.ShowStatus(window_.StatusText() + std::string(report::kLineBreak) + reporter().Pick(note),
                   report::StatusKind::kNotice);
}

}  // namespace quillon::app
