#include "platform/windows/windows/window_rules.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using windows_source::DesktopFacts;
using windows_source::WindowFacts;

TEST(WindowRules, OnlyVisibleUnownedUncloakedWindowsThatAreNotToolWindows) {
  struct Case {
    const char* what;
    WindowFacts facts;
    bool counts;
  };
  const std::vector<Case> cases = {
      {"an application window", {true, false, false, false}, true},
      {"hidden", {false, false, false, false}, false},
      {"owned (a dialog)", {true, true, false, false}, false},
      {"a tool window", {true, false, true, false}, false},
      {"cloaked", {true, false, false, true}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(windows_source::isApplicationWindow(c.facts), c.counts);
  }
}

TEST(WindowRules, TitlesAreReadableOnlyOnTheUsersDesktop) {
  struct Case {
    const char* what;
    DesktopFacts facts;
    bool readable;
  };
  const std::vector<Case> cases = {
      {"a user's session", {1, true, "Default"}, true},
      {"the name in another case", {2, true, "default"}, true},
      {"a service in session 0", {0, true, "Default"}, false},
      {"a window station without a display", {1, false, "Default"}, false},
      {"another desktop", {1, true, "Winlogon"}, false},
      {"no desktop", {1, true, ""}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(windows_source::titlesReadable(c.facts), c.readable);
  }
}

}  // namespace
