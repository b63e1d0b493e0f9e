// What the Linux source reads of processes: the ini text of desktop entries
// and sandboxes, a look that answers a cycle's questions about a process from
// one visit, and the pid namespaces told from one link.
#include "platform/linux/identity/process_files.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <dirent.h>

#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "fixture_tree.h"
#include "installed_executable.h"
#include "platform/linux/identity/host_pids.h"
#include "platform/linux/identity/identity.h"
#include "platform/linux/identity/ini_text.h"

namespace {

using linux_source::ProcessLook;

TEST(IniText, ValuesOfOneGroupInOnePass) {
  struct Case {
    const char* what;
    std::string text;
    std::vector<std::string> expected;  // Name, Exec, TryExec
  };
  const std::vector<Case> cases = {
      {"all three", "[Desktop Entry]\nName=A\nExec=a %U\nTryExec=/usr/bin/a\n", {"A", "a %U", "/usr/bin/a"}},
      {"the first line of a key counts", "[Desktop Entry]\nName=A\nName=B\nExec=x", {"A", "x", ""}},
      {"an empty value is a value", "[Desktop Entry]\nName=\nName=B\n", {"", "", ""}},
      {"other groups do not count", "[Desktop Action new]\nName=New\nExec=n\n[Desktop Entry]\nName=A\n", {"A", "", ""}},
      {"a group that comes back", "[Desktop Entry]\nExec=x\n[Other]\nName=O\n[Desktop Entry]\nName=A\n", {"A", "x", ""}},
      {"localized names and longer keys", "[Desktop Entry]\nName[de]=D\nNameX=X\nExecutable=e\nName=A\n", {"A", "", ""}},
      {"not quite a group header", "[Desktop Entry] x\nName=A\n[Desktop Entry\nName=B\n", {"", "", ""}},
      {"before any group", "Name=A\n[Desktop Entry]\nExec=x\n", {"", "x", ""}},
      {"no text", "", {"", "", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(linux_source::iniValues(c.text, "Desktop Entry", {"Name", "Exec", "TryExec"}), c.expected);
    // One key at a time answers the same.
    EXPECT_EQ(linux_source::iniValue(c.text, "Desktop Entry", "Name"), c.expected[0]);
    EXPECT_EQ(linux_source::iniValue(c.text, "Desktop Entry", "TryExec"), c.expected[2]);
  }
  EXPECT_EQ(linux_source::textLines("a\n\nb"), (std::vector<std::string_view>{"a", "", "b"}));
}

void addProcess(const FixtureTree& tree, pid_t pid, const std::string& comm, const std::string& exe) {
  const std::string dir = "/proc/" + std::to_string(pid);
  tree.write(dir + "/stat", std::to_string(pid) + " (" + comm + ") S 1 1 1 0 -1\n");
  tree.write(dir + "/cgroup", "0::/user.slice/user-1000.slice/session-2.scope\n");
  std::filesystem::remove(tree.path(dir + "/exe"));
  tree.link(dir + "/exe", exe);
}

TEST(ProcessLook, AProcessThatExecsBetweenTwoLooksIsSeenAnew) {
  FixtureTree tree;
  FixtureTree other;
  const linux_source::IdentityPlaces places{tree.root(), {"/usr/share"}};
  addProcess(tree, 70, "firefox", "/usr/lib/firefox/firefox");
  install(tree, 70, "/usr/lib/firefox/firefox");  // a browser's name counts for an installed one only
  addProcess(other, 70, "pw-record", "/usr/bin/pw-record");
  {
    ProcessLook look(tree.root());
    EXPECT_EQ(linux_source::identify(70, places)->bundleIdentifier, "org.mozilla.firefox");
    // The process execs while the look is open: the look answers what it read.
    addProcess(tree, 70, "arecord", "/usr/bin/arecord");
    EXPECT_EQ(linux_source::executablePath(tree.root(), 70), "/usr/lib/firefox/firefox");
    EXPECT_EQ(linux_source::processStat(tree.root(), 70)->command, "firefox");
    // Another root is not answered from this look.
    EXPECT_EQ(linux_source::executablePath(other.root(), 70), "/usr/bin/pw-record");
  }
  // Without a look, every question reads afresh.
  EXPECT_EQ(linux_source::executablePath(tree.root(), 70), "/usr/bin/arecord");
  {
    ProcessLook look(tree.root());
    const auto identity = linux_source::identify(70, places);
    ASSERT_TRUE(identity);
    EXPECT_EQ(identity->bundleIdentifier, "");
    EXPECT_EQ(identity->name, "arecord");
    // Gone since the look began reading: still what the look saw, until the next.
    std::filesystem::remove_all(tree.path("/proc/70"));
    EXPECT_EQ(linux_source::processStat(tree.root(), 70)->command, "arecord");
  }
  ProcessLook look(tree.root());
  EXPECT_FALSE(linux_source::identify(70, places));
  EXPECT_EQ(linux_source::executablePath(tree.root(), 70), "");
}

// NSpid as the kernel writes it in the status file; nothing when unreadable.
std::optional<std::vector<pid_t>> statusNamespacePids(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  if (!status) return std::nullopt;
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("NSpid:", 0) != 0) continue;
    std::istringstream fields(line.substr(6));
    std::vector<pid_t> pids;
    for (pid_t pid = 0; fields >> pid;) pids.push_back(pid);
    return pids;
  }
  return std::nullopt;
}

TEST(ProcessNamespaces, OneLinkAgreesWithTheStatusFile) {
  const auto own = statusNamespacePids(getpid());
  ASSERT_TRUE(own);
  if (own->size() != 1) GTEST_SKIP() << "the tests run in a pid namespace of their own";
  EXPECT_TRUE(linux_source::inProcNamespace("/", getpid()));
  EXPECT_FALSE(linux_source::inProcNamespace("/", -1));
  FixtureTree tree;
  EXPECT_FALSE(linux_source::inProcNamespace(tree.root(), getpid())) << "only the real /proc";

  // A sandboxed process: a pid namespace of its own, where it is pid 1.
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t parent = fork();
  ASSERT_GE(parent, 0);
  if (parent == 0) {
    if (unshare(CLONE_NEWPID) != 0) _exit(1);
    const pid_t inner = fork();
    if (inner == 0) {
      pause();
      _exit(0);
    }
    (void)!write(ready[1], &inner, sizeof inner);
    waitpid(inner, nullptr, 0);
    _exit(0);
  }
  close(ready[1]);
  pid_t sandboxed = -1;
  const bool started = read(ready[0], &sandboxed, sizeof sandboxed) == static_cast<ssize_t>(sizeof sandboxed);
  close(ready[0]);

  // Every process there is: the one link and the status file agree.
  int compared = 0;
  DIR* proc = opendir("/proc");
  ASSERT_NE(proc, nullptr);
  while (const dirent* entry = readdir(proc)) {
    pid_t pid = 0;
    const std::string_view name = entry->d_name;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (error != std::errc() || end != name.data() + name.size()) continue;
    const auto expected = statusNamespacePids(pid);
    const std::vector<pid_t> seen = linux_source::namespacePids("/", pid);
    if (!expected || statusNamespacePids(pid) != expected) continue;  // gone or changing meanwhile
    EXPECT_EQ(seen, *expected) << "pid " << pid;
    ++compared;
  }
  closedir(proc);
  EXPECT_GT(compared, 1);

  if (started) {
    EXPECT_FALSE(linux_source::inProcNamespace("/", sandboxed));
    EXPECT_EQ(linux_source::namespacePids("/", sandboxed), (std::vector<pid_t>{sandboxed, 1}));
    kill(sandboxed, SIGKILL);
  }
  waitpid(parent, nullptr, 0);
  if (!started) GTEST_SKIP() << "no pid namespace could be made here; the sandboxed case was not seen";
}

TEST(ProcessFiles, StatusLongerThanOneReadIsReadWhole) {
  FixtureTree tree;
  const std::string filler(10000, 'x');
  tree.write("/proc/7/status", "Name:\tlong\nGroups:\t" + filler + "\nNSpid:\t7\t3\n");
  EXPECT_EQ(linux_source::namespacePids(tree.root(), 7), (std::vector<pid_t>{7, 3}));
  EXPECT_EQ(linux_source::statusField("Name:\tx\nNSpid:\t7\t3\n", "NSpid"), "\t7\t3");
  EXPECT_EQ(linux_source::statusField("NSpidx:\t1\nNSpid", "NSpid"), "") << "no key without its colon";
}

}  // namespace
