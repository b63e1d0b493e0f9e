#include "platform/linux/windows/flatpak_proxy.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixture_tree.h"

namespace {

struct Process {
  pid_t pid;
  pid_t parent;
  std::string exe;
  std::string instance;  // the instance-id of its /.flatpak-info; none when empty
};

// Two Flatpak instances of one browser as Flatpak runs them: each one's bus
// proxy under a bubblewrap of its own, the application under another, whose
// first child inside is the browser, with helpers below it.
const std::vector<Process> kDesktop = {
    {100, 1, "/usr/bin/bwrap", ""},
    {101, 100, "/usr/bin/xdg-dbus-proxy", "111"},
    {200, 1, "/usr/bin/bwrap", ""},
    {201, 200, "/usr/bin/bwrap", "111"},
    {202, 201, "/app/chromium/chromium", "111"},
    {203, 202, "/app/chromium/chromium", "111"},
    {300, 1, "/usr/bin/bwrap", ""},
    {301, 300, "/usr/bin/xdg-dbus-proxy", "222"},
    {400, 1, "/usr/bin/bwrap", ""},
    {401, 400, "/usr/bin/bwrap", "222"},
    {402, 401, "/app/chromium/chromium", "222"},
    {500, 1, "/usr/bin/xdg-dbus-proxy", ""},   // a proxy outside any Flatpak
    {600, 1, "/usr/bin/xdg-dbus-proxy", "999"},  // an instance with nothing else left
    {700, 1, "/usr/bin/firefox", "111"},         // not a proxy: itself, whatever its sandbox
};

void addProcess(const FixtureTree& tree, const Process& process) {
  const std::string dir = "/proc/" + std::to_string(process.pid);
  tree.write(dir + "/stat", std::to_string(process.pid) + " (x) S " + std::to_string(process.parent) + " 1 1 0 -1\n");
  tree.link(dir + "/exe", process.exe);
  if (!process.instance.empty())
    tree.write(dir + "/root/.flatpak-info",
               "[Application]\nname=org.chromium.Chromium\n\n[Instance]\ninstance-id=" + process.instance + "\n");
}

TEST(FlatpakProxy, TheApplicationOfTheSameInstance) {
  FixtureTree tree;
  for (const Process& process : kDesktop) addProcess(tree, process);
  struct Case {
    pid_t asked;
    pid_t application;
  };
  const std::vector<Case> cases = {
      {101, 202},  // the first of the instance below its bubblewrap, not a helper
      {301, 402},
      {500, 500},
      {600, 600},
      {202, 202},
      {700, 700},
      {999, 999},  // gone
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.asked);
    EXPECT_EQ(linux_source::applicationBehindProxy(tree.root(), c.asked), c.application);
  }
}

}  // namespace
