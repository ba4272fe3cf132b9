// The main window as built: class, layout, font, menu, start-up state and the
// commands that reach the application through WM_COMMAND.
#include <cctype>
#include <string>
#include <vector>

#include "gui_fixture.h"
#include "win32/menus.h"

namespace quillon::win32 {
namespace {

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

std::string MenuText(HMENU menu, int position) {
  char text[64] = {};
  GetMenuStringA(menu, static_cast<UINT>(position), text, sizeof(text), MF_BYPOSITION);
  return text;
}

// The texts as shown; every item has one access key (&), none shared in a menu.
std::vector<std::string> MenuTexts(HMENU menu) {
  std::vector<std::string> texts;
  std::string keys;
  for (int i = 0; i < GetMenuItemCount(menu); ++i) {
    std::string text = MenuText(menu, i);
    const std::size_t amp = text.find('&');
    EXPECT_TRUE(amp != std::string::npos && amp + 1 < text.size()) << text;
    if (amp == std::string::npos || amp + 1 >= text.size()) continue;
    const char key = static_cast<char>(std::toupper(static_cast<unsigned char>(text[amp + 1])));
    EXPECT_EQ(keys.find(key), std::string::npos) << text;
    keys += key;
    texts.push_back(text.erase(amp, 1));
  }
  return texts;
}

TEST_F(GuiTest, WindowHasItsClassTitleStyleAndSize) {
  Open();
  HWND hwnd = window_->hwnd();
  char name[32] = {};
  GetClassNameA(hwnd, name, sizeof(name));
  EXPECT_STREQ(name, "NORMAL0");
  GetWindowTextA(hwnd, name, sizeof(name));
  EXPECT_STREQ(name, "Quillon");
  const auto style = static_cast<DWORD>(GetWindowLongPtrA(hwnd, GWL_STYLE));
  EXPECT_EQ(style & 0x10C80000u, 0x10C80000u);
  EXPECT_EQ(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0u);
  RECT rect{};
  GetWindowRect(hwnd, &rect);
  EXPECT_EQ(rect.right - rect.left, 200);
  EXPECT_EQ(rect.bottom - rect.top, 300);
}

TEST_F(GuiTest, ControlsComeInCreationOrderWithLayoutAndFont) {
  Open();
  HWND child = GetWindow(window_->hwnd(), GW_CHILD);
  for (const ControlLayout& layout : kControls) {
    SCOPED_TRACE(layout.id);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(GetDlgCtrlID(child), layout.id);
    EXPECT_EQ(CompareStringOrdinal(ClassOf(child).c_str(), -1, layout.window_class, -1, TRUE),
              CSTR_EQUAL);
    // A combo box hands WS_VSCROLL on to its drop-down list; the status
    // shows its bar only for a text longer than the area.
    const bool combo = layout.id == 1000 || layout.id == 1002;
    const DWORD wanted =
        combo || layout.id == 1008 ? layout.style & ~static_cast<DWORD>(WS_VSCROLL) : layout.style;
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(child, GWL_STYLE));
    EXPECT_EQ(style & wanted, wanted);
    const auto ex_style = static_cast<DWORD>(GetWindowLongPtrW(child, GWL_EXSTYLE));
    EXPECT_EQ(ex_style & WS_EX_STATICEDGE, layout.ex_style);
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, window_->hwnd(), reinterpret_cast<POINT*>(&rect), 2);
    EXPECT_EQ(rect.left, layout.x);
    EXPECT_EQ(rect.top, layout.y);
    EXPECT_EQ(rect.right - rect.left, layout.width);
    // A drop-down list reports the height of its closed box, not the 25 asked for.
    if (!combo) {
      EXPECT_EQ(rect.bottom - rect.top, layout.height);
    }
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0)), window_->font());
    child = GetWindow(child, GW_HWNDNEXT);
  }
  LOGFONTW font{};
  ASSERT_NE(GetObjectW(window_->font(), sizeof(font), &font), 0);
  EXPECT_EQ(font.lfHeight, -12);
  EXPECT_EQ(font.lfCharSet, SHIFTJIS_CHARSET);
  EXPECT_STREQ(font.lfFaceName, L"ＭＳ Ｐゴシック");
}

