// A Windows program with top-level windows of every kind the monitor must
// tell apart: two application windows (one with a hostile title), a tool
// window, a window owned by another, and a hidden one. It prints its pid once
// the windows stand, and ends when its standard input closes or after a minute.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

LRESULT CALLBACK handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_TIMER) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

HWND make(const wchar_t* title, DWORD extendedStyle, HWND owner, bool shown) {
  HWND window = CreateWindowExW(extendedStyle, L"QuorbelTitledWindow", title, WS_OVERLAPPEDWINDOW, 10, 10, 200, 100,
                                owner, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (window != nullptr && shown) ShowWindow(window, SW_SHOWNOACTIVATE);
  return window;
}

DWORD WINAPI waitForStandardInput(LPVOID thread) {
  char ignored[64];
  while (std::fread(ignored, 1, sizeof ignored, stdin) > 0) {
  }
  PostThreadMessageW(static_cast<DWORD>(reinterpret_cast<UINT_PTR>(thread)), WM_QUIT, 0, 0);
  return 0;
}

}  // namespace

int main() {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = handle;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"QuorbelTitledWindow";
  if (RegisterClassW(&windowClass) == 0) return 1;

  // Quotes, a backslash, a tab, a character beyond the BMP and a lone surrogate.
  std::wstring hostile = L"Call \"Q3\" \\ tab\t end \U0001F3A4";
  hostile += static_cast<wchar_t>(0xD800);
  hostile += L"!";
  HWND main = make(hostile.c_str(), 0, nullptr, true);
  make(L"Second window", 0, nullptr, true);
  make(L"Tool window", WS_EX_TOOLWINDOW, nullptr, true);
  make(L"Owned window", 0, main, true);
  make(L"Hidden window", 0, nullptr, false);
  SetTimer(main, 1, 60000, nullptr);

  std::printf("%lu\n", static_cast<unsigned long>(GetCurrentProcessId()));
  std::fflush(stdout);
  CreateThread(nullptr, 0, waitForStandardInput, reinterpret_cast<LPVOID>(static_cast<UINT_PTR>(GetCurrentThreadId())),
               0, nullptr);

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}
