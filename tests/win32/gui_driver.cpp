// gui_driver.exe: drives a running quillon.exe the way a user would, by
// messages to its window, for the GUI test under Wine. Each argument group is
// one step; every wait has a time-out. Results go to stdout as UTF-8 lines
// ("status: ...", "enabled: ...", "menu: ...") for the calling script to check.
// Exits 1 at the first step that fails or times out.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr int kStatusText = 1008;
constexpr DWORD kOperationMs = 180000;
constexpr DWORD kShortMs = 20000;
constexpr DWORD kStartMs = 90000;

HWND g_window = nullptr;
const std::wstring kNoAnswer = L"<no answer>";

int Number(const std::string& text) {
  return std::atoi(text.c_str());
}

// Joins texts; GCC 12 warns falsely on `"literal" + std::string` at -O3.
template <typename... Parts>
std::string Join(const Parts&... parts) {
  std::string out;
  (out.append(parts), ...);
  return out;
}

void Print(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

[[noreturn]] void Fail(const std::string& why) {
  Print(Join("FAIL: ", why));
  std::exit(1);
}

bool WaitFor(DWORD timeout_ms, const std::function<bool()>& done) {
  const ULONGLONG end = GetTickCount64() + timeout_ms;
  while (!done()) {
    if (GetTickCount64() > end) return false;
    Sleep(5);
  }
  return true;
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

std::wstring WindowText(HWND window) {
  wchar_t buffer[4096] = {};
  DWORD_PTR length = 0;
  // WM_GETTEXT through a time-out, so a window busy in an operation cannot hang us.
  if (!SendMessageTimeoutW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer), SMTO_NORMAL,
                           5000, &length)) {
    return kNoAnswer;
  }
  return std::wstring(buffer, length);
}

std::wstring WindowTextOf(const std::string& utf8) {
  std::wstring out(utf8.size(), L'\0');
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                    out.data(), static_cast<int>(out.size()));
  out.resize(static_cast<std::size_t>(n > 0 ? n : 0));
  return out;
}

HWND Control(int id) {
  return GetDlgItem(g_window, id);
}

std::wstring Status() {
  return WindowText(Control(kStatusText));
}

// The window exists and its start-up initialisation has run (the status text
// is no longer "Text1"). A fresh Wine prefix takes a while to show it.
void FindMainWindow() {
  const bool found = WaitFor(kStartMs, [] {
    g_window = FindWindowA("NORMAL0", nullptr);
    if (g_window == nullptr) return false;
    const std::wstring status = Status();
    return status != L"Text1" && status != kNoAnswer;
  });
  if (!found) Fail("no Quillon window");
}

// CR LF become " | " so that one status is one line of output.
std::string OneLine(const std::wstring& text) {
  std::string line = Utf8(text), out;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\r' && i + 1 < line.size() && line[i + 1] == '\n') {
      out += " | ";
      ++i;
    } else {
      out += line[i];
    }
  }
  return out;
}

void PrintStatus() {
  Print(Join("status: ", OneLine(Status())));
}

void PrintEnabled() {
  std::string line = "enabled:";
  for (int id = 1000; id <= 1007; ++id)
    line += Join(" ", std::to_string(id), IsWindowEnabled(Control(id)) ? "=1" : "=0");
  Print(line);
}

void Command(int id, int notification, bool wait) {
  const WPARAM wparam = MAKEWPARAM(id, notification);
  const LPARAM lparam = reinterpret_cast<LPARAM>(id >= 1000 && id <= 1009 ? Control(id) : nullptr);
  if (!wait) {
    if (!PostMessageW(g_window, WM_COMMAND, wparam, lparam))
      Fail(Join("cannot post command ", std::to_string(id)));
    return;
  }
  // The window procedure runs the whole command before it answers.
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(g_window, WM_COMMAND, wparam, lparam, SMTO_NORMAL, kOperationMs,
                           &result)) {
    Fail(Join("command ", std::to_string(id), " did not finish"));
  }
}

