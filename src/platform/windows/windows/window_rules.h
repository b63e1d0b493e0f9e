// Which top-level windows are an application's, and whether this process can
// read window titles at all. Windows asks no permission for titles: what
// stops them is running where the user's desktop is not.
#pragma once

#include <cstdint>
#include <string>

namespace windows_source {

struct WindowFacts {
  bool visible = false;
  bool owned = false;       // an owner window: a dialog or a popup of another window
  bool toolWindow = false;  // WS_EX_TOOLWINDOW: palettes and floating bars
  bool cloaked = false;     // DWMWA_CLOAKED: on another virtual desktop, or a suspended app's
};

bool isApplicationWindow(const WindowFacts& facts);

struct DesktopFacts {
  std::uint32_t session = 0;         // the process's Terminal Services session; 0 is the services'
  bool interactiveStation = false;   // the window station is WinSta0 and visible (WSF_VISIBLE)
  std::string threadDesktop;         // the name of the desktop this thread's windows live on
};

// Titles can be read when this process runs in a user's session, on the
// interactive window station, on its Default desktop. A locked screen or a
// secure prompt switches input to another desktop but leaves Default's windows
// and their captions readable.
bool titlesReadable(const DesktopFacts& facts);

}  // namespace windows_source
