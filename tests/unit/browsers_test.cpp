#include "windows/browsers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(Browsers, TableInOrder) {
  const std::vector<std::string_view> expected = {
      "com.google.Chrome",      "com.brave.Browser",     "com.apple.Safari",
      "company.thebrowser.Browser", "com.microsoft.edgemac", "org.mozilla.firefox",
      "company.thebrowser.dia", "com.operasoftware.Opera", "com.vivaldi.Vivaldi",
      "org.chromium.Chromium"};
  EXPECT_EQ(std::vector<std::string_view>(browsers.begin(), browsers.end()), expected);
}

TEST(IsBrowserBundle, EachEntryAloneAndContinued) {
  for (const std::string_view entry : browsers) {
    SCOPED_TRACE(std::string(entry));
    const std::string e(entry);
    EXPECT_TRUE(isBrowserBundle(e));
    EXPECT_TRUE(isBrowserBundle(e + ".helper"));
    EXPECT_TRUE(isBrowserBundle(e + "Canary"));
    EXPECT_FALSE(isBrowserBundle(e.substr(0, e.size() - 1)));
  }
}

TEST(IsBrowserBundle, Others) {
  struct Case {
    const char* bundle;
    bool browser;
  };
  const std::vector<Case> cases = {
      {"", false},
      {"com", false},
      {"com.google", false},
      {"com.google.chrome", false},
      {"COM.APPLE.SAFARI", false},
      {"org.mozilla.Firefox", false},
      {" com.apple.Safari", false},
      {"us.zoom.xos", false},
      {"org.mozilla.firefoxdeveloperedition", true},
      {"com.google.Chrome.canary", true},
      {"org.chromium.chromium", false},
      {"org.chromium", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bundle);
    EXPECT_EQ(isBrowserBundle(c.bundle), c.browser);
  }
}

TEST(BundleFamily, FirstThreePieces) {
  struct Case {
    const char* bundle;
    const char* family;
  };
  const std::vector<Case> cases = {
      {"", ""},
      {"com", "com"},
      {"com.google", "com.google"},
      {"com.google.Chrome", "com.google.Chrome"},
      {"com.google.Chrome.helper", "com.google.Chrome"},
      {"com.google.Chrome.helper.Renderer", "com.google.Chrome"},
      {"a..b.c", "a..b"},
      {"..", ".."},
      {"...", ".."},
      {".a.b.c", ".a.b"},
      {"a.b.", "a.b."},
      {"a.b.c.", "a.b.c"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bundle);
    EXPECT_EQ(bundleFamily(c.bundle), c.family);
  }
}

}  // namespace