TEST_F(GuiTest, MenusReadInShownOrderWithInitialStates) {
  Open();
  HMENU bar = GetMenu(window_->hwnd());
  ASSERT_EQ(bar, window_->menus().bar());
  EXPECT_EQ(MenuTexts(bar), (std::vector<std::string>{"File", "Option", "Help"}));
  EXPECT_EQ(MenuTexts(GetSubMenu(bar, 0)),
            (std::vector<std::string>{"Update", "Calibrate", "Exit"}));
  EXPECT_EQ(MenuTexts(GetSubMenu(bar, 1)),
            (std::vector<std::string>{"Wide Vdd(LF Type)", "Erase before writing",
                                      "Verify after writing", "Enhanced ICSP"}));
  EXPECT_EQ(MenuTexts(GetSubMenu(bar, 2)), (std::vector<std::string>{"Web Home", "About"}));
  EXPECT_EQ(GetMenuItemID(GetSubMenu(bar, 0), 0), 1010u);
  EXPECT_EQ(GetMenuItemID(GetSubMenu(bar, 1), 3), 1016u);
  EXPECT_EQ(GetMenuItemID(GetSubMenu(bar, 2), 1), 1018u);

  const MenuBar& menus = window_->menus();
  EXPECT_EQ(menus.State(1011) & MFS_GRAYED, static_cast<UINT>(MFS_GRAYED));
  EXPECT_EQ(menus.State(1013), static_cast<UINT>(MFS_GRAYED));
  EXPECT_EQ(menus.State(1010), 0u);
  EXPECT_EQ(menus.State(1014), static_cast<UINT>(MFS_CHECKED));
  EXPECT_EQ(menus.State(1015), static_cast<UINT>(MFS_CHECKED));
  EXPECT_EQ(menus.State(1016), static_cast<UINT>(MFS_CHECKED));
}

TEST_F(GuiTest, OptionCommandsFlipTheMarkAndGrayedItemsStayPut) {
  Open();
  for (int id : {1014, 1015, 1016}) {
    const auto option = static_cast<report::Option>(id - 1013);
    Command(id);
    EXPECT_FALSE(window_->IsChecked(option)) << id;
    EXPECT_EQ(window_->menus().State(id), 0u) << id;
    Command(id);
    EXPECT_TRUE(window_->IsChecked(option)) << id;
  }
  Command(1013);
  Command(1011);
  EXPECT_EQ(window_->menus().State(1013), static_cast<UINT>(MFS_GRAYED));
  EXPECT_FALSE(window_->IsChecked(report::Option::kWideVdd));
  EXPECT_EQ(window_->menus().State(1011) & MFS_GRAYED, static_cast<UINT>(MFS_GRAYED));
}

TEST_F(GuiTest, StartUpFillsListsAndShowsAbout) {
  Open();
  HWND com = window_->control(1000);
  EXPECT_EQ(SendMessageW(com, CB_GETCOUNT, 0, 0), 9);
  EXPECT_EQ(window_->SelectedComIndex(), 0);
  EXPECT_EQ(SendMessageW(window_->control(1002), CB_GETCOUNT, 0, 0), 207);
  EXPECT_EQ(window_->SelectedDeviceName(), "");
  EXPECT_TRUE(IsWindowEnabled(com));
  EXPECT_TRUE(IsWindowEnabled(window_->control(1001)));
  for (int id : {1002, 1003, 1004, 1005, 1006, 1007})
    EXPECT_FALSE(IsWindowEnabled(window_->control(id))) << id;
  EXPECT_EQ(StatusText().rfind(L"Quillon Ver 1.9c\r\n", 0), 0u);
  EXPECT_NE(StatusText().find(L"\r\n\r\nWindows NT/2000/XP/Vista/7 V6.1"), std::wstring::npos);
}

TEST_F(GuiTest, ChosenPortAndDeviceAreRestoredByTheNextRun) {
  Open();
  SendMessageW(window_->control(1000), CB_SETCURSEL, 4, 0);
  Command(1000, CBN_SELCHANGE);
  EXPECT_EQ(settings_.Load("COM"), "COM5");
  // The exact name, not the first one it is a prefix of.
  for (const char* name : {"dsPIC30F6010A", "dsPIC30F6010"}) {
    window_->SelectDeviceName(name);
    Command(1002, CBN_SELCHANGE);
    EXPECT_EQ(window_->SelectedDeviceName(), name);
    EXPECT_EQ(settings_.Load("CHIP"), name);
  }
  app_.reset();
  window_.reset();
  DrainQueue();

  Open();
  EXPECT_EQ(window_->SelectedComIndex(), 4);
  EXPECT_EQ(window_->SelectedDeviceName(), "dsPIC30F6010");
}

TEST_F(GuiTest, MenuCommandsReachTheSystem) {
  Open();
  SendMessageW(window_->control(1000), CB_SETCURSEL, 1, 0);
  Command(1010);
  Command(1017);
  Command(1012);
  EXPECT_EQ(system_.launched, (std::vector<std::string>{"brackwen.bat Quillon.hex -c2"}));
  EXPECT_EQ(system_.web_pages.size(), 1u);
  EXPECT_EQ(system_.exit_codes, (std::vector<int>{0}));
}

TEST_F(GuiTest, JapaneseMessagesArriveIntact) {
  language_ = 0x0411;
  Open();
  app_->ChooseDevice("PIC99XX");
  EXPECT_EQ(StatusText(), L"PIC typeを選択してください。");
  language_ = 0x0011;  // only Japanese (Japan) counts
  app_->ChooseDevice("PIC99XX");
  EXPECT_EQ(StatusText(), L"Please select PIC type.");
}

