#include "icsp/session.h"

namespace quillon::icsp {

Session::Session(link::SerialPort& port, report::Reporter& reporter_in,
                 const report::OptionMarks& options_in)
    : reporter(reporter_in), options(options_in), link(port, reporter_in) {}

void Session::BeginOperation() {
  link.BeginOperation();
  outcome_ = Outcome::kOk;
}

void Session::NoteOutcome(Outcome outcome) {
  // The most severe finding wins: a link failure explains any later problem.
  auto rank = [](Outcome o) {
    switch (o) {
      case Outcome::kOk:
        return 0;
      case Outcome::kProblem:
        return 1;
      case Outcome::kFileRejected:
        return 2;
      case Outcome::kLinkFailure:
        return 3;
    }
    return 0;
  };
  if (rank(outcome) > rank(outcome_)) outcome_ = outcome;
}

Outcome Session::outcome() const {
  return link.failed() ? Outcome::kLinkFailure : outcome_;
}

report::MessagePair LinkFailureMessage() {
  return {"Error : link to the programmer failed; the operation did not complete.",
          "ｴﾗｰ : ﾌﾟﾛｸﾞﾗﾏとの通信に失敗しました。操作は完了していません。"};
}

void Session::FinishWith(const report::MessagePair& success) {
  if (link.failed()) {
    reporter.ReportError(LinkFailureMessage());
  } else {
    reporter.ShowMessagePair(success);
  }
}

}  // namespace quillon::icsp
