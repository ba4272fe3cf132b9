#include "cli/operation_guard.h"

#include <cerrno>
#include <string>

namespace quillon::cli {

report::MessagePair StoppedBeforeMessage(std::string_view command) {
  const std::string c(command);
  return {"Stopped on request before " + c + " began: nothing of it was done.",
          "要求により " + c + " の開始前に中断しました。何も実行していません。"};
}

report::MessagePair StoppedAfterMessage(std::string_view command) {
  const std::string c(command);
  return {"Stop requested after " + c + " had completed: it is complete.",
          "中断の要求より前に " + c + " は完了しています。"};
}

report::MessagePair CannotOpenMessage(std::string_view port, std::string_view error) {
  // POSIX texts end in "(description)"; Windows ones are "Call Error=n".
  std::string reason(error);
  const std::size_t open = reason.rfind(" (");
  bool denied = false;
  if (open != std::string::npos && reason.ends_with(')')) {
    denied = reason.find(" Error=" + std::to_string(EACCES) + " (") != std::string::npos;
    reason = reason.substr(open + 2, reason.size() - open - 3);
  }
  const std::string p(port);
  report::MessagePair message{"quillon: cannot open " + p + ": " + reason,
                              "quillon: " + p + " を開けません: " + reason};
  // Serial devices belong to a group (dialout on Debian and Ubuntu) that a
  // new user is not in; the error alone does not say so.
  if (denied) {
    message.english +=
        " (on Linux: sudo usermod -aG dialout $USER, then log in again; or a udev rule, see "
        "docs/cli.md)";
    message.japanese +=
        " (Linux では sudo usermod -aG dialout $USER の後にログインし直すか、udev ルールを"
        "設定してください。docs/cli.md 参照)";
  }
  return message;
}

}  // namespace quillon::cli
