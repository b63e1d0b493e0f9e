#include "platform/linux/identity/browser_map.h"

#include <array>
#include <initializer_list>

namespace linux_source {
namespace {

struct Browser {
  std::string_view bundle;
  std::initializer_list<std::string_view> names;  // application IDs, desktop IDs, snap names, executables
};

const std::array<Browser, 7> kBrowsers = {{
    {"com.google.Chrome",
     {"com.google.Chrome", "google-chrome", "google-chrome-stable", "google-chrome-beta", "google-chrome-unstable",
      "chrome"}},
    {"com.brave.Browser", {"com.brave.Browser", "brave-browser", "brave-browser-stable", "brave-browser-beta", "brave"}},
    {"org.mozilla.firefox",
     {"org.mozilla.firefox", "org.mozilla.Firefox", "firefox", "firefox-esr", "firefox-bin", "firefox_firefox"}},
    {"com.microsoft.edgemac",
     {"com.microsoft.Edge", "microsoft-edge", "microsoft-edge-stable", "microsoft-edge-beta", "microsoft-edge-dev",
      "msedge"}},
    {"com.operasoftware.Opera", {"com.opera.Opera", "opera", "opera-beta", "opera-developer"}},
    // Debian's executable is chromium, Ubuntu's package and older builds chromium-browser.
    {"org.chromium.Chromium", {"org.chromium.Chromium", "chromium", "chromium-browser"}},
    {"com.vivaldi.Vivaldi", {"com.vivaldi.Vivaldi", "vivaldi", "vivaldi-stable", "vivaldi-snapshot", "vivaldi-bin"}},
}};

}  // namespace

std::string_view browserBundleFor(std::string_view linuxName) {
  for (const Browser& browser : kBrowsers) {
    for (std::string_view name : browser.names)
      if (name == linuxName) return browser.bundle;
  }
  return {};
}

bool namesBrowser(std::string_view id) {
  if (!browserBundleFor(id).empty()) return true;
  for (const Browser& browser : kBrowsers)
    if (id.substr(0, browser.bundle.size()) == browser.bundle) return true;
  return false;
}

}  // namespace linux_source
