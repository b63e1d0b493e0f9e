#include "platform/windows/windows/desktop_windows.h"

#include <windows.h>
#include <dwmapi.h>

#include "platform/windows/sound/consent_entries.h"
#include "platform/windows/wide_text.h"
#include "platform/windows/windows/utf16_text.h"

namespace windows_source {
namespace {

constexpr std::size_t kMostWindows = 8192;
constexpr int kLongestTitle = 65536;  // UTF-16 units, as X titles are read up to 64 KiB

bool cloaked(HWND window) {
  DWORD value = 0;
  // Not every system can answer (Wine cannot): a window then counts as shown.
  return SUCCEEDED(DwmGetWindowAttribute(window, DWMWA_CLOAKED, &value, sizeof value)) && value != 0;
}

std::string titleOf(HWND window) {
  const int length = GetWindowTextLengthW(window);
  if (length <= 0) return {};
  std::u16string title(static_cast<std::size_t>(length < kLongestTitle ? length : kLongestTitle) + 1, u'\0');
  const int copied = GetWindowTextW(window, reinterpret_cast<wchar_t*>(title.data()), static_cast<int>(title.size()));
  title.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
  return utf8FromUtf16(title);
}

BOOL CALLBACK collect(HWND window, LPARAM context) {
  auto& windows = *reinterpret_cast<std::vector<TopLevelWindow>*>(context);
  if (windows.size() >= kMostWindows) return FALSE;
  WindowFacts facts;
  facts.visible = IsWindowVisible(window) != 0;
  facts.owned = GetWindow(window, GW_OWNER) != nullptr;
  facts.toolWindow = (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) != 0;
  facts.cloaked = facts.visible && cloaked(window);
  if (!isApplicationWindow(facts)) return TRUE;
  DWORD owner = 0;
  if (GetWindowThreadProcessId(window, &owner) == 0) return TRUE;
  windows.push_back(TopLevelWindow{owner, titleOf(window)});
  return TRUE;
}

std::string objectName(HANDLE object) {
  wchar_t name[256];
  DWORD needed = 0;
  if (!GetUserObjectInformationW(object, UOI_NAME, name, sizeof name, &needed)) return {};
  name[sizeof name / sizeof name[0] - 1] = L'\0';
  return utf8FromWide(name);
}

}  // namespace

std::vector<TopLevelWindow> applicationWindows() {
  std::vector<TopLevelWindow> windows;
  EnumWindows(collect, reinterpret_cast<LPARAM>(&windows));
  return windows;
}

DesktopFacts desktopFacts() {
  DesktopFacts facts;
  DWORD session = 0;
  if (ProcessIdToSessionId(GetCurrentProcessId(), &session)) facts.session = session;
  if (HWINSTA station = GetProcessWindowStation(); station != nullptr) {
    USEROBJECTFLAGS flags{};
    DWORD needed = 0;
    facts.interactiveStation = GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed) &&
                               (flags.dwFlags & WSF_VISIBLE) != 0 && sameName(objectName(station), "WinSta0");
  }
  if (HDESK desktop = GetThreadDesktop(GetCurrentThreadId()); desktop != nullptr) facts.threadDesktop = objectName(desktop);
  return facts;
}

}  // namespace windows_source
