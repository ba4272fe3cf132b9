#include "win32/menus.h"

#include <string>

#include "app/ids.h"

namespace quillon::win32 {

namespace {

struct Item {
  const char* text;
  int command;  // 0 for the pop-ups of the bar
  UINT state;
  HMENU sub_menu;
};

// The texts carry their access keys (&): Alt and the letter open a menu.
// Each item goes in at position 0, in front of those before it, so the list is
// inserted from its last item to its first.
bool InsertInShownOrder(HMENU menu, std::initializer_list<Item> shown) {
  for (auto it = std::rbegin(shown); it != std::rend(shown); ++it) {
    std::string text = it->text;
    MENUITEMINFOA info{};
    info.cbSize = sizeof(info);
    info.fMask =
        MIIM_FTYPE | MIIM_STRING | MIIM_ID | MIIM_STATE | (it->sub_menu ? MIIM_SUBMENU : 0);
    info.fType = MFT_STRING;
    info.fState = it->state;
    info.wID = static_cast<UINT>(it->command);
    info.hSubMenu = it->sub_menu;
    info.dwTypeData = text.data();
    if (!InsertMenuItemA(menu, 0, TRUE, &info)) return false;
  }
  return true;
}

}  // namespace

int OptionCommand(report::Option option) {
  switch (option) {
    case report::Option::kWideVdd:
      return app::kMenuWideVdd;
    case report::Option::kEraseBeforeWriting:
      return app::kMenuEraseBeforeWriting;
    case report::Option::kVerifyAfterWriting:
      return app::kMenuVerifyAfterWriting;
    case report::Option::kEnhancedIcsp:
      return app::kMenuEnhancedIcsp;
  }
  return 0;
}

bool MenuBar::Build() {
  Destroy();
  bar_ = CreateMenu();
  file_ = CreatePopupMenu();
  option_ = CreatePopupMenu();
  help_ = CreatePopupMenu();
  if (!bar_ || !file_ || !option_ || !help_) return false;
  return InsertInShownOrder(file_, {{"&Update", app::kMenuUpdate, MFS_ENABLED, nullptr},
                                    {"&Calibrate", app::kMenuCalibrate, MFS_GRAYED, nullptr},
                                    {"E&xit", app::kMenuExit, MFS_ENABLED, nullptr}}) &&
         InsertInShownOrder(
             option_,
             {{"&Wide Vdd(LF Type)", app::kMenuWideVdd, MFS_GRAYED, nullptr},
              {"&Erase before writing", app::kMenuEraseBeforeWriting, MFS_CHECKED, nullptr},
              {"&Verify after writing", app::kMenuVerifyAfterWriting, MFS_CHECKED, nullptr},
              {"Enhanced &ICSP", app::kMenuEnhancedIcsp, MFS_CHECKED, nullptr}}) &&
         InsertInShownOrder(help_, {{"&Web Home", app::kMenuWebHome, MFS_ENABLED, nullptr},
                                    {"&About", app::kMenuAbout, MFS_ENABLED, nullptr}}) &&
         InsertInShownOrder(bar_, {{"&File", 0, MFS_ENABLED, file_},
                                   {"&Option", 0, MFS_ENABLED, option_},
                                   {"&Help", 0, MFS_ENABLED, help_}});
}

void MenuBar::Destroy() {
  // Destroying the bar destroys the pop-ups attached to it; a pop-up not yet
  // attached (a failed build) is destroyed on its own.
  const bool attached = bar_ && GetMenuItemCount(bar_) > 0;
  if (bar_) DestroyMenu(bar_);
  if (!attached) {
    for (HMENU popup : {file_, option_, help_}) {
      if (popup) DestroyMenu(popup);
    }
  }
  bar_ = file_ = option_ = help_ = nullptr;
}

UINT MenuBar::State(int command) const {
  if (!bar_) return 0;
  MENUITEMINFOA info{};
  info.cbSize = sizeof(info);
  info.fMask = MIIM_STATE;
  if (!GetMenuItemInfoA(bar_, static_cast<UINT>(command), FALSE, &info)) return 0;
  return info.fState;
}

void MenuBar::ToggleCheck(int command) {
  if (!bar_) return;
  MENUITEMINFOA info{};
  info.cbSize = sizeof(info);
  info.fMask = MIIM_STATE;
  if (!GetMenuItemInfoA(bar_, static_cast<UINT>(command), FALSE, &info)) return;
  // A grayed item cannot be chosen; a command for it (posted by a program)
  // must not turn it into an enabled one.
  if (info.fState & MFS_GRAYED) return;
  info.fState = (info.fState & MFS_CHECKED) ? 0 : MFS_CHECKED;
  SetMenuItemInfoA(bar_, static_cast<UINT>(command), FALSE, &info);
}

}  // namespace quillon::win32
