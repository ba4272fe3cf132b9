// Bulk erase: configuration words blanked, the chip erase three times, and
// the part's own words in executive memory kept first and written back after.
#include "icsp/config_words.h"
#include "icsp/erase_units.h"
#include "icsp/kept_words.h"
#include "icsp/operations.h"
#include "icsp/primitives.h"

namespace quillon::icsp {

namespace {

// Writes the executive row that holds the factory words back: blank but for
// the words the executive check saved (the application ID stays erased).
void RestoreExecutiveRow(Session& session) {
  const devices::FamilyForm& form = session.form();
  const devices::ExecutiveForm& executive = form.executive;
  if (executive.factory_words_from == 0) return;
  const std::size_t units = 2 * static_cast<std::size_t>(executive.row_instructions);
  const std::size_t row = (executive.factory_words_from - kExecutiveBase) / units * units;
  const std::uint32_t tblpag = session.device().load_table_pointer;
  GotoResetVector200(session);
  AppendWords(session.link(), {MoveLiteral(form.nvm.row_program, 10), kMovW10ToNvmcon,
                               MoveLiteral(kExecutivePage, 0), tblpag, MoveLiteral(0, 7), kNop});
  session.link().SendBatch();

  std::vector<std::uint16_t>& exe = session.image().executive;
  for (std::size_t u = row; u < row + units; u += 2) {
    exe[u] = 0xFFFF;
    exe[u + 1] = 0x00FF;
  }
  PutBackFactoryWords(session);

  // Factory words sit only on the self-timed forms: NVMCON is loaded above.
  WriteCodeRow(session, QuadSource::kExecutive, kExecutiveBase, row / 2, units / 2);
}

}  // namespace

Outcome BulkErase(Session& session) {
  PhaseScope phase(session, report::Phase::kErasing);
  if (!session.ContinueAt("Erasing")) return session.outcome();
  const devices::FamilyForm& form = session.form();
  // The part's own words go into a file before anything is erased: a link
  // lost before they are written back then leaves them recoverable.
  const KeptArea area = KeptAreaOf(session.device().device);
  std::optional<KeptWords> kept;
  if (area.first != 0) {
    EnterIcsp(session);
    if (form.executive.factory_words_from != 0) {
      CheckExecutive(session);  // also the tail the write-back takes
    } else {
      ReadKeptArea(session, area);
    }
    ExitIcsp(session);
    kept = KeepBeforeErase(session);
    if (!kept) return session.outcome();
  }

  // From here on a failure leaves the part (partly) erased; the report says so.
  session.erased() = form.executive.present
                       ? report::MessagePair{"program memory, configuration words and "
                                             "executive memory",
                                             "ﾌﾟﾛｸﾞﾗﾑﾒﾓﾘ、ｺﾝﾌｨｸﾞﾚｰｼｮﾝﾜｰﾄﾞ、"
                                             "ｴｸﾞｾﾞｸﾃｨﾌﾞﾒﾓﾘ"}
                       : report::MessagePair{"program memory, data EEPROM and configuration words",
                                             "ﾌﾟﾛｸﾞﾗﾑﾒﾓﾘ、ﾃﾞｰﾀEEPROM、ｺﾝﾌｨｸﾞﾚｰｼｮﾝﾜｰﾄﾞ"};
  if (!form.config.erased_by_bulk_erase) {
    EnterIcsp(session);
    for (int k = 0; k < form.config.written; ++k) {
      session.config_readback()[static_cast<std::size_t>(k)] = 0xFFFF;
      WriteConfigWord(session, k);
    }
    ExitIcsp(session);
  }

  // No stop between these: the words kept above go back right after.
  for (int i = 0; i < 3; ++i) {
    EnterIcsp(session);
    EraseFor(form).EraseChip(session);
    ExitIcsp(session);
    session.reporter().Pump();
  }

  EnterIcsp(session);
  RestoreExecutiveRow(session);
  if (form.executive.factory_words_from == 0 && kept && !kept->Blank()) {
    WriteKeptArea(session, *kept);
  }
  ExitIcsp(session);
  session.FinishWith({"Erasing Successful!", "Erasing 成功!"});
  return session.outcome();
}

}  // namespace quillon::icsp
