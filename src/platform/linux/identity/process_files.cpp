#include "platform/linux/identity/process_files.h"

#include <charconv>
#include <map>
#include <utility>

#include "platform/linux/system_root.h"

namespace linux_source {
namespace {

// What the open look has read; a process's answers stay for the look.
struct LookAnswers {
  std::string root;
  std::map<pid_t, std::string> executables;
  std::map<pid_t, std::optional<ProcessStat>> stats;
};
std::optional<LookAnswers> openLook;

constexpr std::size_t kLookPids = 4096;  // beyond this, a look answers afresh

LookAnswers* lookFor(const std::string& root) {
  return openLook && openLook->root == root ? &*openLook : nullptr;
}

template <typename Map, typename Read>
typename Map::mapped_type remembered(Map& answers, pid_t pid, Read read) {
  if (const auto found = answers.find(pid); found != answers.end()) return found->second;
  auto answer = read();
  if (answers.size() < kLookPids) answers.emplace(pid, answer);
  return answer;
}

std::string readExecutablePath(const std::string& root, pid_t pid) {
  std::string path = readLink(root, procPath(pid, "exe")).value_or("");
  const std::string deleted = " (deleted)";
  if (path.size() > deleted.size() && path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0)
    path.resize(path.size() - deleted.size());
  return path;
}

// "PID (COMMAND) STATE PPID ...": the command may hold spaces and parentheses,
// so it ends at the last ")".
std::optional<ProcessStat> readProcessStat(const std::string& root, pid_t pid) {
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

// This monitor's pid namespace, when it is the one /proc counts from (its
// own NSpid has one entry); empty otherwise. Neither changes while it runs.
const std::string& ownProcNamespace() {
  static const std::string own = [] {
    const auto status = readFile("/", "/proc/self/status", 16384);
    if (!status) return std::string();
    const std::string_view pids = statusField(*status, "NSpid");
    const std::size_t first = pids.find_first_not_of(" \t");
    if (first == std::string_view::npos || pids.find_first_of(" \t", first) != std::string_view::npos)
      return std::string();
    return readLink("/", "/proc/self/ns/pid").value_or("");
  }();
  return own;
}

}  // namespace

std::string procPath(pid_t pid, const char* what) { return "/proc/" + std::to_string(pid) + "/" + what; }

std::string baseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string executablePath(const std::string& root, pid_t pid) {
  LookAnswers* look = lookFor(root);
  if (look == nullptr) return readExecutablePath(root, pid);
  return remembered(look->executables, pid, [&] { return readExecutablePath(root, pid); });
}

std::optional<ProcessStat> processStat(const std::string& root, pid_t pid) {
  LookAnswers* look = lookFor(root);
  if (look == nullptr) return readProcessStat(root, pid);
  return remembered(look->stats, pid, [&] { return readProcessStat(root, pid); });
}

std::string_view statusField(std::string_view status, std::string_view key) {
  std::size_t start = 0;
  while (start < status.size()) {
    std::size_t end = status.find('\n', start);
    if (end == std::string_view::npos) end = status.size();
    const std::string_view line = status.substr(start, end - start);
    if (line.size() > key.size() && line[key.size()] == ':' && line.substr(0, key.size()) == key)
      return line.substr(key.size() + 1);
    start = end + 1;
  }
  return {};
}

bool inProcNamespace(const std::string& root, pid_t pid) {
  if (root != "/" || pid <= 0) return false;
  const std::string& own = ownProcNamespace();
  if (own.empty()) return false;
  const auto theirs = readLink(root, procPath(pid, "ns/pid"));
  return theirs && *theirs == own;
}

ProcessLook::ProcessLook(std::string root) { openLook.emplace(LookAnswers{std::move(root), {}, {}}); }

ProcessLook::~ProcessLook() { openLook.reset(); }

}  // namespace linux_source
