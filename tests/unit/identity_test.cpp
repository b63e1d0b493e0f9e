#include "platform/linux/identity/identity.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "fixture_tree.h"
#include "installed_executable.h"
#include "platform/linux/identity/browser_map.h"
#include "platform/linux/identity/sandbox_ids.h"
#include "platform/linux/windows/x_display.h"

namespace {

using linux_source::identify;
using linux_source::Identity;
using linux_source::IdentityPlaces;

// A process in the tree: its command name, executable (installed), parent and control group.
void addProcess(const FixtureTree& tree, pid_t pid, const std::string& comm, const std::string& exe, pid_t parent = 1,
                const std::string& cgroup = "0::/user.slice/user-1000.slice/session-2.scope\n") {
  const std::string dir = "/proc/" + std::to_string(pid);
  tree.write(dir + "/comm", comm + "\n");
  tree.write(dir + "/stat", std::to_string(pid) + " (" + comm + ") S " + std::to_string(parent) + " 1 1 0 -1\n");
  tree.write(dir + "/cgroup", cgroup);
  if (exe.empty()) return;
  tree.link(dir + "/exe", exe);
  if (exe.front() == '/') install(tree, pid, exe);
}

IdentityPlaces placesOf(const FixtureTree& tree) {
  return IdentityPlaces{tree.root(), {"/home/u/.local/share", "/usr/share"}};
}

TEST(Identity, FirstAnswerWins) {
  struct Case {
    const char* what;
    std::string cgroup;
    std::string flatpakInfo;  // empty: not sandboxed
    std::string exe;
    std::string bundle;
    std::string name;
  };
  const std::string plain = "0::/user.slice/user-1000.slice/session-2.scope\n";
  const std::vector<Case> cases = {
      {"flatpak", "0::/user.slice/app-flatpak-org.example.Chat-123.scope\n",
       "[Application]\nname=org.example.Chat\nruntime=x\n", "/app/bin/chat", "org.example.Chat", "chat"},
      {"flatpak browser", plain, "[Instance]\nname=x\n[Application]\nname=org.mozilla.firefox\n", "/app/firefox",
       "org.mozilla.firefox", "Firefox Web Browser"},
      {"flatpak Chromium", plain, "[Application]\nname=org.chromium.Chromium\n", "/app/chromium/chromium",
       "org.chromium.Chromium", "chromium"},
      {"flatpak Edge", plain, "[Application]\nname=com.microsoft.Edge\n", "/app/extra/msedge", "com.microsoft.edgemac",
       "msedge"},
      {"snap Chromium", "0::/user.slice/snap.chromium.chromium-1a.scope\n", "",
       "/snap/chromium/2/usr/lib/chromium-browser/chrome", "org.chromium.Chromium", "chrome"},
      {"Debian's Chromium", plain, "", "/usr/lib/chromium/chromium", "org.chromium.Chromium", "chromium"},
      {"snap", "0::/user.slice/user@1000.service/app.slice/snap.firefox.firefox-5c1a.scope\n", "",
       "/snap/firefox/1/usr/lib/firefox/firefox", "org.mozilla.firefox", "Firefox Web Browser"},
      {"snap, not a browser", "0::/user.slice/snap.zoom-client.zoom-0b9e.scope\n", "", "/snap/zoom/zoom", "zoom-client",
       "zoom"},
      {"unit scope with launcher", "0::/user.slice/user@1000.service/app.slice/app-gnome-org.example.Rec-4321.scope\n",
       "", "/usr/bin/rec", "org.example.Rec", "rec"},
      {"unit scope without launcher", "0::/app.slice/app-org.example.Rec-77.scope\n", "", "/usr/bin/rec",
       "org.example.Rec", "rec"},
      {"unit service", "0::/app.slice/app-gnome-org.example.Rec@autostart.service\n", "", "/usr/bin/rec",
       "org.example.Rec", "rec"},
      {"unit service without instance", "0::/app.slice/app-org.example.Rec.service\n", "", "/usr/bin/rec",
       "org.example.Rec", "rec"},
      {"escaped unit name", "0::/app.slice/app-gnome-google\\x2dchrome-9.scope\n", "", "/opt/google/chrome/chrome",
       "com.google.Chrome", "chrome"},
      {"unit in a parent group", "0::/app.slice/app-kde-org.example.Rec-1.scope/sub\n", "", "/usr/bin/rec",
       "org.example.Rec", "rec"},
      {"cgroup v1", "12:cpu:/\n1:name=systemd:/user.slice/app-org.example.Rec-2.scope\n", "", "/usr/bin/rec",
       "org.example.Rec", "rec"},
      {"desktop entry by Exec", plain, "", "/usr/lib/firefox-esr/firefox-esr", "org.mozilla.firefox", "Firefox ESR"},
      {"desktop entry by TryExec", plain, "", "/opt/voice/voice-bin", "org.example.Voice", "Voice"},
      {"desktop entry in a subdirectory", plain, "", "/usr/bin/dictate", "vendor-dictate", "Dictate"},
      {"desktop entry behind env", plain, "", "/usr/bin/meet", "meet-app", "Meet"},
      {"user entry wins over system entry", plain, "", "/usr/bin/notes", "my-notes", "My Notes"},
      {"browser by executable name alone", plain, "", "/usr/local/bin/vivaldi-bin", "com.vivaldi.Vivaldi", "vivaldi-bin"},
      {"nothing names it", plain, "", "/usr/bin/arecord", "", "arecord"},
      {"deleted executable", plain, "", "/usr/lib/firefox-esr/firefox-esr (deleted)", "org.mozilla.firefox",
       "Firefox ESR"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FixtureTree tree;
    tree.write("/usr/share/applications/firefox-esr.desktop",
               "[Desktop Entry]\nName=Firefox ESR\nExec=/usr/lib/firefox-esr/firefox-esr %u\n");
    tree.write("/usr/share/applications/firefox.desktop",
               "[Desktop Entry]\nName=Firefox Web Browser\nExec=firefox %u\n");
    tree.write("/usr/share/applications/org.example.Voice.desktop",
               "[Desktop Entry]\nName=Voice\nExec=voice --start\nTryExec=/opt/voice/voice-bin\n");
    tree.write("/usr/share/applications/meet-app.desktop",
               "[Desktop Entry]\nName=Meet\nExec=env GDK_BACKEND=x11 \"/usr/bin/meet\" %U\n");
    tree.write("/usr/share/applications/vendor/dictate.desktop", "[Desktop Entry]\nName=Dictate\nExec=dictate\n");
    tree.write("/usr/share/applications/notes.desktop", "[Desktop Entry]\nName=Notes\nExec=notes\n");
    tree.write("/home/u/.local/share/applications/my-notes.desktop", "[Desktop Entry]\nName=My Notes\nExec=notes\n");
    tree.write("/usr/share/applications/not-an-entry.txt", "Exec=arecord\n");
    const std::string comm = std::filesystem::path(c.exe.substr(0, c.exe.find(' '))).filename();
    addProcess(tree, 40, comm.substr(0, 15), c.exe, 1, c.cgroup);
    if (!c.flatpakInfo.empty()) tree.write("/proc/40/root/.flatpak-info", c.flatpakInfo);
    const auto identity = identify(40, placesOf(tree));
    ASSERT_TRUE(identity);
    EXPECT_EQ(identity->bundleIdentifier, c.bundle);
    EXPECT_EQ(identity->name, c.name);
  }
}

TEST(Identity, BrowserNamesCountOnlyForExecutablesOnlyRootCanReplace) {
  namespace fs = std::filesystem;
  struct Case {
    const char* what;
    std::string exe;
    std::function<void(const FixtureTree&)> change;  // after the package-like install
    std::string cgroup;
    std::string flatpakInfo;
    std::string bundle;
    std::string name;
  };
  const std::string plain = "0::/user.slice/user-1000.slice/session-2.scope\n";
  const auto mode = [](const char* path, fs::perms perms) {
    return [=](const FixtureTree& tree) { fs::permissions(tree.path(std::string("/proc/40/root") + path), perms); };
  };
  const auto owner = [](const char* path, uid_t uid) {
    return [=](const FixtureTree& tree) {
      ASSERT_EQ(::chown(tree.path(std::string("/proc/40/root") + path).c_str(), uid, 0), 0);
    };
  };
  const auto nothing = [](const FixtureTree&) {};
  const fs::perms sharedTmp = fs::perms::all | fs::perms::sticky_bit;
  const fs::perms groupWritable = fs::perms::owner_all | fs::perms::group_all | fs::perms::others_read |
                                  fs::perms::others_exec;
  const fs::perms othersWritable = fs::perms::owner_all | fs::perms::others_write;
  const std::vector<Case> cases = {
      {"Debian's package", "/usr/lib/firefox-esr/firefox-esr", nothing, plain, "", "org.mozilla.firefox", "Firefox ESR"},
      {"a vendor's folder in /opt", "/opt/google/chrome/chrome", nothing, plain, "", "com.google.Chrome", "chrome"},
      {"a copy in a folder anyone may write", "/tmp/x/firefox", mode("/tmp", sharedTmp), plain, "", "", "firefox"},
      {"a folder its group may write", "/opt/firefox/firefox", mode("/opt/firefox", groupWritable), plain, "", "", "firefox"},
      {"an executable others may write", "/usr/bin/chromium", mode("/usr/bin/chromium", othersWritable), plain, "", "",
       "chromium"},
      {"a tarball in a home folder", "/home/u/firefox/firefox", owner("/home/u", 1000), plain, "", "", "firefox"},
      {"the user's own executable in a root folder", "/usr/local/bin/brave", owner("/usr/local/bin/brave", 1000), plain,
       "", "", "brave"},
      {"a browser's unit ID on a copy", "/tmp/x/rec", mode("/tmp", sharedTmp),
       "0::/app.slice/app-org.mozilla.firefox-7.scope\n", "", "", "rec"},
      {"an ID in a browser's family on a copy", "/tmp/x/rec", mode("/tmp", sharedTmp),
       "0::/app.slice/app-com.google.Chrome.Beta-7.scope\n", "", "", "rec"},
      {"the entry's browser name is not borrowed", "/tmp/x/firefox-esr", mode("/tmp", sharedTmp), plain, "", "",
       "firefox-esr"},
      {"other programs keep their IDs wherever they are", "/tmp/x/rec", mode("/tmp", sharedTmp),
       "0::/app.slice/app-org.example.Rec-7.scope\n", "", "org.example.Rec", "rec"},
      {"a Flatpak's ID is the sandbox's word", "/app/firefox/firefox", owner("/app", 1000), plain,
       "[Application]\nname=org.mozilla.firefox\n", "org.mozilla.firefox", "Firefox Web Browser"},
      {"an upgraded browser, its old executable gone", "/usr/lib/firefox-esr/firefox-esr (deleted)", nothing, plain, "",
       "org.mozilla.firefox", "Firefox ESR"},
      {"a removed copy in a folder anyone may write", "/tmp/x/firefox (deleted)", mode("/tmp", sharedTmp), plain, "", "",
       "firefox"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FixtureTree tree;
    tree.write("/usr/share/applications/firefox-esr.desktop",
               "[Desktop Entry]\nName=Firefox ESR\nExec=/usr/lib/firefox-esr/firefox-esr %u\n");
    tree.write("/usr/share/applications/firefox.desktop", "[Desktop Entry]\nName=Firefox Web Browser\nExec=firefox %u\n");
    const std::string comm = fs::path(c.exe.substr(0, c.exe.find(' '))).filename();
    addProcess(tree, 40, comm, c.exe, 1, c.cgroup);
    if (!c.flatpakInfo.empty()) tree.write("/proc/40/root/.flatpak-info", c.flatpakInfo);
    c.change(tree);
    const auto identity = identify(40, placesOf(tree));
    ASSERT_TRUE(identity);
    EXPECT_EQ(identity->bundleIdentifier, c.bundle);
    EXPECT_EQ(identity->name, c.name);
  }
}

TEST(Identity, ABrowsersHelperIsVouchedForByTheBrowsersExecutable) {
  FixtureTree tree;
  addProcess(tree, 100, "firefox", "/tmp/x/firefox");
  addProcess(tree, 101, "firefox", "/tmp/x/firefox", 100);
  addProcess(tree, 200, "firefox", "/usr/lib/firefox/firefox");
  addProcess(tree, 201, "firefox", "/usr/lib/firefox/firefox", 200);
  std::filesystem::permissions(tree.path("/proc/100/root/tmp"), std::filesystem::perms::all);
  EXPECT_EQ(identify(101, placesOf(tree))->bundleIdentifier, "") << "the copy's parent is no browser";
  EXPECT_EQ(identify(201, placesOf(tree))->bundleIdentifier, "org.mozilla.firefox");
}

TEST(Identity, BrowserChildResolvesAsItsParent) {
  FixtureTree tree;
  tree.write("/usr/share/applications/google-chrome.desktop",
             "[Desktop Entry]\nName=Google Chrome\nExec=/usr/bin/google-chrome-stable %U\n");
  addProcess(tree, 100, "chrome", "/opt/google/chrome/chrome", 1,
             "0::/user.slice/app-gnome-google\\x2dchrome-9.scope\n");
  addProcess(tree, 101, "chrome", "/opt/google/chrome/chrome", 100, "0::/user.slice/other.scope\n");  // zygote
  addProcess(tree, 102, "chrome", "/opt/google/chrome/chrome", 101, "0::/user.slice/other.scope\n");  // audio service
  addProcess(tree, 103, "helper", "/usr/bin/helper", 102);
  const auto audio = identify(102, placesOf(tree));
  ASSERT_TRUE(audio);
  EXPECT_EQ(audio->bundleIdentifier, "com.google.Chrome");
  EXPECT_EQ(audio->name, "Google Chrome");
  const auto other = identify(103, placesOf(tree));
  ASSERT_TRUE(other);
  EXPECT_EQ(other->bundleIdentifier, "") << "a child running another program is itself";
}

TEST(Identity, VanishedAndUnreadableProcesses) {
  FixtureTree tree;
  EXPECT_FALSE(identify(50, placesOf(tree))) << "no such process";
  // A process that vanished after its stat was read: nothing else to go on.
  tree.write("/proc/51/stat", "51 (gone) S 1 1 1 0 -1\n");
  const auto gone = identify(51, placesOf(tree));
  ASSERT_TRUE(gone);
  EXPECT_EQ(gone->bundleIdentifier, "");
  EXPECT_EQ(gone->name, "gone");
  // Unreadable files (a directory where a file belongs) count as absent.
  addProcess(tree, 52, "firefox", "/usr/lib/firefox/firefox");
  std::filesystem::remove(tree.path("/proc/52/cgroup"));
  std::filesystem::create_directories(tree.path("/proc/52/cgroup"));
  std::filesystem::create_directories(tree.path("/proc/52/root/.flatpak-info"));
  const auto odd = identify(52, placesOf(tree));
  ASSERT_TRUE(odd);
  EXPECT_EQ(odd->bundleIdentifier, "org.mozilla.firefox");
  // A command name with spaces and parentheses ends at the last ")".
  tree.write("/proc/53/stat", "53 (odd) name) (x) R 52 1 1 0 -1\n");
  const auto odd2 = identify(53, placesOf(tree));
  ASSERT_TRUE(odd2);
  EXPECT_EQ(odd2->name, "odd) name) (x");
  EXPECT_FALSE(identify(-1, placesOf(tree)));
  EXPECT_FALSE(identify(0, placesOf(tree)));
}

TEST(Identity, NothingOutsideTheRootIsRead) {
  FixtureTree tree;
  FixtureTree outside;
  outside.write("/.flatpak-info", "[Application]\nname=org.example.Outside\n");
  outside.write("/usr/share/applications/org.example.Outside.desktop",
                "[Desktop Entry]\nName=Outside\nExec=/usr/bin/rec\n");
  addProcess(tree, 60, "rec", "/usr/bin/rec");
  // Links that lead out of the tree: the sandbox root and the applications directory.
  std::filesystem::remove_all(tree.path("/proc/60/root"));
  tree.link("/proc/60/root", outside.root());
  tree.link("/usr/share/applications", outside.root() + "/usr/share/applications");
  const auto identity = identify(60, placesOf(tree));
  ASSERT_TRUE(identity);
  EXPECT_EQ(identity->bundleIdentifier, "");
  EXPECT_EQ(identity->name, "rec");
}

TEST(Identity, KnownIdentitiesHoldWhileTheExecutableStays) {
  FixtureTree tree;
  linux_source::KnownIdentities known;
  addProcess(tree, 70, "firefox", "/usr/lib/firefox/firefox");
  EXPECT_EQ(linux_source::identifyKnown(70, placesOf(tree), known, 1)->bundleIdentifier, "org.mozilla.firefox");
  // The same pid now runs another program (an exec, or the pid taken again).
  std::filesystem::remove(tree.path("/proc/70/exe"));
  tree.link("/proc/70/exe", "/usr/bin/arecord");
  tree.write("/proc/70/stat", "70 (arecord) S 1 1 1 0 -1\n");
  // Within the epoch the process is not looked at; the next one sees the change.
  EXPECT_EQ(linux_source::identifyKnown(70, placesOf(tree), known, 1)->bundleIdentifier, "org.mozilla.firefox");
  const auto again = linux_source::identifyKnown(70, placesOf(tree), known, 2);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->bundleIdentifier, "");
  EXPECT_EQ(again->name, "arecord");
  // The executable stays from one epoch to the next: the identity is kept,
  // even where its records have changed meanwhile.
  tree.write("/proc/70/stat", "70 (renamed) S 1 1 1 0 -1\n");
  EXPECT_EQ(linux_source::identifyKnown(70, placesOf(tree), known, 3)->name, "arecord");
  // Gone: not answered from what was known.
  std::filesystem::remove_all(tree.path("/proc/70"));
  EXPECT_FALSE(linux_source::identifyKnown(70, placesOf(tree), known, 4));
}

TEST(UnitNames, Unescape) {
  EXPECT_EQ(linux_source::unescapeUnitName("google\\x2dchrome"), "google-chrome");
  EXPECT_EQ(linux_source::unescapeUnitName("a\\x2d\\x2eb"), "a-.b");
  EXPECT_EQ(linux_source::unescapeUnitName("trailing\\x2"), "trailing\\x2");
  EXPECT_EQ(linux_source::unescapeUnitName("bad\\xZZ"), "bad\\xZZ");
}

TEST(BrowserMap, LinuxNamesBecomeBrowserIdentifiers) {
  struct Case {
    const char* name;
    const char* bundle;
  };
  const std::vector<Case> cases = {
      {"google-chrome", "com.google.Chrome"},      {"com.google.Chrome", "com.google.Chrome"},
      {"chrome", "com.google.Chrome"},             {"brave-browser", "com.brave.Browser"},
      {"firefox-esr", "org.mozilla.firefox"},      {"org.mozilla.firefox", "org.mozilla.firefox"},
      {"firefox", "org.mozilla.firefox"},          {"microsoft-edge", "com.microsoft.edgemac"},
      {"msedge", "com.microsoft.edgemac"},         {"opera", "com.operasoftware.Opera"},
      {"vivaldi-stable", "com.vivaldi.Vivaldi"},   {"chromium", "org.chromium.Chromium"},
      {"chromium-browser", "org.chromium.Chromium"}, {"org.chromium.Chromium", "org.chromium.Chromium"},
      {"com.microsoft.Edge", "com.microsoft.edgemac"}, {"com.google.Chrome", "com.google.Chrome"},
      {"Firefox", ""},                             {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(linux_source::browserBundleFor(c.name), c.bundle);
  }
}

TEST(WindowName, LegacyEncodingsBecomeUtf8) {
  EXPECT_EQ(linux_source::windowNameAsUtf8("caf\xE9", true, false), "caf\xC3\xA9");
  EXPECT_EQ(linux_source::windowNameAsUtf8("plain", false, false), "plain");
  EXPECT_EQ(linux_source::windowNameAsUtf8("\xE2\x80\x94", false, false), "\xE2\x80\x94") << "UTF8_STRING as is";
  struct Case {
    const char* what;
    std::string compound;
    std::string utf8;
  };
  const std::vector<Case> cases = {
      {"plain ASCII and Latin-1", "caf\xE9", "caf\xC3\xA9"},
      {"Latin-1 designated", "a\x1B-Ab\xE9", "ab\xC3\xA9"},
      {"UTF-8 segment", "sync \x1B%G\xE2\x80\x94\x1B%@ x", "sync \xE2\x80\x94 x"},
      {"unterminated UTF-8 segment", "\x1B%G\xE4\xBC\x9A", "\xE4\xBC\x9A"},
      {"other right-hand set", "\x1B-B\xB1", "\xEF\xBF\xBD"},
      {"two-byte set on the left", "\x1B$(B\x30\x21\x1B(Bok", "\xEF\xBF\xBD\xEF\xBF\xBDok"},
      {"escape at the end", "x\x1B", "x"},
      {"escape without final byte", "x\x1B%", "x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(linux_source::windowNameAsUtf8(c.compound, false, true), c.utf8);
  }
}

}  // namespace
