#include "app/identity.h"

#include <string>

#include "image/formats.h"

namespace quillon::app {
namespace {

std::string Named(std::string_view name, std::uint16_t id) {
  return std::string(devices::TrimBlanks(name)) + " (DeviceID " + image::Hex4(id) + ")";
}

report::MessagePair WindowText(Identity identity, const std::string& id, const std::string& found,
                               const std::string& wanted) {
  if (identity == Identity::kNoTarget) {
    return {"Error : no part answers (DeviceID " + id + "); " + wanted +
                " is selected. Nothing was done.",
            "ｴﾗｰ : ﾃﾞﾊﾞｲｽが応答しません (DeviceID " + id + ")。選択は " + wanted +
                " です。何も実行していません。"};
  }
  return {"Error : the part in the socket is " + found + ", not the selected " + wanted +
              ". Nothing was done. Detect selects the part in the socket.",
          "ｴﾗｰ : ｿｹｯﾄのﾃﾞﾊﾞｲｽは " + found + " で、選択した " + wanted +
              " ではありません。何も実行していません。Detect でｿｹｯﾄのﾃﾞﾊﾞｲｽを選択できます。"};
}

report::MessagePair ConsoleText(Identity identity, const std::string& id, const std::string& found,
                                const std::string& wanted, bool forced) {
  // All ones would otherwise read as a blank part, and writes go nowhere.
  report::MessagePair message =
      identity == Identity::kNoTarget
          ? report::MessagePair{"Error : no target responds (DeviceID " + id + "); " + wanted +
                                    " was expected. Check the part in the socket, its supply "
                                    "and the ICSP wiring.",
                                "ｴﾗｰ : ﾀｰｹﾞｯﾄが応答しません (DeviceID " + id + ")。" + wanted +
                                    " のはずです。ｿｹｯﾄのﾃﾞﾊﾞｲｽ、電源、ICSPの配線を確認してくだ"
                                    "さい。"}
          : report::MessagePair{
                "Error : the part that answers is " + found + ", not the selected " + wanted + ".",
                "ｴﾗｰ : 応答したﾃﾞﾊﾞｲｽは " + found + " で、選択した " + wanted +
                    " ではありません。"};
  message = message + std::string(report::kLineBreak);
  if (forced) {
    message.english += "Going on as told (--force).";
    message.japanese += "指定どおり続行します (--force)。";
  } else {
    message.english += "Nothing was done. Select the part with -p (or run detect), or use --force.";
    message.japanese +=
        "何も実行していません。-p で選択する (または detect を実行する) か、--force を指定して"
        "ください。";
  }
  return message;
}

}  // namespace

IdentityVerdict JudgeIdentity(const devices::DeviceRecord& selected,
                              const icsp::DeviceIdReading& reading, IdentityWording wording,
                              bool forced) {
  if (!reading.NoTarget() && reading.row != nullptr && reading.row->name == selected.name) {
    return {};
  }
  const Identity identity = reading.NoTarget() ? Identity::kNoTarget : Identity::kOtherPart;
  const std::string id = image::Hex4(reading.value);
  const std::string wanted = Named(selected.name, selected.device_id);
  const std::string found =
      reading.row != nullptr ? Named(reading.row->name, reading.value) : "DeviceID " + id;
  return {identity, wording == IdentityWording::kWindow
                        ? WindowText(identity, id, found, wanted)
                        : ConsoleText(identity, id, found, wanted, forced)};
}

}  // namespace quillon::app
