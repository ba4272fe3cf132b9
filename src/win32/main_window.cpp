#include "win32/main_window.h"

#include <commctrl.h>

#include <vector>

#include "app/ids.h"
#include "win32/message_pump.h"
#include "win32/wide_text.h"

namespace quillon::win32 {

namespace {

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr DWORD kButton = kChild | WS_TABSTOP;
// Child, visible, vertical scroll, sorted drop-down.
constexpr DWORD kListStyle = 0x50200102 | WS_TABSTOP;
// Read-only and multi-line, so a long text can be scrolled, selected and copied.
constexpr DWORD kStatusStyle =
    kChild | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL;

std::size_t ControlIndex(int id) {
  return static_cast<std::size_t>(id - app::kComList);
}

int ScreenDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

}  // namespace

const std::array<ControlLayout, 10> kControls = {{
    {app::kComList, L"COMBOBOX", L"", kListStyle, 0, 5, 5, 120, 25},
    {app::kConnectButton, L"BUTTON", L"Connect", kButton, 0, 140, 5, 50, 20},
    {app::kDeviceList, L"COMBOBOX", L"", kListStyle, 0, 5, 30, 135, 25},
    {app::kDetectButton, L"BUTTON", L"Detect", kButton, 0, 140, 30, 50, 20},
    {app::kEraseButton, L"BUTTON", L"Erase", kButton, 0, 5, 55, 80, 25},
    {app::kCheckButton, L"BUTTON", L"Check", kButton, 0, 110, 55, 80, 25},
    {app::kWriteButton, L"BUTTON", L"Write", kButton, 0, 5, 85, 80, 25},
    {app::kReadButton, L"BUTTON", L"Read", kButton, 0, 111, 85, 80, 25},
    {app::kStatusText, L"EDIT", L"Text1", kStatusStyle, WS_EX_STATICEDGE, 5, 120, 185, 100},
    {app::kProgressBar, PROGRESS_CLASSW, L"", kChild | PBS_SMOOTH, WS_EX_STATICEDGE, 5, 225, 185,
     20},
}};

MainWindow::MainWindow(HINSTANCE instance) : instance_(instance) {}

MainWindow::~MainWindow() {
  if (hwnd_) DestroyWindow(hwnd_);
  // The class background is this window's brush, which is gone now; the next
  // window registers the class afresh.
  UnregisterClassA(kWindowClass, instance_);
  menus_.Destroy();
  if (font_) DeleteObject(font_);
  if (brush_) DeleteObject(brush_);
}

bool MainWindow::Create(Hooks hooks) {
  hooks_ = std::move(hooks);
  dpi_ = ScreenDpi();
  // The Japanese texts need a font with the Shift-JIS character set.
  font_ = CreateFontW(-Scale(12), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET,
                      OUT_STRING_PRECIS, CLIP_STROKE_PRECIS, DRAFT_QUALITY, FF_SWISS,
                      L"ＭＳ Ｐゴシック");
  brush_ = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
  if (!menus_.Build()) return false;

  HICON icon = LoadIconA(instance_, MAKEINTRESOURCEA(kIconResource));
  WNDCLASSEXA window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
  window_class.lpfnWndProc = &MainWindow::Procedure;
  window_class.hInstance = instance_;
  window_class.hIcon = icon;
  window_class.hIconSm = icon;
  window_class.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  window_class.hbrBackground = brush_;
  window_class.lpszClassName = kWindowClass;
  if (!RegisterClassExA(&window_class)) return false;

  CreateWindowExA(0, kWindowClass, kWindowTitle, kWindowStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                  Scale(200), Scale(300), nullptr, nullptr, instance_, this);
  if (hwnd_ == nullptr) return false;
  FocusControl();
  // Caption and menu do not grow in step with the layout: a window that
  // would cut off the progress bar grows to show it.
  RECT client{}, frame{};
  GetClientRect(hwnd_, &client);
  GetWindowRect(hwnd_, &frame);
  const int needed = Scale(kControls.back().y + kControls.back().height + 2);
  if (client.bottom < needed) {
    SetWindowPos(hwnd_, nullptr, 0, 0, frame.right - frame.left,
                 frame.bottom - frame.top + needed - client.bottom, SWP_NOMOVE | SWP_NOZORDER);
  }
  return true;
}

int MainWindow::Scale(int pixels) const {
  return MulDiv(pixels, dpi_, 96);
}

void MainWindow::Close() {
  if (hwnd_) SendMessageA(hwnd_, WM_CLOSE, 0, 0);
}

HWND MainWindow::control(int id) const {
  if (id < app::kComList || id > app::kProgressBar) return nullptr;
  return controls_[ControlIndex(id)];
}

LRESULT CALLBACK MainWindow::Procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* window =
        static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTA*>(lparam)->lpCreateParams);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
    window->hwnd_ = hwnd;
  }
  auto* window = reinterpret_cast<MainWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (window == nullptr) return DefWindowProcA(hwnd, message, wparam, lparam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    window->hwnd_ = nullptr;
    window->controls_.fill(nullptr);
    return DefWindowProcA(hwnd, message, wparam, lparam);
  }
  return window->Handle(message, wparam, lparam);
}

