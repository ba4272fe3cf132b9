#include "icsp/file_check.h"
#include "icsp/operations.h"
#include "image/formats.h"

namespace quillon::icsp {

namespace {

report::MessagePair NoDataMessage() {
  return {"Error : the file holds no data!", "ｴﾗｰ : ﾌｧｲﾙにﾃﾞｰﾀがありません。"};
}
report::MessagePair NoEndRecordMessage() {
  return {"Error : the file has no end record; it may be cut short!",
          "ｴﾗｰ : ﾌｧｲﾙにｴﾝﾄﾞ･ﾚｺｰﾄﾞがありません。途中で切れている可能性があります。"};
}
report::MessagePair NoPartMessage() {
  return {"Please select PIC type.", "PIC typeを選択してください。"};
}
report::MessagePair CannotHoldMessage(std::uint32_t address, std::string_view part) {
  return report::MessagePair{"Error : the file holds data the part cannot hold!",
                             "ｴﾗｰ : ﾌｧｲﾙにこのPICに書けないﾃﾞｰﾀがあります。"} +
         report::kLineBreak + "Adr " + image::Hex4(address >> 16).substr(2) +
         image::Hex4(address & 0xFFFF) + " " + std::string(part);
}
report::MessagePair ExecutiveLeftMessage() {
  return {"The file's executive memory data are left unwritten.",
          "ﾌｧｲﾙのｴｸﾞｾﾞｸﾃｨﾌﾞ･ﾒﾓﾘのﾃﾞｰﾀは書き込みません。"};
}

}  // namespace

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
  if (summary.spans.empty()) return reject(NoDataMessage() + report::kLineBreak + path);
  if (!summary.end_record) return reject(NoEndRecordMessage() + report::kLineBreak + path);
  if (!session.device().selected) return reject(NoPartMessage());
  const devices::DeviceRecord& part = session.device().device;
  if (const auto address = FirstAddressThePartCannotHold(part, file, summary)) {
    return reject(CannotHoldMessage(*address, part.name));
  }
  // A file Read wrote holds every memory. Programming its executive part
  // instead of the user's program would lose the program; the executive is
  // the part's own business (Enhanced ICSP puts one there when needed).
  if (file.executive_present && HoldsProgramData(summary)) {
    file.executive_present = false;
    session.reporter().ShowNotice(ExecutiveLeftMessage());
  }
  if (summary_out != nullptr) *summary_out = std::move(summary);
  return true;
}

}  // namespace quillon::icsp
