#include "platform/linux/system_root.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string_view>

namespace linux_source {
namespace {

// Below a root other than "/", a link that leads out of the tree is not
// followed: the tree stands for a whole system, and nothing else may be read.
bool staysInside(const std::string& root, const std::string& full) {
  if (root == "/") return true;
  char resolvedRoot[PATH_MAX];
  char resolved[PATH_MAX];
  if (::realpath(root.c_str(), resolvedRoot) == nullptr || ::realpath(full.c_str(), resolved) == nullptr) return false;
  const std::string prefix = std::string(resolvedRoot) + "/";
  return std::string(resolved).rfind(prefix, 0) == 0;
}

// /proc/PID/stat, status, cgroup and comm are made whole when read: a read
// that returns less than it asked for has reached the end, and a second
// read would only be told so.
bool endsAtShortRead(const std::string& path) {
  constexpr std::string_view prefix = "/proc/";
  if (path.compare(0, prefix.size(), prefix) != 0) return false;
  const std::size_t slash = path.find('/', prefix.size());
  if (slash == prefix.size() || slash == std::string::npos ||
      path.find_first_not_of("0123456789", prefix.size()) != slash)
    return false;
  const std::string_view name = std::string_view(path).substr(slash + 1);
  return name == "stat" || name == "status" || name == "cgroup" || name == "comm";
}

std::string underRoot(const std::string& root, const std::string& path) {
  return (root == "/" ? std::string() : root) + path;
}

}  // namespace

std::optional<std::string> pathInside(const std::string& root, const std::string& path) {
  std::string full = underRoot(root, path);
  if (!staysInside(root, full)) return std::nullopt;
  return full;
}

std::optional<std::string> readLink(const std::string& root, const std::string& path) {
  const std::string full = underRoot(root, path);
  const std::size_t slash = full.rfind('/');
  if (slash == std::string::npos || !staysInside(root, full.substr(0, slash))) return std::nullopt;
  char target[PATH_MAX];
  const ssize_t length = ::readlink(full.c_str(), target, sizeof target);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target) return std::nullopt;
  return std::string(target, static_cast<std::size_t>(length));
}

std::optional<std::string> readFile(const std::string& root, const std::string& path, std::size_t maxBytes) {
  const std::string full = underRoot(root, path);
  if (!staysInside(root, full)) return std::nullopt;
  // O_NONBLOCK: a FIFO planted where a file was expected must not stall a
  // cycle; a directory fails at its first read.
  const int fd = ::open(full.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  std::string text;
  char buffer[4096];
  const bool shortReadEnds = endsAtShortRead(path);
  while (text.size() < maxBytes) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (got == 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
    if (shortReadEnds && static_cast<std::size_t>(got) < sizeof buffer) break;
  }
  ::close(fd);
  if (text.size() > maxBytes) text.resize(maxBytes);
  return text;
}

std::optional<std::string> commandName(const std::string& root, pid_t pid) {
  if (pid <= 0) return std::nullopt;
  auto comm = readFile(root, "/proc/" + std::to_string(pid) + "/comm", 256);
  if (!comm) return std::nullopt;
  if (!comm->empty() && comm->back() == '\n') comm->pop_back();
  return comm;
}

}  // namespace linux_source