bool EndsWithDots(const std::wstring& text) {
  return text.size() >= 3 && text.compare(text.size() - 3, 3, L"...") == 0;
}

// A dialog of the given title, once it shows.
HWND FindDialog(const wchar_t* title, DWORD wait_ms) {
  HWND dialog = nullptr;
  WaitFor(wait_ms, [&] {
    dialog = FindWindowW(L"#32770", title);
    return dialog != nullptr && IsWindowVisible(dialog);
  });
  return dialog;
}

HWND FindFileDialog() {
  return FindDialog(L"File Open", kShortMs);
}

// The file name box of the open dialog: the edit inside combo cmb13 (a
// ComboBoxEx holding a ComboBox in the Explorer-style dialog), or edt1.
HWND FileNameEdit(HWND dialog) {
  if (HWND combo = GetDlgItem(dialog, 0x47c)) {
    if (HWND inner = FindWindowExW(combo, nullptr, L"ComboBox", nullptr)) combo = inner;
    if (HWND edit = FindWindowExW(combo, nullptr, L"Edit", nullptr)) return edit;
  }
  return GetDlgItem(dialog, 0x480);
}

void Write(const std::string& path) {
  const std::wstring before = Status();
  Command(1006, 0, false);
  HWND dialog = FindFileDialog();
  if (!dialog) Fail("no File Open dialog");
  Print("dialog: File Open");
  HWND edit = FileNameEdit(dialog);
  if (!edit) {
    EnumChildWindows(
        dialog,
        [](HWND child, LPARAM) -> BOOL {
          char name[64] = {};
          GetClassNameA(child, name, sizeof(name));
          Print(Join("child: ", std::to_string(GetDlgCtrlID(child)), " ", name));
          return TRUE;
        },
        0);
    Fail("no file name box in the dialog");
  }
  SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
  if (!WaitFor(kShortMs, [&] { return !IsWindow(dialog); })) Fail("the dialog stayed open");
  // Done when a final text has replaced the old one and the buttons are back.
  const bool done = WaitFor(kOperationMs, [&] {
    const std::wstring now = Status();
    return now != before && !EndsWithDots(now) && IsWindowEnabled(Control(1006));
  });
  if (!done) Fail("write did not finish");
}

// The File Open dialog answered with `path`; the write then runs on.
void StartWrite(const std::string& path) {
  Command(1006, 0, false);
  HWND dialog = FindFileDialog();
  if (!dialog) Fail("no File Open dialog");
  HWND edit = FileNameEdit(dialog);
  if (!edit) Fail("no file name box in the dialog");
  SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
  if (!WaitFor(kShortMs, [&] { return !IsWindow(dialog); })) Fail("the dialog stayed open");
}

// The operation has ended: the buttons are back and the text is no step text.
void WaitDone() {
  const bool done = WaitFor(kOperationMs, [] {
    const std::wstring now = Status();
    return !EndsWithDots(now) && now != kNoAnswer && IsWindowEnabled(Control(1006));
  });
  if (!done) Fail("the operation did not finish");
}

// The window's message box (a question), once it shows.
HWND FindBox() {
  return FindDialog(L"Quillon", kOperationMs);
}

void PrintBox() {
  HWND box = FindBox();
  if (!box) Fail("no question");
  std::wstring text;
  for (HWND child = FindWindowExW(box, nullptr, L"Static", nullptr); child;
       child = FindWindowExW(box, child, L"Static", nullptr)) {
    const std::wstring part = WindowText(child);
    if (part.size() > text.size()) text = part;
  }
  Print(Join("box: ", OneLine(text)));
}

void Answer(const std::string& answer) {
  HWND box = FindBox();
  if (!box) Fail("no question to answer");
  const int id = answer == "yes" ? IDYES : IDNO;
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
  if (!WaitFor(kShortMs, [&] { return !IsWindow(box); })) Fail("the question stayed open");
}

