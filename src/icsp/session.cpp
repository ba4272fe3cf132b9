#include "icsp/session.h"

#include <algorithm>

#include "icsp/board_steps.h"
#include "icsp/mode_driver.h"

namespace quillon::icsp {

Session::Session(link::SerialPort& port, report::Reporter& reporter_in,
                 const report::OptionMarks& options_in)
    : reporter_(reporter_in),
      options_(options_in),
      link_(port, reporter_in),
      executive_driver_(MakeExecutiveDriver(*this)),
      plain_driver_(MakePlainDriver(*this)) {}

Session::~Session() = default;

ProgrammingMode PlainModeFor(std::uint16_t firmware) {
  // Built-in board letters came after firmware 1.0.
  return firmware > 0x0100 ? ProgrammingMode::kPlainLetters : ProgrammingMode::kPlainBatches;
}

void Session::BeginOperation() {
  link_.BeginOperation();
  outcome_ = Outcome::kOk;
  stopped_at_.clear();
  plain_icsp_said_ = false;
  failure_told_ = false;
  kept_words_file_.clear();
  erased_ = {};
}

const BoardSteps& Session::steps() const {
  return StepsFor(firmware_version_);
}

ProgrammingMode Session::Mode(bool* fell_back) const {
  const bool enhanced = OptionChecked(report::Option::kEnhancedIcsp);
  const bool executive = enhanced && form().executive.present;
  if (fell_back != nullptr) *fell_back = enhanced && !executive;
  return executive ? ProgrammingMode::kExecutive : PlainModeFor(firmware_version_);
}

ModeDriver& Session::OpenMode() {
  bool fell_back = false;
  if (Mode(&fell_back) == ProgrammingMode::kExecutive) return *executive_driver_;
  if (fell_back && !plain_icsp_said_) {
    plain_icsp_said_ = true;
    reporter_.ShowNotice({"No programming executive for this part: plain ICSP is used.",
                          "このPICにはﾌﾟﾛｸﾞﾗﾐﾝｸﾞ･ｴｸﾞｾﾞｸﾃｨﾌﾞがありません。通常のICSPを使います。"});
  }
  return *plain_driver_;
}

void Session::NoteOutcome(Outcome outcome) {
  // The most severe finding wins: a link failure explains any later problem.
  constexpr Outcome kBySeverity[] = {Outcome::kOk,           Outcome::kProblem,
                                     Outcome::kFileRejected, Outcome::kWordsNotKept,
                                     Outcome::kStopped,      Outcome::kLinkFailure};
  auto rank = [&](Outcome o) { return std::ranges::find(kBySeverity, o) - kBySeverity; };
  if (rank(outcome) > rank(outcome_)) outcome_ = outcome;
}

Outcome Session::outcome() const {
  return link_.failed() ? Outcome::kLinkFailure : outcome_;
}

PhaseScope::PhaseScope(Session& session, std::optional<report::Phase> phase)
    : session_(session), phase_(phase) {
  if (phase_) session_.reporter().sink().BeginPhase(*phase_);
}

PhaseScope::~PhaseScope() {
  if (!phase_) return;
  if (session_.stopped()) {
    session_.reporter().sink().StopPhase(*phase_);
  } else {
    session_.reporter().sink().EndPhase(*phase_, session_.outcome() == Outcome::kOk);
  }
}

report::MessagePair LinkFailureMessage() {
  return {"Error : link to the programmer failed; the operation did not complete.",
          "ｴﾗｰ : ﾌﾟﾛｸﾞﾗﾏとの通信に失敗しました。操作は完了していません。"};
}

report::MessagePair Session::ErasedNote() const {
  report::MessagePair note;
  auto add = [&note](const report::MessagePair& line) {
    note = note.english.empty() ? line : note + report::kLineBreak + line;
  };
  if (!erased_.english.empty()) {
    add({"The erase had begun: " + erased_.english + " may read blank.",
         "消去を始めていました: " + erased_.japanese + " は空になっている可能性があります。"});
  }
  if (!kept_words_file_.empty()) {
    add({"The part's words from executive memory were kept in " + kept_words_file_ +
             " before erasing; if they read blank, put them back with: " + console_program_ +
             " restore-row " + kept_words_file_,
         "消去の前にﾃﾞﾊﾞｲｽ固有のﾜｰﾄﾞを " + kept_words_file_ +
             " に保存しました。空になっている場合は次のｺﾏﾝﾄﾞで書き戻せます: " + console_program_ +
             " restore-row " + kept_words_file_});
  }
  return note;
}

void Session::ReportLinkFailure(const report::MessagePair& lead) {
  if (failure_told_) return;
  failure_told_ = true;
  const report::MessagePair note = ErasedNote();
  reporter_.ReportError(note.english.empty() ? lead : lead + report::kLineBreak + note,
                        report::FailureKind::kLink);
}

void Session::ReportStopped() {
  const report::MessagePair note = ErasedNote();
  const report::MessagePair stop{
      "Stopped on request before " + stopped_at_ +
          ": every row before it is complete, nothing from there on was done. "
          "The part has left programming mode.",
      "要求により " + stopped_at_ +
          " の前で中断しました。それより前の行は完了し、以降は何も実行していません。"
          "ﾃﾞﾊﾞｲｽはﾌﾟﾛｸﾞﾗﾐﾝｸﾞﾓｰﾄﾞを終了しました。"};
  reporter_.ReportError(note.english.empty() ? stop : stop + report::kLineBreak + note,
                        report::FailureKind::kStopped);
}

void Session::FinishWith(const report::MessagePair& success) {
  // A stopped operation did not finish; the operation frame says where it ended.
  if (stopped()) return;
  if (link_.failed()) {
    ReportLinkFailure();
  } else if (outcome_ == Outcome::kOk) {
    reporter_.ShowMessagePair(success);
  }
  // Otherwise the finding's own report stays the last word.
}

bool Session::ContinueAt(std::string_view step) {
  if (stopped()) return false;
  if (outcome() != Outcome::kOk) {
    // A failure on the way ends the operation here, not at its end: the
    // pending batch is dropped and the link goes quiet.
    if (!link_.lost()) {
      link_.DiscardBatch();
      link_.ExitIcsp();
      link_.Stop();
    }
    return false;
  }
  if (stop_request_ == nullptr || !stop_request_->load()) return true;
  stopped_at_ = step;
  NoteOutcome(Outcome::kStopped);
  // The row before has been sent in full; what is still pending of it (a
  // write-enable clear) goes too, then the part leaves programming mode.
  link_.SendBatch();
  link_.ExitIcsp();
  link_.Stop();
  return false;
}

}  // namespace quillon::icsp
