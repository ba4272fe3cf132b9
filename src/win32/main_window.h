// The main window: class "NORMAL0", its ten controls and menu, and the View
// the application logic draws on. Commands arrive as WM_COMMAND and go to the
// handler given at creation; the status text and progress bar come back
// through the View.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "app/front_end.h"
#include "win32/menus.h"
#include "win32/status_throttle.h"

namespace quillon::win32 {

inline constexpr const char* kWindowClass = "NORMAL0";
inline constexpr const char* kWindowTitle = "Quillon";
inline constexpr DWORD kWindowStyle = 0x10C80000;  // visible, caption, system menu
inline constexpr int kIconResource = 101;

// One control of the main window, in creation order.
struct ControlLayout {
  int id;
  const wchar_t* window_class;
  const wchar_t* text;
  DWORD style;
  DWORD ex_style;
  int x, y, width, height;
};
extern const std::array<ControlLayout, 10> kControls;

class MainWindow : public app::View {
 public:
  struct Hooks {
    // End of WM_CREATE, once the controls exist: the start-up initialisation.
    std::function<void()> created;
    // WM_COMMAND: command id and notification code.
    std::function<void(int, int)> command;
    // A WM_QUIT met by the pump; ends the process unless a test says otherwise.
    std::function<void()> quit;
    // Milliseconds for the status throttle; GetTickCount64 unless replaced.
    std::function<std::uint64_t()> ticks;
    // WM_CLOSE: false keeps the window (an operation still runs).
    std::function<bool()> close;
  };

  explicit MainWindow(HINSTANCE instance);
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Font, brush, menus, class and window, then WM_CREATE runs `hooks.created`.
  // Common controls must have been initialised.
  bool Create(Hooks hooks);
  // Destroys the window (as WM_CLOSE does).
  void Close();

  HWND hwnd() const { return hwnd_; }
  HWND control(int id) const;
  const MenuBar& menus() const { return menus_; }
  HFONT font() const { return font_; }

  // report::StatusSink
  void ShowStatus(std::string_view text, report::StatusKind kind) override;
  void SetProgress(int percent) override;
  void Pump() override;
  // report::OptionMarks
  bool IsChecked(report::Option option) const override;
  // app::View
  void EnableControl(int control_id, bool enabled) override;
  void AddComPort(std::string_view name) override;
  void SelectComIndex(int index) override;
  int SelectedComIndex() const override;
  void AddDeviceName(std::string_view name) override;
  void SelectDeviceName(std::string_view name) override;
  std::string SelectedDeviceName() const override;
  void ResetProgress() override;
  void ToggleOption(report::Option option) override;
  std::string StatusText() const override { return shown_; }

  // Pixels at 96 DPI to pixels of the screen.
  int Scale(int pixels) const;

 private:
  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam);
  void OnCreate();
  void OnCommand(int id, int notification);
  void OnDestroy();
  void PaintStatus(const std::string& text);
  void FlushStatus();
  int LineHeight() const;
  LRESULT DefaultButton() const;
  void FocusControl();
  std::uint64_t Now() const;

  HINSTANCE instance_;
  Hooks hooks_;
  HWND hwnd_ = nullptr;
  std::array<HWND, 10> controls_{};
  HFONT font_ = nullptr;
  HBRUSH brush_ = nullptr;
  MenuBar menus_;
  StatusThrottle throttle_;
  int progress_ = -1;
  int command_depth_ = 0;
  int dpi_ = 96;
  std::string shown_;
  // The control that had the keyboard before the window lost it (or before
  // the control was disabled).
  HWND focus_ = nullptr;
};

}  // namespace quillon::win32
