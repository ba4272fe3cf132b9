// Puts a programming executive into the part when "Enhanced ICSP" needs one
// and none answers to the identification check.
#include <filesystem>
#include <string>
#include <system_error>

#include "icsp/kept_words.h"
#include "icsp/mode_driver.h"
#include "icsp/operations.h"
#include "icsp/primitives.h"
#include "image/hex_loader.h"
#include "image/hex_writer.h"

namespace quillon::icsp {

// A missing, malformed or cut-short file, or one without executive data, is
// reported: writing it would program a blank, partial or foreign image.
bool LoadExecutiveFile(Session& session, image::MemoryImage& executive) {
  const std::string path =
      image::JoinPath(session.executive_dir(), std::string(session.form().executive.file));
  auto reject = [&session](const report::MessagePair& message) {
    session.reporter().ReportError(message, report::FailureKind::kFile);
    session.NoteOutcome(Outcome::kFileRejected);
    return false;
  };
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) {
    report::MessagePair message =
        report::MessagePair{"Error : programming executive file not found!",
                            "ｴﾗｰ : ﾌﾟﾛｸﾞﾗﾐﾝｸﾞ･ｴｸﾞｾﾞｸﾃｨﾌﾞのﾌｧｲﾙがありません。"} +
        report::kLineBreak + path;
    if (!session.executive_missing_hint().english.empty()) {
      const std::string folder = session.executive_dir().empty() ? "." : session.executive_dir();
      message = message + report::kLineBreak +
                report::MessagePair{"Looked in the folder " + folder + ". ",
                                    "探したﾌｫﾙﾀﾞ: " + folder + "。"} +
                session.executive_missing_hint();
    }
    return reject(message);
  }
  image::LoadSummary summary;
  const image::LoadResult result =
      image::LoadHexFile(path, executive, session.device(), session.reporter(), &summary);
  if (result != image::LoadResult::kLoaded || !executive.executive_present || !summary.end_record) {
    return reject(report::MessagePair{"Error : programming executive file is not usable!",
                                      "ｴﾗｰ : ﾌﾟﾛｸﾞﾗﾐﾝｸﾞ･ｴｸﾞｾﾞｸﾃｨﾌﾞのﾌｧｲﾙが正しくありません。"} +
                  report::kLineBreak + path);
  }
  return true;
}

bool PrepareExecutive(Session& session, const image::MemoryImage* executive_file) {
  if (!session.OpenMode().NeedsExecutive()) return true;
  // A failure ends the operation here with its one report (a stop: the
  // operation frame says where it ended).
  auto ended = [&session] {
    if (session.link().failed()) session.ReportLinkFailure();
    return false;
  };
  // A stop asked for during an earlier phase is honoured before this one.
  if (!session.ContinueAt("Writing:Exe Adr 0000")) return ended();
  EnterIcsp(session);
  const bool present = CheckExecutive(session);
  // The check has read the factory words already; unit ID words are read here.
  const bool unit_ids = session.form().executive.unit_id_from != 0;
  if (!present && unit_ids) ReadKeptArea(session, KeptAreaOf(session.device().device));
  ExitIcsp(session);
  if (session.Ended()) return ended();
  if (present) return true;

  // The executive write erases executive memory as a whole: the part's own
  // words there are kept first, as for a bulk erase.
  const std::optional<KeptWords> kept = KeepBeforeErase(session);
  if (!kept) return false;
  if (executive_file != nullptr) {
    session.image() = *executive_file;
  } else if (!LoadExecutiveFile(session, session.image())) {
    return false;
  }
  if (session.form().executive.factory_words_from != 0) {
    // The factory words keep what the part holds; the file supplies the
    // application ID before them.
    PutBackFactoryWords(session);
  }
  // An executive that failed its write or verification cannot be trusted
  // with the blocks that follow.
  if (session.erased().english.empty()) session.erased() = {"executive memory", "ｴｸﾞｾﾞｸﾃｨﾌﾞﾒﾓﾘ"};
  if (!LoadExecutive(session)) return false;
  if (unit_ids && !kept->Blank()) {
    EnterIcsp(session);
    WriteKeptArea(session, *kept);
    ExitIcsp(session);
  }
  return session.Ended() ? ended() : true;
}

}  // namespace quillon::icsp
