#include "platform/linux/socket_peers.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "fixture_tree.h"

namespace {

using linux_source::SocketInode;

sockaddr_un addressOf(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  return address;
}

int listening(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_un address = addressOf(path);
  EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(::listen(fd, 8), 0);
  return fd;
}

int connected(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_un address = addressOf(path);
  EXPECT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  return fd;
}

SocketInode inodeOf(int fd) {
  struct stat info {};
  EXPECT_EQ(::fstat(fd, &info), 0);
  return info.st_ino;
}

TEST(SocketPeers, TheKernelListsTheClientsOfAServersSocket) {
  FixtureTree tree;
  const std::string path = tree.path("/server").string();
  const std::string otherPath = path + "2";  // a path is matched whole
  const int server = listening(path);
  const int other = listening(otherPath);
  const int first = connected(path);
  const int second = connected(path);
  const int elsewhere = connected(otherPath);
  const int accepted = ::accept4(server, nullptr, nullptr, SOCK_CLOEXEC);  // accepted or not, a client is a client
  std::vector<SocketInode> expected = {inodeOf(first), inodeOf(second)};
  std::sort(expected.begin(), expected.end());

  EXPECT_EQ(linux_source::clientsOfSocket(path), expected);
  EXPECT_EQ(linux_source::clientsOfSocket(otherPath), std::vector<SocketInode>{inodeOf(elsewhere)});
  EXPECT_EQ(linux_source::clientsOfSocket(tree.path("/nobody").string()), std::vector<SocketInode>{});
  EXPECT_EQ(linux_source::clientsOfSocket("pulse/native"), std::nullopt) << "no path of this machine";

  // This process holds the clients' ends; what it holds is read from /proc.
  EXPECT_TRUE(linux_source::holdsSocket("/", ::getpid(), expected));
  EXPECT_FALSE(linux_source::holdsSocket("/", ::getpid(), {1}));
  EXPECT_FALSE(linux_source::holdsSocket("/", ::getpid(), {}));
  for (const int fd : {accepted, first, second, elsewhere, server, other}) ::close(fd);
}

TEST(SocketPeers, ASocketAmongManyOpenFiles) {
  // More open files than one listing of /proc/PID/fd returns at a time, with
  // the socket the first of them or the last; then with every other one
  // closed, so that the last is numbered far above the count of open files.
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
  const SocketInode first = inodeOf(pair[0]);
  std::vector<int> others;
  for (int i = 0; i < 700; ++i) others.push_back(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  ASSERT_GE(others.back(), 700);
  const int lastFd = ::dup(pair[1]);
  const SocketInode last = inodeOf(pair[1]);
  ::close(pair[1]);

  for (const bool holes : {false, true}) {
    SCOPED_TRACE(holes ? "with closed files below" : "one after another");
    if (holes)
      for (std::size_t i = 0; i < others.size(); i += 2) ::close(std::exchange(others[i], -1));
    EXPECT_TRUE(linux_source::holdsSocket("/", ::getpid(), {first}));
    EXPECT_TRUE(linux_source::holdsSocket("/", ::getpid(), {last}));
    EXPECT_TRUE(linux_source::holdsSocket("/", ::getpid(), {first, last}));
    EXPECT_FALSE(linux_source::holdsSocket("/", ::getpid(), {last + 1}));
  }
  for (const int fd : others)
    if (fd >= 0) ::close(fd);
  ::close(lastFd);
  EXPECT_FALSE(linux_source::holdsSocket("/", ::getpid(), {last}));
  ::close(pair[0]);
}

TEST(SocketPeers, OpenFilesOfAProcess) {
  FixtureTree tree;
  tree.link("/proc/40/fd/0", "/dev/null");
  tree.link("/proc/40/fd/3", "socket:[1234]");
  tree.link("/proc/40/fd/4", "pipe:[1235]");
  tree.link("/proc/40/fd/5", "socket:[12x]");
  tree.link("/proc/40/fd/6", "socket:[1236");
  struct Case {
    const char* what;
    pid_t pid;
    std::vector<SocketInode> sockets;
    bool holds;
  };
  const std::vector<Case> cases = {
      {"a socket it holds", 40, {7, 1234}, true},
      {"a pipe of that number is no socket", 40, {1235}, false},
      {"malformed links", 40, {12, 1236}, false},
      {"no such process", 41, {1234}, false},
      {"no pid", 0, {1234}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(linux_source::holdsSocket(tree.root(), c.pid, c.sockets), c.holds);
  }
}

}  // namespace
