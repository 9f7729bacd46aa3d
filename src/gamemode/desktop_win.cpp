#include "gamemode/desktop_win.h"

#include <windows.h>

#include "win/wide_win.h"

namespace tarnwick {

namespace {

ScreenRect screen_rect(const RECT& r) {
  return {r.left, r.top, r.right, r.bottom};
}

}  // namespace

std::optional<ForegroundWindow> WindowsDesktopQuery::foreground() {
  HWND hwnd = GetForegroundWindow();
  if (hwnd == nullptr) return std::nullopt;
  ForegroundWindow w;

  wchar_t name[256];
  const int length = GetClassNameW(hwnd, name, 256);
  if (length > 0) w.class_name = win::narrow(std::wstring_view(name, length));

  RECT rect{};
  if (GetWindowRect(hwnd, &rect)) w.window = screen_rect(rect);

  // The whole monitor, not its work area: a game covers the taskbar too.
  if (HMONITOR monitor = MonitorFromWindow(hwnd, MONITOR_DEFAULTTOPRIMARY)) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (GetMonitorInfoW(monitor, &info)) w.monitor = screen_rect(info.rcMonitor);
  }

  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  w.pid = pid;
  return w;
}

}  // namespace tarnwick
