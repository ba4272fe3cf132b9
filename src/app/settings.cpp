#include <string>

#include "app/front_end.h"

namespace quillon::app {

int LoadCom(SettingsStore& store) {
  // Only the last character counts ("COM3" gives 3). Anything that does not
  // name one of the list's ports COM1..COM9 reads as nothing stored, so the
  // first entry stays selected instead of the list losing its selection.
  const std::string value = store.Load(kComSetting);
  if (value.empty()) return -1;
  const char last = value.back();
  if (last < '1' || last > '9') return -1;
  return last - '0';
}

}  // namespace quillon::app
