#include "cli/operation_guard.h"

#include <cerrno>
#include <string>

#include "image/formats.h"

namespace quillon::cli {
namespace {

std::string Named(std::string_view name, std::uint16_t id) {
  return std::string(name) + " (DeviceID " + image::Hex4(id) + ")";
}

}  // namespace

IdentityVerdict CheckIdentity(const devices::DeviceRecord& selected,
                              const icsp::DeviceIdReading& reading, bool forced) {
  if (!reading.NoTarget() && reading.row != nullptr && reading.row->name == selected.name) {
    return {};
  }
  IdentityVerdict verdict;
  const std::string id = image::Hex4(reading.value);
  const std::string wanted = Named(selected.name, selected.device_id);
  if (reading.NoTarget()) {
    // All ones would otherwise read as a blank part, and writes go nowhere.
    verdict.identity = Identity::kNoTarget;
    verdict.message = {"Error : no target responds (DeviceID " + id + "); " + wanted +
                           " was expected. Check the part in the socket, its supply and the "
                           "ICSP wiring.",
                       "ｴﾗｰ : ﾀｰｹﾞｯﾄが応答しません (DeviceID " + id + ")。" + wanted +
                           " のはずです。ｿｹｯﾄのﾃﾞﾊﾞｲｽ、電源、ICSPの配線を確認してください。"};
  } else {
    verdict.identity = Identity::kOtherPart;
    const std::string found =
        reading.row != nullptr ? Named(reading.row->name, reading.value) : "DeviceID " + id;
    verdict.message = {
        "Error : the part that answers is " + found + ", not the selected " + wanted + ".",
        "ｴﾗｰ : 応答したﾃﾞﾊﾞｲｽは " + found + " で、選択した " + wanted + " ではありません。"};
  }
  if (forced) {
    verdict.message = verdict.message + std::string(report::kLineBreak);
    verdict.message.english += "Going on as told (--force).";
    verdict.message.japanese += "指定どおり続行します (--force)。";
  } else {
    verdict.message = verdict.message + std::string(report::kLineBreak);
    verdict.message.english +=
        "Nothing was done. Select the part with -p (or run detect), or use --force.";
    verdict.message.japanese +=
        "何も実行していません。-p で選択する (または detect を実行する) か、--force を指定して"
        "ください。";
  }
  return verdict;
}

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
