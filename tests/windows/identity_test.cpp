#include "platform/windows/identity/identity.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using windows_source::ProcessFacts;

TEST(WindowsIdentity, BrowsersGoByTheIdentifiersOfEverySystem) {
  struct Case {
    const char* imagePath;
    const char* bundle;
  };
  const std::vector<Case> cases = {
      {"C:\\Program Files\\Google\\Chrome\\Application\\chrome.exe", "com.google.Chrome"},
      {"C:\\Program Files (x86)\\Microsoft\\Edge\\Application\\msedge.exe", "com.microsoft.edgemac"},
      {"C:\\Program Files\\Mozilla Firefox\\firefox.exe", "org.mozilla.firefox"},
      {"C:\\Users\\a\\AppData\\Local\\BraveSoftware\\Brave-Browser\\Application\\brave.exe", "com.brave.Browser"},
      {"C:\\Users\\a\\AppData\\Local\\Programs\\Opera\\opera.exe", "com.operasoftware.Opera"},
      {"C:\\Users\\a\\AppData\\Local\\Vivaldi\\Application\\vivaldi.exe", "com.vivaldi.Vivaldi"},
      {"C:\\Users\\a\\AppData\\Local\\Chromium\\Application\\chrome.exe", "org.chromium.Chromium"},
      {"C:\\Tools\\CHROME.EXE", "com.google.Chrome"},
      {"C:\\Program Files\\Microsoft\\EdgeWebView\\Application\\msedgewebview2.exe", ""},
      {"C:\\Windows\\notepad.exe", ""},
      {"chrome.exe.bak", ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.imagePath);
    EXPECT_EQ(windows_source::browserBundleForExecutable(c.imagePath), c.bundle);
  }
  EXPECT_EQ(windows_source::browserBundleForPackage("TheBrowserCompany.Arc_ttt1ap7aakyb4"), "company.thebrowser.Browser");
  EXPECT_EQ(windows_source::browserBundleForPackage("Microsoft.WindowsSoundRecorder_8wekyb3d8bbwe"), "");
}

TEST(WindowsIdentity, BundleAndName) {
  struct Case {
    const char* what;
    ProcessFacts facts;
    const char* bundle;
    const char* name;
  };
  const std::vector<Case> cases = {
      {"a browser with its description",
       {"C:\\Program Files\\Google\\Chrome\\Application\\chrome.exe", "Google Chrome", "", ""}, "com.google.Chrome",
       "Google Chrome"},
      {"no version resource: the executable's name", {"C:\\Tools\\rec.exe", "", "", ""}, "", "rec.exe"},
      {"a packaged app by its application ID",
       {"C:\\Program Files\\WindowsApps\\R\\rec.exe", "Sound Recorder", "Microsoft.WindowsSoundRecorder_8wekyb3d8bbwe",
        "Microsoft.WindowsSoundRecorder_8wekyb3d8bbwe!App"},
       "Microsoft.WindowsSoundRecorder_8wekyb3d8bbwe!App", "Sound Recorder"},
      {"a package without an application ID", {"C:\\W\\rec.exe", "", "Pkg_123", ""}, "Pkg_123", "rec.exe"},
      {"Arc by its package", {"C:\\W\\Arc.exe", "Arc", "TheBrowserCompany.Arc_ttt1ap7aakyb4", "x!Arc"},
       "company.thebrowser.Browser", "Arc"},
      {"a process that could not be opened", {}, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const windows_source::Identity identity = windows_source::identityOf(c.facts);
    EXPECT_EQ(identity.bundleIdentifier, c.bundle);
    EXPECT_EQ(identity.name, c.name);
  }
}

TEST(WindowsIdentity, AConsentKeyWithoutAPid) {
  EXPECT_EQ(windows_source::bundleOfConsentKey("C:#Program Files#Mozilla Firefox#firefox.exe", false),
            "org.mozilla.firefox");
  EXPECT_EQ(windows_source::bundleOfConsentKey("C:#Tools#rec.exe", false), "");
  EXPECT_EQ(windows_source::bundleOfConsentKey("TheBrowserCompany.Arc_ttt1ap7aakyb4", true), "company.thebrowser.Browser");
  EXPECT_EQ(windows_source::bundleOfConsentKey("Pkg_123", true), "Pkg_123");
}

}  // namespace
