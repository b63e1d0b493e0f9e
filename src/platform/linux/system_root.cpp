#include "platform/linux/system_root.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace linux_source {

std::optional<std::string> readFile(const std::string& root, const std::string& path, std::size_t maxBytes) {
  const std::string full = (root == "/" ? std::string() : root) + path;
  // O_NONBLOCK: a FIFO planted where a file was expected must not stall a cycle.
  const int fd = ::open(full.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  std::string text;
  char buffer[4096];
  while (text.size() < maxBytes) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (got == 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
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
