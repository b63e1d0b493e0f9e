// The desktop's top-level windows and what decides whether their titles can
// be read from here.
#pragma once

#include <string>
#include <vector>

#include "platform/windows/sound/capture_sessions.h"
#include "platform/windows/windows/window_rules.h"

namespace windows_source {

struct TopLevelWindow {
  ProcessId owner = 0;
  std::string title;
};

// The application windows of this thread's desktop, front to back, with
// their titles. GetWindowTextW reads another process's caption without
// sending it a message, so a hung application cannot hold the cycle.
std::vector<TopLevelWindow> applicationWindows();

DesktopFacts desktopFacts();

}  // namespace windows_source