// Whether the whole status text can be reached: its lines, whether the
// scroll bar shows, and whether scrolling to the end moves the view.
void PrintStatusView() {
  HWND status = Control(kStatusText);
  const LRESULT lines = SendMessageW(status, EM_GETLINECOUNT, 0, 0);
  const bool bar = (GetWindowLongPtrW(status, GWL_STYLE) & WS_VSCROLL) != 0;
  SendMessageW(status, WM_VSCROLL, SB_BOTTOM, 0);
  const LRESULT first = SendMessageW(status, EM_GETFIRSTVISIBLELINE, 0, 0);
  SendMessageW(status, WM_VSCROLL, SB_TOP, 0);
  Print(Join("status-view: lines=", std::to_string(lines), " bar=", bar ? "1" : "0",
             " scrolls=", first > 0 ? "1" : "0"));
}

// Where the progress bar ends against the client area.
void PrintLayout() {
  RECT client{}, bar{};
  GetClientRect(g_window, &client);
  GetWindowRect(Control(1009), &bar);
  MapWindowPoints(nullptr, g_window, reinterpret_cast<POINT*>(&bar), 2);
  Print(Join("layout: bar-bottom=", std::to_string(bar.bottom),
             " client-bottom=", std::to_string(client.bottom)));
}

HWND Focus() {
  GUITHREADINFO info{};
  info.cbSize = sizeof(info);
  GetGUIThreadInfo(GetWindowThreadProcessId(g_window, nullptr), &info);
  return info.hwndFocus;
}

// A key pressed on the focused control, as the keyboard delivers it.
void Key(WPARAM key) {
  HWND focus = Focus();
  if (!focus) {
    // Without a window manager the window may not be active yet.
    SetForegroundWindow(g_window);
    WaitFor(kShortMs, [&] { return (focus = Focus()) != nullptr; });
  }
  if (!focus) Fail("nothing has the keyboard");
  PostMessageW(focus, WM_KEYDOWN, key, 1);
  PostMessageW(focus, WM_KEYUP, key, 0xC0000001);
  Sleep(200);
}

// The id of the control with the keyboard; the edit inside a drop-down
// list stands for the list. 0: none.
int FocusedId() {
  HWND focus = Focus();
  if (focus && GetParent(focus) != g_window) focus = GetParent(focus);
  return focus && GetParent(focus) == g_window ? GetDlgCtrlID(focus) : 0;
}

void TypeKeys(std::initializer_list<WORD> down_then_up) {
  std::vector<INPUT> inputs;
  for (WORD key : down_then_up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    inputs.push_back(input);
  }
  for (auto it = down_then_up.end(); it != down_then_up.begin();) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = *--it;
    input.ki.dwFlags = KEYEVENTF_KEYUP;
    inputs.push_back(input);
  }
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

// Alt and a letter from the keyboard: the menu it opens, by its first item.
void AltKey(char letter) {
  SetForegroundWindow(g_window);
  Sleep(200);
  TypeKeys({VK_MENU, static_cast<WORD>(letter)});
  HWND popup = nullptr;
  const bool open = WaitFor(kShortMs, [&] {
    popup = FindWindowW(L"#32768", nullptr);
    return popup != nullptr && IsWindowVisible(popup);
  });
  if (!open) Fail("no menu opened");
  // Which menu it is shows in where it opens and how tall it is (the menu
  // itself lives in the other process).
  RECT rect{}, window{};
  GetWindowRect(popup, &rect);
  GetWindowRect(g_window, &window);
  Print(Join("menu-open: x=", std::to_string(rect.left - window.left),
             " height=", std::to_string(rect.bottom - rect.top)));
  TypeKeys({VK_ESCAPE});
  TypeKeys({VK_ESCAPE});
  WaitFor(kShortMs, [] {
    HWND left = FindWindowW(L"#32768", nullptr);
    return left == nullptr || !IsWindowVisible(left);
  });
}

void PrintFocus() {
  Print(Join("focus: ", std::to_string(FocusedId())));
}

