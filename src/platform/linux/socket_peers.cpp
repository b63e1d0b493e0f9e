#include "platform/linux/socket_peers.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <linux/unix_diag.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <functional>
#include <string_view>

#include "platform/linux/server_bounds.h"
#include "platform/linux/system_root.h"

namespace linux_source {
namespace {

constexpr int kEstablished = 1;  // TCP_ESTABLISHED: a connected unix socket
constexpr int kListening = 10;   // TCP_LISTEN
constexpr std::size_t kMaxListing = 64 << 20;  // bounds what a machine full of sockets can cost

class OwnedFd {
 public:
  explicit OwnedFd(int fd) : fd_(fd) {}
  ~OwnedFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  OwnedFd(const OwnedFd&) = delete;
  OwnedFd& operator=(const OwnedFd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

bool ask(int fd) {
  struct {
    nlmsghdr header;
    unix_diag_req request;
  } message{};
  message.header.nlmsg_len = sizeof message;
  message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  message.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  message.request.sdiag_family = AF_UNIX;
  message.request.udiag_states = (1u << kEstablished) | (1u << kListening);
  message.request.udiag_show = UDIAG_SHOW_NAME | UDIAG_SHOW_PEER | UDIAG_SHOW_ICONS;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  return ::sendto(fd, &message, sizeof message, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) ==
         static_cast<ssize_t>(sizeof message);
}

// A server's end of a connection carries the path the server is bound to,
// and its peer is the client's end; the listening socket itself lists the
// client ends of the connections not yet accepted.
void take(const nlmsghdr* header, const std::string& path, std::vector<SocketInode>& clients) {
  if (header->nlmsg_len < NLMSG_LENGTH(sizeof(unix_diag_msg))) return;
  const auto* socket = static_cast<const unix_diag_msg*>(NLMSG_DATA(header));
  if (socket->udiag_type != SOCK_STREAM) return;
  std::string_view name;
  std::vector<std::uint32_t> peers;
  int left = static_cast<int>(header->nlmsg_len - NLMSG_LENGTH(sizeof(unix_diag_msg)));
  for (auto* attribute = reinterpret_cast<const rtattr*>(socket + 1); RTA_OK(attribute, left);
       attribute = RTA_NEXT(attribute, left)) {
    const auto* data = static_cast<const char*>(RTA_DATA(attribute));
    const std::size_t size = RTA_PAYLOAD(attribute);
    if (attribute->rta_type == UNIX_DIAG_NAME) name = std::string_view(data, size);
    if (attribute->rta_type == UNIX_DIAG_PEER || attribute->rta_type == UNIX_DIAG_ICONS) {
      for (std::size_t at = 0; at + sizeof(std::uint32_t) <= size; at += sizeof(std::uint32_t)) {
        std::uint32_t inode = 0;
        std::memcpy(&inode, data + at, sizeof inode);
        if (inode != 0) peers.push_back(inode);
      }
    }
  }
  if (!name.empty() && name.back() == '\0') name.remove_suffix(1);
  if (name == path) clients.insert(clients.end(), peers.begin(), peers.end());
}

}  // namespace

std::optional<std::vector<SocketInode>> clientsOfSocket(const std::string& path) {
  if (path.empty() || path.front() != '/') return std::nullopt;
  const OwnedFd fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_SOCK_DIAG));
  if (fd.get() < 0 || !ask(fd.get())) return std::nullopt;
  const auto deadline = Clock::now() + kAnswerBound;
  std::vector<SocketInode> clients;
  std::vector<char> buffer(32768);
  std::size_t received = 0;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return std::nullopt;
    pollfd wait{fd.get(), POLLIN, 0};
    if (::poll(&wait, 1, static_cast<int>(left)) <= 0) return std::nullopt;
    const ssize_t got = ::recv(fd.get(), buffer.data(), buffer.size(), 0);
    if (got <= 0) return std::nullopt;
    received += static_cast<std::size_t>(got);
    if (received > kMaxListing) return std::nullopt;
    const auto size = static_cast<std::size_t>(got);
    for (std::size_t at = 0; at + sizeof(nlmsghdr) <= size;) {
      const auto* header = reinterpret_cast<const nlmsghdr*>(buffer.data() + at);
      if (header->nlmsg_len < sizeof(nlmsghdr) || header->nlmsg_len > size - at) return std::nullopt;
      if (header->nlmsg_type == NLMSG_DONE) {
        std::sort(clients.begin(), clients.end());
        return clients;
      }
      if (header->nlmsg_type == NLMSG_ERROR) return std::nullopt;
      if (header->nlmsg_type == SOCK_DIAG_BY_FAMILY) take(header, path, clients);
      at += NLMSG_ALIGN(header->nlmsg_len);
    }
  }
}