LRESULT MainWindow::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE:
      OnCreate();
      return 0;
    case WM_COMMAND:
      // Scrolling the status copies its lines; Wine leaves the part-line
      // strip at the bottom stale, so the whole text is painted afresh.
      if (LOWORD(wparam) == app::kStatusText && HIWORD(wparam) == EN_VSCROLL) {
        InvalidateRect(reinterpret_cast<HWND>(lparam), nullptr, TRUE);
      }
      OnCommand(LOWORD(wparam), HIWORD(wparam));
      return 0;
    case WM_CLOSE:
      // While an operation runs the application decides, and ends the
      // process itself once the operation has stopped.
      if (!hooks_.close || hooks_.close()) DestroyWindow(hwnd_);
      return 0;
    case DM_GETDEFID:
      return DefaultButton();
    case WM_ACTIVATE:
      if (LOWORD(wparam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(hwnd_, focus)) focus_ = focus;
      }
      return DefWindowProcA(hwnd_, message, wparam, lparam);
    case WM_SETFOCUS:
      FocusControl();
      return 0;
    case WM_DESTROY:
      OnDestroy();
      return 0;
    default:
      return DefWindowProcA(hwnd_, message, wparam, lparam);
  }
}

void MainWindow::OnCreate() {
  SetMenu(hwnd_, menus_.bar());
  for (const ControlLayout& layout : kControls) {
    // Wide controls, so that Japanese texts do not pass through the ANSI code page.
    HWND control = CreateWindowExW(
        layout.ex_style, layout.window_class, layout.text, layout.style, Scale(layout.x),
        Scale(layout.y), Scale(layout.width), Scale(layout.height), hwnd_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(layout.id)), instance_, nullptr);
    controls_[ControlIndex(layout.id)] = control;
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), 0);
  }
  if (hooks_.created) hooks_.created();
}

LRESULT MainWindow::DefaultButton() const {
  // Enter presses the focused button, as in a dialog.
  HWND focus = GetFocus();
  // Only the window's own children: the edit inside a drop-down list has an
  // id of its own that may equal a button's.
  const int id = focus && GetParent(focus) == hwnd_ ? GetDlgCtrlID(focus) : 0;
  if (id < app::kConnectButton || id > app::kReadButton || id == app::kDeviceList) return 0;
  return MAKELRESULT(id, DC_HASDEFID);
}

void MainWindow::FocusControl() {
  HWND target = focus_ && IsWindow(focus_) && IsWindowEnabled(focus_)
                    ? focus_
                    : GetNextDlgTabItem(hwnd_, nullptr, FALSE);
  if (target && target != hwnd_) SetFocus(target);
}

void MainWindow::OnCommand(int id, int notification) {
  // The pump runs inside every command, so a click queued before the controls
  // were disabled (or posted by another program) could start a second
  // operation on the half-used link. Menu commands stay live.
  const bool control_command = id >= app::kComList && id <= app::kReadButton;
  if (control_command && command_depth_ > 0) return;
  ++command_depth_;
  if (hooks_.command) hooks_.command(id, notification);
  --command_depth_;
}

void MainWindow::OnDestroy() {
  // Detached first, so the window never refers to a destroyed menu.
  SetMenu(hwnd_, nullptr);
  menus_.Destroy();
  if (font_) DeleteObject(font_);
  if (brush_) DeleteObject(brush_);
  font_ = nullptr;
  brush_ = nullptr;
  PostQuitMessage(0);
}

std::uint64_t MainWindow::Now() const {
  return hooks_.ticks ? hooks_.ticks() : GetTickCount64();
}

