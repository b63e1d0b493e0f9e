// Where the windows of the running applications come from. An application
// with X client windows gets them from the X server; one without (a native
// Wayland client) gets its frames on the accessibility bus. So no window is
// counted twice, whichever way a desktop runs its applications.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/linux/windows/accessibility_bus.h"
#include "platform/linux/windows/x_display.h"
#include "platform/model/scene.h"

namespace linux_source {

// Whether a top-level object is what a person calls one of the application's
// windows: a frame, as the X route counts only normal windows. Not a dialog,
// an alert (Firefox's sharing indicator), a menu, a tooltip or a notification.
bool isApplicationWindow(std::uint32_t role);

// The application's windows among its top-level objects, in its order. A
// frame with an empty name is not one: Chromium's toolkit lists two such
// frames beside each window (the root views of its popups), showing and
// visible like the window itself, which X never lists as windows; every
// window of a browser has a name.
std::vector<model::Window> windowsOfChildren(const std::vector<AccessibleChild>& children);

// The X client windows of pid, in the server's order.
std::vector<model::Window> windowsOfClients(const std::vector<ClientWindow>& windows, pid_t pid);

struct WindowOwner {
  pid_t pid = -1;
  std::optional<AccessibleReference> onBus;  // set when its windows come from the accessibility bus
};

// The processes that own windows: those with X client windows in the order
// of their first window, then the applications on the accessibility bus
// that have none, in the registry's order.
std::vector<WindowOwner> windowOwners(const std::vector<ClientWindow>& xWindows,
                                      const std::vector<AccessibleApplication>& busApplications);

// The window sources of the running desktop, as the model asks for them.
class WindowSources {
 public:
  // A new cycle of questions begins; see AccessibilityBus::beginCycle.
  void beginCycle() { bus_.beginCycle(); }

  // Whether the titles of the session's browsers can be read: in a Wayland
  // session (WAYLAND_DISPLAY set) when the accessibility bus answers and
  // accessibility is switched on; otherwise when the X display answers.
  bool titlesReadable();

  std::vector<WindowOwner> owners();

  // Nothing when neither source can tell.
  std::optional<std::vector<model::Window>> windowsOf(pid_t pid);

  // The X server's notices, to wait on beside a timer; the accessibility bus
  // tells of nothing and is asked again at the next cycle.
  XDisplay& xNotices() { return x_; }

 private:
  std::vector<AccessibleApplication> busApplications();

  XDisplay x_;
  AccessibilityBus bus_;
};

}  // namespace linux_source
