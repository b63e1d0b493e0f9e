#include "platform/linux/identity/host_pids.h"

#include <gtest/gtest.h>

#include "fixture_tree.h"
#include "platform/linux/sound/stream_pids.h"

namespace {

using linux_source::PidClues;

struct Process {
  std::vector<pid_t> pids;  // host first, innermost last
  std::string comm;
  std::string exe;        // empty: unreadable, as a kernel thread's or another user's
  std::string flatpakId;  // empty: not in a Flatpak
};

void add(const FixtureTree& tree, const Process& process) {
  const std::string dir = "/proc/" + std::to_string(process.pids.front());
  std::string nspid = "NSpid:";
  for (const pid_t pid : process.pids) nspid += "\t" + std::to_string(pid);
  tree.write(dir + "/status", "Name:\t" + process.comm + "\nUmask:\t0022\nState:\tS (sleeping)\nTgid:\t" +
                                  std::to_string(process.pids.front()) + "\n" + nspid + "\nNSsid:\t1\n");
  tree.write(dir + "/comm", process.comm + "\n");
  if (!process.exe.empty()) tree.link(dir + "/exe", process.exe);
  if (!process.flatpakId.empty())
    tree.write(dir + "/root/.flatpak-info", "[Application]\nname=" + process.flatpakId + "\nruntime=x\n");
}

PidClues clues(const char* binary, const char* appId = "", bool vouched = false) {
  PidClues made;
  made.binary = binary;
  made.appId = appId;
  made.appIdVouched = vouched;
  return made;
}

// A host with init and a kernel thread, as every Linux has.
const Process kInit{{1}, "systemd", "/usr/lib/systemd/systemd", ""};
const Process kKernelThread{{2}, "kthreadd", "", ""};

TEST(HostPids, OneProcessFitsOrNone) {
  struct Case {
    const char* what;
    std::vector<Process> processes;
    pid_t seen;
    PidClues clues;
    std::optional<pid_t> host;
  };
  const Process unshared{{5001, 1}, "parecord", "/usr/bin/pacat", ""};
  const Process bubblewrapped{{5002, 2}, "parecord", "/usr/bin/pacat", "org.mozilla.firefox"};
  const Process otherSandbox{{6002, 2}, "parecord", "/usr/bin/pacat", "org.example.Chat"};
  const std::vector<Case> cases = {
      {"plain host process", {kInit, {{4000}, "parecord", "/usr/bin/pacat", ""}}, 4000, clues("pacat"), 4000},
      {"plain host process, no clues", {kInit, {{4000}, "arecord", "/usr/bin/arecord", ""}}, 4000, {}, 4000},
      {"sandbox pid 1 beside the host's init", {kInit, kKernelThread, unshared}, 1, clues("pacat"), 5001},
      {"sandbox pid 2 beside a kernel thread", {kInit, kKernelThread, bubblewrapped}, 2, clues("pacat"), 5002},
      {"the binary picks the host's process", {kInit, {{2}, "pacat", "/usr/bin/pacat", ""}, {{5002, 2}, "bwrap", "/usr/bin/bwrap", ""}},
       2, clues("pacat"), 2},
      {"the binary picks the sandbox's process", {kInit, {{2}, "pacat", "/usr/bin/pacat", ""}, {{5002, 2}, "bwrap", "/usr/bin/bwrap", ""}},
       2, clues("bwrap"), 5002},
      {"the binary rules out the sandbox's own init", {kInit, {{5000, 1}, "bwrap", "/usr/bin/bwrap", ""}, unshared},
       1, clues("pacat"), 5001},
      {"portal ID picks one of two sandboxes", {kInit, kKernelThread, bubblewrapped, otherSandbox}, 2,
       clues("pacat", "org.example.Chat", true), 6002},
      {"portal ID passes over a host process of that binary", {kInit, {{2}, "pacat", "/usr/bin/pacat", ""}, bubblewrapped},
       2, clues("pacat", "org.mozilla.firefox", true), 5002},
      {"portal ID that no sandbox has", {kInit, kKernelThread, bubblewrapped}, 2, clues("pacat", "org.other.App", true),
       std::nullopt},
      {"declared ID picks one of two sandboxes", {kInit, kKernelThread, bubblewrapped, otherSandbox}, 2,
       clues("pacat", "org.mozilla.firefox", false), 5002},
      {"declared ID of a host application", {kInit, {{4000}, "parecord", "/usr/bin/pacat", ""}}, 4000,
       clues("pacat", "org.example.Rec", false), 4000},
      {"two candidates left", {kInit, kKernelThread, bubblewrapped, otherSandbox}, 2, clues("pacat"), std::nullopt},
      {"two candidates without a binary", {kInit, unshared}, 1, {}, std::nullopt},
      {"no process of that pid", {kInit, kKernelThread}, 7, clues("pacat"), std::nullopt},
      {"no process of that binary", {kInit, kKernelThread, bubblewrapped}, 2, clues("arecord"), std::nullopt},
      {"unreadable executable: the command name, cut to 15",
       {kInit, {{5003, 3}, "recorder-with-a", "", ""}}, 3, clues("recorder-with-a-long-name"), 5003},
      {"command name of a link to the executable", {kInit, {{5003, 3}, "parecord", "/usr/bin/pacat", ""}}, 3,
       clues("parecord"), 5003},
      {"nested twice", {kInit, {{7000, 300, 4}, "parecord", "/usr/bin/pacat", ""}, {{300, 300}, "x", "/x", ""}}, 4,
       clues("pacat"), 7000},
      {"the host pid of a sandboxed process is not what it calls itself", {kInit, bubblewrapped}, 5002, clues("pacat"),
       std::nullopt},
      {"no pid", {kInit}, 0, clues("pacat"), std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FixtureTree tree;
    for (const Process& process : c.processes) add(tree, process);
    linux_source::PidTranslation translation(tree.root());
    EXPECT_EQ(translation.hostPid(c.seen, c.clues), c.host);
  }
}

TEST(HostPids, NamespacePids) {
  FixtureTree tree;
  add(tree, {{5002, 40, 2}, "parecord", "/usr/bin/pacat", ""});
  tree.write("/proc/9/status", "Name:\tx\nNSpid:\t9\tq\n");
  EXPECT_EQ(linux_source::namespacePids(tree.root(), 5002), (std::vector<pid_t>{5002, 40, 2}));
  EXPECT_EQ(linux_source::namespacePids(tree.root(), 9), std::vector<pid_t>{}) << "malformed";
  EXPECT_EQ(linux_source::namespacePids(tree.root(), 10), std::vector<pid_t>{}) << "gone";
}

TEST(StreamPids, StreamsThenClientsThenSecurityPid) {
  struct Case {
    const char* what;
    linux_source::Properties streamProperties;
    linux_source::Properties clientProperties;
    std::optional<std::int32_t> pid;
  };
  const std::vector<Case> cases = {
      {"stream's own", {{"application.process.id", "11"}}, {{"application.process.id", "22"}, {"pipewire.sec.pid", "33"}}, 11},
      {"client's", {}, {{"application.process.id", "22"}, {"pipewire.sec.pid", "33"}}, 22},
      {"security pid last", {}, {{"pipewire.sec.pid", "33"}}, 33},
      {"none", {}, {}, std::nullopt},
      {"not a number", {{"application.process.id", "12x"}}, {}, std::nullopt},
      {"negative", {{"application.process.id", "-5"}}, {{"pipewire.sec.pid", "33"}}, 33},
      {"out of range", {{"application.process.id", "99999999999"}}, {}, std::nullopt},
      {"stream's sandbox pid", {{"application.process.id", "2"}, {"application.process.binary", "pacat"}}, {}, 5002},
      {"stream's portal ID", {{"application.process.id", "2"}, {"pipewire.access.portal.app_id", "org.example.Chat"}}, {}, 6002},
      {"client's sandbox pid, by the client's binary", {}, {{"application.process.id", "2"}, {"application.process.binary", "pw-record"}}, 6002},
      {"a security pid is the host's already", {}, {{"pipewire.sec.pid", "5002"}}, 5002},
      {"a sandbox pid two sandboxes have", {{"application.process.id", "2"}}, {{"pipewire.sec.pid", "33"}}, std::nullopt},
  };
  FixtureTree tree;
  add(tree, kInit);
  add(tree, kKernelThread);
  for (const pid_t pid : {11, 22, 33}) add(tree, {{pid}, "rec", "/usr/bin/rec", ""});
  add(tree, {{5002, 2}, "parecord", "/usr/bin/pacat", "org.mozilla.firefox"});
  add(tree, {{6002, 2}, "pw-record", "/usr/bin/pw-cat", "org.example.Chat"});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    linux_source::SoundServerState state;
    state.clients = {linux_source::Client{5, c.clientProperties}};
    linux_source::CaptureStream stream;
    stream.client = 5;
    stream.source = 1;
    stream.properties = c.streamProperties;
    state.streams = {stream};
    linux_source::resolveStreamPids(state, tree.root());
    EXPECT_EQ(state.streams[0].pid, c.pid);
  }
}

TEST(StreamPids, StreamsKnownFromTheEarlierListingAreNotLookedUpAgain) {
  FixtureTree tree;
  add(tree, kInit);
  add(tree, {{5001, 1}, "parecord", "/usr/bin/pacat", ""});
  const linux_source::Properties sandboxed = {{"application.process.id", "1"}, {"application.process.binary", "pacat"}};
  linux_source::CaptureStream stream;
  stream.index = 40;
  stream.client = 5;
  stream.properties = sandboxed;
  linux_source::SoundServerState earlier;
  earlier.streams = {stream};
  linux_source::resolveStreamPids(earlier, tree.root());
  ASSERT_EQ(earlier.streams[0].pid, 5001);

  // The process files are gone: only what is known from before can answer.
  std::filesystem::remove_all(tree.path("/proc/5001"));
  linux_source::CaptureStream again = stream;
  again.pid.reset();
  linux_source::CaptureStream otherIndex = again;
  otherIndex.index = 41;
  linux_source::CaptureStream otherPid = again;
  otherPid.properties["application.process.id"] = "7";
  linux_source::SoundServerState now;
  now.streams = {otherIndex, again, otherPid};
  linux_source::resolveStreamPids(now, tree.root(), &earlier);
  EXPECT_EQ(now.streams[0].pid, std::nullopt) << "a new stream is looked up";
  EXPECT_EQ(now.streams[1].pid, 5001) << "the same stream keeps its pid";
  EXPECT_EQ(now.streams[2].pid, std::nullopt) << "a stream that names another pid is looked up";
}

}  // namespace