void MainWindow::PaintStatus(const std::string& text) {
  HWND status = control(app::kStatusText);
  if (!status) return;
  SetWindowTextW(status, Utf8ToWide(text).c_str());
  // The scroll bar only for a text longer than the area; twice, since the
  // bar itself narrows the lines.
  const bool had_bar = (GetWindowLongPtrW(status, GWL_STYLE) & WS_VSCROLL) != 0;
  for (int pass = 0; pass < 2; ++pass) {
    RECT area{};
    SendMessageW(status, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&area));
    const LRESULT lines = SendMessageW(status, EM_GETLINECOUNT, 0, 0);
    ShowScrollBar(status, SB_VERT, lines * LineHeight() > area.bottom - area.top);
  }
  // The frame is not repainted by itself when the bar comes or goes.
  if (had_bar != ((GetWindowLongPtrW(status, GWL_STYLE) & WS_VSCROLL) != 0)) {
    SetWindowPos(status, nullptr, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    RedrawWindow(status, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME);
  }
}

int MainWindow::LineHeight() const {
  HWND status = control(app::kStatusText);
  HDC dc = GetDC(status);
  HGDIOBJ old = SelectObject(dc, font_);
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  SelectObject(dc, old);
  ReleaseDC(status, dc);
  return metrics.tmHeight > 0 ? metrics.tmHeight : Scale(12);
}

void MainWindow::FlushStatus() {
  if (auto text = throttle_.Flush(Now())) PaintStatus(*text);
}

void MainWindow::ShowStatus(std::string_view text, report::StatusKind kind) {
  shown_ = std::string(text);
  if (auto paint = throttle_.Offer(text, kind, Now())) PaintStatus(*paint);
  Pump();
}

void MainWindow::SetProgress(int percent) {
  // Only changes are sent: a loop over thousands of rows moves it 100 times.
  if (percent == progress_) return;
  progress_ = percent;
  if (HWND bar = control(app::kProgressBar))
    SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
}

void MainWindow::ResetProgress() {
  HWND bar = control(app::kProgressBar);
  if (!bar) return;
  SendMessageW(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
  SendMessageW(bar, PBM_SETSTEP, 1, 0);
  SendMessageW(bar, PBM_SETPOS, 0, 0);
  progress_ = 0;
}

void MainWindow::Pump() {
  if (auto text = throttle_.TakeDue(Now())) PaintStatus(*text);
  if (PumpMessages(hwnd_)) return;
  if (hooks_.quit) {
    hooks_.quit();
  } else {
    ExitProcess(0);
  }
}

bool MainWindow::IsChecked(report::Option option) const {
  return menus_.IsChecked(OptionCommand(option));
}

void MainWindow::ToggleOption(report::Option option) {
  menus_.ToggleCheck(OptionCommand(option));
}

void MainWindow::EnableControl(int control_id, bool enabled) {
  // Controls come back at the end of an operation: its last text must show.
  if (enabled) FlushStatus();
  HWND control_window = control(control_id);
  if (!control_window) return;
  // A disabled control loses the keyboard; it gets it back when enabled.
  HWND focus = GetFocus();
  if (!enabled && focus && (focus == control_window || IsChild(control_window, focus))) {
    focus_ = control_window;
    EnableWindow(control_window, FALSE);
    SetFocus(hwnd_);
    return;
  }
  EnableWindow(control_window, enabled ? TRUE : FALSE);
  if (enabled && control_window == focus_ && GetActiveWindow() == hwnd_) SetFocus(control_window);
}

void MainWindow::AddComPort(std::string_view name) {
  SendMessageW(control(app::kComList), CB_ADDSTRING, 0,
               reinterpret_cast<LPARAM>(Utf8ToWide(name).c_str()));
}

void MainWindow::SelectComIndex(int index) {
  SendMessageW(control(app::kComList), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int MainWindow::SelectedComIndex() const {
  return static_cast<int>(SendMessageW(control(app::kComList), CB_GETCURSEL, 0, 0));
}

void MainWindow::AddDeviceName(std::string_view name) {
  SendMessageW(control(app::kDeviceList), CB_ADDSTRING, 0,
               reinterpret_cast<LPARAM>(Utf8ToWide(name).c_str()));
}

void MainWindow::SelectDeviceName(std::string_view name) {
  // CB_SELECTSTRING matches a prefix; the exact name is wanted.
  HWND list = control(app::kDeviceList);
  const LRESULT index = SendMessageW(list, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                     reinterpret_cast<LPARAM>(Utf8ToWide(name).c_str()));
  if (index != CB_ERR) SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

std::string MainWindow::SelectedDeviceName() const {
  HWND list = control(app::kDeviceList);
  const LRESULT index = SendMessageW(list, CB_GETCURSEL, 0, 0);
  if (index == CB_ERR) return {};
  const LRESULT length = SendMessageW(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == CB_ERR) return {};
  std::vector<wchar_t> text(static_cast<std::size_t>(length) + 1, L'\0');
  SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(index),
               reinterpret_cast<LPARAM>(text.data()));
  return WideToUtf8(text.data());
}

}  // namespace quillon::win32
