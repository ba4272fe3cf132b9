// The menu bar and its three pop-ups. The check marks of the Option items are
// the option state itself: nothing else holds it, so a change made while an
// operation runs counts at the next test.
#pragma once

#include <windows.h>

#include "report/status_sink.h"

namespace quillon::win32 {

// Menu command id of an Option item.
int OptionCommand(report::Option option);

class MenuBar {
 public:
  MenuBar() = default;
  ~MenuBar() { Destroy(); }
  MenuBar(const MenuBar&) = delete;
  MenuBar& operator=(const MenuBar&) = delete;

  // Builds File, Option and Help with their initial states.
  bool Build();
  // Destroys the bar and, with it, the pop-ups. Detach it from its window first.
  void Destroy();

  HMENU bar() const { return bar_; }
  HMENU file() const { return file_; }
  HMENU option() const { return option_; }
  HMENU help() const { return help_; }

  // State of an item by command id (MFS_* bits); 0 when the menu is gone.
  UINT State(int command) const;
  bool IsChecked(int command) const { return (State(command) & MFS_CHECKED) != 0; }
  // Checked becomes 0 (unchecked, enabled), anything else MFS_CHECKED; grayed
  // items stay as they are.
  void ToggleCheck(int command);

 private:
  HMENU bar_ = nullptr;
  HMENU file_ = nullptr;
  HMENU option_ = nullptr;
  HMENU help_ = nullptr;
};

}  // namespace quillon::win32