namespace {

// The numbers of the process's open files, from a folder opened as fd.
std::vector<int> descriptorsIn(int fd, bool fillsWhileLeft) {
  std::vector<int> descriptors;
  alignas(dirent64) char buffer[8192];
  for (;;) {
    const ssize_t got = ::getdents64(fd, buffer, sizeof buffer);
    if (got <= 0) break;
    for (ssize_t at = 0; at < got;) {
      const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
      const char* name = entry->d_name;
      const char* end = name + std::char_traits<char>::length(name);
      int number = 0;
      const auto [last, error] = std::from_chars(name, end, number);
      if (error == std::errc() && last == end && number >= 0) descriptors.push_back(number);
      at += entry->d_reclen;
    }
    // /proc fills the buffer while entries remain, so one with room left
    // for another entry was the last; asking again would only be told so.
    if (fillsWhileLeft && static_cast<std::size_t>(got) + 2 * sizeof(dirent64) <= sizeof buffer) break;
  }
  return descriptors;
}

enum class Link { kMissing, kOther, kHeld };

// What the process's file number fd is: no open file, another file, or one
// of sockets (sorted). Read relative to its /proc/PID/fd folder.
Link linkedFile(int folder, int fd, const std::vector<SocketInode>& sockets) {
  char target[64];
  const ssize_t length = ::readlinkat(folder, std::to_string(fd).c_str(), target, sizeof target);
  if (length < 0 && errno == ENOENT) return Link::kMissing;
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target) return Link::kOther;
  const std::string_view link(target, static_cast<std::size_t>(length));
  constexpr std::string_view kSocket = "socket:[";
  if (link.substr(0, kSocket.size()) != kSocket || link.back() != ']') return Link::kOther;
  SocketInode inode = 0;
  const char* first = link.data() + kSocket.size();
  const char* last = link.data() + link.size() - 1;
  const auto [end, error] = std::from_chars(first, last, inode);
  const bool held = error == std::errc() && end == last && std::binary_search(sockets.begin(), sockets.end(), inode);
  return held ? Link::kHeld : Link::kOther;
}

}  // namespace

bool holdsSocket(const std::string& root, pid_t pid, const std::vector<SocketInode>& sockets) {
  if (pid <= 0 || sockets.empty()) return false;
  const auto full = pathInside(root, "/proc/" + std::to_string(pid) + "/fd");
  if (!full) return false;
  const int folder = ::open(full->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
  if (folder < 0) return false;
  // The kernel counts a process's open files as the size of this folder
  // (since Linux 6.2; 0 before). Listing the folder costs the kernel a
  // dentry per file, so when the count is known the numbers below it are
  // tried first, newest first: a connection to a server is opened after the
  // standard files and the pipes of a program's main loop. Only files
  // numbered above the count (left by closed ones below) need the listing.
  struct stat info {};
  const bool real = root == "/";
  const int counted = real && ::fstat(folder, &info) == 0 && info.st_size > 0 && info.st_size < (1 << 24)
                          ? static_cast<int>(info.st_size)
                          : 0;
  int seen = 0;
  Link link = Link::kMissing;
  for (int fd = counted - 1; fd >= 0 && link != Link::kHeld; --fd) {
    link = linkedFile(folder, fd, sockets);
    if (link != Link::kMissing) ++seen;
  }
  if (link != Link::kHeld && (counted == 0 || seen < counted)) {
    std::vector<int> descriptors = descriptorsIn(folder, real);
    std::sort(descriptors.begin(), descriptors.end(), std::greater<>());
    for (const int fd : descriptors) {
      if (fd < counted) break;  // tried above
      if ((link = linkedFile(folder, fd, sockets)) == Link::kHeld) break;
    }
  }
  ::close(folder);
  return link == Link::kHeld;
}

}  // namespace linux_source