void CancelWrite() {
  Command(1006, 0, false);
  HWND dialog = FindFileDialog();
  if (!dialog) Fail("no File Open dialog");
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
  if (!WaitFor(kShortMs, [&] { return !IsWindow(dialog); })) Fail("the dialog stayed open");
}

void PrintMenu(int id) {
  MENUITEMINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = MIIM_STATE;
  HMENU menu = GetMenu(g_window);
  if (!menu || !GetMenuItemInfoW(menu, static_cast<UINT>(id), FALSE, &info)) {
    Print(Join("menu: ", std::to_string(id), " unreadable"));
    return;
  }
  Print(Join("menu: ", std::to_string(id), " state=", std::to_string(info.fState)));
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& step = args[i];
    if (g_window == nullptr) FindMainWindow();
    auto next = [&]() -> std::string {
      if (i + 1 >= args.size()) Fail(Join(step, " needs an argument"));
      return args[++i];
    };
    if (step == "window") {
      FindMainWindow();
      Print("window: found");
    } else if (step == "com") {
      const int n = Number(next());
      SendMessageW(Control(1000), CB_SETCURSEL, static_cast<WPARAM>(n - 1), 0);
      Command(1000, CBN_SELCHANGE, true);
    } else if (step == "click") {
      Command(Number(next()), 0, true);
    } else if (step == "post") {
      Command(Number(next()), 0, false);
    } else if (step == "write") {
      Write(next());
    } else if (step == "write-start") {
      StartWrite(next());
    } else if (step == "wait-done") {
      WaitDone();
    } else if (step == "box") {
      PrintBox();
    } else if (step == "answer") {
      Answer(next());
    } else if (step == "status-view") {
      PrintStatusView();
    } else if (step == "scroll-end") {
      SendMessageW(Control(kStatusText), WM_VSCROLL, SB_BOTTOM, 0);
    } else if (step == "layout") {
      PrintLayout();
    } else if (step == "wait-text") {
      const std::wstring prefix = WindowTextOf(next());
      if (!WaitFor(kOperationMs, [&] { return Status().rfind(prefix, 0) == 0; }))
        Fail("the status never began with the text");
    } else if (step == "tab-to") {
      const int id = Number(next());
      int presses = 0;
      for (; presses < 12 && FocusedId() != id; ++presses) Key(VK_TAB);
      if (FocusedId() != id) Fail(Join("Tab never reached ", std::to_string(id)));
      Print(Join("tabs: ", std::to_string(presses)));
    } else if (step == "alt") {
      AltKey(next()[0]);
    } else if (step == "focus") {
      PrintFocus();
    } else if (step == "key") {
      const std::string name = next();
      Key(name == "tab" ? VK_TAB : name == "space" ? VK_SPACE : VK_RETURN);
    } else if (step == "cancel-write") {
      CancelWrite();
    } else if (step == "status") {
      PrintStatus();
    } else if (step == "enabled") {
      PrintEnabled();
    } else if (step == "menu") {
      PrintMenu(Number(next()));
    } else if (step == "wait-busy") {
      const int id = Number(next());
      if (!WaitFor(kShortMs, [id] { return !IsWindowEnabled(Control(id)); }))
        Fail("the operation did not start");
      Print(Join("busy: ", std::to_string(id)));
    } else if (step == "close") {
      PostMessageW(g_window, WM_CLOSE, 0, 0);
    } else if (step == "wait-gone") {
      if (!WaitFor(kShortMs, [] { return !IsWindow(g_window); })) Fail("the window is still there");
      Print("gone: yes");
    } else if (step == "watch") {
      // Every distinct status text for a while (diagnostics).
      std::wstring last;
      const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(Number(next()));
      while (GetTickCount64() < end) {
        const std::wstring now = Status();
        if (now != last) Print(Join("seen: ", OneLine(now)));
        last = now;
        Sleep(1);
      }
    } else if (step == "sleep") {
      Sleep(static_cast<DWORD>(Number(next())));
    } else {
      Fail(Join("unknown step ", step));
    }
  }
  return 0;
}