TEST_F(GuiTest, RoutineTextsArePaintedAtAHumanPace) {
  Open();
  ticks_ += 1000;
  window_->ShowStatus("Writing:Prg Adr 0000", report::StatusKind::kRoutine);
  EXPECT_EQ(StatusText(), L"Writing:Prg Adr 0000");
  ticks_ += 5;
  window_->ShowStatus("Writing:Prg Adr 0040", report::StatusKind::kRoutine);
  EXPECT_EQ(StatusText(), L"Writing:Prg Adr 0000");
  // The end of the operation shows what was held back.
  window_->EnableControl(1003, true);
  EXPECT_EQ(StatusText(), L"Writing:Prg Adr 0040");
  ticks_ += 1;
  window_->ShowStatus("Writing:Prg Adr 0080", report::StatusKind::kRoutine);
  window_->ShowStatus("Error : Not match!", report::StatusKind::kError);
  EXPECT_EQ(StatusText(), L"Error : Not match!");
  window_->EnableControl(1003, true);
  EXPECT_EQ(StatusText(), L"Error : Not match!");
}

TEST_F(GuiTest, ClosingTheWindowEndsAtTheNextPump) {
  Open();
  window_->Pump();
  EXPECT_EQ(quits_, 0);
  SendMessageA(window_->hwnd(), WM_CLOSE, 0, 0);
  EXPECT_EQ(window_->hwnd(), nullptr);
  // What an operation still does after the close must not touch dead handles.
  window_->ShowStatus("Reading:Prg Adr 0100", report::StatusKind::kRoutine);
  EXPECT_EQ(quits_, 1);
  window_->SetProgress(50);
  window_->EnableControl(1003, true);
  EXPECT_FALSE(window_->IsChecked(report::Option::kEnhancedIcsp));
}

TEST(GuiCommands, ASecondOperationCannotStartInsideTheFirst) {
  MainWindow window(GetModuleHandleA(nullptr));
  std::vector<int> seen;
  MainWindow::Hooks hooks;
  hooks.quit = [] {};
  hooks.command = [&](int id, int notification) {
    if (notification != 0) return;  // the lists' focus notices
    seen.push_back(id);
    if (id == 1003) {
      // Arrives through the pump while Detect runs: a queued click and a menu choice.
      SendMessageA(window.hwnd(), WM_COMMAND, 1007, 0);
      SendMessageA(window.hwnd(), WM_COMMAND, 1018, 0);
    }
  };
  ASSERT_TRUE(window.Create(std::move(hooks)));
  SendMessageA(window.hwnd(), WM_COMMAND, 1003, 0);
  SendMessageA(window.hwnd(), WM_COMMAND, 1007, 0);
  EXPECT_EQ(seen, (std::vector<int>{1003, 1018, 1007}));
  window.Close();
  DrainQueue();
}

// The close box asks the application first; a long status text gets a
// scroll bar (and loses it again), and Enter means the focused button.
TEST(GuiCommands, CloseAsksScrollBarFollowsTheTextEnterPressesTheFocus) {
  MainWindow window(GetModuleHandleA(nullptr));
  bool may_close = false;
  MainWindow::Hooks hooks;
  hooks.quit = [] {};
  hooks.close = [&] { return may_close; };
  ASSERT_TRUE(window.Create(std::move(hooks)));
  SendMessageA(window.hwnd(), WM_CLOSE, 0, 0);
  ASSERT_NE(window.hwnd(), nullptr);

  HWND status = window.control(1008);
  auto has_bar = [&] { return (GetWindowLongPtrW(status, GWL_STYLE) & WS_VSCROLL) != 0; };
  std::string long_text;
  for (int i = 0; i < 20; ++i) long_text += "C:\\users\\kept\\DeviceID-0141-COM3.txt\r\n";
  for (const auto& [text, bar] :
       {std::pair<std::string, bool>{long_text, true}, {"Short", false}}) {
    window.ShowStatus(text, report::StatusKind::kError);
    EXPECT_EQ(has_bar(), bar);
    EXPECT_EQ(window.StatusText(), text);
  }

  SetFocus(window.control(1007));
  if (GetFocus() == window.control(1007)) {
    EXPECT_EQ(SendMessageA(window.hwnd(), DM_GETDEFID, 0, 0), MAKELRESULT(1007, DC_HASDEFID));
  }
  SetFocus(window.control(1008));
  EXPECT_EQ(HIWORD(SendMessageA(window.hwnd(), DM_GETDEFID, 0, 0)), 0);
  may_close = true;
  window.Close();
  EXPECT_EQ(window.hwnd(), nullptr);
  DrainQueue();
}
}  // namespace
}  // namespace quillon::win32
