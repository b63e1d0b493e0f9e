#include "platform/windows/windows/window_rules.h"

#include "platform/windows/sound/consent_entries.h"

namespace windows_source {

bool isApplicationWindow(const WindowFacts& facts) {
  return facts.visible && !facts.owned && !facts.toolWindow && !facts.cloaked;
}

bool titlesReadable(const DesktopFacts& facts) {
  return facts.session != 0 && facts.interactiveStation && sameName(facts.threadDesktop, "Default");
}

}  // namespace windows_source
