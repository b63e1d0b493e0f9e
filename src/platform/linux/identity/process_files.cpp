#include "platform/linux/identity/process_files.h"

#include <charconv>

#include "platform/linux/system_root.h"

namespace linux_source {

std::string procPath(pid_t pid, const char* what) { return "/proc/" + std::to_string(pid) + "/" + what; }

std::string baseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string executablePath(const std::string& root, pid_t pid) {
  std::string path = readLink(root, procPath(pid, "exe")).value_or("");
  const std::string deleted = " (deleted)";
  if (path.size() > deleted.size() && path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0)
    path.resize(path.size() - deleted.size());
  return path;
}

// "PID (COMMAND) STATE PPID ...": the command may hold spaces and parentheses,
// so it ends at the last ")".
std::optional<ProcessStat> processStat(const std::string& root, pid_t pid) {
  const auto stat = readFile(root, procPath(pid, "stat"), 4096);
  if (!stat) return std::nullopt;
  const std::size_t open = stat->find('(');
  const std::size_t close = stat->rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open) return std::nullopt;
  ProcessStat parsed;
  parsed.command = stat->substr(open + 1, close - open - 1);
  const std::size_t parent = stat->find_first_of("0123456789", close + 3);  // past ") S "
  if (parent != std::string::npos) std::from_chars(stat->data() + parent, stat->data() + stat->size(), parsed.parent);
  return parsed;
}

}  // namespace linux_source
