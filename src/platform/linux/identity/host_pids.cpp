#include "platform/linux/identity/host_pids.h"

#include <dirent.h>

#include <charconv>

#include "platform/linux/identity/process_files.h"
#include "platform/linux/identity/sandbox_ids.h"
#include "platform/linux/system_root.h"

namespace linux_source {
namespace {

constexpr std::size_t kCommandLength = 15;  // the kernel cuts comm to this

std::vector<pid_t> parsePids(std::string_view line) {
  std::vector<pid_t> pids;
  const char* at = line.data();
  const char* end = line.data() + line.size();
  while (at < end) {
    while (at < end && (*at == ' ' || *at == '\t')) ++at;
    if (at == end) break;
    pid_t pid = 0;
    const auto [next, error] = std::from_chars(at, end, pid);
    if (error != std::errc() || pid <= 0) return {};
    pids.push_back(pid);
    at = next;
  }
  return pids;
}

// An executable of that base name, or a process started under that name
// (a link such as parecord to pacat, or an executable it may not read).
bool runsBinary(const std::string& root, pid_t pid, const std::string& binary) {
  const std::string executable = executablePath(root, pid);
  if (!executable.empty() && baseName(executable) == binary) return true;
  const auto command = commandName(root, pid);
  return command && !command->empty() && *command == binary.substr(0, kCommandLength);
}

std::vector<pid_t> processIds(const std::string& root) {
  std::vector<pid_t> pids;
  const auto proc = pathInside(root, "/proc");
  if (!proc) return pids;
  DIR* dir = ::opendir(proc->c_str());
  if (dir == nullptr) return pids;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    pid_t pid = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (error == std::errc() && end == name.data() + name.size() && pid > 0) pids.push_back(pid);
  }
  ::closedir(dir);
  return pids;
}

}  // namespace

std::vector<pid_t> namespacePids(const std::string& root, pid_t hostPid) {
  if (hostPid <= 0) return {};
  // Most processes share the monitor's namespace: one link tells.
  if (inProcNamespace(root, hostPid)) return {hostPid};
  const auto status = readFile(root, procPath(hostPid, "status"), 16384);
  if (!status) return {};
  return parsePids(statusField(*status, "NSpid"));
}

std::vector<pid_t> sandboxMates(const std::string& root, pid_t hostPid) {
  std::vector<pid_t> mates;
  if (namespacePids(root, hostPid).size() < 2) return mates;
  const auto nameOf = [&root](pid_t pid) { return readLink(root, procPath(pid, "ns/pid")); };
  const auto own = nameOf(hostPid);
  if (!own) return mates;
  for (const pid_t pid : processIds(root))
    if (pid != hostPid && nameOf(pid) == own) mates.push_back(pid);
  return mates;
}

const std::multimap<pid_t, pid_t>& PidTranslation::byInnermostPid() {
  if (!byInnermost_) {
    byInnermost_.emplace();
    for (const pid_t pid : processIds(root_)) {
      const std::vector<pid_t> pids = namespacePids(root_, pid);
      if (pids.size() > 1 && pids.front() == pid) byInnermost_->emplace(pids.back(), pid);
    }
  }
  return *byInnermost_;
}

std::optional<pid_t> PidTranslation::hostPid(pid_t seen, const PidClues& clues) {
  if (seen <= 0) return std::nullopt;
  const auto fits = [&](pid_t pid) {
    if (!clues.binary.empty() && !runsBinary(root_, pid, clues.binary)) return false;
    return !clues.appIdVouched || flatpakId(root_, pid) == clues.appId;
  };
  // The host's own process of that pid is the usual answer. When its binary
  // fits, the process table is not read for a sandboxed namesake: sandboxes
  // hand out small pids, which on the host belong to init and kernel threads.
  const bool onHost = namespacePids(root_, seen) == std::vector<pid_t>{seen};
  if (onHost && !clues.binary.empty() && fits(seen)) return seen;

  std::vector<pid_t> candidates;
  if (onHost && fits(seen)) candidates.push_back(seen);
  const auto [first, last] = byInnermostPid().equal_range(seen);
  for (auto it = first; it != last; ++it)
    if (fits(it->second)) candidates.push_back(it->second);
  if (candidates.size() > 1 && !clues.appId.empty() && !clues.appIdVouched) {
    std::vector<pid_t> named;
    for (const pid_t pid : candidates)
      if (flatpakId(root_, pid) == clues.appId) named.push_back(pid);
    candidates = named;
  }
  if (candidates.size() != 1) return std::nullopt;
  return candidates.front();
}

}  // namespace linux_source
