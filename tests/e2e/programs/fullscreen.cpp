// A borderless window covering the primary monitor, as a game shows:
// fullscreen.exe READYFILE SECONDS. Writes the ready file once the window is
// in front, closes the window after SECONDS and exits.
#include <windows.h>

#include <shellapi.h>

#include <cwchar>

namespace {

LRESULT CALLBACK window_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc < 3) return 2;
  const UINT seconds = static_cast<UINT>(wcstoul(argv[2], nullptr, 10));

  WNDCLASSW wc{};
  wc.lpfnWndProc = window_proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"TarnwickE2EFullScreen";
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  if (!RegisterClassW(&wc)) return 3;
  HWND hwnd =
      CreateWindowExW(WS_EX_TOPMOST, wc.lpszClassName, L"full screen", WS_POPUP | WS_VISIBLE, 0, 0,
                      GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), nullptr,
                      nullptr, wc.hInstance, nullptr);
  if (hwnd == nullptr) return 4;
  SetForegroundWindow(hwnd);
  constexpr UINT_PTR kClose = 1, kCheckFront = 2;
  SetTimer(hwnd, kClose, seconds * 1000, nullptr);
  SetTimer(hwnd, kCheckFront, 100, nullptr);

  MSG msg;
  for (;;) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0 || got == -1) break;
    if (msg.message == WM_TIMER && msg.hwnd == hwnd && msg.wParam == kCheckFront) {
      if (GetForegroundWindow() == hwnd) {
        KillTimer(hwnd, kCheckFront);
        HANDLE f = CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
      }
      continue;
    }
    if (msg.message == WM_TIMER && msg.hwnd == hwnd && msg.wParam == kClose) {
      DestroyWindow(hwnd);
      continue;
    }
    DispatchMessageW(&msg);
  }
  return 0;
}
