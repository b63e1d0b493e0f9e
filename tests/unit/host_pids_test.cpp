#include "platform/linux/identity/host_pids.h"

#include <gtest/gtest.h>

#include <initializer_list>

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

// Open files of a process in the tree: a socket each, by inode.
void holds(const FixtureTree& tree, pid_t pid, std::initializer_list<linux_source::SocketInode> sockets) {
  int fd = 3;
  for (const auto inode : sockets)
    tree.link("/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd++), "socket:[" + std::to_string(inode) + "]");
}

TEST(StreamPids, TheKernelsWordThenClaimsItDoesNotRefute) {
  const std::string kSocket = "/run/user/1000/pulse/native";
  struct Case {
    const char* what;
    linux_source::Properties streamProperties;
    linux_source::Properties clientProperties;
    std::optional<std::int32_t> pid;
    bool kernelTells = true;        // the socket diagnostics answer
    std::string socketPath = "/run/user/1000/pulse/native";
    bool ownListed = true;          // the monitor's own connection is in the listing
  };
  // 77 is the pulse server's own pid, on the monitor's connection too; 11 and
  // 5002 hold connections to the server's socket, 22 and 33 do not.
  const std::vector<Case> cases = {
      {"native client: its security pid over the stream's claim", {{"application.process.id", "11"}},
       {{"application.process.id", "22"}, {"pipewire.sec.pid", "33"}}, 33},
      {"native client without a claim", {}, {{"pipewire.sec.pid", "33"}}, 33},
      {"native client, a claim that is no number", {{"application.process.id", "-5"}}, {{"pipewire.sec.pid", "33"}}, 33},
      {"pulse client under PipeWire, connected", {}, {{"pipewire.sec.pid", "77"}, {"application.process.id", "11"}}, 11},
      {"pulse client under PipeWire, claiming an unconnected process", {},
       {{"pipewire.sec.pid", "77"}, {"application.process.id", "22"}}, std::nullopt},
      {"stream's claim, connected", {{"application.process.id", "11"}}, {{"application.process.id", "22"}}, 11},
      {"stream's claim of an unconnected process", {{"application.process.id", "22"}}, {{"application.process.id", "11"}},
       std::nullopt},
      {"client's claim, connected", {}, {{"application.process.id", "11"}}, 11},
      {"client's claim of an unconnected process", {}, {{"application.process.id", "33"}}, std::nullopt},
      {"sandbox pid, its host process connected", {{"application.process.id", "2"}, {"application.process.binary", "pacat"}},
       {}, 5002},
      {"sandbox pid, another process of its sandbox connected", {},
       {{"application.process.id", "2"}, {"application.process.binary", "pw-record"}}, 6002},
      {"stream's portal ID", {{"application.process.id", "2"}, {"pipewire.access.portal.app_id", "org.example.Chat"}}, {},
       6002},
      {"a sandbox pid two sandboxes have", {{"application.process.id", "2"}}, {}, std::nullopt},
      {"none", {}, {}, std::nullopt},
      {"not a number", {{"application.process.id", "12x"}}, {}, std::nullopt},
      {"out of range", {{"application.process.id", "99999999999"}}, {}, std::nullopt},
      {"the kernel cannot tell: the claim stands", {{"application.process.id", "22"}}, {}, 22, false},
      {"a network server: the claim stands", {{"application.process.id", "22"}}, {}, 22, true, ""},
      {"without the monitor's own connection no security pid counts", {}, {{"pipewire.sec.pid", "33"}}, std::nullopt,
       true, kSocket, false},
  };
  FixtureTree tree;
  add(tree, kInit);
  add(tree, kKernelThread);
  for (const pid_t pid : {11, 22, 33, 77}) add(tree, {{pid}, "rec", "/usr/bin/rec", ""});
  add(tree, {{5002, 2}, "parecord", "/usr/bin/pacat", "org.mozilla.firefox"});
  add(tree, {{6002, 2}, "pw-record", "/usr/bin/pw-cat", "org.example.Chat"});
  add(tree, {{6003, 3}, "helper", "/usr/bin/helper", "org.example.Chat"});
  tree.link("/proc/6002/ns/pid", "pid:[4026532001]");
  tree.link("/proc/6003/ns/pid", "pid:[4026532001]");
  tree.link("/proc/5002/ns/pid", "pid:[4026532002]");
  holds(tree, 11, {500, 1001});
  holds(tree, 22, {500, 501});
  holds(tree, 5002, {1002});
  holds(tree, 6003, {1003});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> asked;
    const linux_source::ClientSockets clientSockets = [&](const std::string& path) {
      asked.push_back(path);
      return c.kernelTells ? std::optional<std::vector<linux_source::SocketInode>>({1001, 1002, 1003}) : std::nullopt;
    };
    linux_source::SoundServerState state;
    state.clients = {linux_source::Client{5, c.clientProperties}};
    if (c.ownListed) state.clients.push_back(linux_source::Client{9, {{"pipewire.sec.pid", "77"}}});
    state.ownClient = 9;
    state.socketPath = c.socketPath;
    linux_source::CaptureStream stream;
    stream.client = 5;
    stream.source = 1;
    stream.properties = c.streamProperties;
    state.streams = {stream, stream};
    linux_source::resolveStreamPids(state, tree.root(), nullptr, clientSockets);
    EXPECT_EQ(state.streams[0].pid, c.pid);
    EXPECT_EQ(state.streams[1].pid, c.pid);
    EXPECT_LE(asked.size(), 1u) << "the kernel is asked once a listing at most";
    for (const std::string& path : asked) EXPECT_EQ(path, kSocket);
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
